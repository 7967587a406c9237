#include "tests/support/test_daemon.h"

#include <cstdio>
#include <stdexcept>

#include <httplib.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

namespace {

// Writes a fresh key and a self-signed certificate for 127.0.0.1.
void make_certificate(const std::string& cert_path, const std::string& key_path) {
  EVP_PKEY* key = EVP_RSA_gen(2048);
  X509* cert = X509_new();
  ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
  X509_gmtime_adj(X509_getm_notBefore(cert), 0);
  X509_gmtime_adj(X509_getm_notAfter(cert), 24 * 3600);
  X509_set_pubkey(cert, key);
  X509_NAME* name = X509_get_subject_name(cert);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1, 0);
  X509_set_issuer_name(cert, name);
  X509_sign(cert, key, EVP_sha256());
  FILE* out = std::fopen(cert_path.c_str(), "w");
  PEM_write_X509(out, cert);
  std::fclose(out);
  out = std::fopen(key_path.c_str(), "w");
  PEM_write_PrivateKey(out, key, nullptr, nullptr, 0, nullptr, nullptr);
  std::fclose(out);
  X509_free(cert);
  EVP_PKEY_free(key);
}

httplib::Server* make_server(bool tls, const Temp_Dir& dir) {
  if (!tls)
    return new httplib::Server;
  make_certificate(dir.file("cert.pem"), dir.file("key.pem"));
  return new httplib::SSLServer(dir.file("cert.pem").c_str(), dir.file("key.pem").c_str());
}

}  // namespace

Test_Daemon::Test_Daemon(bool tls) : server_(make_server(tls, certificate_dir_)) {
  auto handler = [this](const httplib::Request& req, httplib::Response& res) { serve(req, res); };
  server_->Get(".*", handler);
  server_->Post(".*", handler);
  reply("GET", "/kx/r/v2/storages", 200, "{\"rows\": []}");
  reply("POST", "/kx/r/v2/storage/pools/sync", 200, "[]");
  int port = server_->bind_to_any_port(host_);
  if (port <= 0)
    throw std::runtime_error("test daemon cannot listen");
  port_ = static_cast<std::uint16_t>(port);
  thread_ = std::thread([this] { server_->listen_after_bind(); });
  // A stop before the loop runs would be lost and the loop would never end.
  while (!server_->is_running())
    std::this_thread::yield();
}

Test_Daemon::~Test_Daemon() {
  {
    std::lock_guard<std::mutex> guard(lock_);
    stopping_ = true;
  }
  stopping_cond_.notify_all();
  server_->stop();
  thread_.join();
}

void Test_Daemon::reply(const std::string& method, const std::string& path, int status,
                        const std::string& body) {
  std::lock_guard<std::mutex> guard(lock_);
  Answer& answer = answers_[method + " " + path];
  answer.status = status;
  answer.body = body;
  answer.hang = false;
  stopping_cond_.notify_all();  // requests held by hang() answer now
}

void Test_Daemon::hang(const std::string& method, const std::string& path) {
  std::lock_guard<std::mutex> guard(lock_);
  answers_[method + " " + path].hang = true;
}

std::vector<Test_Daemon::Request> Test_Daemon::requests() const {
  std::lock_guard<std::mutex> guard(lock_);
  return requests_;
}

std::vector<Test_Daemon::Request> Test_Daemon::requests_to(const std::string& path) const {
  std::vector<Request> out;
  for (const Request& r : requests())
    if (r.path == path)
      out.push_back(r);
  return out;
}

void Test_Daemon::serve(const httplib::Request& req, httplib::Response& res) {
  Request seen;
  seen.path = req.path;
  std::string::size_type mark = req.target.find('?');
  if (mark != std::string::npos)
    seen.query = req.target.substr(mark + 1);
  for (const auto& header : req.headers)
    seen.headers[header.first] = header.second;
  seen.body = req.body;

  std::unique_lock<std::mutex> guard(lock_);
  requests_.push_back(seen);
  auto it = answers_.find(req.method + " " + req.path);
  if (it == answers_.end()) {
    res.status = 404;
    return;
  }
  const Answer& answer = it->second;
  stopping_cond_.wait(guard, [&] { return stopping_ || !answer.hang; });
  if (stopping_) {
    res.status = 503;
    return;
  }
  res.status = answer.status;
  res.set_content(answer.body, "application/json");
}
