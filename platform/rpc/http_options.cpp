#include "platform/rpc/http_options.h"

#include <cstdlib>

HTTP_Options* HTTP_Options::instance() {
  static HTTP_Options options;
  return &options;
}

HTTP_Options::HTTP_Options() {
  reset();
}

void HTTP_Options::reset() {
  const char* host = std::getenv("STORAGED_LISTEN_HOST");
  const char* port = std::getenv("STORAGED_LISTEN_PORT");
  const char* ssl = std::getenv("STORAGED_LISTEN_SSL");
  long number = port == nullptr ? 0 : std::strtol(port, nullptr, 10);
  std::lock_guard<std::mutex> guard(lock_);
  host_ = host != nullptr && *host != '\0' ? host : "127.0.0.1";
  port_ = number > 0 && number <= 65535 ? static_cast<std::uint16_t>(number) : 0;
  ssl_ = ssl != nullptr && std::string(ssl) == "1";
}

bool HTTP_Options::get_local_listen_address(std::string& host, std::uint16_t& port,
                                            bool& ssl) const {
  std::lock_guard<std::mutex> guard(lock_);
  if (port_ == 0)
    return false;
  host = host_;
  port = port_;
  ssl = ssl_;
  return true;
}

void HTTP_Options::set_local_listen_address(const std::string& host, std::uint16_t port, bool ssl) {
  std::lock_guard<std::mutex> guard(lock_);
  host_ = host;
  port_ = port;
  ssl_ = ssl;
}
