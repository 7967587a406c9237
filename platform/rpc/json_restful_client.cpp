#include "platform/rpc/json_restful_client.h"

#include "platform/rpc/host_manager.h"
#include "platform/rpc/json_rpc.h"
#include "platform/runtime/log.h"

JSON_RESTful_Client::JSON_RESTful_Client(const std::string& host, std::uint16_t port, bool ssl,
                                         bool verify_peer)
    : host_(host), port_(port), ssl_(ssl), verify_peer_(verify_peer) {}

JSON_RESTful_Client::~JSON_RESTful_Client() = default;

bool JSON_RESTful_Client::set_header(int id, const std::string& text) {
  return headers_.set(id, text);
}

void JSON_RESTful_Client::set_timeouts(int connect_timeout, int read_timeout, int write_timeout) {
  connect_timeout_ = connect_timeout;
  read_timeout_ = read_timeout;
  write_timeout_ = write_timeout;
}

bool JSON_RESTful_Client::get(const std::string& path, Value& reply) {
  HTTP_Request request(HTTP_METHOD_GET, path);
  return exchange_ok(request, nullptr, reply);
}

bool JSON_RESTful_Client::get(HTTP_Request& request, Value& reply) {
  return exchange_ok(request, nullptr, reply);
}

bool JSON_RESTful_Client::post(const std::string& path, const Value& body, Value& reply) {
  HTTP_Request request(HTTP_METHOD_POST, path);
  return exchange_ok(request, &body, reply);
}

bool JSON_RESTful_Client::post(const std::string& path, const Value& body) {
  HTTP_Request request(HTTP_METHOD_POST, path);
  HTTP_Response response;
  Value ignored;
  if (!exchange(request, &body, response, ignored))
    return false;
  if (response.status() >= 200 && response.status() <= 299)
    return true;
  LOG_ERROR("Failed to POST %s: status %d.", path.c_str(), response.status());
  return false;
}

bool JSON_RESTful_Client::post(HTTP_Request& request, const Value& body, HTTP_Response& response,
                               Value& reply) {
  return exchange(request, &body, response, reply);
}

bool JSON_RESTful_Client::exchange_ok(HTTP_Request& request, const Value* body, Value& reply) {
  HTTP_Response response;
  Value parsed;
  if (!exchange(request, body, response, parsed))
    return false;
  if (response.status() < 200 || response.status() > 299) {
    LOG_ERROR("Failed to %s %s: status %d.", request.method_name(), request.uri().c_str(),
              response.status());
    return false;
  }
  reply = std::move(parsed);
  return true;
}

bool JSON_RESTful_Client::exchange(HTTP_Request& request, const Value* body,
                                   HTTP_Response& response, Value& reply) {
  HTTP_Session_Ptr session =
      HTTP_Session_Factory::create(host_, port_, ssl_, nullptr, connect_timeout_, nullptr,
                                   verify_peer_, read_timeout_, write_timeout_, 0, 0);
  JSON_HTTP_Session json(session, 0, 0);
  if (!json.usable())
    return false;
  for (const auto& header : headers_.items())
    if (request.headers().get(header.first) == nullptr)
      request.headers().set(header.first, header.second);
  if (body == nullptr)
    return json.get(request, response, reply);
  return json.post(request, *body, response, reply);
}

Common_JSON_RESTful_Client::Common_JSON_RESTful_Client(const std::string& host, std::uint16_t port,
                                                       bool ssl, bool, bool verify_peer)
    : JSON_RESTful_Client(host, port, ssl, verify_peer) {
  std::string key = Host_Manager::instance()->access_key();
  if (!key.empty())
    set_header(HTTP_HEADER_ACCESS_KEY, key);
}

Upstream_JSON_RESTful_Client::Upstream_JSON_RESTful_Client()
    : Upstream_JSON_RESTful_Client(Global_JSON_RPC_Channel::instance()) {}

Upstream_JSON_RESTful_Client::Upstream_JSON_RESTful_Client(const JSON_RPC_Channel_Ptr& channel)
    : Common_JSON_RESTful_Client(channel ? channel->host : std::string(),
                                 channel ? channel->port : 0, channel ? channel->ssl : false, false,
                                 false) {}
