#include "platform/rpc/json_rpc.h"

#include <atomic>
#include <cstdlib>
#include <mutex>

namespace {

std::mutex channel_lock;

JSON_RPC_Channel_Ptr environment_channel() {
  const char* host = std::getenv("STORAGED_UPSTREAM_HOST");
  const char* port = std::getenv("STORAGED_UPSTREAM_PORT");
  if (host == nullptr || *host == '\0' || port == nullptr)
    return JSON_RPC_Channel_Ptr();
  long number = std::strtol(port, nullptr, 10);
  if (number <= 0 || number > 65535)
    return JSON_RPC_Channel_Ptr();
  auto channel = std::make_shared<JSON_RPC_Channel>();
  channel->host = host;
  channel->port = static_cast<std::uint16_t>(number);
  const char* ssl = std::getenv("STORAGED_UPSTREAM_SSL");
  channel->ssl = ssl != nullptr && std::string(ssl) == "1";
  return channel;
}

JSON_RPC_Channel_Ptr& current_channel() {
  static JSON_RPC_Channel_Ptr channel = environment_channel();
  return channel;
}

}  // namespace

JSON_RPC_Channel_Ptr Global_JSON_RPC_Channel::instance() {
  std::lock_guard<std::mutex> guard(channel_lock);
  return current_channel();
}

void Global_JSON_RPC_Channel::set(JSON_RPC_Channel_Ptr channel) {
  std::lock_guard<std::mutex> guard(channel_lock);
  current_channel() = std::move(channel);
}

void Global_JSON_RPC_Channel::reset() {
  std::lock_guard<std::mutex> guard(channel_lock);
  current_channel() = environment_channel();
}

const char* const JSON_RPC_Request::VERSION = "2.0";

Object JSON_RPC_Request::make(const std::string& id, const std::string& method,
                              const Value& params) {
  Object request;
  request["id"] = id;
  request["jsonrpc"] = VERSION;
  request["method"] = method;
  request["params"] = params;
  return request;
}

std::string JSON_RPC_Id_Generator::get() {
  static std::atomic<unsigned long long> next{1};
  return std::to_string(next.fetch_add(1));
}
