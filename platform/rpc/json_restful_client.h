// REST clients of the backup daemon: JSON bodies in and out over HTTP.
//
// JSON_RESTful_Client talks to a given address; Common_JSON_RESTful_Client
// adds this host's access key; Upstream_JSON_RESTful_Client talks to the
// daemon this host is registered with. A client is a plain value for one
// caller; every request has time-outs (see set_timeouts).
#ifndef PLATFORM_RPC_JSON_RESTFUL_CLIENT_H_
#define PLATFORM_RPC_JSON_RESTFUL_CLIENT_H_

#include <cstdint>
#include <string>

#include "platform/json/json.h"
#include "platform/rpc/http_request.h"
#include "platform/rpc/http_session.h"
#include "platform/rpc/json_rpc.h"

class JSON_RESTful_Client {
 public:
  // `verify_peer` checks a TLS server's certificate against the system's
  // authorities.
  JSON_RESTful_Client(const std::string& host, std::uint16_t port, bool ssl,
                      bool verify_peer = false);
  virtual ~JSON_RESTful_Client();

  // A header sent with every request. False for an unknown header number.
  bool set_header(int id, const std::string& text);
  // Seconds; the defaults are 3 to connect and 60 to read or write.
  void set_timeouts(int connect_timeout, int read_timeout, int write_timeout);

  // The path forms are true only when the daemon answered with a 2xx status
  // and, where a reply is asked for, a body that is JSON (or empty: null).
  // The request forms are true when any reply came; `response` tells its
  // status and `reply` gets the parsed body of a 2xx reply. Every failure
  // is logged; `reply` is untouched then.
  bool get(const std::string& path, Value& reply);
  bool get(HTTP_Request& request, Value& reply);
  bool post(const std::string& path, const Value& body, Value& reply);
  // Sends without reading the reply's body.
  bool post(const std::string& path, const Value& body);
  bool post(HTTP_Request& request, const Value& body, HTTP_Response& response, Value& reply);

  JSON_RESTful_Client(const JSON_RESTful_Client&) = delete;
  JSON_RESTful_Client& operator=(const JSON_RESTful_Client&) = delete;

 private:
  bool exchange(HTTP_Request& request, const Value* body, HTTP_Response& response, Value& reply);
  bool exchange_ok(HTTP_Request& request, const Value* body, Value& reply);

  std::string host_;
  std::uint16_t port_;
  bool ssl_;
  bool verify_peer_;
  int connect_timeout_ = 3;
  int read_timeout_ = 60;
  int write_timeout_ = 60;
  HTTP_Headers headers_;
};

class Common_JSON_RESTful_Client : public JSON_RESTful_Client {
 public:
  // Sends this host's access key (when it has one) with every request.
  // `on_backupd` is kept for the host's signature and unused.
  Common_JSON_RESTful_Client(const std::string& host, std::uint16_t port, bool ssl, bool on_backupd,
                             bool verify_peer);
};

class Upstream_JSON_RESTful_Client : public Common_JSON_RESTful_Client {
 public:
  // The daemon of Global_JSON_RPC_Channel; every request fails, logged,
  // while the host is not registered.
  Upstream_JSON_RESTful_Client();

 private:
  explicit Upstream_JSON_RESTful_Client(const JSON_RPC_Channel_Ptr& channel);
};

#endif  // PLATFORM_RPC_JSON_RESTFUL_CLIENT_H_
