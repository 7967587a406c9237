#include <gtest/gtest.h>

#include <map>

#include "tests/storaged/storage_catalog/catalog_back_end_test.h"

using Filter = std::map<std::string, std::string>;

namespace {

class Replicate_Jobs : public Catalog_Back_End_Test {
 protected:
  void SetUp() override {
    Catalog_Back_End_Test::SetUp();
    if (IsSkipped() || HasFatalFailure())
      return;
    add_pool(target_);
    ASSERT_TRUE(impl_->add_replicate(
        Object{{"uuid", u(0xC01)}, {"source_uuid", pool_}, {"target_uuid", target_}}));
    ASSERT_TRUE(impl_->add_device(
        Object{{"uuid", u(0xD00)}, {"url", "dedup://10.0.0.1:8080/pool"}, {"pool_uuid", pool_}}));
    Object second = backup_set(u(2), u(2), "2024-01-02 00:00:00", 1);
    second["resource_uuid"] = u(0xB01);
    add_set(backup_set(u(1), u(1), "2024-01-01 00:00:00", 1));
    add_set(second);
  }

  long long add_job(const std::string& type, int set, const std::string& state,
                    Object more = Object()) {
    Object job{{"type", type},
               {"catalog_uuid", u(set)},
               {"source_pool_uuid", pool_},
               {"target_pool_uuid", target_},
               {"state", state}};
    for (auto& member : more)
      job[member.first] = member.second;
    long long id = 0;
    EXPECT_TRUE(impl_->add_replicate_job(job, id)) << log_.dump();
    return id;
  }

  std::vector<long long> job_ids(const Filter& filter, long long* total = nullptr,
                                 long long offset = 0, long long limit = -1) {
    Array rows;
    EXPECT_TRUE(impl_->get_replicate_job_info(filter, offset, limit, rows, total)) << log_.dump();
    std::vector<long long> ids;
    for (const Value& row : rows)
      ids.push_back(row["id"].get<long long>());
    return ids;
  }

  Filter from_source(Filter more = Filter()) {
    more["source_pool_uuid"] = pool_;
    return more;
  }

  Object statistics(const std::string* start = nullptr, const std::string* end = nullptr) {
    Object out;
    EXPECT_TRUE(impl_->get_replicate_job_statistics_info(pool_, start, end, out)) << log_.dump();
    return out;
  }

  const std::string target_ = u(0xA01);
};

TEST_P(Replicate_Jobs, JobByIdNamesPoolsAndBackupSet) {
  long long id = add_job("replicate", 1, "succeeded");
  Object out;
  ASSERT_TRUE(impl_->get_replicate_job_info(id, pool_, out)) << log_.dump();
  EXPECT_EQ(out, (Object{{"source_pool_uuid", pool_},
                         {"source_pool_name", "pool 0a00"},
                         {"target_pool_uuid", target_},
                         {"target_pool_name", "pool 0a01"},
                         {"name", "set 0001"}}));
  EXPECT_FALSE(impl_->get_replicate_job_info(id + 1, pool_, out));
  EXPECT_FALSE(impl_->get_replicate_job_info(id, u(0xEEE), out));
}

TEST_P(Replicate_Jobs, JobsOfASourcePoolAreShapedNewestFirst) {
  long long first = add_job(
      "replicate", 1, "succeeded",
      Object{{"start_time", "2024-01-01 00:00:00"}, {"finish_time", "2024-01-01 01:00:00"}});
  long long warmup = add_job("warmup", 2, "failed");
  long long last = add_job("replicate", 2, "running", Object{{"size", 500}, {"storage_size", 400}});
  Array rows;
  long long total = -1;
  ASSERT_TRUE(impl_->get_replicate_job_info(from_source(), 0, -1, rows, &total)) << log_.dump();
  EXPECT_EQ(total, 3);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0]["id"], last);
  EXPECT_EQ(rows[0]["size"], 500);
  EXPECT_EQ(rows[0]["storage_size"], 400);
  EXPECT_EQ(rows[0]["start_time"], "");
  EXPECT_EQ(rows[0]["resource_uuid"], u(0xB01));
  EXPECT_EQ(rows[0]["target_pool_name"], "pool 0a01");
  EXPECT_EQ(rows[1]["id"], warmup);
  EXPECT_EQ(rows[1].count("warmupable"), 0u);
  // A job without sizes reports its backup set's size.
  const Value& done = rows[2];
  EXPECT_EQ(done["id"], first);
  EXPECT_EQ(done["size"], 100);
  EXPECT_EQ(done["storage_size"], 100);
  EXPECT_EQ(done["start_time"], "2024-01-01 00:00:00");
  EXPECT_EQ(done["finish_time"], "2024-01-01 01:00:00");
  EXPECT_EQ(done["warmupable"], true);
  EXPECT_EQ(done["catalog_state"], Array{"online"});
  EXPECT_EQ(done["name"], "set 0001");

  EXPECT_EQ(job_ids(from_source(), &total, 1, 1), std::vector<long long>{warmup});
  EXPECT_EQ(total, 3);
  EXPECT_EQ(job_ids(from_source({{"state", "failed"}})), std::vector<long long>{warmup});
  EXPECT_EQ(job_ids(from_source({{"ge_start_time", "2024-01-01 00:00:00"}})),
            std::vector<long long>{first});
  EXPECT_EQ(job_ids(from_source({{"incarnation", u(2)}, {"type", "replicate"}})),
            std::vector<long long>{last});
  EXPECT_EQ(job_ids(from_source({{"resource_uuids", u(0xB01)}})),
            (std::vector<long long>{last, warmup}));
  EXPECT_EQ(job_ids(from_source({{"resource_uuids", u(0xB00) + "," + u(0xB01)}, {"scope", "x"}})),
            (std::vector<long long>{last, warmup, first}));
}

TEST_P(Replicate_Jobs, LanFreeSourcesAndMissingRelationsAreNotWarmupable) {
  add_job("replicate", 1, "succeeded");
  ASSERT_TRUE(impl_->update_device(u(0xD00), Object{{"url", "lanfree://10.0.0.2/lun/3"}}));
  Array rows;
  ASSERT_TRUE(impl_->get_replicate_job_info(from_source(), 0, -1, rows, nullptr));
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0]["warmupable"], false);

  ASSERT_TRUE(impl_->remove_device(u(0xD00)));
  rows.clear();
  ASSERT_TRUE(impl_->get_replicate_job_info(from_source(), 0, -1, rows, nullptr));
  EXPECT_EQ(rows[0]["warmupable"], false);
  EXPECT_TRUE(log_.has("Failed to get pool(" + pool_ + ") devices."));
}

TEST_P(Replicate_Jobs, HostileFilterKeysAndValuesAreRefusedOrInert) {
  add_job("replicate", 1, "succeeded");
  Array rows;
  EXPECT_FALSE(impl_->get_replicate_job_info(Filter{{"state", "failed"}}, 0, -1, rows, nullptr));
  EXPECT_TRUE(log_.has("Failed to find source_pool_uuid in query_string."));
  EXPECT_FALSE(
      impl_->get_replicate_job_info(from_source({{"1=1 OR state", "x"}}), 0, -1, rows, nullptr));
  EXPECT_TRUE(log_.has("Failed to get replicate job info: unknown filter key '1=1 OR state'."));
  EXPECT_FALSE(impl_->get_replicate_job_info(from_source({{"zz_start_time", "2024-01-01"}}), 0, -1,
                                             rows, nullptr));
  EXPECT_TRUE(log_.has("Failed to get replicate job info: unknown filter key 'zz_start_time'."));
  EXPECT_FALSE(impl_->get_replicate_job_info(from_source({{"resource_uuids", "00'),(x'11"}}), 0, -1,
                                             rows, nullptr));
  EXPECT_TRUE(log_.has("Failed to get replicate job info: resource uuid '00')' is not a uuid."));
  EXPECT_FALSE(
      impl_->get_replicate_job_info(from_source({{"uid", "' OR 1=1 --"}}), 0, -1, rows, nullptr));
  EXPECT_FALSE(
      impl_->get_replicate_job_info(Filter{{"source_pool_uuid", "x` --"}}, 0, -1, rows, nullptr));
  EXPECT_TRUE(rows.empty());
  // Values are bound: quotes in them find nothing and break nothing.
  EXPECT_TRUE(job_ids(from_source({{"name", "x' OR '1'='1"}})).empty());
  EXPECT_TRUE(job_ids(from_source({{"state", "succeeded' --"}})).empty());
  EXPECT_EQ(raw_rows("storage_catalog_pool_replicate_job").size(), 1u);
}

TEST_P(Replicate_Jobs, StatisticsOfAPoolWithoutJobsAreZero) {
  EXPECT_EQ(statistics(), (Object{{"pending", 0},
                                  {"running", 0},
                                  {"succeeded", 0},
                                  {"failed", 0},
                                  {"total", 0},
                                  {"size", 0},
                                  {"time", 0}}));
  Object out;
  EXPECT_FALSE(impl_->get_replicate_job_statistics_info(u(0xEEE), nullptr, nullptr, out));
}

TEST_P(Replicate_Jobs, StatisticsCountJobsByStateAndSumTheSucceeded) {
  add_job("replicate", 1, "succeeded",
          Object{{"start_time", "2024-01-01 00:00:00"}, {"finish_time", "2024-01-01 01:00:00"}});
  add_job("replicate", 2, "succeeded",
          Object{{"start_time", "2024-02-01 00:00:00"}, {"finish_time", "2024-02-01 00:00:30"}});
  add_job("replicate", 2, "failed", Object{{"start_time", "2024-02-02 00:00:00"}});
  add_job("warmup", 1, "running", Object{{"start_time", "2024-02-03 00:00:00"}});
  // A job towards a pool without a replication relation does not count.
  long long stray = 0;
  ASSERT_TRUE(impl_->add_replicate_job(Object{{"type", "replicate"},
                                              {"catalog_uuid", u(1)},
                                              {"source_pool_uuid", pool_},
                                              {"target_pool_uuid", u(0xA02)},
                                              {"state", "succeeded"}},
                                       stray));
  EXPECT_EQ(statistics(), (Object{{"pending", 0},
                                  {"running", 1},
                                  {"succeeded", 2},
                                  {"failed", 1},
                                  {"total", 4},
                                  {"size", 200},
                                  {"time", 3630}}));
  const std::string start = "2024-01-15 00:00:00";
  const std::string end = "2024-02-02 12:00:00";
  EXPECT_EQ(statistics(&start, &end), (Object{{"pending", 0},
                                              {"running", 0},
                                              {"succeeded", 1},
                                              {"failed", 1},
                                              {"total", 2},
                                              {"size", 100},
                                              {"time", 30}}));
}

TEST_P(Replicate_Jobs, RetryCandidatesAreFailedReplicationsDueAgain) {
  const std::string two_hours_ago = db_clock(-2 * 3600).second;
  auto created = [](int day) {
    return Object{{"creation_time", "2024-01-0" + std::to_string(day) + " 00:00:00"}};
  };
  Object never_started = created(2);
  never_started["retry"] = 3;
  long long waiting = add_job("replicate", 1, "failed", never_started);
  Object started = created(1);
  started["retry"] = 2;
  started["start_time"] = two_hours_ago;
  long long recent = add_job("replicate", 2, "failed", started);
  Object warmup = created(3);
  warmup["retry"] = 3;
  add_job("warmup", 1, "failed", warmup);
  add_job("replicate", 2, "failed", created(4));  // retry 0
  Object succeeded = created(5);
  succeeded["retry"] = 3;
  add_job("replicate", 1, "succeeded", succeeded);

  auto retried = [&](int hours) {
    Array rows;
    EXPECT_TRUE(impl_->get_retry_replicate_jobs(hours, rows)) << log_.dump();
    std::vector<long long> ids;
    for (const Value& row : rows)
      ids.push_back(row["job_id"].get<long long>());
    return ids;
  };
  EXPECT_EQ(retried(1), (std::vector<long long>{recent, waiting}));
  EXPECT_EQ(retried(5), std::vector<long long>{waiting});
  Array rows;
  ASSERT_TRUE(impl_->get_retry_replicate_jobs(1, rows));
  EXPECT_EQ(rows[1], (Value(Object{{"job_id", waiting},
                                   {"catalog_uuid", u(1)},
                                   {"type", "replicate"},
                                   {"source_pool_uuid", pool_},
                                   {"target_pool_uuid", target_},
                                   {"retry", 3}})));
}

TEST_P(Replicate_Jobs, RetryRefusesANegativeDelay) {
  Object started{{"retry", 2}, {"start_time", db_clock(-3600).second}};
  add_job("replicate", 1, "failed", started);
  Array rows;
  EXPECT_FALSE(impl_->get_retry_replicate_jobs(-5, rows));
  EXPECT_TRUE(log_.has("Failed to get retry replicate jobs: a delay of -5 hours is negative."));
  EXPECT_TRUE(rows.empty());
}

TEST_P(Replicate_Jobs, NotReplicatedCatalogsLackAReplicateJobToTheTarget) {
  add_set(backup_set(u(3), u(3), "2024-01-03 00:00:00", 2));
  add_job("replicate", 1, "succeeded");
  add_job("warmup", 2, "succeeded");
  auto not_replicated = [&](const std::string& target) {
    Array rows;
    EXPECT_TRUE(impl_->get_not_replicated_catalogs(pool_, target, rows)) << log_.dump();
    std::vector<std::string> uuids;
    for (const Value& row : rows)
      uuids.push_back(row["uuid"].get<std::string>());
    return uuids;
  };
  EXPECT_EQ(not_replicated(target_), std::vector<std::string>{u(2)});
  EXPECT_EQ(not_replicated(u(0xA02)), (std::vector<std::string>{u(1), u(2)}));
  Array rows;
  EXPECT_FALSE(impl_->get_not_replicated_catalogs(u(0xEEE), target_, rows));
  EXPECT_FALSE(impl_->get_not_replicated_catalogs(pool_, "not a uuid", rows));
}

TEST_P(Replicate_Jobs, ReplicatePoolsAndReplicatedCatalogs) {
  database::sql::SQL mark("UPDATE storage_catalog_storage_pool SET on_host = 0 WHERE uuid = :uuid");
  ASSERT_TRUE(mark.bind_uuid("uuid", target_));
  ASSERT_TRUE(impl_->get_connection()->execute(mark));
  EXPECT_TRUE(impl_->is_replicate_pool(target_));
  EXPECT_FALSE(impl_->is_replicate_pool(pool_));
  EXPECT_FALSE(impl_->is_replicate_pool(u(0xEEE)));
  EXPECT_FALSE(impl_->is_replicate_pool("x"));

  add_job("replicate", 1, "running");
  add_job("warmup", 2, "succeeded");
  EXPECT_TRUE(impl_->is_replicated_catalog(target_, u(1)));
  EXPECT_FALSE(impl_->is_replicated_catalog(target_, u(2)));
  EXPECT_FALSE(impl_->is_replicated_catalog(u(0xA02), u(1)));
  EXPECT_FALSE(impl_->is_replicated_catalog(target_, "' OR 1=1 --"));
}

SCAT_INSTANTIATE_ENGINES(Replicate_Jobs);

}  // namespace
