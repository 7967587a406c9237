// Options of the daemon's own HTTP service; here only the address it
// listens on, which modules running inside the daemon's host use to reach
// it. Starts from the environment (STORAGED_LISTEN_HOST, default
// "127.0.0.1"; STORAGED_LISTEN_PORT; STORAGED_LISTEN_SSL "1") and may be set
// by the daemon (and tests). Safe for concurrent use.
#ifndef PLATFORM_RPC_HTTP_OPTIONS_H_
#define PLATFORM_RPC_HTTP_OPTIONS_H_

#include <cstdint>
#include <mutex>
#include <string>

class HTTP_Options {
 public:
  static HTTP_Options* instance();

  // Writes the listening address into the three arguments. False, with the
  // arguments untouched, while no port is known.
  bool get_local_listen_address(std::string& host, std::uint16_t& port, bool& ssl) const;
  void set_local_listen_address(const std::string& host, std::uint16_t port, bool ssl);
  // Back to the environment's values.
  void reset();

 private:
  HTTP_Options();

  mutable std::mutex lock_;
  std::string host_;
  std::uint16_t port_ = 0;
  bool ssl_ = false;
};

#endif  // PLATFORM_RPC_HTTP_OPTIONS_H_
