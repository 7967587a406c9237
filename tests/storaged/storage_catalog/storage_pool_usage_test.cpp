// The usage bookkeeping of a pool: its usage row moved by deltas and
// resyncs, the usage object, external storage space and the notification
// with its marking once the daemon took it.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <ctime>
#include <fstream>

#include "platform/rpc/http_options.h"
#include "platform/runtime/host_id.h"
#include "platform/sql/sql.h"
#include "storaged/storage_catalog/storage_pool.h"
#include "tests/storaged/storage_catalog/catalog_back_end_test.h"
#include "tests/support/sql_rows.h"
#include "tests/support/test_daemon.h"

using database::sql::Connection_Ptr;

namespace {

const char kHost[] = "0123456789abcdef0123456789abcdef";

long long now() {
  return static_cast<long long>(std::time(nullptr));
}

class Pool_Usage : public Catalog_Back_End_Test {
 protected:
  void SetUp() override {
    Catalog_Back_End_Test::SetUp();
    if (IsSkipped() || HasFatalFailure())
      return;
    Host_ID::instance().set(kHost);
    HTTP_Options::instance()->set_local_listen_address(storage_.host(), storage_.port(), false);
    pool_dir_ = dir_.file("pool");
  }
  void TearDown() override {
    HTTP_Options::instance()->reset();
    Catalog_Back_End_Test::TearDown();
  }

  Connection_Ptr conn() { return impl_->get_connection(); }

  // Gives `pool_` a device of kind `url`; a file device lies in pool_dir_.
  void add_device(const std::string& url, Object attrs = Object()) {
    attrs["attached_hosts"] = Object{{kHost, pool_dir_}};
    ASSERT_TRUE(impl_->add_device(
        Object{{"uuid", u(0xD01)}, {"url", url}, {"pool_uuid", pool_}, {"extended_attrs", attrs}}))
        << log_.dump();
  }

  SCAT::Storage_Pool pool() {
    SCAT::Storage_Pool record;
    EXPECT_EQ(record.load(conn(), pool_), 1) << log_.dump();
    return record;
  }

  Object usage_row() { return ::usage_row(conn(), pool_); }
  void set_usage(const Object& values) { ::set_usage(conn(), pool_, values); }

  void write_file(const std::string& name, std::size_t bytes) {
    std::ofstream(pool_dir_ + "/" + name) << std::string(bytes, 'x');
  }

  Test_Daemon storage_;  // the host's own HTTP service
  std::string pool_dir_;
};

TEST_P(Pool_Usage, UpdateUsageMovesStoredFiguresNeverBelowZero) {
  add_device("file:///pool");
  SCAT::Storage_Pool record = pool();
  ASSERT_TRUE(record.update_usage(conn(), 0));
  EXPECT_EQ(usage_row()["update_time"], 0);  // nothing touched

  ASSERT_TRUE(record.update_usage(conn(), 300)) << log_.dump();
  Object row = usage_row();
  EXPECT_EQ(row["catalog_size"], 300);
  EXPECT_EQ(row["logical_size"], 300);
  EXPECT_EQ(row["physical_size"], 300);
  EXPECT_GE(row["update_time"].get<long long>(), now() - 5);

  set_usage(Object{{"physical_size", 100}});
  ASSERT_TRUE(record.update_usage(conn(), -250));
  row = usage_row();
  EXPECT_EQ(row["catalog_size"], 50);
  EXPECT_EQ(row["physical_size"], 0);

  // A change in the second of the last report still counts as a change.
  set_usage(Object{{"notify_time", now() + 100}});
  ASSERT_TRUE(record.update_usage(conn(), 1));
  EXPECT_EQ(usage_row()["update_time"], usage_row()["notify_time"].get<long long>() + 1);

  // A missing row is made first.
  ASSERT_TRUE(conn()->execute(std::string("DELETE FROM storage_catalog_pool_usage")));
  ASSERT_TRUE(record.update_usage(conn(), 40));
  EXPECT_EQ(usage_row()["catalog_size"], 40);
}

TEST_P(Pool_Usage, UpdateUsageOfADedupPoolOnlyMarksTheFirstChange) {
  add_device("dedup://127.0.0.1:1/kx/r/dedup/pool1");
  SCAT::Storage_Pool record = pool();
  set_usage(Object{{"update_time", 50}, {"notify_time", 10}});
  ASSERT_TRUE(record.update_usage(conn(), 100));
  Object row = usage_row();
  EXPECT_EQ(row["update_time"], 50);  // a change is already pending
  EXPECT_EQ(row["catalog_size"], 0);

  set_usage(Object{{"update_time", 10}, {"notify_time", 20}});
  ASSERT_TRUE(record.update_usage(conn(), 100));
  row = usage_row();
  EXPECT_GE(row["update_time"].get<long long>(), now() - 5);
  EXPECT_EQ(row["catalog_size"], 0);  // the figures live in the dedup engine
}

TEST_P(Pool_Usage, ResyncRecomputesAStoredPoolFromItsFolderAndCatalog) {
  add_device("file:///pool");
  ASSERT_EQ(::mkdir(pool_dir_.c_str(), 0700), 0);
  write_file("a", 10);
  write_file("b", 20);
  add(1, 1, "2026-01-01 00:00:00", 1);                          // online
  add(2, 1, "2026-01-02 00:00:00", 9, Object{{"size", 50}});    // online and expired
  add(3, 3, "2026-01-03 00:00:00", 2, Object{{"size", 1000}});  // offline
  SCAT::Storage_Pool record = pool();
  long long size = 0, expired = 0;
  ASSERT_TRUE(record.get_catalog_size(conn(), size, true));
  EXPECT_EQ(size, 150);
  ASSERT_TRUE(record.get_catalog_size(conn(), size, false));
  EXPECT_EQ(size, 100);
  ASSERT_TRUE(record.get_catalog_size(conn(), size, &expired));
  EXPECT_EQ(expired, 50);

  ASSERT_TRUE(record.resync_usage(conn())) << log_.dump();
  Object row = usage_row();
  EXPECT_EQ(row["catalog_size"], 150);
  EXPECT_EQ(row["logical_size"], 30);
  EXPECT_EQ(row["total_files"], 2);
  EXPECT_GT(row["physical_size"].get<long long>(), 0);
  EXPECT_GE(row["resync_time"].get<long long>(), now() - 5);
  EXPECT_GE(row["update_time"].get<long long>(), now() - 5);

  Object usage;
  ASSERT_TRUE(record.get_usage(conn(), usage));
  EXPECT_EQ(usage["used_size"], 150);
  EXPECT_EQ(usage["logical_size"], 30);
  EXPECT_GT(usage["size"].get<long long>(), 0);
  EXPECT_TRUE(usage.count("free_size"));

  // Without a row: only the catalog size and the space.
  ASSERT_TRUE(conn()->execute(std::string("DELETE FROM storage_catalog_pool_usage")));
  usage.clear();
  ASSERT_TRUE(record.get_usage(conn(), usage));
  EXPECT_EQ(usage["used_size"], 150);
  EXPECT_EQ(usage.count("catalog_size"), 0u);
  EXPECT_TRUE(usage.count("size"));
}

TEST_P(Pool_Usage, AMissingFolderOrAnUnknownSchemeStoresNoZeroFigures) {
  add_device("file:///pool");  // pool_dir_ is never made
  add(1, 1, "2026-01-01 00:00:00", 1);
  set_usage(Object{{"logical_size", 70}, {"total_files", 7}});
  SCAT::Storage_Pool record = pool();
  ASSERT_TRUE(record.resync_usage(conn()));
  Object row = usage_row();
  EXPECT_EQ(row["catalog_size"], 100);
  EXPECT_EQ(row["physical_size"], 100);  // the catalog's figure, not 0
  EXPECT_EQ(row["logical_size"], 70);
  EXPECT_EQ(row["total_files"], 7);
  EXPECT_TRUE(log_.contains("Failed to measure pool '" + pool_ + "'"));

  ASSERT_TRUE(impl_->update_device(u(0xD01), Object{{"url", "zzz://host/pool"}}));
  SCAT::Storage_Pool unknown = pool();
  ASSERT_TRUE(unknown.resync_usage(conn()));
  EXPECT_EQ(usage_row()["physical_size"], 100);
  Object notification;
  SCAT::Usage_Report report;
  ASSERT_TRUE(unknown.notify_usage(conn(), notification, report));
  EXPECT_EQ(notification["devices"][0]["used_bytes"], 100);
}

TEST_P(Pool_Usage, APoolThatIsNotNormalIsNotResynced) {
  add_device("file:///pool");
  ASSERT_TRUE(impl_->update_pool(pool_, Object{{"state", "deleting"}}));
  SCAT::Storage_Pool record = pool();
  EXPECT_TRUE(record.resync_usage(conn()));
  EXPECT_EQ(usage_row()["resync_time"], 0);
  long long size = -1;
  EXPECT_FALSE(record.get_catalog_size(conn(), size, true));
}

TEST_P(Pool_Usage, ExternalStorageDedupRateLowersTheUsedSize) {
  add_device("file:///pool", Object{{"external_uuid", "ext-1"}});
  storage_.reply("POST", "/kx/jr", 200,
                 R"({"jsonrpc": "2.0", "id": "1", "result": {"size": 5000, "free_size": 4000,
                     "dedup_rate": 2500}})");
  set_usage(Object{{"catalog_size", 1000}, {"physical_size", 900}, {"update_time", 20}});
  SCAT::Storage_Pool record = pool();
  Object usage;
  ASSERT_TRUE(record.get_usage(conn(), usage)) << log_.dump();
  EXPECT_EQ(usage["used_size"], 750);
  EXPECT_EQ(usage["data_size"], 1000);
  EXPECT_EQ(usage["dedup_rate"], 2500);
  EXPECT_EQ(usage["size"], 5000);
  EXPECT_EQ(usage["free_size"], 4000);
  auto asked = storage_.requests_to("/kx/jr");
  ASSERT_FALSE(asked.empty());
  Value body = Value::parse(asked.back().body);
  EXPECT_EQ(body["method"], "external_storages.statfs");
  EXPECT_EQ(body["jsonrpc"], "2.0");
  EXPECT_EQ(body["params"], Value(Object{{"uuid", "ext-1"}}));

  Object notification;
  SCAT::Usage_Report report;
  ASSERT_TRUE(record.notify_usage(conn(), notification, report));
  EXPECT_EQ(notification["devices"][0]["used_bytes"], 750);
  EXPECT_EQ(notification["devices"][0]["extended_attrs"]["dedup_rate"], 2500);

  // A storage service that answers garbage, an error or nothing: no
  // deduplicated figure, and no notification with a wrong one.
  for (const std::string& answer : {std::string("<html>"), std::string(R"({"error": {}})"),
                                    std::string(R"({"result": {"dedup_rate": 20000}})")}) {
    storage_.reply("POST", "/kx/jr", 200, answer);
    usage.clear();
    ASSERT_TRUE(record.get_usage(conn(), usage)) << answer;
    EXPECT_EQ(usage["used_size"], 1000) << answer;
    EXPECT_EQ(usage.count("dedup_rate"), 0u) << answer;
    Object none;
    EXPECT_FALSE(record.notify_usage(conn(), none, report)) << answer;
  }
  EXPECT_TRUE(log_.has("Failed to get space info of external storage 'ext-1'."));
  EXPECT_TRUE(log_.has("Invalid query result of external storage space info."));
}

TEST_P(Pool_Usage, NotifyMarksTheReportedUpdateTimeOnlyOnceTaken) {
  add_device("file:///pool");
  set_usage(Object{{"catalog_size", 300},
                   {"logical_size", 200},
                   {"physical_size", 100},
                   {"update_time", 500},
                   {"notify_time", 100}});
  SCAT::Storage_Pool record = pool();
  Object notification;
  SCAT::Usage_Report report;
  ASSERT_TRUE(record.notify_usage(conn(), notification, report)) << log_.dump();
  EXPECT_EQ(notification["uuid"], pool_);
  ASSERT_EQ(notification["devices"].size(), 1u);
  const Value& device = notification["devices"][0];
  EXPECT_EQ(device["uuid"], u(0xD01));
  EXPECT_EQ(device["used_bytes"], 300);
  EXPECT_EQ(device["extended_attrs"]["catalog_size"], 300);
  EXPECT_EQ(device["extended_attrs"]["logical_size"], 200);
  EXPECT_EQ(device["extended_attrs"]["physical_size"], 100);
  EXPECT_TRUE(device["extended_attrs"].contains("size"));
  EXPECT_EQ(usage_row()["notify_time"], 100);  // not yet taken

  ASSERT_TRUE(SCAT::Storage_Pool::notified(conn(), report, false));
  EXPECT_EQ(usage_row()["notify_time"], 100);
  ASSERT_TRUE(SCAT::Storage_Pool::notified(conn(), report, true));
  EXPECT_EQ(usage_row()["notify_time"], 500);  // the row's update_time, not now

  // A change made while the report is on its way stays pending.
  set_usage(Object{{"update_time", 600}});
  ASSERT_TRUE(record.notify_usage(conn(), notification, report));
  ASSERT_TRUE(record.update_usage(conn(), 10));
  ASSERT_TRUE(SCAT::Storage_Pool::notified(conn(), report, true));
  Object row = usage_row();
  EXPECT_EQ(row["notify_time"], 500);
  EXPECT_GT(row["update_time"].get<long long>(), 500);
}

TEST_P(Pool_Usage, LiveNotificationClaimsThePendingChangeAndGivesItBack) {
  add_device("file:///pool");
  SCAT::Storage_Pool plain = pool();
  plain.extended_attrs() = Object{{"multidevice", true}};
  ASSERT_TRUE(plain.update_extended_attrs(conn()));
  set_usage(Object{{"update_time", 500}, {"notify_time", 100}});
  // Neither live figures nor a redundancy to tell: nothing to report.
  SCAT::Storage_Pool record = pool();
  Object notification;
  SCAT::Usage_Report report;
  EXPECT_FALSE(record.notify_usage(conn(), notification, report));
  EXPECT_EQ(usage_row()["notify_time"], 100);

  record.extended_attrs()["dedup_redundancy"] = 2;
  ASSERT_TRUE(record.update_extended_attrs(conn()));
  ASSERT_TRUE(record.notify_usage(conn(), notification, report)) << log_.dump();
  EXPECT_EQ(Value(notification),
            Value(Object{{"uuid", pool_}, {"extended_attrs", Object{{"dedup_redundancy", 2}}}}));
  EXPECT_EQ(usage_row()["notify_time"], 500);  // claimed while on its way
  ASSERT_TRUE(SCAT::Storage_Pool::notified(conn(), report, false));
  EXPECT_EQ(usage_row()["notify_time"], 100);  // given back

  ASSERT_TRUE(record.notify_usage(conn(), notification, report));
  ASSERT_TRUE(record.update_usage(conn(), 5));  // a change during the report
  ASSERT_TRUE(SCAT::Storage_Pool::notified(conn(), report, true));
  Object row = usage_row();
  EXPECT_EQ(row["notify_time"], 500);
  EXPECT_GT(row["update_time"].get<long long>(), 500);
  EXPECT_GE(row["resync_time"].get<long long>(), now() - 5);
}

SCAT_INSTANTIATE_ENGINES(Pool_Usage);

}  // namespace
