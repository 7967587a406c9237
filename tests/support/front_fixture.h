// A fresh catalog front for each test, with a test daemon beside it: on a
// server host the shared catalog lives in this test's own database; on an
// agent host the daemon lists the local pools, whose folders live in this
// test's folder. The singleton is closed after each test.
#ifndef TESTS_SUPPORT_FRONT_FIXTURE_H_
#define TESTS_SUPPORT_FRONT_FIXTURE_H_

#include <gtest/gtest.h>

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
 protected:
  static const char kHostUuid[];   // this host's uuid
  static const char kAccessKey[];  // this host's access key

  void SetUp() override;
  void TearDown() override;

  // A server host whose shared catalog is on `engine` (the MariaDB half
  // skips without a server); init with the daemon's address, then open.
  void open_server(Engine engine = Engine::SQLITE);
  // An agent host whose daemon lists `pools` (pool uuid to this host's
  // entry, normally a folder); init with the daemon's address, then open.
  // The daemon is also the host's upstream.
  void open_agent(const std::map<std::string, Value>& pools);
  // Agent host initialised but not opened.
  void init_agent();

  // A folder for a local pool, created.
  std::string local_dir(const std::string& pool_uuid);
  // The storages reply listing `pools` as attached to this host.
  static std::string storages_reply(const std::map<std::string, Value>& pools);
  static Object pool_record(const std::string& uuid, const std::string& state = "normal");
  // A device of `pool_uuid` attached to this host at `dir`.
  static Object device_record(const std::string& device_uuid, const std::string& pool_uuid,
                              const std::string& dir);
  static Object catalog_record(const std::string& uuid, const std::string& pool_uuid);

  Temp_Dir dir_;
  Log_Capture log_;
  Test_Daemon daemon_;
  Storage_Catalog_Manager* front_ = nullptr;

 private:
  std::string schema_;  // MariaDB: this test's own database
};

#endif  // TESTS_SUPPORT_FRONT_FIXTURE_H_
