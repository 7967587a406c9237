// The front's usage report: one "pool.status.update" per tick with every
// changed pool, marked as reported only once the daemon took it; stale
// figures recomputed on a worker; the usage operations callers use.
#include <gtest/gtest.h>

#include <chrono>
#include <ctime>

#include "platform/rpc/json_rpc.h"
#include "platform/runtime/host_id.h"
#include "platform/sql/sql.h"
#include "storaged/storage_catalog/catalog_settings.h"
#include "storaged/storage_catalog/storage_catalog_manager.h"
#include "tests/support/front_fixture.h"
#include "tests/support/sql_rows.h"

using database::sql::Update_SQL;

namespace {

const char kRpcPath[] = "/kx/jr";
const char kAccepted[] = R"({"jsonrpc": "2.0", "id": "1", "result": true})";

long long now() {
  return static_cast<long long>(std::time(nullptr));
}

class Usage_Report_Test : public Front_Test {
 protected:
  void SetUp() override {
    Front_Test::SetUp();
    Host_ID::instance().set(kHostUuid);
    daemon_.reply("POST", kRpcPath, 200, kAccepted);
  }

  void register_host() {
    auto channel = std::make_shared<JSON_RPC_Channel>();
    channel->host = daemon_.host();
    channel->port = daemon_.port();
    Global_JSON_RPC_Channel::set(channel);
  }

  // A pool with a device in its own folder, its figures fresh and quiet.
  void add_file_pool(const std::string& pool) {
    ASSERT_TRUE(front_->add_pool(pool_record(pool))) << log_.dump();
    ASSERT_TRUE(front_->add_device(device_of(pool))) << log_.dump();
    set_usage(pool, Object{{"resync_time", now()}});
  }

  Object device_of(const std::string& pool) {
    return device_record("d" + pool.substr(1), pool, local_dir(pool));
  }

  void set_usage(const std::string& pool, const Object& values) {
    ::set_usage(front_->get_connection(pool), pool, values);
  }
  Object usage_row(const std::string& pool) {
    return ::usage_row(front_->get_connection(pool), pool);
  }

  // The uuids of the pools each report carried, in order of the reports.
  std::vector<std::vector<std::string>> reports() {
    std::vector<std::vector<std::string>> out;
    for (const auto& request : daemon_.requests_to(kRpcPath)) {
      Value body = Value::parse(request.body);
      EXPECT_EQ(body["method"], "pool.status.update");
      EXPECT_EQ(body["jsonrpc"], "2.0");
      EXPECT_TRUE(body["id"].is_string());
      std::vector<std::string> pools;
      for (const Value& usage : body["params"])
        pools.push_back(usage["uuid"].get<std::string>());
      out.push_back(pools);
    }
    return out;
  }

  long long notify_time(const std::string& pool) {
    return usage_row(pool)["notify_time"].get<long long>();
  }
};

class Usage_Report_Engines : public Usage_Report_Test,
                             public ::testing::WithParamInterface<Engine> {
 protected:
  void SetUp() override {
    Usage_Report_Test::SetUp();
    open_server(GetParam());
    if (IsSkipped() || HasFatalFailure())
      return;
    register_host();
    add_file_pool(kPoolA);
    add_file_pool(kPoolB);
  }
};

TEST_P(Usage_Report_Engines, SendsEveryChangedPoolInOneRequestAndNothingWhenQuiet) {
  ASSERT_TRUE(front_->sync_usages()) << log_.dump();
  EXPECT_TRUE(daemon_.requests_to(kRpcPath).empty());

  set_usage(kPoolA, Object{{"update_time", 500}, {"notify_time", 100}, {"catalog_size", 70}});
  set_usage(kPoolB, Object{{"update_time", 600}, {"notify_time", 100}});
  ASSERT_TRUE(front_->sync_usages()) << log_.dump();
  ASSERT_EQ(reports(), (std::vector<std::vector<std::string>>{{kPoolA, kPoolB}}));
  Value body = Value::parse(daemon_.requests_to(kRpcPath)[0].body);
  EXPECT_EQ(body["params"][0]["devices"][0]["used_bytes"], 70);
  EXPECT_EQ(notify_time(kPoolA), 500);
  EXPECT_EQ(notify_time(kPoolB), 600);

  ASSERT_TRUE(front_->sync_usages());
  EXPECT_EQ(reports().size(), 1u);
}

TEST_P(Usage_Report_Engines, ADaemonThatIsDownGetsTheChangeOnTheNextTick) {
  set_usage(kPoolA, Object{{"update_time", 500}, {"notify_time", 100}});
  std::uint16_t closed_port;
  {
    Test_Daemon gone;
    closed_port = gone.port();
  }
  front_->init("127.0.0.1", closed_port, false);
  EXPECT_FALSE(front_->sync_usages());
  EXPECT_EQ(notify_time(kPoolA), 100);

  front_->init(daemon_.host(), daemon_.port(), false);
  ASSERT_TRUE(front_->sync_usages()) << log_.dump();
  EXPECT_EQ(reports(), (std::vector<std::vector<std::string>>{{kPoolA}}));
  EXPECT_EQ(notify_time(kPoolA), 500);
}

TEST_P(Usage_Report_Engines, ADaemonSlowerThanItsTimeOutGetsTheChangeOnceItKeepsTime) {
  set_usage(kPoolA, Object{{"update_time", 500}, {"notify_time", 100}});
  set_daemon_timeout(1);
  daemon_.hang("POST", kRpcPath);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(front_->sync_usages());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
  EXPECT_EQ(notify_time(kPoolA), 100);
  daemon_.reply("POST", kRpcPath, 200, kAccepted);
  ASSERT_TRUE(front_->sync_usages()) << log_.dump();
  EXPECT_EQ(notify_time(kPoolA), 500);
  set_daemon_timeout(0);
}

TEST_P(Usage_Report_Engines, ADaemonAnsweringGarbageOrAnErrorKeepsTheChangePending) {
  set_usage(kPoolA, Object{{"update_time", 500}, {"notify_time", 100}});
  for (const auto& answer : std::vector<std::pair<int, std::string>>{
           {500, kAccepted},
           {200, "<html>no</html>"},
           {200, R"({"jsonrpc": "2.0", "id": "1", "error": {"code": -32601}})"}}) {
    daemon_.reply("POST", kRpcPath, answer.first, answer.second);
    EXPECT_FALSE(front_->sync_usages()) << answer.second;
    EXPECT_EQ(notify_time(kPoolA), 100) << answer.second;
  }
  EXPECT_TRUE(log_.contains("Failed to update pool status: "));
  daemon_.reply("POST", kRpcPath, 200, kAccepted);
  ASSERT_TRUE(front_->sync_usages());
  EXPECT_EQ(reports().size(), 4u);
  EXPECT_EQ(reports().back(), std::vector<std::string>{kPoolA});
  EXPECT_EQ(notify_time(kPoolA), 500);
}

TEST_P(Usage_Report_Engines, AStaleRowIsRecomputedOnAWorkerInsteadOfReported) {
  front_->add_catalog(kPoolA, catalog_record(kSetA, kPoolA));
  set_usage(kPoolA, Object{{"update_time", 500}, {"notify_time", 100}, {"resync_time", 0}});
  ASSERT_TRUE(front_->sync_usages());
  EXPECT_TRUE(daemon_.requests_to(kRpcPath).empty());
  ASSERT_TRUE(wait_until([&] { return usage_row(kPoolA)["resync_time"] != 0; }));
  EXPECT_EQ(usage_row(kPoolA)["catalog_size"], 100);

  ASSERT_TRUE(front_->sync_usages()) << log_.dump();
  EXPECT_EQ(reports(), (std::vector<std::vector<std::string>>{{kPoolA}}));
}

TEST_P(Usage_Report_Engines, TheTimerTicksOnAWorker) {
  set_usage(kPoolA, Object{{"update_time", 500}, {"notify_time", 100}});
  EXPECT_EQ(front_->handle_timeout(ACE_Time_Value(), reinterpret_cast<const void*>(1)), 0);
  ASSERT_TRUE(wait_until([&] { return !daemon_.requests_to(kRpcPath).empty(); }));
  EXPECT_TRUE(wait_until([&] { return notify_time(kPoolA) == 500; }));
}

TEST_P(Usage_Report_Engines, PoolInfoTakesWhatItsFlagsAsk) {
  Object bare;
  ASSERT_TRUE(front_->get_pool_info(kPoolA, 0, bare)) << log_.dump();
  EXPECT_EQ(bare.size(), 8u);
  EXPECT_EQ(bare["uuid"], kPoolA);
  EXPECT_EQ(bare["state"], "normal");

  Object with_devices;
  ASSERT_TRUE(front_->get_pool_info(kPoolA, 1, with_devices));
  ASSERT_EQ(with_devices["devices"].size(), 1u);
  EXPECT_EQ(with_devices["devices"][0]["pool_uuid"], kPoolA);
  EXPECT_EQ(with_devices.count("usage"), 0u);

  Object with_usage;
  ASSERT_TRUE(front_->get_pool_info(kPoolA, 2, with_usage));
  EXPECT_EQ(with_usage.count("devices"), 0u);
  EXPECT_EQ(with_usage["replicate_targets"], Value(Array()));
  EXPECT_EQ(with_usage["usage"]["used_size"], 0);

  Object unknown;
  EXPECT_FALSE(front_->get_pool_info(kPoolC, 3, unknown));
}

TEST_P(Usage_Report_Engines, UsageOperationsPassOverUnknownPoolsAndRefuseTargets) {
  log_.clear();
  EXPECT_TRUE(front_->update_pools_usage({{kPoolA, 100}, {kPoolC, 5}}));
  EXPECT_FALSE(log_.contains("Failed to update usage of pool"));
  EXPECT_EQ(usage_row(kPoolA)["catalog_size"], 100);

  Object usage;
  ASSERT_TRUE(front_->get_pool_usage(kPoolA, usage));
  EXPECT_EQ(usage["used_size"], 100);
  EXPECT_FALSE(front_->get_pool_usage(kPoolC, usage));

  Update_SQL target;
  target.table("storage_catalog_storage_pool").set("on_host", 0);
  target.where().and_filter()->add_sql("uuid=:uuid");
  ASSERT_TRUE(target.bind_uuid("uuid", kPoolA));
  ASSERT_TRUE(front_->get_connection(kPoolA)->execute(target));
  EXPECT_FALSE(front_->get_pool_usage(kPoolA, usage));
  EXPECT_TRUE(log_.has("Pool '" + kPoolA + "' is replicate target."));
  EXPECT_TRUE(front_->resync_pool_usage(kPoolA));  // nothing of its own to recompute
}

SCAT_INSTANTIATE_ENGINES(Usage_Report_Engines);

TEST_F(Usage_Report_Test, NothingIsSentBeforeTheHostIsRegistered) {
  open_server();
  add_file_pool(kPoolA);
  set_usage(kPoolA, Object{{"update_time", 500}, {"notify_time", 100}});
  EXPECT_FALSE(front_->sync_usages());
  EXPECT_TRUE(daemon_.requests_to(kRpcPath).empty());
}

TEST_F(Usage_Report_Test, AnAgentReportsThePoolsOfEveryLocalCatalogTogether) {
  open_agent({{kPoolA, local_dir(kPoolA)}, {kPoolB, local_dir(kPoolB)}});
  add_file_pool(kPoolA);
  add_file_pool(kPoolB);
  set_usage(kPoolA, Object{{"update_time", 500}, {"notify_time", 100}});
  set_usage(kPoolB, Object{{"update_time", 500}, {"notify_time", 100}});
  ASSERT_TRUE(front_->sync_usages()) << log_.dump();
  EXPECT_EQ(reports(), (std::vector<std::vector<std::string>>{{kPoolA, kPoolB}}));
  EXPECT_EQ(notify_time(kPoolA), 500);
  EXPECT_EQ(notify_time(kPoolB), 500);
}

}  // namespace
