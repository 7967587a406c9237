// The front's chain, retention, replicate and merge queries: where each is
// routed, what an agent refuses, the incarnation lookup over several pools
// and the argument checks.
#include "storaged/storage_catalog/storage_catalog_manager.h"

#include <gtest/gtest.h>

#include <map>

#include "platform/sql/sql.h"
#include "tests/support/front_fixture.h"

namespace {

const std::string kPoolA = "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa";
const std::string kPoolB = "bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb";
const std::string kPoolC = "cccccccccccccccccccccccccccccccc";
const std::string kSetA = "11111111111111111111111111111111";
const std::string kSetB = "22222222222222222222222222222222";
const std::string kSetC = "33333333333333333333333333333333";

using Filter = std::map<std::string, std::string>;

class Front_Queries : public Front_Test {
 protected:
  // Pools A and B, with one set each, through the front.
  void add_pools_and_sets() {
    ASSERT_TRUE(front_->add_pool(pool_record(kPoolA))) << log_.dump();
    ASSERT_TRUE(front_->add_pool(pool_record(kPoolB))) << log_.dump();
    ASSERT_TRUE(front_->add_catalog(kPoolA, catalog_record(kSetA, kPoolA))) << log_.dump();
    ASSERT_TRUE(front_->add_catalog(kPoolB, catalog_record(kSetB, kPoolB))) << log_.dump();
  }

  static Value request(const std::string& pool, const Array& uuids) {
    return Object{{"pool_uuid", pool}, {"catalog_uuids", uuids}};
  }

  static std::vector<std::string> answered(const Value& result) {
    std::vector<std::string> out;
    for (const Value& answer : result)
      out.push_back(answer["pool_uuid"].get<std::string>() + "/" +
                    answer["uuid"].get<std::string>() + "/" +
                    (answer["restorable"].get<bool>() ? "ok" : "no"));
    return out;
  }
};

class Front_Server_Queries : public Front_Queries, public ::testing::WithParamInterface<Engine> {
 protected:
  void SetUp() override {
    Front_Queries::SetUp();
    open_server(GetParam());
  }
};

TEST_P(Front_Server_Queries, ReachTheDefaultCatalog) {
  add_pools_and_sets();
  ASSERT_TRUE(front_->add_catalog(kPoolA, catalog_record(kSetC, kPoolA)));
  long long total = -1;
  ASSERT_TRUE(front_->get_pool_size(kPoolA, total, false)) << log_.dump();
  EXPECT_EQ(total, 200);
  ASSERT_TRUE(front_->get_pool_size(kPoolB, total, nullptr));
  EXPECT_EQ(total, 100);
  EXPECT_TRUE(front_->is_deletable(kPoolA, Array()));
  Array rows;
  ASSERT_TRUE(front_->get_a_expired_set(kPoolA, rows, 0, 1)) << log_.dump();
  EXPECT_EQ(rows.size(), 1u);
  rows.clear();
  EXPECT_TRUE(front_->get_a_deletable_set(kPoolA, rows, false, 0));
  EXPECT_TRUE(rows.empty());
  ASSERT_TRUE(front_->get_catalogs_with_incarnation(kPoolA, kSetA, kSetA, rows, true));
  EXPECT_EQ(rows.size(), 1u);
  EXPECT_TRUE(front_->update_incarnation(kPoolA, kSetA, kSetA)) << log_.dump();
  ASSERT_TRUE(front_->get_catalogs(kPoolA, kSetA, kSetC, "agent", rows)) << log_.dump();
  EXPECT_EQ(rows.size(), 2u);

  ASSERT_TRUE(front_->add_replicate(
      Object{{"uuid", kSetC}, {"source_uuid", kPoolA}, {"target_uuid", kPoolB}}));
  long long id = 0;
  ASSERT_TRUE(front_->add_replicate_job(Object{{"type", "replicate"},
                                               {"catalog_uuid", kSetA},
                                               {"source_pool_uuid", kPoolA},
                                               {"target_pool_uuid", kPoolB},
                                               {"state", "failed"},
                                               {"retry", 1}},
                                        id));
  rows.clear();
  EXPECT_TRUE(
      front_->get_replicate_job_info(Filter{{"source_pool_uuid", kPoolA}}, 0, -1, rows, &total));
  EXPECT_EQ(total, 1);
  Object job;
  EXPECT_TRUE(front_->get_replicate_job_info(id, kPoolA, job));
  EXPECT_EQ(job["target_pool_uuid"], kPoolB);
  Object statistics;
  EXPECT_TRUE(front_->get_replicate_job_statistics_info(kPoolA, nullptr, nullptr, statistics));
  EXPECT_EQ(statistics["failed"], 1);
  rows.clear();
  EXPECT_TRUE(front_->get_retry_replicate_jobs(1, rows));
  EXPECT_EQ(rows.size(), 1u);
  rows.clear();
  EXPECT_TRUE(front_->get_not_replicated_catalogs(kPoolA, kPoolB, rows));
  EXPECT_EQ(rows.size(), 1u);
  EXPECT_TRUE(front_->is_replicated_catalog(kPoolB, kSetA));
  EXPECT_FALSE(front_->is_replicate_pool(kPoolB));

  Object strategy;
  EXPECT_TRUE(front_->get_merge_backup_strategy(kPoolA, kSetA, strategy));
  EXPECT_TRUE(strategy.empty());
  database::sql::Select_SQL none;
  none.table("storage_catalog_merge_backup_job").select("id");
  rows.clear();
  EXPECT_TRUE(front_->get_merge_backup_job_info(none, rows, nullptr)) << log_.dump();
  EXPECT_TRUE(front_->get_disaster_restore_time_points(Filter(), 0, -1, rows, &total));
  EXPECT_EQ(total, 0);
  EXPECT_FALSE(front_->get_old_catalog(kPoolA, kSetA, job));
}

TEST_P(Front_Server_Queries, IncarnationInfoAnswersEveryRequestInOrder) {
  add_pools_and_sets();
  Value result = "stale";
  ASSERT_TRUE(front_->get_incarnation_info(
      Array{request(kPoolB, Array{kSetB}), request(kPoolA, Array{kSetA, kSetC})}, result))
      << log_.dump();
  EXPECT_EQ(answered(result),
            (std::vector<std::string>{kPoolB + "/" + kSetB + "/ok", kPoolA + "/" + kSetA + "/ok",
                                      kPoolA + "/" + kSetC + "/no"}));
  EXPECT_FALSE(front_->get_incarnation_info(
      Array{request(kPoolA, Array{kSetA}), Object{{"pool_uuid", kPoolB}}}, result));
  EXPECT_TRUE(log_.has_prefix(LM_ERROR, "Failed to get necessary data: '"));
  EXPECT_EQ(result.size(), 1u);
}

SCAT_INSTANTIATE_ENGINES(Front_Server_Queries);

using Front_Agent_Queries = Front_Queries;

TEST_F(Front_Agent_Queries, AgentRefusesCentralQueries) {
  open_agent({{kPoolA, local_dir(kPoolA)}});
  Array rows;
  Object out;
  long long total = 0;
  EXPECT_FALSE(front_->get_replicate_job_info(1, kPoolA, out));
  EXPECT_FALSE(
      front_->get_replicate_job_info(Filter{{"source_pool_uuid", kPoolA}}, 0, -1, rows, &total));
  EXPECT_FALSE(front_->get_replicate_job_statistics_info(kPoolA, nullptr, nullptr, out));
  EXPECT_FALSE(front_->get_retry_replicate_jobs(1, rows));
  EXPECT_FALSE(front_->get_not_replicated_catalogs(kPoolA, kPoolB, rows));
  EXPECT_EQ(log_.count("Do not support replicate in local pool"), 5);
  database::sql::Select_SQL jobs;
  EXPECT_FALSE(front_->get_merge_backup_job_info(jobs, rows, &total));
  EXPECT_FALSE(front_->get_merge_backup_strategy(kPoolA, kSetA, out));
  EXPECT_EQ(log_.count("Do not support merge backup in local pool"), 2);
  EXPECT_FALSE(front_->get_disaster_restore_time_points(Filter(), 0, -1, rows, &total));
  EXPECT_TRUE(log_.has("Do not support disaster restore in local pool"));
  EXPECT_FALSE(front_->get_old_catalog(kPoolA, kSetA, out));
  EXPECT_TRUE(log_.has("Do not have old catalog in local pool"));
  // A merge job looked up by its pool goes to the pool's own catalog.
  EXPECT_TRUE(front_->get_merge_backup_job_info(kPoolA, 1, out)) << log_.dump();
}

TEST_F(Front_Agent_Queries, RoutesPoolQueriesToEachLocalCatalog) {
  open_agent({{kPoolA, local_dir(kPoolA)}, {kPoolB, local_dir(kPoolB)}});
  add_pools_and_sets();
  long long total = -1;
  ASSERT_TRUE(front_->get_pool_size(kPoolB, total, true)) << log_.dump();
  EXPECT_EQ(total, 100);
  EXPECT_FALSE(front_->get_pool_size(kPoolC, total, true));
  EXPECT_TRUE(log_.has("Failed to get storage catalog manager by pool " + kPoolC + "."));
  Array rows;
  EXPECT_TRUE(front_->get_a_expired_set(kPoolB, rows, 0, 1)) << log_.dump();
  EXPECT_EQ(rows.size(), 1u);

  Value result;
  ASSERT_TRUE(front_->get_incarnation_info(
      Array{request(kPoolA, Array{kSetA}), request(kPoolB, Array{kSetB, kSetA})}, result))
      << log_.dump();
  EXPECT_EQ(answered(result),
            (std::vector<std::string>{kPoolA + "/" + kSetA + "/ok", kPoolB + "/" + kSetB + "/ok",
                                      kPoolB + "/" + kSetA + "/no"}));
  EXPECT_FALSE(front_->get_incarnation_info(
      Array{request(kPoolA, Array{kSetA}), request(kPoolC, Array{kSetA})}, result));
  EXPECT_TRUE(log_.has("Failed to get impl of Storage Catalog Manager."));
  EXPECT_EQ(result.size(), 1u);
}

TEST_F(Front_Agent_Queries, ReplicatePoolTestWorksBeforeSynchronisation) {
  init_agent();
  ASSERT_TRUE(front_->insert_into_map(kPoolA, local_dir(kPoolA)));
  Value result;
  EXPECT_FALSE(front_->get_incarnation_info(Array{request(kPoolA, Array{kSetA})}, result));
  EXPECT_TRUE(log_.has("Local pool has not been synchronized."));
  Array rows;
  log_.clear();
  EXPECT_FALSE(front_->get_a_expired_set(kPoolA, rows, 1, 1));
  EXPECT_TRUE(log_.has("Local pool has not been synchronized."));

  log_.clear();
  Storage_Catalog_Manager_Impl* impl = front_->get_impl(kPoolA, false);
  ASSERT_NE(impl, nullptr);
  ASSERT_TRUE(impl->add_pool(pool_record(kPoolA)));
  database::sql::SQL mark("UPDATE storage_catalog_storage_pool SET on_host = 0 WHERE uuid = :uuid");
  ASSERT_TRUE(mark.bind_uuid("uuid", kPoolA));
  ASSERT_TRUE(impl->get_connection()->execute(mark));
  EXPECT_TRUE(front_->is_replicate_pool(kPoolA)) << log_.dump();
  EXPECT_FALSE(front_->is_replicated_catalog(kPoolA, kSetA));
  EXPECT_FALSE(log_.contains("not been synchronized"));
}

TEST_F(Front_Agent_Queries, EmptyTextArgumentsAreRefusedBeforeRouting) {
  open_agent({{kPoolA, local_dir(kPoolA)}});
  ASSERT_TRUE(front_->add_pool(pool_record(kPoolA)));
  ASSERT_TRUE(front_->add_catalog(kPoolA, catalog_record(kSetA, kPoolA)));
  Array rows;
  EXPECT_FALSE(front_->get_catalogs(kPoolA, kSetA, kSetA, "", rows));
  EXPECT_TRUE(log_.has_prefix(LM_EMERGENCY, "Unexpected error in "));
  EXPECT_TRUE(log_.contains(", group is NULL or \"\":\n"));
  EXPECT_FALSE(front_->get_catalogs("", kSetA, kSetA, "incarnation", rows));
  EXPECT_TRUE(log_.contains(", pool_uuid is NULL or \"\":\n"));
  EXPECT_FALSE(front_->get_catalogs(kPoolA, kSetA, "", "incarnation", rows));
  EXPECT_TRUE(log_.contains(", to_uuid is NULL or \"\":\n"));
  EXPECT_FALSE(front_->update_incarnation(kPoolA, "", kSetA));
  EXPECT_TRUE(log_.contains(", base_uuid is NULL or \"\":\n"));
  EXPECT_FALSE(front_->update_incarnation(kPoolA, kSetA, ""));
  EXPECT_TRUE(log_.contains(", incarnation is NULL or \"\":\n"));
  EXPECT_TRUE(front_->get_catalogs(kPoolA, kSetA, kSetA, "incarnation", rows)) << log_.dump();
  EXPECT_EQ(rows.size(), 1u);
}

}  // namespace
