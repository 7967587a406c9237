// Replicates and replicate jobs through real catalogs on both engines, with
// a test daemon standing in for the backup daemon that knows what the
// target pools hold.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "storaged/storage_catalog/replicate_job_base_on_getter.h"
#include "storaged/storage_catalog/storage_catalog_utils.h"
#include "tests/support/front_fixture.h"

namespace {

const char kTargetStatePath[] = "/kx/r/storages/catalogs/incarnation";
const std::string& kSource = Front_Test::kPoolA;
const std::string& kTarget = Front_Test::kPoolB;
const int kOnlineReplicated = 17;

class Replicates : public Front_Server_Test {
 protected:
  void SetUp() override {
    Front_Server_Test::SetUp();
    if (IsSkipped() || HasFatalFailure())
      return;
    add_pool_with_master(kSource, "s3://bucket/source");
  }

  static Object relation(int n, const std::string& source, const std::string& target) {
    return Object{{"uuid", uuid_of(0x100 + n)}, {"source_uuid", source}, {"target_uuid", target}};
  }

  // The stored relations as "source>target" (uuids shortened), by uuid.
  std::vector<std::string> relations() {
    Array rows;
    EXPECT_TRUE(front_->query_replicate(Object(), 0, -1, rows, nullptr)) << log_.dump();
    std::vector<std::string> out;
    for (const Value& row : rows)
      out.push_back(row.at("uuid").get<std::string>().substr(29) + ":" +
                    row.at("source_uuid").get<std::string>().substr(0, 1) + ">" +
                    row.at("target_uuid").get<std::string>().substr(0, 1));
    std::sort(out.begin(), out.end());
    return out;
  }

  // A set of the source pool: `n` in chain `chain` on day `day`.
  void add_set(int n, int chain, const std::string& type, int day,
               const std::string& agent = "backup.file", int state = 1) {
    Object set = catalog_record(uuid_of(n), kSource);
    set["incarnation"] = uuid_of(chain);
    set["backup_type"] = type;
    set["backup_time"] = "2026-01-0" + std::to_string(day) + " 00:00:00";
    set["agent"] = agent;
    set["state"] = state;
    ASSERT_TRUE(front_->add_catalog(kSource, set)) << log_.dump();
  }

  long long add_job(const std::string& type, int set, const std::string& target = kTarget) {
    long long id = 0;
    Object job{{"type", type},
               {"catalog_uuid", uuid_of(set)},
               {"source_pool_uuid", kSource},
               {"target_pool_uuid", target},
               {"state", "succeeded"}};
    EXPECT_TRUE(front_->add_replicate_job(job, id)) << log_.dump();
    return id;
  }

  int state_of(int set) {
    Catalog_State state = Catalog_State(0);
    EXPECT_TRUE(front_->get_state(kSource, uuid_of(set), state)) << log_.dump();
    return static_cast<int>(state);
  }

  long long quoted(const std::string& pool) {
    Object row;
    if (!Storage_Catalog_Utils::get_pool(pool, row))
      return -1;
    return row.at("quoted").get<long long>();
  }

  static std::string answer(const std::vector<std::pair<int, std::string>>& states) {
    Array rows;
    for (const auto& state : states)
      rows.push_back(Object{{"uuid", uuid_of(state.first)}, {"state", Array{state.second}}});
    return JSON_Dump(Value(rows));
  }
};

TEST_P(Replicates, LookupsFindTheOneReplicateOfAPool) {
  std::string target = "untouched";
  EXPECT_TRUE(Storage_Catalog_Utils::get_target_pool(kSource, target)) << log_.dump();
  EXPECT_EQ(target, "untouched");
  EXPECT_FALSE(Storage_Catalog_Utils::is_source_replicate_pool(kSource));

  ASSERT_TRUE(front_->add_replicate(relation(1, kSource, kTarget)));
  EXPECT_TRUE(Storage_Catalog_Utils::get_target_pool(kSource, target));
  EXPECT_EQ(target, kTarget);
  EXPECT_TRUE(Storage_Catalog_Utils::is_source_replicate_pool(kSource));
  Object found;
  EXPECT_TRUE(Storage_Catalog_Utils::get_replicate(kSource, kTarget, found));
  EXPECT_EQ(found.at("uuid"), uuid_of(0x101));

  // With two replicates there is no single one to tell.
  ASSERT_TRUE(front_->add_replicate(relation(2, kSource, kPoolC)));
  Object untouched{{"kept", true}};
  EXPECT_TRUE(Storage_Catalog_Utils::get_replicate(kSource, untouched));
  EXPECT_EQ(untouched, (Object{{"kept", true}}));
  Array all{1};
  EXPECT_TRUE(Storage_Catalog_Utils::get_replicates(kSource, all));
  EXPECT_EQ(all.size(), 3u);
  EXPECT_FALSE(Storage_Catalog_Utils::is_source_replicate_pool(kSource));
  EXPECT_FALSE(Storage_Catalog_Utils::get_replicate("not-a-uuid", found));
  EXPECT_TRUE(log_.has("Failed to query replicate with source pool uuid 'not-a-uuid'"));
}

TEST_P(Replicates, AddReplicateReplacesTheOneOfThePairAndRefusesSeveral) {
  ASSERT_TRUE(front_->add_replicate(relation(1, kSource, kTarget)));
  ASSERT_TRUE(Storage_Catalog_Utils::add_replicate(relation(2, kSource, kTarget))) << log_.dump();
  EXPECT_EQ(relations(), (std::vector<std::string>{"102:a>b"}));

  ASSERT_TRUE(front_->add_replicate(relation(3, kSource, kTarget)));
  EXPECT_FALSE(Storage_Catalog_Utils::add_replicate(relation(4, kSource, kTarget)));
  EXPECT_TRUE(log_.has_prefix(LM_EMERGENCY, "Unexpected error in ")) << log_.dump();
  EXPECT_TRUE(log_.contains("result.size() != 1"));
  EXPECT_EQ(relations(), (std::vector<std::string>{"102:a>b", "103:a>b"}));

  log_.clear();
  Object missing = relation(5, kSource, kPoolC);
  missing.erase("target_uuid");
  EXPECT_FALSE(Storage_Catalog_Utils::add_replicate(missing));
  EXPECT_TRUE(log_.contains("Failed to add replicate: ")) << log_.dump();
  Object bad = relation(5, kSource, kPoolC);
  bad["uuid"] = "x'00' OR 1";
  EXPECT_FALSE(Storage_Catalog_Utils::add_replicate(bad));
  EXPECT_EQ(relations(), (std::vector<std::string>{"102:a>b", "103:a>b"}));
}

TEST_P(Replicates, AddReplicateThatCannotBeStoredKeepsTheOldOne) {
  ASSERT_TRUE(front_->add_replicate(relation(1, kSource, kTarget)));
  ASSERT_TRUE(front_->add_replicate(relation(2, kSource, kPoolC)));
  // The new uuid is taken by the other relation: the add fails after the
  // old relation of the pair was removed, and the removal is undone.
  Object clash = relation(2, kSource, kTarget);
  EXPECT_FALSE(Storage_Catalog_Utils::add_replicate(clash));
  EXPECT_TRUE(log_.has("Failed to add replicate(uuid: " + uuid_of(0x102) + ") to database."))
      << log_.dump();
  EXPECT_EQ(relations(), (std::vector<std::string>{"101:a>b", "102:a>c"}));
}

class Replicates_Target : public Replicates {
 protected:
  Object request(int relation_n, const std::vector<std::string>& device_roles) {
    Array devices;
    for (std::size_t i = 0; i < device_roles.size(); ++i)
      devices.push_back(Object{{"uuid", uuid_of(0x200 + static_cast<int>(i))},
                               {"url", "dedup://storage-host/pool"},
                               {"pool_uuid", kTarget},
                               {"extended_attrs", Object{{"role", device_roles[i]}}}});
    Object target{{"uuid", kTarget}, {"name", "target"}, {"retention_days", 7}};
    Object info{{"uuid", uuid_of(0x100 + relation_n)}, {"source_uuid", kSource}};
    return Object{{"target", target}, {"devices", devices}, {"info", info}};
  }

  long long device_count() {
    Array rows;
    EXPECT_TRUE(front_->query_device(Object{{"pool_uuid", kTarget}}, 0, -1, rows, nullptr));
    return static_cast<long long>(rows.size());
  }
};

TEST_P(Replicates_Target, RegistersTheTargetPoolAndRaisesItsUseCount) {
  ASSERT_TRUE(Storage_Catalog_Utils::add_replicate_with_target(request(1, {"master", "slave"})))
      << log_.dump();
  EXPECT_EQ(quoted(kTarget), 0);
  EXPECT_EQ(device_count(), 2);
  EXPECT_EQ(relations(), (std::vector<std::string>{"101:a>b"}));

  ASSERT_TRUE(Storage_Catalog_Utils::add_replicate_with_target(request(2, {"master"})))
      << log_.dump();
  EXPECT_EQ(quoted(kTarget), 1);
  EXPECT_EQ(relations(), (std::vector<std::string>{"102:a>b"}));
}

TEST_P(Replicates_Target, AFailedRegistrationLeavesNothing) {
  ASSERT_TRUE(Storage_Catalog_Utils::add_replicate_with_target(request(1, {"master"})));
  // A second master of the known pool fails after the use count was raised.
  Object second = request(2, {"slave"});
  second["devices"][0]["uuid"] = uuid_of(0x2ff);
  second["devices"][0]["extended_attrs"]["role"] = "master";
  EXPECT_FALSE(Storage_Catalog_Utils::add_replicate_with_target(second));
  EXPECT_TRUE(log_.has("Failed to add master device which has existed.")) << log_.dump();
  EXPECT_EQ(quoted(kTarget), 0);
  EXPECT_EQ(device_count(), 1);
  EXPECT_EQ(relations(), (std::vector<std::string>{"101:a>b"}));

  // Malformed requests are refused before anything is written.
  for (const char* member : {"target", "devices", "info"}) {
    Object partial = request(3, {"master"});
    partial.erase(member);
    EXPECT_FALSE(Storage_Catalog_Utils::add_replicate_with_target(partial)) << member;
  }
  Object two_masters = request(3, {"master", "master"});
  EXPECT_FALSE(Storage_Catalog_Utils::add_replicate_with_target(two_masters));
  EXPECT_EQ(quoted(kTarget), 0);
  EXPECT_EQ(relations(), (std::vector<std::string>{"101:a>b"}));
}

TEST_P(Replicates_Target, AFailedRegistrationOfANewPoolRemovesThePool) {
  ASSERT_TRUE(front_->add_replicate(relation(9, kPoolC, kSource)));
  // The relation's uuid is taken: the last step fails.
  Object clash = request(9, {"master"});
  EXPECT_FALSE(Storage_Catalog_Utils::add_replicate_with_target(clash));
  EXPECT_TRUE(log_.has("Failed to add replicate '" + uuid_of(0x109) + "'.")) << log_.dump();
  EXPECT_EQ(quoted(kTarget), -1);
  EXPECT_EQ(device_count(), 0);
  EXPECT_EQ(relations(), (std::vector<std::string>{"109:c>a"}));
}

TEST_P(Replicates, JobLookupsByValuesIdAndCatalog) {
  long long replicate = add_job("replicate", 1);
  long long warmup = add_job("warmup", 1);
  Object job;
  ASSERT_TRUE(
      Storage_Catalog_Utils::get_replicate_job(kSource, kTarget, uuid_of(1), "warmup", job));
  EXPECT_EQ(job.at("id"), warmup);
  ASSERT_TRUE(Storage_Catalog_Utils::get_replicate_job_with_id(replicate, job));
  EXPECT_EQ(job.at("type"), "replicate");
  ASSERT_TRUE(Storage_Catalog_Utils::get_replicate_job_with_uuid(uuid_of(1), job));
  EXPECT_EQ(job.at("catalog_uuid"), uuid_of(1));
  log_.clear();
  EXPECT_FALSE(Storage_Catalog_Utils::get_replicate_job_with_id(warmup + 100, job));
  EXPECT_FALSE(Storage_Catalog_Utils::get_replicate_job(kSource, kTarget, uuid_of(1),
                                                        "replicate&type=warmup", job));
  EXPECT_TRUE(log_.lines().empty()) << log_.dump();
}

TEST_P(Replicates, RemovingJobsClearsReplicatedOnlyForReplicateJobs) {
  add_set(1, 1, "FULL", 1, "backup.file", kOnlineReplicated);
  add_set(2, 2, "FULL", 2, "backup.file", kOnlineReplicated);
  long long replicate = add_job("replicate", 1);
  long long warmup = add_job("warmup", 2);

  ASSERT_TRUE(Storage_Catalog_Utils::remove_replicate_jobs(Array{warmup})) << log_.dump();
  Object job;
  EXPECT_FALSE(Storage_Catalog_Utils::get_replicate_job_with_id(warmup, job));
  EXPECT_EQ(state_of(2), kOnlineReplicated);

  // An id that is not an integer removes nothing.
  EXPECT_FALSE(Storage_Catalog_Utils::remove_replicate_jobs(Array{replicate, "7"}));
  EXPECT_TRUE(log_.contains("Failed to remove replicate jobs: ")) << log_.dump();
  EXPECT_TRUE(Storage_Catalog_Utils::get_replicate_job_with_id(replicate, job));

  ASSERT_TRUE(Storage_Catalog_Utils::remove_replicate_jobs(Array{replicate})) << log_.dump();
  EXPECT_FALSE(Storage_Catalog_Utils::get_replicate_job_with_id(replicate, job));
  EXPECT_EQ(state_of(1), 1);
}

TEST_P(Replicates, WarmupListsTheChainOrTheFullAndTheContinuousDataDiff) {
  add_set(1, 1, "FULL", 1);
  add_set(2, 1, "INCREMENTAL", 2);
  add_set(3, 1, "INCREMENTAL", 3);
  add_set(4, 1, "INCREMENTAL", 4);
  Array uuids{"kept"};
  Object catalog;
  ASSERT_TRUE(Storage_Catalog_Utils::get_catalogs_for_warmup(kSource, uuid_of(3), uuids, &catalog))
      << log_.dump();
  EXPECT_EQ(uuids, (Array{"kept", uuid_of(1), uuid_of(2), uuid_of(3)}));
  EXPECT_EQ(catalog.at("uuid"), uuid_of(3));

  add_set(11, 11, "INCREMENTAL", 1, "backup.cdp");
  add_set(12, 11, "full", 2, "backup.cdp");
  add_set(13, 11, "INCREMENTAL", 3, "backup.cdp");
  add_set(14, 11, "DIFF", 4, "backup.cdp");
  uuids.clear();
  ASSERT_TRUE(Storage_Catalog_Utils::get_catalogs_for_warmup(kSource, uuid_of(14), uuids))
      << log_.dump();
  EXPECT_EQ(uuids, (Array{uuid_of(12), uuid_of(14)}));

  uuids.clear();
  EXPECT_FALSE(Storage_Catalog_Utils::get_catalogs_for_warmup(kSource, uuid_of(99), uuids));
  EXPECT_TRUE(uuids.empty());
}

TEST_P(Replicates, JobsRestOnTheDependenceGroupOrOnTheWarmedSet) {
  ASSERT_TRUE(front_->add_replicate(relation(1, kSource, kTarget)));
  // Chain order 3, 1, 2; uuid order 1, 2, 3.
  add_set(3, 3, "FULL", 1);
  add_set(1, 3, "INCREMENTAL", 2);
  add_set(2, 3, "INCREMENTAL", 3);
  long long job3 = add_job("replicate", 3);
  long long job1 = add_job("replicate", 1);
  long long job2 = add_job("replicate", 2);
  long long warm2 = add_job("warmup", 2);
  auto ids = [](const Array& jobs) {
    std::vector<long long> out;
    for (const Value& job : jobs)
      out.push_back(job.at("id").get<long long>());
    return out;
  };
  Array jobs;
  ASSERT_TRUE(Replicate_Job_Base_On_Getter::get(kSource, kTarget, uuid_of(3), "replicate", jobs))
      << log_.dump();
  EXPECT_EQ(ids(jobs), (std::vector<long long>{job1, job2, job3}));
  jobs.clear();
  ASSERT_TRUE(Replicate_Job_Base_On_Getter::get(kSource, kTarget, uuid_of(2), "warmup", jobs));
  EXPECT_EQ(ids(jobs), (std::vector<long long>{warm2}));

  // Several jobs: each base-on job once.
  Array asked;
  for (int set : {3, 1}) {
    Object job;
    ASSERT_TRUE(
        Storage_Catalog_Utils::get_replicate_job(kSource, kTarget, uuid_of(set), "replicate", job));
    asked.push_back(job);
  }
  Array base_on;
  ASSERT_TRUE(Replicate_Job_Base_On_Getter::get(asked, base_on)) << log_.dump();
  EXPECT_EQ(ids(base_on), (std::vector<long long>{job1, job2, job3}));
  asked[1].erase("type");
  EXPECT_FALSE(Replicate_Job_Base_On_Getter::get(asked, base_on));
  EXPECT_TRUE(log_.contains("Failed to get replicate jobs base on: ")) << log_.dump();
}

TEST_P(Replicates, WarmupableMarksFollowTheTargetPool) {
  ASSERT_TRUE(front_->add_replicate(relation(1, kSource, kTarget)));
  add_set(1, 1, "FULL", 1);
  add_set(2, 2, "FULL", 2);
  add_job("replicate", 1);
  add_job("replicate", 2);
  add_job("warmup", 2);
  std::map<std::string, std::string> conditions{{"source_pool_uuid", kSource}};
  auto marks = [&]() {
    Array jobs;
    EXPECT_TRUE(Storage_Catalog_Utils::get_replicate_job_info(conditions, 0, -1, jobs, nullptr))
        << log_.dump();
    std::vector<std::string> out;
    for (const Value& job : jobs)
      out.push_back(
          job.at("type").get<std::string>().substr(0, 1) +
          job.at("catalog_uuid").get<std::string>().substr(31) +
          (job.contains("warmupable") ? (job.at("warmupable").get<bool>() ? "+" : "-") : ""));
    return out;
  };
  // The daemon does not answer: the marks stay as stored.
  EXPECT_EQ(marks(), (std::vector<std::string>{"w2", "r2+", "r1+"}));

  daemon_.reply("POST", kTargetStatePath, 200, answer({{1, "online"}, {2, "offline"}}));
  EXPECT_EQ(marks(), (std::vector<std::string>{"w2", "r2-", "r1+"}));
  auto asked = daemon_.requests_to(kTargetStatePath);
  ASSERT_FALSE(asked.empty());
  Value body;
  ASSERT_TRUE(loads_json(asked.back().body, body));
  EXPECT_EQ(body, Value(Array{Object{{"pool_uuid", kTarget},
                                     {"check_replicate", false},
                                     {"catalog_uuids", Array{uuid_of(2), uuid_of(1)}}}}));

  // An answer that leaves a set out tells nothing.
  daemon_.reply("POST", kTargetStatePath, 200, answer({{1, "offline"}}));
  EXPECT_EQ(marks(), (std::vector<std::string>{"w2", "r2+", "r1+"}));
  EXPECT_TRUE(log_.has("Failed to get target pools state."));
  daemon_.reply("POST", kTargetStatePath, 200, "{\"not\": \"an array\"}");
  EXPECT_EQ(marks(), (std::vector<std::string>{"w2", "r2+", "r1+"}));
}

TEST_P(Replicates, ReplicatedMarksFollowTheTargetPool) {
  ASSERT_TRUE(front_->add_replicate(relation(1, kSource, kTarget)));
  add_set(1, 1, "FULL", 1, "backup.file", kOnlineReplicated);
  add_set(2, 2, "FULL", 2, "backup.file", kOnlineReplicated);
  add_job("replicate", 1);
  add_job("replicate", 2);
  auto replicated = [&](const Object& request) {
    Array info{"stale"};
    EXPECT_TRUE(Storage_Catalog_Utils::get_incarnation_info(Array{request}, info)) << log_.dump();
    std::vector<bool> out;
    for (const Value& entry : info) {
      const Array& states = entry.at("state").get_ref<const Array&>();
      out.push_back(std::find(states.begin(), states.end(), Value("replicated")) != states.end());
    }
    return out;
  };
  Object request{{"pool_uuid", kSource}, {"catalog_uuids", Array{uuid_of(1), uuid_of(2)}}};
  EXPECT_EQ(replicated(request), (std::vector<bool>{true, true}));  // daemon down

  daemon_.reply("POST", kTargetStatePath, 200, answer({{1, "online"}, {2, "deleted"}}));
  EXPECT_EQ(replicated(request), (std::vector<bool>{true, false}));
  std::size_t asked = daemon_.requests_to(kTargetStatePath).size();
  request["check_replicate"] = false;
  EXPECT_EQ(replicated(request), (std::vector<bool>{true, true}));
  EXPECT_EQ(daemon_.requests_to(kTargetStatePath).size(), asked);

  Array info;
  EXPECT_FALSE(Storage_Catalog_Utils::get_incarnation_info(Array{Object{{"pool_uuid", 5}}}, info));
  EXPECT_TRUE(log_.has("Failed to get incarnation info.")) << log_.dump();
}

SCAT_INSTANTIATE_ENGINES(Replicates);
SCAT_INSTANTIATE_ENGINES(Replicates_Target);

}  // namespace
