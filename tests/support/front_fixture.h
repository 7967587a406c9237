// A fresh catalog front for each test, with a test daemon beside it: on a
// server host the shared catalog lives in this test's own database; on an
// agent host the daemon lists the local pools, whose folders live in this
// test's folder. The singleton is closed after each test.
#ifndef TESTS_SUPPORT_FRONT_FIXTURE_H_
#define TESTS_SUPPORT_FRONT_FIXTURE_H_

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>

#include "platform/json/json.h"
#include "platform/rpc/host_manager.h"
#include "storaged/storage_catalog/storage_catalog_manager.h"
#include "tests/support/catalog_fixture.h"
#include "tests/support/log_capture.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_daemon.h"

class Front_Test : public ::testing::Test {
 public:
  static const char kHostUuid[];   // this host's uuid
  static const char kAccessKey[];  // this host's access key
  static const std::string kPoolA, kPoolB, kPoolC, kSetA, kSetB;

  static std::string uuid_of(int n);
  static bool exists(const std::string& path);
  static Object pool_record(const std::string& uuid, const std::string& state = "normal");
  // A device of `pool_uuid` attached to this host at `dir`.
  static Object device_record(const std::string& device_uuid, const std::string& pool_uuid,
                              const std::string& dir);
  static Object catalog_record(const std::string& uuid, const std::string& pool_uuid);
  // Polls `done` until it holds, for at most a minute (a bound no healthy
  // run comes near); whether it held.
  static bool wait_until(const std::function<bool()>& done);

 protected:
  void SetUp() override;
  void TearDown() override;

  // A server host whose shared catalog is on `engine` (the MariaDB half
  // skips without a server); init with the daemon's address, then open.
  void open_server(Engine engine = Engine::SQLITE);
  // An agent host whose daemon lists `pools` (pool uuid to this host's
  // entry, normally a folder); init with the daemon's address, then open.
  void open_agent(const std::map<std::string, Value>& pools);
  // Agent host initialised but not opened; the daemon is its upstream.
  void init_agent();

  // Pools A and B through the front, with sets A and B in them.
  void add_pools_and_sets();
  // A pool through the front with one master device at `url`.
  void add_pool_with_master(const std::string& pool_uuid, const std::string& url);
  // A folder for a local pool, created.
  std::string local_dir(const std::string& pool_uuid);
  // The number of sets in the pool's catalog; -1 when it cannot be read.
  long long catalog_count(const std::string& pool_uuid);

  Temp_Dir dir_;
  Log_Capture log_;
  Test_Daemon daemon_;
  Storage_Catalog_Manager* front_ = nullptr;

 private:
  std::string schema_;  // MariaDB: this test's own database
};

// A server host opened on each engine; instantiate with
// SCAT_INSTANTIATE_ENGINES.
class Front_Server_Test : public Front_Test, public ::testing::WithParamInterface<Engine> {
 protected:
  void SetUp() override {
    Front_Test::SetUp();
    open_server(GetParam());
  }
};

#endif  // TESTS_SUPPORT_FRONT_FIXTURE_H_
