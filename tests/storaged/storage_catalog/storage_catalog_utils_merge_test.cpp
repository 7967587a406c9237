// Merge backup state, catalogs by conditions, repeated job entries and pool
// deletion: through real catalogs, the host's work queue and a test daemon.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/queue/queue_manager.h"
#include "storaged/storage_catalog/storage_catalog_utils.h"
#include "tests/support/front_fixture.h"

namespace {

const char kRemovedPath[] = "/kx/r/v2/storage/pool/removed";
const std::string kResource = "a0a0a0a0a0a0a0a0a0a0a0a0a0a0a0a0";

class Merge_State : public Front_Server_Test {
 protected:
  void add_job(const std::string& pool, const std::string& minor, const std::string& state) {
    long long id = 0;
    Object job{
        {"type", "merge"}, {"pool_uuid", pool}, {"minor_resource_id", minor}, {"state", state}};
    ASSERT_TRUE(front_->add_merge_backup_job(job, id)) << log_.dump();
  }

  bool is_running(const std::string& pool, const std::string& minor) {
    Object out{{"kept", 1}};
    EXPECT_TRUE(Storage_Catalog_Utils::check_merge_backup_state(pool, minor, out)) << log_.dump();
    EXPECT_EQ(out.at("kept"), 1);
    return out.at("is_running").get<bool>();
  }
};

TEST_P(Merge_State, OnlyARunningJobOfThePoolAndResourceCounts) {
  add_job(kPoolA, "db1", "pending");
  add_job(kPoolA, "db2", "running");
  add_job(kPoolB, "db1", "running");
  EXPECT_FALSE(is_running(kPoolA, "db1"));
  EXPECT_TRUE(is_running(kPoolA, "db2"));
  EXPECT_TRUE(is_running(kPoolB, "db1"));
  EXPECT_FALSE(is_running(kPoolC, "db2"));
  Object out;
  EXPECT_FALSE(Storage_Catalog_Utils::check_merge_backup_state("not-a-uuid", "db1", out));
  EXPECT_TRUE(log_.contains("Failed to query merge backup job with filter '{"));
  EXPECT_TRUE(out.empty());
}

TEST_P(Merge_State, RunningJobsArePendingOrRunning) {
  add_job(kPoolA, "db1", "pending");
  add_job(kPoolA, "db2", "succeeded");
  add_job(kPoolB, "db3", "running");
  Array jobs{1, 2, 3, 4};
  ASSERT_TRUE(Storage_Catalog_Utils::get_running_merge_backup_jobs(jobs)) << log_.dump();
  std::vector<std::string> minors;
  for (const Value& job : jobs)
    minors.push_back(job.at("minor_resource_id").get<std::string>());
  EXPECT_EQ(minors, (std::vector<std::string>{"db1", "db3"}));
}

TEST_P(Merge_State, ConditionsPickSortAndPageTheCatalogs) {
  ASSERT_TRUE(front_->add_pool(pool_record(kPoolA)));
  for (int n = 1; n <= 4; ++n) {
    Object set = catalog_record(uuid_of(n), kPoolA);
    set["backup_time"] = "2026-01-0" + std::to_string(n) + " 00:00:00";
    set["backup_type"] = n == 1 ? "FULL" : "INCREMENTAL";
    set["resource_uuid"] = n == 4 ? uuid_of(99) : kResource;
    set["state"] = n == 3 ? 2 : 1;
    ASSERT_TRUE(front_->add_catalog(kPoolA, set));
  }
  auto select = [&](const Object& conditions, const Array& resources, bool online_only) {
    Object result{{"stale", true}};
    EXPECT_TRUE(Storage_Catalog_Utils::get_catalogs_with_conditions(kPoolA, resources, conditions,
                                                                    result, false, online_only))
        << log_.dump();
    std::vector<std::string> uuids;
    for (const Value& row : result.at("rows"))
      uuids.push_back(row.at("uuid").get<std::string>().substr(30));
    EXPECT_EQ(result.count("stale"), 0u);
    uuids.push_back("total=" + std::to_string(result.at("total").get<long long>()));
    return uuids;
  };
  using Uuids = std::vector<std::string>;
  Object by_time{{"sort", "backup_time"}, {"order", "asc"}};
  EXPECT_EQ(select(by_time, Array(), false), (Uuids{"01", "02", "03", "04", "total=4"}));
  // Descending unless asked otherwise; a limit as text is converted.
  Object newest_first{{"sort", "backup_time"}, {"limit", "-1"}};
  EXPECT_EQ(select(newest_first, Array(), false), (Uuids{"04", "03", "02", "01", "total=4"}));
  Object paged{{"sort", "backup_time"}, {"order", "asc"}, {"offset", "1"}, {"limit", 2}};
  EXPECT_EQ(select(paged, Array(), false), (Uuids{"02", "03", "total=4"}));
  Object incrementals{{"type", "INCREMENTAL"}, {"sort", "backup_time"}, {"order", "asc"}};
  EXPECT_EQ(select(incrementals, Array{kResource}, true), (Uuids{"02", "total=1"}));
}

TEST_P(Merge_State, ConditionsThatCannotBeQueriedLeaveNoRows) {
  Object result{{"stale", true}};
  EXPECT_FALSE(Storage_Catalog_Utils::get_catalogs_with_conditions(kPoolC, Array(), Object(),
                                                                   result, false, false));
  EXPECT_TRUE(log_.has("Failed to query catalog"));
  EXPECT_EQ(result, (Object{{"rows", Array()}, {"total", 0}}));
  ASSERT_TRUE(front_->add_pool(pool_record(kPoolA)));
  log_.clear();
  EXPECT_FALSE(Storage_Catalog_Utils::get_catalogs_with_conditions(
      kPoolA, Array(), Object{{"uuid", Array{"short"}}}, result, false, false));
  EXPECT_TRUE(log_.has("Failed to query catalog")) << log_.dump();
  EXPECT_TRUE(result.at("rows").empty());
  for (const Object& bad :
       {Object{{"sort", "backup_time; DROP TABLE x"}}, Object{{"limit", Array()}}}) {
    Object untouched{{"stale", true}};
    EXPECT_FALSE(Storage_Catalog_Utils::get_catalogs_with_conditions(kPoolA, Array(), bad,
                                                                     untouched, false, false));
    EXPECT_EQ(untouched, (Object{{"stale", true}}));
  }
  EXPECT_EQ(log_.count("Internal error: parse params error."), 2);
  EXPECT_EQ(catalog_count(kPoolA), 0);
}

SCAT_INSTANTIATE_ENGINES(Merge_State);

using Merge_State_Agent = Front_Test;

TEST_F(Merge_State_Agent, AnAgentHasNoMergeJobsRunning) {
  open_agent({{kPoolA, local_dir(kPoolA)}});
  Array jobs{"kept"};
  EXPECT_TRUE(Storage_Catalog_Utils::get_running_merge_backup_jobs(jobs)) << log_.dump();
  EXPECT_EQ(jobs, (Array{"kept"}));
  Object out;
  EXPECT_FALSE(Storage_Catalog_Utils::check_merge_backup_state(kPoolA, "db1", out));
  EXPECT_TRUE(log_.has("Do not support merge backup in local pool"));
}

TEST(Repeated_Jobs, KeepTheFirstEntryOfEachIdInOrder) {
  Array jobs;
  for (int id : {5, 3, 5, 7, 3})
    jobs.push_back(Object{{"id", id}, {"n", jobs.size()}});
  ASSERT_TRUE(Storage_Catalog_Utils::erase_repeated_obj(jobs));
  EXPECT_EQ(jobs, (Array{Object{{"id", 5}, {"n", 0}}, Object{{"id", 3}, {"n", 1}},
                         Object{{"id", 7}, {"n", 3}}}));
  Log_Capture log;
  for (const Value& bad : {Value("job"), Value(Object{{"id", "5"}}), Value(Object())}) {
    Array with_bad{Object{{"id", 1}}, Object{{"id", 1}}, bad};
    const Array before = with_bad;
    EXPECT_FALSE(Storage_Catalog_Utils::erase_repeated_obj(with_bad)) << JSON_Dump(bad);
    EXPECT_EQ(with_bad, before);
  }
  EXPECT_EQ(log.count("Failed to erase repeat obj: "), 3);
}

class Pool_Deletion : public Front_Test {
 protected:
  std::string take(const std::string& queue) {
    std::string data;
    EXPECT_EQ(Queue_Manager::instance()->dequeue(queue, data), 1) << log_.dump();
    return data;
  }
};

TEST_F(Pool_Deletion, DeletePoolOutlivesARestartOfTheQueue) {
  open_server();
  ASSERT_TRUE(Storage_Catalog_Utils::delete_pool(kPoolA)) << log_.dump();
  ASSERT_TRUE(Storage_Catalog_Utils::storage_catalog_queue_add(
      "Other", Object{{"operation", "replaced"}, {"pool_uuid", kPoolB}, {"n", 1}}));
  Queue_Manager::instance()->close_all();
  Value first, second;
  ASSERT_TRUE(loads_json(take("storage_catalog"), first));
  EXPECT_EQ(first, (Object{{"operation", "DeletePool"}, {"pool_uuid", kPoolA}}));
  ASSERT_TRUE(loads_json(take("storage_catalog"), second));
  EXPECT_EQ(second, (Object{{"n", 1}, {"operation", "Other"}, {"pool_uuid", kPoolB}}));
}

TEST_F(Pool_Deletion, AQueueThatCannotBeWrittenQueuesNothing) {
  open_server();
  EXPECT_FALSE(Storage_Catalog_Utils::delete_pool(""));
  EXPECT_TRUE(log_.has_prefix(LM_EMERGENCY, "Unexpected error in "));
  write_file(dir_.file("plain-file"), "x");
  Queue_Manager::instance()->set_directory(dir_.file("plain-file") + "/queue");
  EXPECT_FALSE(Storage_Catalog_Utils::delete_pool(kPoolA));
  EXPECT_TRUE(log_.has("Failed to enqueue 'DeletePool' to storage_catalog."));
  Queue_Manager::instance()->set_directory(dir_.file("queue"));
  EXPECT_EQ(Queue_Manager::instance()->size("storage_catalog"), 0);
}

TEST_F(Pool_Deletion, ConfirmCountsGoneOrUnknownPoolsAsConfirmed) {
  open_server();
  EXPECT_TRUE(Storage_Catalog_Utils::delete_pool_confirm(kPoolA));  // 404: unknown there
  daemon_.reply("POST", kRemovedPath, 200, "{}");
  EXPECT_TRUE(Storage_Catalog_Utils::delete_pool_confirm(kPoolB));
  daemon_.reply("POST", kRemovedPath, 500, "{}");
  EXPECT_FALSE(Storage_Catalog_Utils::delete_pool_confirm(kPoolC));
  daemon_.reply("POST", kRemovedPath, 200, "not json");
  EXPECT_FALSE(Storage_Catalog_Utils::delete_pool_confirm(kPoolC));
  std::vector<Test_Daemon::Request> posted = daemon_.requests_to(kRemovedPath);
  ASSERT_EQ(posted.size(), 4u);
  Value body;
  ASSERT_TRUE(loads_json(posted[0].body, body));
  EXPECT_EQ(body, (Object{{"pool_uuid", kPoolA}}));
}

TEST_F(Pool_Deletion, AnAgentNamesItselfAndADaemonThatIsDownConfirmsNothing) {
  init_agent();
  ASSERT_TRUE(Storage_Catalog_Utils::delete_pool_confirm(kPoolA)) << log_.dump();
  std::vector<Test_Daemon::Request> posted = daemon_.requests_to(kRemovedPath);
  ASSERT_EQ(posted.size(), 1u);
  Value body;
  ASSERT_TRUE(loads_json(posted[0].body, body));
  EXPECT_EQ(body, (Object{{"host_uuid", std::string(kHostUuid)}, {"pool_uuid", kPoolA}}));
  front_->init("127.0.0.1", 1, false);  // nothing listens there
  EXPECT_FALSE(Storage_Catalog_Utils::delete_pool_confirm(kPoolA));
}

}  // namespace
