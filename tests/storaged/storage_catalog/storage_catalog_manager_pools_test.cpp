// Keeping the front in step with the backup daemon: the agent's local pool
// list, the pool state report and the revocation of a dedup master.
#include "storaged/storage_catalog/storage_catalog_manager.h"

#include <gtest/gtest.h>

#include <future>

#include "tests/support/front_fixture.h"

namespace {

const std::string kOtherHost = "99999999999999999999999999999999";
const std::string kSyncPath = "/kx/r/v2/storage/pools/sync";
const std::string kStoragesPath = "/kx/r/v2/storages";

class Front_Pools : public Front_Test {
 protected:
  // The pool's state; empty when the pool is not found.
  std::string pool_state(const std::string& pool_uuid) {
    Array rows;
    if (!front_->query_pool(Object{{"uuid", pool_uuid}}, 0, -1, rows, nullptr) || rows.empty())
      return std::string();
    return rows[0]["state"].get<std::string>();
  }

  static Object pool_state_entry(const std::string& pool_uuid, const std::string& state) {
    return Object{{"pool_uuid", pool_uuid}, {"state", state}};
  }
};

TEST_F(Front_Pools, TakesOnlyThisHostsEntries) {
  auto row = [](const std::string& pool, const Value& hosts) {
    return Object{{"pool_uuid", pool}, {"extended_attrs", Object{{"attached_hosts", hosts}}}};
  };
  Array rows{row(kPoolA, Object{{kOtherHost, "/x"}, {std::string(kHostUuid), "/pools/a"}}),
             row(kPoolB, Object{{kOtherHost, "/b"}}),
             row("", Object()),
             Object{{"name", "no uuid"}},
             Object{{"pool_uuid", kPoolC}},
             row(uuid_of(4), Object{{std::string(kHostUuid), 7}})};
  daemon_.reply("GET", kStoragesPath, 200, JSON_Dump(Object{{"rows", rows}}));
  init_agent();
  Object pools;
  ASSERT_TRUE(front_->get_local_pools(pools)) << log_.dump();
  EXPECT_EQ(Value(pools), Value(Object{{kPoolA, "/pools/a"}, {uuid_of(4), 7}}));
  EXPECT_TRUE(log_.has_prefix(LM_ERROR, "Failed to read local pool of storages info: "));
}

TEST_F(Front_Pools, ADaemonThatIsDownErrsOrAnswersGarbageGivesNoPools) {
  Host_Manager::instance()->set_access_key("");
  init_agent();
  Object none;
  EXPECT_FALSE(front_->get_local_pools(none));  // asks nothing without a key
  EXPECT_TRUE(daemon_.requests().empty());
  Host_Manager::instance()->set_access_key(kAccessKey);
  for (const auto& reply : std::vector<std::pair<int, std::string>>{
           {500, "{}"}, {200, "<html>not json</html>"}, {200, "[1, 2]"}}) {
    daemon_.reply("GET", kStoragesPath, reply.first, reply.second);
    Object pools;
    EXPECT_FALSE(front_->get_local_pools(pools)) << reply.second;
    EXPECT_TRUE(pools.empty());
  }
  EXPECT_EQ(log_.count("Failed to get storages info from backupd."), 2);
  EXPECT_TRUE(log_.has("Failed to read storages info from backupd: no \"rows\" array."));

  std::uint16_t closed_port;
  {
    Test_Daemon gone;
    closed_port = gone.port();
  }
  front_->init("127.0.0.1", closed_port, false);
  log_.clear();
  EXPECT_FALSE(front_->open());
  EXPECT_TRUE(log_.has("Failed to get storages info from backupd."));
  EXPECT_TRUE(log_.has("Failed to get local pools for sync."));
  EXPECT_FALSE(front_->add_pool(pool_record(kPoolA)));
  EXPECT_TRUE(log_.has("Local pool has not been synchronized."));
}

// A failed report is tried again; the first that succeeds is the last.
TEST_F(Front_Pools, ReportsOnceWithoutReplicationPoolsAndMarksDeletedPools) {
  open_server();
  Object none;
  EXPECT_FALSE(front_->get_local_pools(none));  // a server host has none
  add_pools_and_sets();
  ASSERT_TRUE(front_->add_pool(pool_record(kPoolC, "full")));
  // B becomes a replication pool, as the daemon records one.
  ASSERT_TRUE(front_->get_connection(kPoolB)->execute(
      "UPDATE storage_catalog_storage_pool SET on_host=0 WHERE uuid=x'" + kPoolB + "';"));
  daemon_.reply("POST", kSyncPath, 500, "{}");
  EXPECT_FALSE(front_->sync_pools_state());
  EXPECT_TRUE(log_.has("Failed to get data from 'POST /kx/r/v2/storage/pools/sync'."));
  daemon_.reply("POST", kSyncPath, 200, "not json at all");
  EXPECT_FALSE(front_->sync_pools_state());
  daemon_.reply(
      "POST", kSyncPath, 200,
      JSON_Dump(Array{pool_state_entry(kPoolA, "deleted"), pool_state_entry(kPoolC, "offline"),
                      pool_state_entry(uuid_of(4), "deleted"), 3}));
  ASSERT_TRUE(front_->sync_pools_state()) << log_.dump();
  ASSERT_TRUE(front_->sync_pools_state());

  std::vector<Test_Daemon::Request> sent = daemon_.requests_to(kSyncPath);
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_TRUE(daemon_.requests_to(kStoragesPath).empty());
  auto reported = [](const std::string& pool, const std::string& state) {
    Object entry = pool_state_entry(pool, state);
    entry["host_uuid"] = std::string(kHostUuid);
    return entry;
  };
  EXPECT_EQ(Value::parse(sent[2].body),
            Value(Array{reported(kPoolA, "normal"), reported(kPoolC, "full")}));
  EXPECT_EQ(pool_state(kPoolA), "deleting");
  EXPECT_EQ(pool_state(kPoolC), "full");
}

// A second caller while a report is under way takes its outcome.
TEST_F(Front_Pools, ReportsOnceWhenAskedFromTwoThreadsAtOnce) {
  open_server();
  ASSERT_TRUE(front_->add_pool(pool_record(kPoolA)));
  daemon_.hang("POST", kSyncPath);
  auto report = [this] { return front_->sync_pools_state(); };
  std::future<bool> first = std::async(std::launch::async, report);
  EXPECT_TRUE(wait_until([&] { return daemon_.requests_to(kSyncPath).size() == 1; }));
  std::future<bool> second = std::async(std::launch::async, report);
  EXPECT_TRUE(wait_until([&] {
    return log_.has("Waiting for the pool state report under way.") ||
           daemon_.requests_to(kSyncPath).size() > 1;
  }));
  daemon_.reply("POST", kSyncPath, 200, "[]");
  EXPECT_TRUE(first.get()) << log_.dump();
  EXPECT_TRUE(second.get());
  EXPECT_EQ(daemon_.requests_to(kSyncPath).size(), 1u);
}

TEST_F(Front_Pools, NothingToReportSendsNothing) {
  open_server();
  EXPECT_TRUE(front_->sync_pools_state());
  ASSERT_TRUE(front_->add_pool(pool_record(kPoolA)));
  EXPECT_TRUE(front_->sync_pools_state());
  EXPECT_TRUE(daemon_.requests().empty());
}

TEST_F(Front_Pools, AgentReportsItsLocalPoolsUpstream) {
  open_agent({{kPoolA, local_dir(kPoolA)}, {kPoolB, local_dir(kPoolB)}});
  add_pools_and_sets();
  daemon_.reply("POST", kSyncPath, 200, JSON_Dump(Array{pool_state_entry(kPoolB, "deleted")}));
  ASSERT_TRUE(front_->sync_pools_state()) << log_.dump();
  EXPECT_EQ(Value::parse(daemon_.requests_to(kSyncPath).at(0).body).size(), 2u);
  EXPECT_EQ(pool_state(kPoolB), "deleting");
  EXPECT_EQ(pool_state(kPoolA), "normal");
}

TEST_F(Front_Pools, RevokingWithoutCatalogFails) {
  open_agent({});
  EXPECT_FALSE(front_->revoke_dedup_master(kPoolA));
  EXPECT_TRUE(log_.has("Failed to connect to storage catalog database."));
  EXPECT_EQ(front_->get_quoted(kPoolA), -1);
}

// Pools A to D, each with a device, sets in A and B; A replicates into B
// with a pending job.
class Front_Revoke : public Front_Server_Test {
 protected:
  const std::string kPoolD = "dddddddddddddddddddddddddddddddd";

  void SetUp() override {
    Front_Server_Test::SetUp();
    if (IsSkipped() || HasFatalFailure())
      return;
    add_pools_and_sets();
    ASSERT_TRUE(front_->add_pool(pool_record(kPoolC)) && front_->add_pool(pool_record(kPoolD)));
    for (const std::string& pool : {kPoolA, kPoolB, kPoolC, kPoolD})
      ASSERT_TRUE(front_->add_device(device_record(uuid_of(pool[0]), pool, "/" + pool)));
    relate(uuid_of(20), kPoolA, kPoolB);
    long long id = 0;
    ASSERT_TRUE(front_->add_replicate_job(Object{{"type", "replicate"},
                                                 {"catalog_uuid", kSetA},
                                                 {"source_pool_uuid", kPoolA},
                                                 {"target_pool_uuid", kPoolB},
                                                 {"state", "pending"}},
                                          id));
  }

  void relate(const std::string& uuid, const std::string& source, const std::string& target) {
    ASSERT_TRUE(front_->add_replicate(
        Object{{"uuid", uuid}, {"source_uuid", source}, {"target_uuid", target}}));
  }

  // Rows of the replicates, replicate jobs, pools or devices matching `filter`.
  long long count(const std::string& what, const Object& filter) {
    Array rows;
    bool ok = what == "replicates" ? front_->query_replicate(filter, 0, -1, rows, nullptr)
              : what == "jobs"     ? front_->query_replicate_job(filter, 0, -1, rows, nullptr)
              : what == "pools"    ? front_->query_pool(filter, 0, -1, rows, nullptr)
                                   : front_->query_device(filter, 0, -1, rows, nullptr);
    EXPECT_TRUE(ok) << what << log_.dump();
    return rows.size();
  }
};

TEST_P(Front_Revoke, KeepsAPoolOthersStillReplicateInto) {
  relate(uuid_of(21), kPoolC, kPoolA);
  relate(uuid_of(22), kPoolD, kPoolA);
  EXPECT_EQ(front_->get_quoted(kPoolA), 2);
  ASSERT_TRUE(front_->revoke_dedup_master(kPoolA)) << log_.dump();
  EXPECT_EQ(count("replicates", Object{{"source_uuid", kPoolA}}), 0);
  EXPECT_EQ(count("replicates", Object{{"target_uuid", kPoolA}}), 2);
  EXPECT_EQ(count("jobs", Object()), 0);
  EXPECT_EQ(catalog_count(kPoolA), 0);
  EXPECT_EQ(catalog_count(kPoolB), 1);
  Array rows;
  ASSERT_TRUE(front_->query_pool(Object{{"uuid", kPoolA}}, 0, -1, rows, nullptr));
  EXPECT_EQ(rows.at(0)["quoted"], 2);
  EXPECT_EQ(count("devices", Object{{"pool_uuid", kPoolA}}), 1);
}

// Also when the catalogs cannot be removed: that is logged, and the rest
// goes on. A name that is no pool uuid is refused before it reaches SQL.
TEST_P(Front_Revoke, RemovesAPoolNobodyReplicatesInto) {
  EXPECT_FALSE(front_->revoke_dedup_master("storage_catalog_device"));
  EXPECT_EQ(front_->get_quoted("not-a-uuid"), -1);
  ASSERT_TRUE(front_->get_connection(kPoolC)->execute("DROP TABLE " + kPoolC + ";"));
  for (const std::string& pool : {kPoolA, kPoolC}) {
    ASSERT_TRUE(front_->revoke_dedup_master(pool)) << log_.dump();
    EXPECT_EQ(count("pools", Object{{"uuid", pool}}), 0);
    EXPECT_EQ(count("devices", Object{{"pool_uuid", pool}}), 0);
  }
  EXPECT_TRUE(
      log_.has("Failed to remove all catalogs while revoking dedup master from '" + kPoolC + "'."));
  EXPECT_EQ(count("replicates", Object()), 0);
  EXPECT_EQ(count("pools", Object{{"uuid", kPoolB}}), 1);
  EXPECT_EQ(count("devices", Object{{"pool_uuid", kPoolB}}), 1);
  EXPECT_EQ(catalog_count(kPoolB), 1);
}

// A relation that cannot be removed stops the revocation before the
// pool's catalogs and records go.
TEST_P(Front_Revoke, StopsWhenARelationCannotBeRemoved) {
  ASSERT_TRUE(front_->get_connection(kPoolA)->execute(
      "ALTER TABLE storage_catalog_pool_replicate_job RENAME TO jobs_gone;"));
  EXPECT_FALSE(front_->revoke_dedup_master(kPoolA));
  EXPECT_TRUE(log_.has("Failed to remove replicate '" + uuid_of(20) +
                       "' while revoking dedup master from '" + kPoolA + "'."))
      << log_.dump();
  EXPECT_EQ(count("replicates", Object{{"source_uuid", kPoolA}}), 1);
  EXPECT_EQ(catalog_count(kPoolA), 1);
  EXPECT_EQ(count("pools", Object{{"uuid", kPoolA}}), 1);
}

// A count that cannot be read is not zero: the pool's records stay.
TEST_P(Front_Revoke, KeepsThePoolWhenItsReplicatorsCannotBeCounted) {
  ASSERT_TRUE(front_->get_connection(kPoolC)->execute(
      "ALTER TABLE storage_catalog_storage_pool_replicate RENAME COLUMN target_uuid TO target;"));
  EXPECT_EQ(front_->get_quoted(kPoolC), -1);
  EXPECT_FALSE(front_->revoke_dedup_master(kPoolC));
  EXPECT_EQ(count("pools", Object{{"uuid", kPoolC}}), 1);
  EXPECT_EQ(count("devices", Object{{"pool_uuid", kPoolC}}), 1);
}

SCAT_INSTANTIATE_ENGINES(Front_Revoke);

}  // namespace
