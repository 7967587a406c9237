// Backup chain resolution over real catalogs: dependence groups,
// dependents, the continuous-data and MSSQL rules, groups selected by
// conditions and the host's pre-deletion check.
#include "storaged/storage_catalog/catalog_dependence_resolver.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "storaged/storage_catalog/pool_url_info.h"
#include "storaged/storage_catalog/storage_catalog_utils.h"
#include "tests/support/front_fixture.h"

namespace {

const std::string& kFilePool = Front_Test::kPoolA;      // an object-storage pool
const std::string& kSnapshotPool = Front_Test::kPoolB;  // a "btrfss" pool
const std::string kResourceA = "a0a0a0a0a0a0a0a0a0a0a0a0a0a0a0a0";
const std::string kResourceB = "b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0";

const int kOnline = 1, kOffline = 2, kExpiredOnline = 9;

// Set `n` of chain `chain` (both small numbers), taken on day `day`.
struct Set {
  int n;
  int chain;
  std::string type;
  int day;
  int state = kOnline;
  std::string agent = "backup.file";
  Object attrs = Object();
  std::string resource = kResourceA;
};

class Chains : public Front_Server_Test {
 protected:
  void SetUp() override {
    Front_Server_Test::SetUp();
    if (IsSkipped() || HasFatalFailure())
      return;
    add_pool_with_master(kFilePool, "s3://bucket/pool");
    add_pool_with_master(kSnapshotPool, "btrfss://storage-host/volumes/pool");
  }

  void add(const std::string& pool, const Set& set) {
    char time[32];
    std::snprintf(time, sizeof time, "2026-01-%02d 00:00:00", set.day);
    Object record{{"uuid", uuid_of(set.n)},
                  {"pool_uuid", pool},
                  {"incarnation", uuid_of(set.chain)},
                  {"agent", set.agent},
                  {"backup_type", set.type},
                  {"backup_time", time},
                  {"state", set.state},
                  {"resource_uuid", set.resource},
                  {"extended_attrs", set.attrs}};
    ASSERT_TRUE(front_->add_catalog(pool, record)) << log_.dump();
  }

  void add_all(const std::string& pool, const std::vector<Set>& sets) {
    for (const Set& set : sets)
      add(pool, set);
  }

  // The set numbers of a group's members, in order.
  static std::vector<int> numbers(const Catalog_Dependence_Group& group) {
    std::vector<int> out;
    for (const Value& member : group.catalogs)
      out.push_back(std::stoi(member.at("uuid").get<std::string>(), nullptr, 16));
    return out;
  }

  std::vector<int> dependents(const std::string& pool, int n) {
    Catalog_Dependence_Resolver resolver(pool);
    Catalog_Dependence_Group group;
    EXPECT_TRUE(resolver.get_dependents(uuid_of(n), group)) << log_.dump();
    EXPECT_EQ(group.status, 0);
    return numbers(group);
  }

  long long amount(const std::string& pool, const Object& conditions,
                   const Array& excluded = Array(), const Array& resources = Array()) {
    Catalog_Dependence_Resolver resolver(pool);
    long long total = -1;
    EXPECT_TRUE(resolver.amount_catalogs(resources, conditions, excluded, total)) << log_.dump();
    return total;
  }
};

// A FULL, two INCREMENTALs, a CUMULATIVE and another INCREMENTAL.
const std::vector<Set> kChain = {{1, 1, "FULL", 1},
                                 {2, 1, "INCREMENTAL", 2},
                                 {3, 1, "INCREMENTAL", 3},
                                 {4, 1, "CUMULATIVE", 4},
                                 {5, 1, "INCREMENTAL", 5}};

TEST_P(Chains, ResolverWithoutPoolInformationFailsEveryOperation) {
  add(kFilePool, {1, 1, "FULL", 1});
  Catalog_Dependence_Resolver resolver(kPoolC);  // no pool, no device
  Catalog_Dependence_Group group;
  std::map<std::string, Catalog_Dependence_Group> groups;
  long long total = 7;
  EXPECT_FALSE(resolver.get_dependence_catalogs(uuid_of(1), group));
  EXPECT_FALSE(resolver.get_dependents(uuid_of(1), group));
  EXPECT_FALSE(resolver.get_dependence_catalogs(Array(), Object(), Array(), groups));
  EXPECT_FALSE(resolver.amount_catalogs(Array(), Object(), Array(), total));
  EXPECT_EQ(total, 7);
  EXPECT_EQ(log_.count("is_inited_ is false:"), 4);
  EXPECT_TRUE(log_.has_prefix(LM_EMERGENCY, "Unexpected error in "));
}

TEST_P(Chains, DependenceGroupFollowsStatesAndTheTypeFilter) {
  add_all(kFilePool, {{1, 1, "FULL", 1},
                      {2, 1, "INCREMENTAL", 2},
                      {3, 1, "INCREMENTAL", 3, kOffline},
                      {4, 1, "CUMULATIVE", 4, kExpiredOnline},
                      {5, 1, "LOG", 5},
                      {6, 2, "FULL", 6}});
  Catalog_Dependence_Resolver resolver(kFilePool);
  Catalog_Dependence_Group filtered, unfiltered, all, incremental;
  ASSERT_TRUE(resolver.get_dependence_catalogs(uuid_of(1), false, filtered, true));
  EXPECT_EQ(numbers(filtered), (std::vector<int>{1, 2, 4, 5}));
  EXPECT_FALSE(filtered.standalone);
  // Without the filter earlier online sets of the chain belong too.
  ASSERT_TRUE(resolver.get_dependence_catalogs(uuid_of(2), unfiltered));
  EXPECT_EQ(numbers(unfiltered), (std::vector<int>{1, 2, 4, 5}));
  ASSERT_TRUE(resolver.get_dependence_catalogs(uuid_of(2), true, all, false));
  EXPECT_EQ(numbers(all), (std::vector<int>{1, 2, 3, 4, 5}));
  ASSERT_TRUE(resolver.get_dependence_catalogs(uuid_of(2), false, incremental, true));
  EXPECT_EQ(numbers(incremental), (std::vector<int>{2, 4}));
  // Groups are appended to, never cleared.
  ASSERT_TRUE(resolver.get_dependence_catalogs(uuid_of(6), false, incremental, true));
  EXPECT_EQ(numbers(incremental), (std::vector<int>{2, 4, 6}));
  Catalog_Dependence_Group unknown;
  EXPECT_FALSE(resolver.get_dependence_catalogs(uuid_of(99), unknown));
  EXPECT_TRUE(unknown.catalogs.empty());
}

TEST_P(Chains, BackupTypeFilterKeepsWhatEachTypeTakesAlong) {
  Catalog_Dependence_Resolver resolver(kFilePool);
  auto candidate = [](const std::string& type, const std::string& time) {
    return Object{{"backup_type", type}, {"backup_time", time}, {"agent", "backup.file"}};
  };
  const long long day2 = 1767312000;  // 2026-01-02 00:00:00 UTC
  const std::string kDay2 = "2026-01-02 00:00:00", kDay1 = "2026-01-01 00:00:00";
  EXPECT_FALSE(resolver.backup_type_filter("FULL", candidate("LOG", kDay1), day2));
  EXPECT_TRUE(resolver.backup_type_filter("FULL", candidate("DIFF", kDay2), day2));
  EXPECT_TRUE(resolver.backup_type_filter("LOG", candidate("log", kDay2), day2));
  EXPECT_FALSE(resolver.backup_type_filter("LOG", candidate("FULL", kDay2), day2));
  EXPECT_TRUE(resolver.backup_type_filter("INCREMENTAL", candidate("CUMULATIVE", kDay2), day2));
  EXPECT_FALSE(resolver.backup_type_filter("CUMULATIVE", candidate("INCREMENTAL", kDay2), day2));
  // The stored type is compared as it is: "log" is not "LOG".
  EXPECT_TRUE(resolver.backup_type_filter("log", candidate("FULL", kDay2), day2));
  // An MSSQL database backup counts as a FULL.
  Object mssql = candidate("LOG", kDay2);
  mssql["agent"] = "backup.mssql";
  mssql["extended_attrs"] = Object{{"backup_type", "database"}};
  EXPECT_FALSE(resolver.backup_type_filter("LOG", mssql, day2));
  // A time that cannot be read counts as the oldest.
  EXPECT_FALSE(resolver.backup_type_filter("FULL", candidate("FULL", "yesterday"), 1));
  EXPECT_FALSE(resolver.backup_type_filter("FULL", Object{{"backup_time", kDay2}}, day2));
  EXPECT_TRUE(log_.contains("Failed to backup type filter : '"));
}

TEST_P(Chains, IncrementalDependentsStopAtTheNextCumulative) {
  add_all(kFilePool, {{1, 1, "FULL", 1},
                      {2, 1, "INCREMENTAL", 2},
                      {3, 1, "FULL", 3},
                      {4, 1, "incremental", 4},
                      {5, 1, "DIFF", 5},
                      {6, 1, "INCREMENTAL", 6, kOffline},
                      {7, 1, "INCREMENTAL", 7},
                      {8, 1, "CUMULATIVE", 8},
                      {9, 1, "INCREMENTAL", 9},
                      {10, 1, "CUMULATIVE", 10}});
  EXPECT_EQ(dependents(kFilePool, 2), (std::vector<int>{4, 7}));
  EXPECT_EQ(dependents(kFilePool, 8), (std::vector<int>{9}));
  EXPECT_EQ(dependents(kFilePool, 1), (std::vector<int>{2, 3, 4, 5, 7, 8, 9, 10}));
  EXPECT_EQ(dependents(kFilePool, 10), (std::vector<int>{}));
}

TEST_P(Chains, LogDependentsEndAtAnotherType) {
  add_all(kFilePool, {{1, 1, "FULL", 1},
                      {2, 1, "LOG", 2},
                      {3, 1, "log", 3},
                      {4, 1, "LOG", 4, kOffline},
                      {5, 1, "LOG", 5},
                      {6, 1, "INCREMENTAL", 6},
                      {7, 1, "LOG", 7}});
  EXPECT_EQ(dependents(kFilePool, 2), (std::vector<int>{3, 5}));
}

TEST_P(Chains, CatalogsOfTheSameTimeAreNotDependentsOfEachOther) {
  add_all(kFilePool, {{1, 1, "FULL", 1}, {2, 1, "INCREMENTAL", 1}, {3, 1, "INCREMENTAL", 2}});
  EXPECT_EQ(dependents(kFilePool, 1), (std::vector<int>{3}));
  EXPECT_EQ(dependents(kFilePool, 2), (std::vector<int>{3}));
}

TEST_P(Chains, ContinuousDataSetsStandAloneOnSnapshotStorageOrAsDiff) {
  const std::string cdp = "backup.cdp.volume";
  Set full{1, 1, "FULL", 1}, diff{2, 1, "DIFF", 2}, incremental{3, 1, "INCREMENTAL", 3};
  for (Set* set : {&full, &diff, &incremental})
    set->agent = cdp;
  add_all(kSnapshotPool, {full, diff, incremental});
  add_all(kFilePool, {full, diff, incremental});
  for (int n : {1, 2, 3}) {
    Catalog_Dependence_Resolver resolver(kSnapshotPool);
    Catalog_Dependence_Group group;
    group.standalone = false;
    ASSERT_TRUE(resolver.get_dependence_catalogs(uuid_of(n), false, group, true));
    EXPECT_EQ(numbers(group), std::vector<int>{n});
    EXPECT_TRUE(group.standalone);
    EXPECT_EQ(dependents(kSnapshotPool, n), std::vector<int>{n});
  }
  // Elsewhere only the DIFF stands alone.
  EXPECT_EQ(dependents(kFilePool, 2), std::vector<int>{2});
  EXPECT_EQ(dependents(kFilePool, 1), (std::vector<int>{2, 3}));
  // A resolver takes the scheme from information the caller already has.
  Pool_URL_Info info(kFilePool);
  URI snapshot;
  ASSERT_TRUE(URI_Parser::parse("vmcopy://storage-host/pool", snapshot));
  info.update(snapshot);
  Catalog_Dependence_Resolver resolver(info);
  Catalog_Dependence_Group group;
  ASSERT_TRUE(resolver.get_dependents(uuid_of(1), group));
  EXPECT_EQ(numbers(group), std::vector<int>{1});
}

TEST_P(Chains, MssqlOnSnapshotStorageGroupsByDatabaseBackupOrSnapshot) {
  const std::string mssql = "backup.mssql";
  auto set = [&](int n, const std::string& type, int day, const Object& attrs) {
    Set s{n, 1, type, day};
    s.agent = mssql;
    s.attrs = attrs;
    return s;
  };
  add_all(kSnapshotPool,
          {set(1, "merge", 1, Object{{"backup_type", "database"}, {"snapshot_id", "s1"}}),
           set(2, "log", 2, Object{{"backup_type", "log"}, {"snapshot_id", "s2"}}),
           set(3, "log", 3, Object{{"snapshot_id", "s2"}}),
           set(4, "log", 4, Object{{"snapshot_id", "s3"}}),
           set(5, "log", 5, Object{{"backup_type", "log"}}),
           set(6, "merge", 6, Object{{"snapshot_id", "s3"}}), set(7, "log", 7, Object())});
  Catalog_Dependence_Resolver resolver(kSnapshotPool);
  Catalog_Dependence_Group database, snapshot, offline;
  ASSERT_TRUE(resolver.get_dependence_catalogs(uuid_of(1), false, database, true));
  EXPECT_EQ(numbers(database), (std::vector<int>{1, 2, 3, 4, 5, 6, 7}));
  ASSERT_TRUE(resolver.get_dependence_catalogs(uuid_of(2), false, snapshot, true));
  EXPECT_EQ(numbers(snapshot), (std::vector<int>{2, 3}));
  EXPECT_EQ(dependents(kSnapshotPool, 3), (std::vector<int>{2, 3}));
  Catalog_Dependence_Group failed;
  EXPECT_FALSE(resolver.get_dependents(uuid_of(5), failed));
  EXPECT_TRUE(log_.has("Missing snapshot_id in MSSQL merge backup catalog."));
  EXPECT_FALSE(resolver.get_dependents(uuid_of(6), failed));
  EXPECT_TRUE(log_.has("Missing actual backup_type in MSSQL merge backup catalog."));
  // A catalog without extended attributes reads back with an empty object.
  EXPECT_FALSE(resolver.get_dependents(uuid_of(7), failed));
  EXPECT_TRUE(log_.has("Missing snapshot_id in MSSQL merge backup catalog."));
  // On other storage the chain rules apply.
  add_all(kFilePool,
          {set(1, "FULL", 1, Object()), set(2, "log", 2, Object()), set(3, "LOG", 3, Object())});
  EXPECT_EQ(dependents(kFilePool, 2), (std::vector<int>{3}));
}

TEST_P(Chains, ConditionsResolveOnlyTheOldestSelectedCatalogOfAChain) {
  add_all(kFilePool, kChain);
  Set other{6, 6, "FULL", 6}, other_incremental{7, 6, "INCREMENTAL", 7};
  other.resource = other_incremental.resource = kResourceB;
  add_all(kFilePool, {other, other_incremental});
  Catalog_Dependence_Resolver resolver(kFilePool);
  std::map<std::string, Catalog_Dependence_Group> groups;
  // The newest first on purpose: the resolver sorts oldest first.
  Object conditions{{"type", "INCREMENTAL,CUMULATIVE"}, {"sort", "id"}, {"order", "desc"}};
  ASSERT_TRUE(resolver.get_dependence_catalogs(Array(), conditions, Array(), groups))
      << log_.dump();
  ASSERT_EQ(groups.size(), 2u);
  // Set 2 takes 3, 4 and 5 along; none of them starts a group of its own.
  EXPECT_EQ(numbers(groups.at(uuid_of(1))), (std::vector<int>{2, 3, 4, 5}));
  EXPECT_EQ(numbers(groups.at(uuid_of(6))), (std::vector<int>{7}));
  EXPECT_EQ(amount(kFilePool, conditions), 5);
  EXPECT_EQ(amount(kFilePool, Object()), 7);
  EXPECT_EQ(amount(kFilePool, Object(), Array(), Array{kResourceB}), 2);
  EXPECT_EQ(amount(kFilePool, Object{{"type", "LOG"}}), 0);
}

TEST_P(Chains, ExcludedCatalogsStartNoGroupButCountInsideOthers) {
  add_all(kFilePool, kChain);
  Object incrementals{{"type", "INCREMENTAL"}};
  // Set 2 starts no group; set 3 does, and takes 4 and 5 along.
  EXPECT_EQ(amount(kFilePool, incrementals, Array{uuid_of(2)}), 3);
  EXPECT_EQ(amount(kFilePool, Object(), Array{uuid_of(1), 42}), 4);
  // An excluded set is still counted inside the group of an older one.
  EXPECT_EQ(amount(kFilePool, Object(), Array{uuid_of(2)}), 5);
}

TEST_P(Chains, ContinuousDataSetsOfOneChainAreCountedOnce) {
  Set full{1, 1, "FULL", 1}, diff{2, 1, "DIFF", 2}, next_diff{3, 1, "DIFF", 3};
  for (Set* set : {&full, &diff, &next_diff})
    set->agent = "backup.cdp";
  add_all(kFilePool, {full, diff, next_diff});
  add_all(kSnapshotPool, {full, diff, next_diff});
  // The FULL's group already holds both DIFFs.
  EXPECT_EQ(amount(kFilePool, Object()), 3);
  // On snapshot storage each stands alone and joins the chain's group.
  Catalog_Dependence_Resolver resolver(kSnapshotPool);
  std::map<std::string, Catalog_Dependence_Group> groups;
  ASSERT_TRUE(resolver.get_dependence_catalogs(Array(), Object(), Array(), groups));
  EXPECT_EQ(numbers(groups.at(uuid_of(1))), (std::vector<int>{1, 2, 3}));
  // A DIFF first starts a standalone group; a later set that does not
  // stand alone restarts the group from the whole chain.
  Set lone_diff{4, 2, "DIFF", 4}, incremental{5, 2, "INCREMENTAL", 5};
  lone_diff.agent = incremental.agent = "backup.cdp";
  add_all(kFilePool, {lone_diff, incremental});
  Catalog_Dependence_Resolver file_resolver(kFilePool);
  groups.clear();
  Object from_day_4{{"backup_time", Object{{"ge", "2026-01-04 00:00:00"}}}};
  ASSERT_TRUE(file_resolver.get_dependence_catalogs(Array(), from_day_4, Array(), groups));
  ASSERT_EQ(groups.size(), 1u);
  EXPECT_EQ(numbers(groups.at(uuid_of(2))), (std::vector<int>{4, 5}));
}

TEST_P(Chains, PredeleteAnswersForCatalogsAndConditions) {
  add_all(kFilePool, kChain);
  Object response{{"kept", true}};
  EXPECT_EQ(predelete_backupset(Object{{"pool_uuid", kFilePool},
                                       {"catalog_uuids", Array{uuid_of(2), 7, uuid_of(4)}}},
                                response),
            0)
      << log_.dump();
  ASSERT_EQ(response.size(), 3u);
  EXPECT_TRUE(response.at("kept").get<bool>());
  EXPECT_EQ(response.at(uuid_of(2)).size(), 1u);
  EXPECT_EQ(response.at(uuid_of(2))[0].at("uuid"), uuid_of(3));
  EXPECT_EQ(response.at(uuid_of(4)).size(), 1u);

  Object empty;
  EXPECT_EQ(
      predelete_backupset(Object{{"pool_uuid", kFilePool}, {"catalog_uuids", Array()}}, empty), 0);
  EXPECT_TRUE(empty.empty());

  Object counted;
  EXPECT_EQ(predelete_backupset(Object{{"pool_uuid", kFilePool},
                                       {"resource_uuids", Array{kResourceA}},
                                       {"conditions", Object{{"type", "INCREMENTAL"}}},
                                       {"exclude_catalog_uuids", Array()}},
                                counted),
            0);
  EXPECT_EQ(counted, (Object{{"total", 4}}));
  Object everything;
  EXPECT_EQ(predelete_backupset(Object{{"pool_uuid", kFilePool}}, everything), 0);
  EXPECT_EQ(everything, (Object{{"total", 5}}));
}

TEST_P(Chains, PredeleteRefusesBadRequestsWithoutWritingTheResponse) {
  add_all(kFilePool, kChain);
  Object response;
  EXPECT_EQ(predelete_backupset(Object{{"catalog_uuids", Array{uuid_of(1)}}}, response), -1);
  EXPECT_EQ(predelete_backupset(Object{{"pool_uuid", 5}}, response), -1);
  // Set 1 resolves, the unknown one does not: nothing is written.
  EXPECT_EQ(predelete_backupset(
                Object{{"pool_uuid", kFilePool}, {"catalog_uuids", Array{uuid_of(1), uuid_of(99)}}},
                response),
            -2);
  EXPECT_EQ(predelete_backupset(Object{{"pool_uuid", kPoolC}, {"catalog_uuids", Array{uuid_of(1)}}},
                                response),
            -2);
  EXPECT_TRUE(log_.contains("is_inited_ is false"));
  EXPECT_EQ(
      predelete_backupset(Object{{"pool_uuid", kFilePool}, {"conditions", "type=FULL"}}, response),
      -2);
  EXPECT_TRUE(log_.contains("Failed to predelete backupset on pool '" + kFilePool + "': "));
  EXPECT_EQ(predelete_backupset(
                Object{{"pool_uuid", kFilePool}, {"conditions", Object{{"backup_type", Array{1}}}}},
                response),
            -2);
  EXPECT_TRUE(response.empty());
}

TEST_P(Chains, CatalogsMissingChainFieldsFailWithTheirReason) {
  add(kFilePool, {1, 1, "FULL", 1});
  Catalog_Dependence_Resolver resolver(kFilePool);
  // A row the resolver is handed without a group key.
  Object row{{"uuid", uuid_of(1)}};
  std::string key = "untouched";
  EXPECT_FALSE(resolver.get_group_key(row, key));
  EXPECT_EQ(key, "untouched");
  row["incarnation"] = uuid_of(1);
  EXPECT_TRUE(resolver.get_group_key(row, key));
  EXPECT_EQ(key, uuid_of(1));
  // A stored set whose agent was never written.
  Object no_agent{{"uuid", uuid_of(2)},
                  {"incarnation", uuid_of(1)},
                  {"backup_type", "INCREMENTAL"},
                  {"backup_time", "2026-01-02 00:00:00"},
                  {"state", kOnline}};
  ASSERT_TRUE(front_->add_catalog(kFilePool, no_agent)) << log_.dump();
  Catalog_Dependence_Group group;
  EXPECT_FALSE(resolver.get_dependence_catalogs(uuid_of(2), group));
  EXPECT_TRUE(log_.contains("Failed to get catalog '" + uuid_of(2) + "' dependence on pool '" +
                            kFilePool + "': "));
  EXPECT_FALSE(resolver.get_dependents(uuid_of(2), group));
  EXPECT_TRUE(log_.contains("Failed to get dependents catalogs of '" + uuid_of(2) + "' on pool '" +
                            kFilePool + "': "));
}

SCAT_INSTANTIATE_ENGINES(Chains);

}  // namespace
