// Sessions with one HTTP server, over cpp-httplib (TLS through OpenSSL when
// asked). Every request has connect, read and write time-outs, so a server
// that never answers cannot hold a caller for longer than those.
//
// An HTTP_Session sends one request at a time (it serialises callers) and
// is shared through HTTP_Session_Ptr. A JSON_HTTP_Session is a plain value
// for one caller.
#ifndef PLATFORM_RPC_HTTP_SESSION_H_
#define PLATFORM_RPC_HTTP_SESSION_H_

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/json/json.h"
#include "platform/rpc/http_request.h"

namespace httplib {
class ClientImpl;
}

class HTTP_Session {
 public:
  // Time-outs in seconds. `verify_peer` checks a TLS server's certificate
  // against the system's authorities.
  HTTP_Session(const std::string& host, std::uint16_t port, bool ssl, int connect_timeout,
               int read_timeout, int write_timeout, bool verify_peer);
  ~HTTP_Session();

  // Sends `request` with `body` (none when empty) and reads the whole
  // reply. True when a reply came, whatever its status. False, logged, when
  // the server cannot be reached or does not answer in time; `response`
  // then has status 0.
  bool send(const HTTP_Request& request, const std::string& body, HTTP_Response& response);

  // "host:port", for messages.
  const std::string& address() const { return address_; }

  HTTP_Session(const HTTP_Session&) = delete;
  HTTP_Session& operator=(const HTTP_Session&) = delete;

 private:
  std::string address_;
  std::mutex lock_;
  std::unique_ptr<httplib::ClientImpl> client_;  // guarded by lock_
};

using HTTP_Session_Ptr = std::shared_ptr<HTTP_Session>;

class HTTP_Session_Factory {
 public:
  // A session to host:port; null, logged, for an empty host or port 0.
  // `connect_timeout`, `read_timeout` and `write_timeout` are seconds.
  // `proxy`, `tls_context` and the two reserved values are kept for the
  // host's signature: requests go direct, with OpenSSL's default context.
  static HTTP_Session_Ptr create(const std::string& host, std::uint16_t port, bool ssl,
                                 const char* proxy, int connect_timeout, void* tls_context,
                                 bool verify_peer, int read_timeout, int write_timeout,
                                 int reserved_a, int reserved_b);
};

// JSON request and reply bodies over a session, with retries when the
// server cannot be reached.
class JSON_HTTP_Session {
 public:
  // Attempts are `retry_delay_ms` apart; none starts later than
  // `deadline_seconds` after the first.
  JSON_HTTP_Session(HTTP_Session_Ptr session, int retry_delay_ms, int deadline_seconds);

  // False when built on a null session.
  bool usable() const { return session_ != nullptr; }
  // Further attempts after one that got no reply (default 0).
  void retries(int count) { retries_ = count < 0 ? 0 : count; }
  int retries() const { return retries_; }

  // Send `request` as a GET (a POST with `body` as JSON text). True when a
  // reply came: `response` holds it and, for a 2xx status, `reply` its
  // parsed body (null for an empty body). False, logged, when no reply came
  // or a 2xx body is not JSON; `reply` is then untouched.
  bool get(HTTP_Request& request, HTTP_Response& response, Value& reply);
  bool post(HTTP_Request& request, const Value& body, HTTP_Response& response, Value& reply);

 private:
  bool exchange(const HTTP_Request& request, const std::string& body, HTTP_Response& response,
                Value& reply);

  HTTP_Session_Ptr session_;
  int retry_delay_ms_;
  int deadline_seconds_;
  int retries_ = 0;
};

#endif  // PLATFORM_RPC_HTTP_SESSION_H_
