// A catalog whose file system turns read-only or fills up, and a backup
// daemon that is gone or answers garbage: the front keeps serving what it
// can, reports false for the rest and loses nothing it committed.
#include <gtest/gtest.h>
#include <sys/mount.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/sql/legacy_manager.h"
#include "platform/sql/metadata.h"
#include "storaged/storage_catalog/catalog_settings.h"
#include "storaged/storage_catalog/storage_catalog_utils.h"
#include "tests/support/front_fixture.h"
#include "tests/support/sqlite_integrity.h"
#include "tests/support/test_mariadb.h"

namespace {

// A server host whose shared catalog sits on a small file system of its own
// (a 1 MB tmpfs; skipped where this process may not mount).
class Catalog_Disk_Faults : public Front_Test {
 protected:
  void SetUp() override {
    Front_Test::SetUp();
    mount_dir_ = dir_.file("disk");
    ::mkdir(mount_dir_.c_str(), 0700);
    if (::mount("tmpfs", mount_dir_.c_str(), "tmpfs", 0, "size=1m") != 0)
      GTEST_SKIP() << "cannot mount a small file system here";
    mounted_ = true;
    Host_Manager::instance()->set_role(Host_Manager::ROLE_SERVER);
    database::Database db;
    db.name("storage_catalog").type(database::Database::SQLITE).path(mount_dir_ + "/shared.db");
    database::Manager::instance()->configure("storage_catalog", db);
    front_->init(daemon_.host(), daemon_.port(), false);
    ASSERT_TRUE(front_->open()) << log_.dump();
    add_pools_and_sets();
  }
  void TearDown() override {
    Front_Test::TearDown();
    if (mounted_)
      ::umount2(mount_dir_.c_str(), MNT_DETACH);
  }

  bool remount(bool read_only) {
    unsigned long flags = MS_REMOUNT | (read_only ? MS_RDONLY : 0);
    return ::mount("tmpfs", mount_dir_.c_str(), "tmpfs", flags, "size=1m") == 0;
  }

  // Closes the catalog, runs `change` on the disk and opens it again; the
  // open may fail.
  void reopen_on(const std::function<bool()>& change) {
    Storage_Catalog_Manager::close_instance();
    database::sql::Legacy_Manager::instance()->close("storage_catalog");
    ASSERT_TRUE(change());
    front_ = Storage_Catalog_Manager::instance();
    front_->init(daemon_.host(), daemon_.port(), false);
    front_->open();
  }

  std::string integrity() { return sqlite_integrity(mount_dir_ + "/shared.db"); }

  std::string mount_dir_;
  bool mounted_ = false;
};

TEST_F(Catalog_Disk_Faults, AReadOnlyCatalogStillAnswersAndRefusesChanges) {
  // A file system with files open for writing cannot turn read-only: the
  // catalog is closed, the disk turned read-only and the catalog reopened.
  reopen_on([this] { return remount(true); });
  if (!front_->get_impl(kPoolA, true)) {
    EXPECT_TRUE(log_.has_prefix(LM_ERROR, "Failed to")) << "refused without a reason";
    reopen_on([this] { return remount(false); });
    EXPECT_EQ(catalog_count(kPoolA), 1);
    return;
  }
  log_.clear();
  EXPECT_FALSE(front_->add_catalog(kPoolA, catalog_record(uuid_of(9), kPoolA)));
  EXPECT_FALSE(front_->update_catalog(kPoolA, kSetA, Object{{"name", "changed"}}));
  EXPECT_FALSE(front_->set_state(kPoolA, kSetA, CST_OFFLINE));
  EXPECT_FALSE(front_->remove_catalog(kPoolA, kSetA));
  EXPECT_TRUE(log_.has_prefix(LM_ERROR, "Failed to"));
  EXPECT_EQ(catalog_count(kPoolA), 1);
  EXPECT_EQ(catalog_count(kPoolB), 1);
  Catalog_State state = CST_UNKNOWN;
  EXPECT_TRUE(front_->get_state(kPoolA, kSetA, state));
  EXPECT_EQ(state, CST_ONLINE);

  reopen_on([this] { return remount(false); });
  EXPECT_TRUE(front_->add_catalog(kPoolA, catalog_record(uuid_of(9), kPoolA))) << log_.dump();
  EXPECT_EQ(catalog_count(kPoolA), 2);
  EXPECT_EQ(integrity(), "ok");
}

TEST_F(Catalog_Disk_Faults, AFullDiskFailsTheWriteAndKeepsWhatWasCommitted) {
  int added = 0;
  for (int n = 100; n < 400; ++n) {
    Object set = catalog_record(uuid_of(n), kPoolA);
    set["name"] = std::string(8192, 'n');
    if (!front_->add_catalog(kPoolA, set))
      break;
    ++added;
  }
  ASSERT_LT(added, 300) << "the disk never filled";
  EXPECT_TRUE(log_.has_prefix(LM_ERROR, "Failed to"));
  EXPECT_EQ(catalog_count(kPoolA), 1 + added);
  EXPECT_EQ(catalog_count(kPoolB), 1);
  Object first;
  ASSERT_TRUE(Storage_Catalog_Utils::get_catalog(kPoolA, uuid_of(100), first));
  EXPECT_EQ(first["name"], std::string(8192, 'n'));
  EXPECT_EQ(integrity(), "ok");
}

// The shared catalog on a MariaDB server of the test's own, which stops
// and comes back while four threads keep adding backup sets.
class Catalog_Server_Restart : public Front_Test {
 protected:
  void SetUp() override {
    Front_Test::SetUp();
    if (!test_mariadb::configured())
      GTEST_SKIP() << "no MariaDB server configured";
    ASSERT_TRUE(server_.start());
    database::sql::Connection_Ptr admin = database::sql::open_connection(server_.database(""));
    ASSERT_TRUE(admin && admin->execute(std::string("CREATE DATABASE IF NOT EXISTS restart")))
        << log_.dump();
    database::Database db = server_.database("restart");
    db.name("storage_catalog");
    database::Manager::instance()->configure("storage_catalog", db);
    Host_Manager::instance()->set_role(Host_Manager::ROLE_SERVER);
    front_->init(daemon_.host(), daemon_.port(), false);
    ASSERT_TRUE(front_->open()) << log_.dump();
    ASSERT_TRUE(front_->add_pool(pool_record(kPoolA))) << log_.dump();
  }

  test_mariadb::Private_Server server_;
};

TEST_F(Catalog_Server_Restart, AddsThatSucceededSurviveAndAddsResumeAfterwards) {
  std::mutex lock;
  std::set<std::string> succeeded, attempted;
  std::atomic<bool> restarted{false};
  std::atomic<int> after{0};
  std::vector<std::thread> writers;
  for (int t = 0; t < 4; ++t) {
    writers.emplace_back([&, t] {
      for (int n = 0; n < 5000 && after < 40; ++n) {
        std::string uuid = uuid_of(0x10000 * (t + 1) + n);
        {
          std::lock_guard<std::mutex> guard(lock);
          attempted.insert(uuid);
        }
        if (!front_->add_catalog(kPoolA, catalog_record(uuid, kPoolA))) {
          std::this_thread::sleep_for(std::chrono::milliseconds(5));
          continue;
        }
        std::lock_guard<std::mutex> guard(lock);
        succeeded.insert(uuid);
        if (restarted)
          ++after;
      }
    });
  }
  for (int i = 0; i < 2000; ++i) {
    {
      std::lock_guard<std::mutex> guard(lock);
      if (succeeded.size() >= 20)
        break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_TRUE(server_.stop());
  EXPECT_TRUE(server_.start());
  restarted = true;
  for (std::thread& writer : writers)
    writer.join();
  EXPECT_GE(after.load(), 40) << "adds never resumed";

  Array rows;
  ASSERT_TRUE(
      front_->query_catalog(kPoolA, Object(), "id", true, 0, -1, rows, nullptr, false, false))
      << log_.dump();
  std::set<std::string> stored;
  for (const Value& row : rows)
    stored.insert(row["uuid"].get<std::string>());
  for (const std::string& uuid : succeeded)
    EXPECT_TRUE(stored.count(uuid)) << "lost " << uuid;
  for (const std::string& uuid : stored)
    EXPECT_TRUE(attempted.count(uuid)) << "never added " << uuid;
}

// A daemon that is not listening, or that answers with something other
// than what was asked for.
class Daemon_Faults : public Front_Test {};

TEST_F(Daemon_Faults, GarbageStorageListsOpenNoPoolAndNeverCrash) {
  const std::string replies[] = {"not json",
                                 "[]",
                                 "{\"rows\": \"x\"}",
                                 "{\"rows\": [1, null, \"x\", {\"pool_uuid\": 5}]}",
                                 "{\"rows\": [{\"pool_uuid\": \"abc\", \"extended_attrs\": 1}]}",
                                 "{\"rows\": [{\"pool_uuid\": \"abc\", \"extended_attrs\": "
                                 "{\"attached_hosts\": [1]}}]}",
                                 std::string(1 << 20, '[')};
  init_agent();
  for (const std::string& reply : replies) {
    SCOPED_TRACE(reply.substr(0, 60));
    daemon_.reply("GET", "/kx/r/v2/storages", 200, reply);
    Object pools;
    if (front_->get_local_pools(pools)) {
      for (const auto& pool : pools)
        EXPECT_NE(pool.first, "") << "a pool without a uuid";
    }
  }
}

TEST_F(Daemon_Faults, StateSyncWithAGoneOrGarbledDaemonFailsAndRetriesLater) {
  open_server();
  ASSERT_TRUE(front_->add_pool(pool_record(kPoolA))) << log_.dump();
  for (const std::string& reply :
       {std::string("garbage"), std::string("{\"x\": 1}"), std::string("[1, \"deleted\", {}]"),
        std::string("[{\"pool_uuid\": 7, \"state\": \"deleted\"}]")}) {
    daemon_.reply("POST", "/kx/r/v2/storage/pools/sync", 200, reply);
    front_->sync_pools_state();
  }
  Object pool;
  ASSERT_TRUE(Storage_Catalog_Utils::get_pool(kPoolA, pool));
  EXPECT_EQ(pool["state"], "normal");
}

TEST_F(Daemon_Faults, ADaemonSlowerThanItsTimeOutFailsTheCallUntilItKeepsTime) {
  open_server();
  ASSERT_TRUE(front_->add_pool(pool_record(kPoolA))) << log_.dump();
  set_daemon_timeout(1);
  daemon_.hang("POST", "/kx/r/v2/storage/pools/sync");
  EXPECT_FALSE(front_->sync_pools_state());
  EXPECT_TRUE(front_->add_catalog(kPoolA, catalog_record(kSetA, kPoolA))) << log_.dump();
  daemon_.reply("POST", "/kx/r/v2/storage/pools/sync", 200, "[]");
  EXPECT_TRUE(front_->sync_pools_state()) << log_.dump();
  set_daemon_timeout(0);
}

TEST_F(Daemon_Faults, ADaemonThatIsNotListeningFailsTheCall) {
  open_server();
  ASSERT_TRUE(front_->add_pool(pool_record(kPoolA))) << log_.dump();
  std::uint16_t port = daemon_.port();
  Storage_Catalog_Manager::close_instance();
  front_ = Storage_Catalog_Manager::instance();
  // Nothing listens on port 1 of this host.
  front_->init("127.0.0.1", 1, false);
  ASSERT_TRUE(front_->open()) << log_.dump();
  EXPECT_FALSE(front_->sync_pools_state());
  EXPECT_TRUE(log_.has("Failed to get data from 'POST /kx/r/v2/storage/pools/sync'."));
  EXPECT_NE(port, 1);
  // The catalog itself keeps serving.
  EXPECT_TRUE(front_->add_catalog(kPoolA, catalog_record(kSetA, kPoolA))) << log_.dump();
  EXPECT_EQ(catalog_count(kPoolA), 1);
}

}  // namespace
