// The front's chain, retention, replicate and merge queries: where each is
// routed, what an agent refuses, the incarnation lookup over several pools
// and the argument checks.
#include "storaged/storage_catalog/storage_catalog_manager.h"

#include <gtest/gtest.h>

#include <map>

#include "platform/sql/sql.h"
#include "tests/support/front_fixture.h"

namespace {

using Filter = std::map<std::string, std::string>;

Value request(const std::string& pool, const Array& uuids) {
  return Object{{"pool_uuid", pool}, {"catalog_uuids", uuids}};
}

// "pool/uuid/ok" or "pool/uuid/no" per answer, by restorability.
std::vector<std::string> answered(const Value& result) {
  std::vector<std::string> out;
  for (const Value& answer : result)
    out.push_back(answer["pool_uuid"].get<std::string>() + "/" + answer["uuid"].get<std::string>() +
                  "/" + (answer["restorable"].get<bool>() ? "ok" : "no"));
  return out;
}

using Front_Agent_Queries = Front_Test;

TEST_F(Front_Agent_Queries, AgentRefusesCentralOperations) {
  open_agent({{kPoolA, local_dir(kPoolA)}});
  const char kReplicate[] = "Do not support replicate in local pool";
  const char kMerge[] = "Do not support merge backup in local pool";
  Array rows;
  Object out;
  long long total = 0;
  database::sql::Select_SQL jobs;
  const std::vector<std::pair<bool, std::string>> refused = {
      {front_->add_replicate(Object{{"uuid", kSetA}}), kReplicate},
      {front_->query_replicate_job(Object(), 0, -1, rows, nullptr), kReplicate},
      {front_->get_replicate_job_info(1, kPoolA, out), kReplicate},
      {front_->get_replicate_job_info(Filter(), 0, -1, rows, &total), kReplicate},
      {front_->get_replicate_job_statistics_info(kPoolA, nullptr, nullptr, out), kReplicate},
      {front_->get_retry_replicate_jobs(1, rows), kReplicate},
      {front_->get_not_replicated_catalogs(kPoolA, kPoolB, rows), kReplicate},
      {front_->add_merge_backup_job(Object{{"type", "merge"}}, total), kMerge},
      {front_->get_merge_backup_job_info(jobs, rows, &total), kMerge},
      {front_->get_merge_backup_strategy(kPoolA, kSetA, out), kMerge},
      {front_->get_disaster_restore_time_points(Filter(), 0, -1, rows, &total),
       "Do not support disaster restore in local pool"},
      {front_->get_old_catalog(kPoolA, kSetA, out), "Do not have old catalog in local pool"}};
  for (const auto& refusal : refused) {
    EXPECT_FALSE(refusal.first) << refusal.second;
    EXPECT_TRUE(log_.has(refusal.second)) << refusal.second;
  }
  EXPECT_EQ(log_.count(kReplicate), 7);
  EXPECT_EQ(log_.count(kMerge), 3);
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

  Value result = "stale";
  ASSERT_TRUE(front_->get_incarnation_info(
      Array{request(kPoolB, Array{kSetB, kSetA}), request(kPoolA, Array{kSetA})}, result))
      << log_.dump();
  EXPECT_EQ(answered(result),
            (std::vector<std::string>{kPoolB + "/" + kSetB + "/ok", kPoolB + "/" + kSetA + "/no",
                                      kPoolA + "/" + kSetA + "/ok"}));
  EXPECT_FALSE(front_->get_incarnation_info(
      Array{request(kPoolA, Array{kSetA}), request(kPoolC, Array{kSetA})}, result));
  EXPECT_TRUE(log_.has("Failed to get impl of Storage Catalog Manager."));
  EXPECT_EQ(result.size(), 1u);
  EXPECT_FALSE(front_->get_incarnation_info(Array{Object{{"pool_uuid", kPoolB}}}, result));
  EXPECT_TRUE(log_.has_prefix(LM_ERROR, "Failed to get necessary data: '"));
}

TEST_F(Front_Agent_Queries, EmptyTextArgumentsAreRefusedEvenForAKnownPool) {
  open_agent({{kPoolA, local_dir(kPoolA)}});
  ASSERT_TRUE(front_->add_pool(pool_record(kPoolA)));
  ASSERT_TRUE(front_->add_catalog(kPoolA, catalog_record(kSetA, kPoolA)));
  Array rows;
  const std::vector<std::pair<std::string, bool>> checked = {
      {"group", front_->get_catalogs(kPoolA, kSetA, kSetA, "", rows)},
      {"pool_uuid", front_->get_catalogs("", kSetA, kSetA, "incarnation", rows)},
      {"from_uuid", front_->get_catalogs(kPoolA, "", kSetA, "incarnation", rows)},
      {"to_uuid", front_->get_catalogs(kPoolA, kSetA, "", "incarnation", rows)},
      {"base_uuid", front_->update_incarnation(kPoolA, "", kSetA)},
      {"incarnation", front_->update_incarnation(kPoolA, kSetA, "")}};
  for (const auto& check : checked) {
    EXPECT_FALSE(check.second) << check.first;
    EXPECT_TRUE(log_.contains(", " + check.first + " is NULL or \"\":\n")) << check.first;
  }
  EXPECT_TRUE(log_.has_prefix(LM_EMERGENCY, "Unexpected error in "));
  EXPECT_TRUE(front_->get_catalogs(kPoolA, kSetA, kSetA, "incarnation", rows)) << log_.dump();
  EXPECT_EQ(rows.size(), 1u);
}

}  // namespace
