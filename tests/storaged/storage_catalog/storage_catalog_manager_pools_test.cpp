// Keeping the front in step with the backup daemon: the agent's local pool
// list, the pool state report and the revocation of a dedup master.
#include "storaged/storage_catalog/storage_catalog_manager.h"

#include <gtest/gtest.h>

#include "platform/rpc/json_rpc.h"
#include "platform/sql/cursor.h"
#include "tests/support/front_fixture.h"

namespace {

const std::string kPoolA = "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa";
const std::string kPoolB = "bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb";
const std::string kPoolC = "cccccccccccccccccccccccccccccccc";
const std::string kPoolD = "dddddddddddddddddddddddddddddddd";
const std::string kOtherHost = "99999999999999999999999999999999";
const std::string kSyncPath = "/kx/r/v2/storage/pools/sync";
const std::string kStoragesPath = "/kx/r/v2/storages";

std::string uuid_of(int n) {
  char text[33];
  std::snprintf(text, sizeof text, "%032x", n);
  return text;
}

class Front_Pools : public Front_Test {
 protected:
  // Marks a pool as a replication pool, as the daemon records one.
  void make_replication_pool(const std::string& pool_uuid) {
    database::sql::Connection_Ptr conn = front_->get_connection(pool_uuid);
    ASSERT_TRUE(conn);
    ASSERT_TRUE(conn->execute("UPDATE storage_catalog_storage_pool SET on_host=0 WHERE uuid=x'" +
                              pool_uuid + "';"));
  }

  Object pool_row(const std::string& pool_uuid) {
    Array rows;
    if (!front_->query_pool(Object{{"uuid", pool_uuid}}, 0, -1, rows, nullptr) || rows.empty())
      return Object();
    return rows[0].get<Object>();
  }

  Value sent_body(std::size_t index = 0) {
    std::vector<Test_Daemon::Request> sent = daemon_.requests_to(kSyncPath);
    Value body;
    if (index < sent.size())
      loads_json(sent[index].body, body);
    return body;
  }
};

// --- get_local_pools

TEST_F(Front_Pools, ServerHostDoesNotAskForLocalPools) {
  open_server();
  Object pools;
  EXPECT_FALSE(front_->get_local_pools(pools));
  EXPECT_TRUE(daemon_.requests_to(kStoragesPath).empty());
}

TEST_F(Front_Pools, AgentWithoutAccessKeyDoesNotAsk) {
  Host_Manager::instance()->set_access_key("");
  init_agent();
  Object pools;
  EXPECT_FALSE(front_->get_local_pools(pools));
  EXPECT_TRUE(daemon_.requests().empty());
  EXPECT_FALSE(front_->open());
  EXPECT_TRUE(log_.has("Failed to get local pools for sync."));
}

TEST_F(Front_Pools, TakesOnlyThisHostsEntries) {
  Array rows{
      Object{{"pool_uuid", kPoolA},
             {"extended_attrs",
              Object{{"attached_hosts",
                      Object{{kOtherHost, "/x"}, {std::string(kHostUuid), "/pools/a"}}}}}},
      Object{{"pool_uuid", kPoolB},
             {"extended_attrs", Object{{"attached_hosts", Object{{kOtherHost, "/b"}}}}}},
      Object{{"pool_uuid", ""}, {"extended_attrs", Object{{"attached_hosts", Object()}}}},
      Object{{"name", "no uuid"}},
      Object{{"pool_uuid", kPoolC}},
      Object{{"pool_uuid", kPoolD},
             {"extended_attrs", Object{{"attached_hosts", Object{{std::string(kHostUuid), 7}}}}}}};
  daemon_.reply("GET", kStoragesPath, 200, JSON_Dump(Object{{"rows", rows}}));
  init_agent();
  Object pools;
  ASSERT_TRUE(front_->get_local_pools(pools)) << log_.dump();
  EXPECT_EQ(Value(pools), Value(Object{{kPoolA, "/pools/a"}, {kPoolD, 7}}));
  EXPECT_TRUE(log_.has_prefix(LM_ERROR, "Failed to read local pool of storages info: "));
}

TEST_F(Front_Pools, ADaemonThatIsDownGivesNoPools) {
  std::uint16_t closed_port;
  {
    Test_Daemon gone;
    closed_port = gone.port();
  }
  Host_Manager::instance()->set_role(Host_Manager::ROLE_AGENT);
  front_->init("127.0.0.1", closed_port, false);
  Object pools;
  EXPECT_FALSE(front_->get_local_pools(pools));
  EXPECT_TRUE(log_.has("Failed to get storages info from backupd."));
  EXPECT_TRUE(pools.empty());
}

TEST_F(Front_Pools, ADaemonAnsweringGarbageGivesNoPools) {
  init_agent();
  Object pools;
  daemon_.reply("GET", kStoragesPath, 200, "<html>not json</html>");
  EXPECT_FALSE(front_->get_local_pools(pools));
  EXPECT_TRUE(log_.has("Failed to get storages info from backupd."));

  daemon_.reply("GET", kStoragesPath, 200, "[1, 2]");
  EXPECT_FALSE(front_->get_local_pools(pools));
  EXPECT_TRUE(log_.contains("Failed to read storages info from backupd"));
  EXPECT_TRUE(pools.empty());
}

// --- sync_pools_state

TEST_F(Front_Pools, ReportsEachPoolOnceWithoutReplicationPools) {
  open_server();
  ASSERT_TRUE(front_->add_pool(pool_record(kPoolA, "normal")));
  ASSERT_TRUE(front_->add_pool(pool_record(kPoolB, "normal")));
  ASSERT_TRUE(front_->add_pool(pool_record(kPoolC, "full")));
  make_replication_pool(kPoolB);

  ASSERT_TRUE(front_->sync_pools_state()) << log_.dump();
  ASSERT_EQ(daemon_.requests_to(kSyncPath).size(), 1u);
  EXPECT_EQ(daemon_.requests_to(kSyncPath)[0].method, "POST");
  EXPECT_EQ(daemon_.requests_to(kSyncPath)[0].headers["X-Access-Key"], kAccessKey);
  Value expected = Array{
      Object{{"pool_uuid", kPoolA}, {"state", "normal"}, {"host_uuid", std::string(kHostUuid)}},
      Object{{"pool_uuid", kPoolC}, {"state", "full"}, {"host_uuid", std::string(kHostUuid)}}};
  EXPECT_EQ(sent_body(), expected);

  EXPECT_TRUE(front_->sync_pools_state());
  EXPECT_EQ(daemon_.requests_to(kSyncPath).size(), 1u);
}

TEST_F(Front_Pools, MarksPoolsTheDaemonDeletedAsDeleting) {
  open_server();
  ASSERT_TRUE(front_->add_pool(pool_record(kPoolA, "normal")));
  ASSERT_TRUE(front_->add_pool(pool_record(kPoolB, "normal")));
  daemon_.reply("POST", kSyncPath, 200,
                JSON_Dump(Array{Object{{"pool_uuid", kPoolA}, {"state", "deleted"}},
                                Object{{"pool_uuid", kPoolB}, {"state", "offline"}},
                                Object{{"pool_uuid", kPoolC}, {"state", "deleted"}}, 3}));
  ASSERT_TRUE(front_->sync_pools_state()) << log_.dump();
  EXPECT_EQ(pool_row(kPoolA)["state"], "deleting");
  EXPECT_EQ(pool_row(kPoolB)["state"], "normal");
}

TEST_F(Front_Pools, NothingToReportSendsNothing) {
  open_server();
  EXPECT_TRUE(front_->sync_pools_state());
  ASSERT_TRUE(front_->add_pool(pool_record(kPoolA)));
  EXPECT_TRUE(front_->sync_pools_state());
  EXPECT_TRUE(daemon_.requests().empty());
}

TEST_F(Front_Pools, AFailedReportIsTriedAgain) {
  open_server();
  ASSERT_TRUE(front_->add_pool(pool_record(kPoolA)));
  daemon_.reply("POST", kSyncPath, 500, "{}");
  EXPECT_FALSE(front_->sync_pools_state());
  EXPECT_TRUE(log_.has("Failed to get data from 'POST /kx/r/v2/storage/pools/sync'."));

  daemon_.reply("POST", kSyncPath, 200, "not json at all");
  EXPECT_FALSE(front_->sync_pools_state());

  daemon_.reply("POST", kSyncPath, 200, "[]");
  EXPECT_TRUE(front_->sync_pools_state());
  EXPECT_EQ(daemon_.requests_to(kSyncPath).size(), 3u);
}

TEST_F(Front_Pools, AgentReportsItsLocalPoolsUpstream) {
  open_agent({{kPoolA, local_dir(kPoolA)}, {kPoolB, local_dir(kPoolB)}});
  ASSERT_TRUE(front_->add_pool(pool_record(kPoolA, "normal")));
  ASSERT_TRUE(front_->add_pool(pool_record(kPoolB, "normal")));
  daemon_.reply("POST", kSyncPath, 200,
                JSON_Dump(Array{Object{{"pool_uuid", kPoolB}, {"state", "deleted"}}}));
  ASSERT_TRUE(front_->sync_pools_state()) << log_.dump();
  Value body = sent_body();
  ASSERT_TRUE(body.is_array());
  EXPECT_EQ(body.size(), 2u);
  EXPECT_EQ(pool_row(kPoolB)["state"], "deleting");
  EXPECT_EQ(pool_row(kPoolA)["state"], "normal");
}

TEST_F(Front_Pools, AnUnregisteredAgentCannotReport) {
  open_agent({{kPoolA, local_dir(kPoolA)}});
  ASSERT_TRUE(front_->add_pool(pool_record(kPoolA)));
  Global_JSON_RPC_Channel::set(nullptr);
  EXPECT_FALSE(front_->sync_pools_state());
  EXPECT_TRUE(log_.has("Failed to get data from 'POST /kx/r/v2/storage/pools/sync'."));
  EXPECT_TRUE(daemon_.requests_to(kSyncPath).empty());
}

// --- revoke_dedup_master

class Front_Revoke : public Front_Pools, public ::testing::WithParamInterface<Engine> {
 protected:
  void SetUp() override {
    Front_Pools::SetUp();
    open_server(GetParam());
    if (IsSkipped())
      return;
    for (const std::string& pool : {kPoolA, kPoolB, kPoolC, kPoolD})
      ASSERT_TRUE(front_->add_pool(pool_record(pool))) << log_.dump();
    ASSERT_TRUE(front_->add_catalog(kPoolA, catalog_record(uuid_of(1), kPoolA)));
    ASSERT_TRUE(front_->add_catalog(kPoolA, catalog_record(uuid_of(2), kPoolA)));
    ASSERT_TRUE(front_->add_catalog(kPoolB, catalog_record(uuid_of(3), kPoolB)));
    ASSERT_TRUE(front_->add_device(device_record(uuid_of(10), kPoolA, "/a")));
    ASSERT_TRUE(front_->add_device(device_record(uuid_of(11), kPoolB, "/b")));
    // A replicates into B; a pending job of that relation goes with it.
    relate(uuid_of(20), kPoolA, kPoolB);
    long long id = 0;
    ASSERT_TRUE(front_->add_replicate_job(Object{{"type", "replicate"},
                                                 {"catalog_uuid", uuid_of(1)},
                                                 {"source_pool_uuid", kPoolA},
                                                 {"target_pool_uuid", kPoolB},
                                                 {"state", "pending"}},
                                          id));
  }

  void relate(const std::string& uuid, const std::string& source, const std::string& target) {
    ASSERT_TRUE(front_->add_replicate(
        Object{{"uuid", uuid}, {"source_uuid", source}, {"target_uuid", target}}))
        << log_.dump();
  }

  long long count(const Object& filter, bool devices) {
    Array rows;
    long long total = -1;
    bool ok = devices ? front_->query_device(filter, 0, -1, rows, &total)
                      : front_->query_replicate(filter, 0, -1, rows, &total);
    return ok ? total : -1;
  }

  long long catalogs(const std::string& pool) {
    Array rows;
    long long total = -1;
    front_->query_catalog(pool, Object(), "id", true, 0, -1, rows, &total, false, false);
    return total;
  }
};

TEST_P(Front_Revoke, KeepsAPoolOthersStillReplicateInto) {
  relate(uuid_of(21), kPoolC, kPoolA);
  relate(uuid_of(22), kPoolD, kPoolA);
  EXPECT_EQ(front_->get_quoted(kPoolA), 2);

  ASSERT_TRUE(front_->revoke_dedup_master(kPoolA)) << log_.dump();
  EXPECT_EQ(count(Object{{"source_uuid", kPoolA}}, false), 0);
  EXPECT_EQ(count(Object{{"target_uuid", kPoolA}}, false), 2);
  Array jobs;
  ASSERT_TRUE(front_->query_replicate_job(Object(), 0, -1, jobs, nullptr));
  EXPECT_TRUE(jobs.empty());
  EXPECT_EQ(catalogs(kPoolA), 0);
  EXPECT_EQ(catalogs(kPoolB), 1);
  Object pool = pool_row(kPoolA);
  EXPECT_EQ(pool["quoted"], 2);
  EXPECT_EQ(count(Object{{"pool_uuid", kPoolA}}, true), 1);
}

TEST_P(Front_Revoke, RemovesAPoolNobodyReplicatesInto) {
  EXPECT_EQ(front_->get_quoted(kPoolA), 0);
  ASSERT_TRUE(front_->revoke_dedup_master(kPoolA)) << log_.dump();
  EXPECT_EQ(count(Object(), false), 0);
  EXPECT_TRUE(pool_row(kPoolA).empty());
  EXPECT_EQ(count(Object{{"pool_uuid", kPoolA}}, true), 0);
  EXPECT_EQ(count(Object{{"pool_uuid", kPoolB}}, true), 1);
  EXPECT_FALSE(pool_row(kPoolB).empty());
  EXPECT_EQ(catalogs(kPoolB), 1);
}

TEST_P(Front_Revoke, GoesOnWhenTheCatalogsCannotBeRemoved) {
  {
    database::sql::Connection_Ptr conn = front_->get_connection(kPoolA);
    ASSERT_TRUE(conn);
    ASSERT_TRUE(conn->execute("DROP TABLE " + kPoolA + ";"));
  }
  ASSERT_TRUE(front_->revoke_dedup_master(kPoolA)) << log_.dump();
  EXPECT_TRUE(
      log_.has("Failed to remove all catalogs while revoking dedup master from '" + kPoolA + "'."));
  EXPECT_EQ(count(Object(), false), 0);
  EXPECT_TRUE(pool_row(kPoolA).empty());
  EXPECT_EQ(count(Object{{"pool_uuid", kPoolA}}, true), 0);
  EXPECT_EQ(catalogs(kPoolB), 1);
}

TEST_P(Front_Revoke, RefusesANameThatIsNotAPoolUuid) {
  EXPECT_FALSE(front_->revoke_dedup_master("storage_catalog_device"));
  EXPECT_FALSE(front_->revoke_dedup_master(""));
  EXPECT_EQ(count(Object{{"pool_uuid", kPoolA}}, true), 1);
  EXPECT_EQ(count(Object{{"pool_uuid", kPoolB}}, true), 1);
  EXPECT_EQ(front_->get_quoted("not-a-uuid"), -1);
}

SCAT_INSTANTIATE_ENGINES(Front_Revoke);

TEST_F(Front_Pools, RevokingWithoutCatalogFails) {
  open_agent({});
  EXPECT_FALSE(front_->revoke_dedup_master(kPoolA));
  EXPECT_TRUE(log_.has("Failed to connect to storage catalog database."));
  EXPECT_EQ(front_->get_quoted(kPoolA), -1);
}

}  // namespace
