#include <gtest/gtest.h>

#include <map>

#include "tests/storaged/storage_catalog/catalog_back_end_test.h"

using Filter = std::map<std::string, std::string>;
using Ids = std::vector<long long>;

namespace {

// Pool `pool_` replicating to `target_`, with sets 1 (resource B00) and 2
// (resource B01).
class Replicate_Jobs : public Catalog_Back_End_Test {
 protected:
  void SetUp() override {
    Catalog_Back_End_Test::SetUp();
    if (IsSkipped() || HasFatalFailure())
      return;
    add_pool(target_);
    add_relation(1);
    ASSERT_TRUE(impl_->add_device(
        Object{{"uuid", u(0xD00)}, {"url", "dedup://10.0.0.1:8080/pool"}, {"pool_uuid", pool_}}));
    add(1, 1, "2024-01-01 00:00:00");
    add(2, 2, "2024-01-02 00:00:00", 1, Object{{"resource_uuid", u(0xB01)}});
  }

  Array jobs(Filter filter, long long* total = nullptr, long long offset = 0,
             long long limit = -1) {
    filter["source_pool_uuid"] = pool_;
    Array rows;
    EXPECT_TRUE(impl_->get_replicate_job_info(filter, offset, limit, rows, total)) << log_.dump();
    return rows;
  }
  static Ids ids(const Array& rows, const char* key = "id") {
    Ids out;
    for (const Value& row : rows)
      out.push_back(row[key].get<long long>());
    return out;
  }

  Object statistics(const std::string* start = nullptr, const std::string* end = nullptr) {
    Object out;
    EXPECT_TRUE(impl_->get_replicate_job_statistics_info(pool_, start, end, out)) << log_.dump();
    return out;
  }
  static Object counts(int running, int succeeded, int failed, int size, int time) {
    Object out{{"pending", 0},     {"running", running}, {"succeeded", succeeded},
               {"failed", failed}, {"size", size},       {"time", time}};
    out["total"] = running + succeeded + failed;
    return out;
  }

  const std::string target_ = u(0xA01);
};

TEST_P(Replicate_Jobs, JobsAreShapedWithTheirPoolsAndBackupSets) {
  long long first = add_job(
      "replicate", 1, "succeeded", target_,
      Object{{"start_time", "2024-01-01 00:00:00"}, {"finish_time", "2024-01-01 01:00:00"}});
  long long warmup = add_job("warmup", 2, "failed");
  long long last = add_job("replicate", 2, "running", target_, Object{{"size", 500}});
  Object out;
  ASSERT_TRUE(impl_->get_replicate_job_info(first, pool_, out)) << log_.dump();
  Object named{{"source_pool_uuid", pool_},
               {"source_pool_name", "pool 0a00"},
               {"target_pool_uuid", target_},
               {"target_pool_name", "pool 0a01"},
               {"name", "set 0001"}};
  EXPECT_EQ(out, named);
  EXPECT_FALSE(impl_->get_replicate_job_info(last + 1, pool_, out));

  long long total = -1;
  Array rows = jobs({}, &total);
  EXPECT_EQ(total, 3);
  ASSERT_EQ(ids(rows), (Ids{last, warmup, first}));  // newest first
  EXPECT_EQ(rows[0]["size"], 500);
  EXPECT_EQ(rows[0]["start_time"], "");
  EXPECT_EQ(rows[1].count("warmupable"), 0u);
  // A job without sizes reports its backup set's size.
  EXPECT_EQ(rows[2]["size"], 100);
  EXPECT_EQ(rows[2]["storage_size"], 100);
  EXPECT_EQ(rows[2]["warmupable"], true);
  EXPECT_EQ(rows[2]["catalog_state"], Array{"online"});

  const std::pair<Filter, Ids> filters[] = {
      {{{"state", "failed"}}, {warmup}},
      {{{"ge_start_time", "2024-01-01 00:00:00"}}, {first}},
      {{{"incarnation", u(2)}, {"type", "replicate"}}, {last}},
      {{{"resource_uuids", u(0xB01)}}, {last, warmup}},
      {{{"resource_uuids", u(0xB00) + "," + u(0xB01)}, {"scope", "x"}}, {last, warmup, first}},
      // Values are bound: quotes in them find nothing and break nothing.
      {{{"name", "x' OR '1'='1"}}, {}},
      {{{"state", "succeeded' --"}}, {}},
  };
  for (const auto& [filter, expected] : filters)
    EXPECT_EQ(ids(jobs(filter)), expected) << filter.begin()->first;
  EXPECT_EQ(ids(jobs({}, &total, 1, 1)), Ids{warmup});
  EXPECT_EQ(total, 3);
}

TEST_P(Replicate_Jobs, LanFreeSourcesAndMissingDevicesAreNotWarmupable) {
  add_job("replicate", 1, "succeeded");
  ASSERT_TRUE(impl_->update_device(u(0xD00), Object{{"url", "lanfree://10.0.0.2/lun/3"}}));
  EXPECT_EQ(jobs({})[0]["warmupable"], false);
  ASSERT_TRUE(impl_->remove_device(u(0xD00)));
  EXPECT_EQ(jobs({})[0]["warmupable"], false);
  EXPECT_TRUE(log_.has("Failed to get pool(" + pool_ + ") devices."));
}

TEST_P(Replicate_Jobs, HostileFilterKeysAreRefused) {
  add_job("replicate", 1, "succeeded");
  Array rows;
  auto refused = [&](const Filter& filter) {
    return !impl_->get_replicate_job_info(filter, 0, -1, rows, nullptr);
  };
  EXPECT_TRUE(refused({{"state", "failed"}}));
  EXPECT_TRUE(log_.has("Failed to find source_pool_uuid in query_string."));
  EXPECT_TRUE(refused({{"source_pool_uuid", pool_}, {"1=1 OR state", "x"}}));
  EXPECT_TRUE(log_.has("Failed to get replicate job info: unknown filter key '1=1 OR state'."));
  EXPECT_TRUE(refused({{"source_pool_uuid", pool_}, {"zz_start_time", "2024-01-01"}}));
  EXPECT_TRUE(refused({{"source_pool_uuid", pool_}, {"resource_uuids", "00'),(x'11"}}));
  EXPECT_TRUE(log_.has("Failed to get replicate job info: resource uuid '00')' is not a uuid."));
  EXPECT_TRUE(refused({{"source_pool_uuid", pool_}, {"uid", "' OR 1=1 --"}}));
  EXPECT_TRUE(refused({{"source_pool_uuid", "x` --"}}));
  EXPECT_TRUE(rows.empty());
}

TEST_P(Replicate_Jobs, StatisticsCountJobsByStateAndSumTheSucceeded) {
  EXPECT_EQ(statistics(), counts(0, 0, 0, 0, 0));
  Object out;
  EXPECT_FALSE(impl_->get_replicate_job_statistics_info(u(0xEEE), nullptr, nullptr, out));

  add_job("replicate", 1, "succeeded", target_,
          Object{{"start_time", "2024-01-01 00:00:00"}, {"finish_time", "2024-01-01 01:00:00"}});
  add_job("replicate", 2, "succeeded", target_,
          Object{{"start_time", "2024-02-01 00:00:00"}, {"finish_time", "2024-02-01 00:00:30"}});
  add_job("replicate", 2, "failed", target_, Object{{"start_time", "2024-02-02 00:00:00"}});
  add_job("warmup", 1, "running", target_, Object{{"start_time", "2024-02-03 00:00:00"}});
  // A job towards a pool without a replication relation does not count.
  add_job("replicate", 1, "succeeded", u(0xA02));
  EXPECT_EQ(statistics(), counts(1, 2, 1, 200, 3630));
  const std::string start = "2024-01-15 00:00:00", end = "2024-02-02 12:00:00";
  EXPECT_EQ(statistics(&start, &end), counts(0, 1, 1, 100, 30));
}

TEST_P(Replicate_Jobs, RetryCandidatesAreFailedReplicationsDueAgain) {
  auto job = [](int day, int retry) {
    return Object{{"creation_time", "2024-01-0" + std::to_string(day) + " 00:00:00"},
                  {"retry", retry}};
  };
  long long never_started = add_job("replicate", 1, "failed", target_, job(2, 3));
  Object started = job(1, 2);
  started["start_time"] = db_clock(-2 * 3600).second;
  long long recent = add_job("replicate", 2, "failed", target_, started);
  add_job("warmup", 1, "failed", target_, job(3, 3));
  add_job("replicate", 2, "failed", target_, job(4, 0));
  add_job("replicate", 1, "succeeded", target_, job(5, 3));

  Array rows;
  ASSERT_TRUE(impl_->get_retry_replicate_jobs(1, rows)) << log_.dump();
  EXPECT_EQ(ids(rows, "job_id"), (Ids{recent, never_started}));
  Object due{{"job_id", never_started},   {"catalog_uuid", u(1)},        {"type", "replicate"},
             {"source_pool_uuid", pool_}, {"target_pool_uuid", target_}, {"retry", 3}};
  EXPECT_EQ(rows[1], Value(due));
  ASSERT_TRUE(impl_->get_retry_replicate_jobs(5, rows));
  EXPECT_EQ(ids(rows, "job_id"), Ids{never_started});
  rows.clear();
  EXPECT_FALSE(impl_->get_retry_replicate_jobs(-5, rows));
  EXPECT_TRUE(log_.has("Failed to get retry replicate jobs: a delay of -5 hours is negative."));
  EXPECT_TRUE(rows.empty());
}

TEST_P(Replicate_Jobs, ReplicatedSetsAndReplicatePools) {
  add(3, 3, "2024-01-03 00:00:00", 2);
  add_job("replicate", 1, "running");
  add_job("warmup", 2, "succeeded");
  Array rows;
  ASSERT_TRUE(impl_->get_not_replicated_catalogs(pool_, target_, rows)) << log_.dump();
  EXPECT_EQ(uuids(rows), std::vector<std::string>{u(2)});
  EXPECT_FALSE(impl_->get_not_replicated_catalogs(pool_, "not a uuid", rows));
  EXPECT_TRUE(impl_->is_replicated_catalog(target_, u(1)));
  EXPECT_FALSE(impl_->is_replicated_catalog(target_, u(2)));
  EXPECT_FALSE(impl_->is_replicated_catalog(target_, "' OR 1=1 --"));

  database::sql::SQL mark("UPDATE storage_catalog_storage_pool SET on_host = 0 WHERE uuid = :uuid");
  ASSERT_TRUE(mark.bind_uuid("uuid", target_));
  ASSERT_TRUE(impl_->get_connection()->execute(mark));
  EXPECT_TRUE(impl_->is_replicate_pool(target_));
  EXPECT_FALSE(impl_->is_replicate_pool(pool_));
  EXPECT_FALSE(impl_->is_replicate_pool(u(0xEEE)));  // no row: an ordinary pool
}

TEST_P(Replicate_Jobs, AJobWithoutASetHidesNoSet) {
  add_job("replicate", 1, "succeeded");
  long long id = 0;
  ASSERT_TRUE(impl_->add_replicate_job(Object{{"type", "replicate"},
                                              {"source_pool_uuid", pool_},
                                              {"target_pool_uuid", target_},
                                              {"state", "failed"}},
                                       id))
      << log_.dump();
  Array rows;
  ASSERT_TRUE(impl_->get_not_replicated_catalogs(pool_, target_, rows)) << log_.dump();
  EXPECT_EQ(uuids(rows), std::vector<std::string>{u(2)});
}

SCAT_INSTANTIATE_ENGINES(Replicate_Jobs);

}  // namespace
