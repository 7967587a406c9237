#include "platform/rpc/http_session.h"

#include <chrono>
#include <thread>

#include <httplib.h>

#include "platform/runtime/log.h"

HTTP_Session::HTTP_Session(const std::string& host, std::uint16_t port, bool ssl,
                           int connect_timeout, int read_timeout, int write_timeout,
                           bool verify_peer)
    : address_(host + ":" + std::to_string(port)) {
  if (ssl) {
    httplib::SSLClient* tls = new httplib::SSLClient(host, port);
    tls->enable_server_certificate_verification(verify_peer);
    client_.reset(tls);
  } else {
    client_.reset(new httplib::ClientImpl(host, port));
  }
  client_->set_connection_timeout(connect_timeout, 0);
  client_->set_read_timeout(read_timeout, 0);
  client_->set_write_timeout(write_timeout, 0);
}

HTTP_Session::~HTTP_Session() = default;

bool HTTP_Session::send(const HTTP_Request& request, const std::string& body,
                        HTTP_Response& response) {
  response = HTTP_Response();
  httplib::Request req;
  req.method = request.method_name();
  req.path = request.target();
  for (const auto& header : request.headers().items())
    req.set_header(header.first.c_str(), header.second);
  if (!body.empty()) {
    req.body = body;
    req.set_header("Content-Type", "application/json");
  }

  httplib::Response res;
  httplib::Error error = httplib::Error::Success;
  bool sent;
  {
    std::lock_guard<std::mutex> guard(lock_);
    sent = client_->send(req, res, error);
  }
  if (!sent) {
    LOG_ERROR("Failed to %s %s on %s: %s error.", req.method.c_str(), request.uri().c_str(),
              address_.c_str(), httplib::to_string(error).c_str());
    return false;
  }
  response.status(res.status);
  response.body().swap(res.body);
  for (const auto& header : res.headers)
    response.headers().set(header.first, header.second);
  return true;
}

HTTP_Session_Ptr HTTP_Session_Factory::create(const std::string& host, std::uint16_t port, bool ssl,
                                              const char*, int connect_timeout, void*,
                                              bool verify_peer, int read_timeout, int write_timeout,
                                              int, int) {
  if (host.empty() || port == 0) {
    LOG_ERROR("Failed to create http session: no address of the daemon (%s:%d).", host.c_str(),
              static_cast<int>(port));
    return HTTP_Session_Ptr();
  }
  try {
    return std::make_shared<HTTP_Session>(host, port, ssl, connect_timeout, read_timeout,
                                          write_timeout, verify_peer);
  } catch (const std::exception& e) {
    LOG_ERROR("Failed to create http session to %s:%d: %s", host.c_str(), static_cast<int>(port),
              e.what());
    return HTTP_Session_Ptr();
  }
}

JSON_HTTP_Session::JSON_HTTP_Session(HTTP_Session_Ptr session, int retry_delay_ms,
                                     int deadline_seconds)
    : session_(std::move(session)),
      retry_delay_ms_(retry_delay_ms),
      deadline_seconds_(deadline_seconds) {}

bool JSON_HTTP_Session::get(HTTP_Request& request, HTTP_Response& response, Value& reply) {
  HTTP_Request get(HTTP_METHOD_GET, request.uri());
  get.headers() = request.headers();
  get.query_string() = request.query_string();
  return exchange(get, std::string(), response, reply);
}

bool JSON_HTTP_Session::post(HTTP_Request& request, const Value& body, HTTP_Response& response,
                             Value& reply) {
  HTTP_Request post(HTTP_METHOD_POST, request.uri());
  post.headers() = request.headers();
  post.query_string() = request.query_string();
  return exchange(post, JSON_Dump(body, false), response, reply);
}

bool JSON_HTTP_Session::exchange(const HTTP_Request& request, const std::string& body,
                                 HTTP_Response& response, Value& reply) {
  if (!usable()) {
    LOG_ERROR("Failed to %s %s: no http session.", request.method_name(), request.uri().c_str());
    return false;
  }
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(deadline_seconds_);
  bool replied = session_->send(request, body, response);
  for (int attempt = 0; !replied && attempt < retries_; ++attempt) {
    std::this_thread::sleep_for(std::chrono::milliseconds(retry_delay_ms_));
    if (std::chrono::steady_clock::now() >= deadline)
      break;
    replied = session_->send(request, body, response);
  }
  if (!replied)
    return false;
  if (response.status() < 200 || response.status() > 299)
    return true;
  if (response.body().empty()) {
    reply = Value();
    return true;
  }
  if (!loads_json(response.body(), reply)) {
    LOG_ERROR("Failed to parse the reply of %s %s from %s.", request.method_name(),
              request.uri().c_str(), session_->address().c_str());
    return false;
  }
  return true;
}
