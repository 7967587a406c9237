// A stand-in backup daemon for tests: an HTTP server on 127.0.0.1 (an
// ephemeral port) inside the test process. It serves the paths a test gives
// replies for (by default "/kx/r/v2/storages" with no rows and
// "/kx/r/v2/storage/pools/sync" with an empty array) and records every
// request it receives. With TLS it serves over a self-signed certificate
// made for it. Safe for concurrent use; stops when destroyed.
#ifndef TESTS_SUPPORT_TEST_DAEMON_H_
#define TESTS_SUPPORT_TEST_DAEMON_H_

#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/temp_dir.h"

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

class Test_Daemon {
 public:
  struct Request {
    std::string path;
    std::string query;  // as it came, without '?'
    std::map<std::string, std::string> headers;
    std::string body;
  };

  explicit Test_Daemon(bool tls = false);
  ~Test_Daemon();
  Test_Daemon(const Test_Daemon&) = delete;
  Test_Daemon& operator=(const Test_Daemon&) = delete;

  const std::string& host() const { return host_; }
  std::uint16_t port() const { return port_; }

  // What "METHOD path" answers from now on, also to the requests a hang()
  // holds. Unknown paths answer 404.
  void reply(const std::string& method, const std::string& path, int status,
             const std::string& body);
  // "METHOD path" answers nothing until reply() gives it an answer or the
  // daemon is destroyed (then 503). The request is recorded at once.
  void hang(const std::string& method, const std::string& path);

  std::vector<Request> requests() const;
  std::vector<Request> requests_to(const std::string& path) const;  // in order

 private:
  struct Answer {
    int status = 404;
    std::string body;
    bool hang = false;
  };
  void serve(const httplib::Request& req, httplib::Response& res);

  Temp_Dir certificate_dir_;
  std::string host_ = "127.0.0.1";
  std::uint16_t port_ = 0;
  std::unique_ptr<httplib::Server> server_;
  std::thread thread_;

  mutable std::mutex lock_;
  std::condition_variable stopping_cond_;  // stopping, or a hang ended
  bool stopping_ = false;                  // guarded by lock_
  std::map<std::string, Answer> answers_;  // guarded by lock_; key "METHOD path"
  std::vector<Request> requests_;          // guarded by lock_
};

#endif  // TESTS_SUPPORT_TEST_DAEMON_H_
