#include <gtest/gtest.h>

#include <map>

#include "platform/sql/sql.h"
#include "platform/sql/transaction.h"
#include "tests/storaged/storage_catalog/catalog_back_end_test.h"

using database::sql::Select_SQL;
using database::sql::SQL;
using Uuids = std::vector<std::string>;

namespace {

class Merge_Jobs : public Catalog_Back_End_Test {
 protected:
  void keep_merged(const Value& retention, const std::string& version = "") {
    Object attrs{{"synthetic_backup_retention", retention}, {"synthesizer_version", version}};
    ASSERT_TRUE(impl_->update_pool(pool_, Object{{"extended_attrs", attrs}})) << log_.dump();
  }

  // Sets `first`..`last` of one chain, in id order, one day apart.
  void add_chain(int first, int last) {
    for (int i = first; i <= last; ++i)
      add(i, first, "2024-01-" + std::string(i < 10 ? "0" : "") + std::to_string(i) + " 00:00:00",
          1, Object{{"agent", "backup.file"}, {"minor_resource_id", "C:"}});
  }

  Object strategy(int catalog) {
    Object out;
    EXPECT_TRUE(impl_->get_merge_backup_strategy(pool_, u(catalog), out)) << log_.dump();
    return out;
  }

  long long add_merge_job(const std::string& state, int from, int to) {
    Object job{{"type", "file"},       {"pool_uuid", pool_}, {"incarnation", u(1)},
               {"from_uuid", u(from)}, {"to_uuid", u(to)},   {"state", state}};
    long long id = 0;
    EXPECT_TRUE(impl_->add_merge_backup_job(job, id)) << log_.dump();
    return id;
  }

  Array time_points(const std::map<std::string, std::string>& filter, long long offset,
                    long long limit, long long* total) {
    Array out;
    EXPECT_TRUE(impl_->get_disaster_restore_time_points(filter, offset, limit, out, total))
        << log_.dump();
    return out;
  }
};

TEST_P(Merge_Jobs, StrategySpansTheOldestSetsBeyondTheRetention) {
  add_chain(1, 5);
  add(6, 1, "2024-01-06 00:00:00", 2);  // offline: not merged
  add_chain(10, 14);
  EXPECT_TRUE(strategy(5).empty());  // no retention asked for
  keep_merged(0);
  EXPECT_TRUE(strategy(5).empty());
  keep_merged(3);
  Object merged{{"type", "file"},    {"pool_uuid", pool_}, {"incarnation", u(1)},
                {"from_uuid", u(1)}, {"to_uuid", u(3)},    {"synthesizer_version", ""}};
  EXPECT_EQ(strategy(5), merged);
  // A pending or running merge of the group holds it back, not others.
  long long job = add_merge_job("pending", 1, 3);
  EXPECT_TRUE(strategy(5).empty());
  EXPECT_EQ(strategy(14)["from_uuid"], u(10));
  ASSERT_TRUE(impl_->update_merge_backup_job(job, Object{{"state", "running"}}));
  EXPECT_TRUE(strategy(5).empty());
  ASSERT_TRUE(impl_->update_merge_backup_job(job, Object{{"state", "succeeded"}}));
  EXPECT_EQ(strategy(5)["to_uuid"], u(3));
}

// Only a pending or running job of the set's own group, in its own pool,
// holds a merge back: jobs that name no value of the grouping column, or
// the same group in another pool, do not.
TEST_P(Merge_Jobs, OnlyJobsOfTheGroupInThePoolHoldBackAMerge) {
  add_chain(1, 5);
  keep_merged(3);
  const std::string other = u(0xA01);
  add_pool(other);
  auto add_job = [&](const std::string& pool, const Object& group) {
    Object job{{"type", "file"}, {"pool_uuid", pool}, {"state", "pending"}};
    for (const auto& member : group)
      job[member.first] = member.second;
    long long id = 0;
    EXPECT_TRUE(impl_->add_merge_backup_job(job, id)) << log_.dump();
  };
  add_job(other, Object{{"minor_resource_id", ""}});  // no chain
  add_job(pool_, Object{{"minor_resource_id", "D:"}});
  add_job(other, Object{{"incarnation", u(1)}});  // a copy of the chain elsewhere
  EXPECT_EQ(strategy(5)["from_uuid"], u(1));
  EXPECT_EQ(strategy(5)["to_uuid"], u(3));

  keep_merged(3, "2.0");
  add_job(pool_, Object{{"incarnation", u(9)}, {"minor_resource_id", Value()}});
  add_job(other, Object{{"minor_resource_id", "C:"}});
  EXPECT_EQ(strategy(5)["to_uuid"], u(3));
  add_job(pool_, Object{{"minor_resource_id", "C:"}});
  EXPECT_TRUE(strategy(5).empty());
}

TEST_P(Merge_Jobs, FileSetsOfSynthesizerTwoGroupByMinorResource) {
  add_chain(1, 3);
  add_chain(4, 5);
  keep_merged(3);
  EXPECT_TRUE(strategy(5).empty());  // by chain, too short to merge
  keep_merged(3, "2.0");
  Object merged = strategy(5);
  EXPECT_EQ(merged["from_uuid"], u(1));
  EXPECT_EQ(merged["to_uuid"], u(3));
  // Other modules keep grouping by chain.
  for (int i = 1; i <= 5; ++i)
    ASSERT_TRUE(impl_->update_catalog(pool_, u(i), Object{{"agent", "backup.vmware.vm"}}));
  EXPECT_TRUE(strategy(5).empty());
}

TEST_P(Merge_Jobs, StrategyRefusesBadInput) {
  add_chain(1, 5);
  keep_merged(3);
  Object out;
  EXPECT_FALSE(impl_->get_merge_backup_strategy(u(0xEEE), u(5), out));
  EXPECT_TRUE(log_.has("Failed to get pool with '" + u(0xEEE) + "'"));
  EXPECT_FALSE(impl_->get_merge_backup_strategy(pool_, u(9), out));
  EXPECT_TRUE(log_.has("Failed to get catalog with '" + u(9) + "' in pool '" + pool_ + "'."));
  ASSERT_TRUE(impl_->update_catalog(pool_, u(5), Object{{"agent", "backup..file"}}));
  EXPECT_FALSE(impl_->get_merge_backup_strategy(pool_, u(5), out));
  EXPECT_TRUE(log_.has("Invalid agent type 'backup..file'"));
  keep_merged("3");
  EXPECT_FALSE(impl_->get_merge_backup_strategy(pool_, u(4), out));
  EXPECT_TRUE(log_.has_prefix(LM_ERROR, "Failed to get merge backup strategy with pool '" + pool_ +
                                            "', catalog '" + u(4) + "': "));
  EXPECT_TRUE(out.empty());
}

TEST_P(Merge_Jobs, MergeJobInfoNamesTheSetsItSpans) {
  add_chain(1, 5);
  ASSERT_TRUE(impl_->update_catalog(pool_, u(3), Object{{"uid", u(0xF03)}}));
  long long id = add_merge_job("running", 1, 3);
  Object out;
  ASSERT_TRUE(impl_->get_merge_backup_job_info(pool_, id, out)) << log_.dump();
  Value expected = Value::parse(R"({
      "type": "file", "pool_name": "pool 0a00", "state": "running", "creation_time": null,
      "start_time": "", "end_time": "", "from_timepoint": "2024-01-01 00:00:00",
      "from_name": "set 0001", "to_timepoint": "2024-01-03 00:00:00", "to_name": "set 0003",
      "name": "set 0003", "host_uuid": null, "agent": "backup.file"})");
  expected["id"] = id;
  expected["pool_uuid"] = pool_;
  expected["from_uuid"] = u(1);
  expected["to_uuid"] = u(3);
  expected["uid"] = u(0xF03);
  expected["resource_uuid"] = u(0xB00);
  EXPECT_EQ(Value(out), expected);

  // The statement form; a job whose set is gone fails the whole read.
  long long pending = add_merge_job("pending", 4, 5);
  long long lost = add_merge_job("pending", 4, 9);
  Select_SQL pending_jobs;
  pending_jobs.table("storage_catalog_merge_backup_job").select("id");
  pending_jobs.where().and_filter()->add_kv_item("state", "pending");
  Array rows;
  EXPECT_FALSE(impl_->get_merge_backup_job_info(pending_jobs, rows, nullptr));
  EXPECT_TRUE(log_.has("Failed to query catalog " + u(9) + " in pool " + pool_ + "."));
  ASSERT_TRUE(impl_->remove_merge_backup_job(lost));
  long long total = -1;
  ASSERT_TRUE(impl_->get_merge_backup_job_info(pending_jobs, rows, &total)) << log_.dump();
  EXPECT_EQ(total, 1);
  EXPECT_EQ(rows[0]["id"], pending);
  EXPECT_EQ(rows[0]["to_name"], "set 0005");
}

TEST_P(Merge_Jobs, CatalogsBetweenTwoSetsOfOneGroup) {
  add_chain(1, 2);
  add_chain(10, 10);
  add(3, 1, "2024-01-03 00:00:00");
  add(4, 1, "2024-01-04 00:00:00");
  Array rows;
  auto between = [&](int from, int to, const std::string& column) {
    EXPECT_TRUE(impl_->get_catalogs(pool_, u(from), u(to), column, rows)) << log_.dump();
    return uuids(rows);
  };
  EXPECT_EQ(between(2, 4, "incarnation"), (Uuids{u(2), u(3), u(4)}));
  EXPECT_EQ(between(1, 4, "minor_resource_id"), (Uuids{u(1), u(2), u(10)}));
  EXPECT_EQ(between(1, 4, "resource_uuid"), (Uuids{u(1), u(2), u(10), u(3), u(4)}));
  rows.clear();
  EXPECT_FALSE(impl_->get_catalogs(pool_, u(1), u(4), "1=1 OR name", rows));
  EXPECT_TRUE(
      log_.has("Failed to get catalogs: '1=1 OR name' is not a column of the catalog "
               "table."));
  EXPECT_FALSE(impl_->get_catalogs(pool_, u(1), u(4), "uid", rows));
  EXPECT_TRUE(log_.has("Failed to get catalog '" + u(1) + "'."));
  EXPECT_TRUE(rows.empty());
}

TEST_P(Merge_Jobs, TimePointsListTheDaemonsCatalogBackups) {
  long long total = -1;
  EXPECT_TRUE(time_points({}, 0, -1, &total).empty());  // no pool with a device
  EXPECT_EQ(total, 0);
  const std::string other = u(0xA01);
  add_pool(other);
  ASSERT_TRUE(impl_->add_device(
      Object{{"uuid", u(0xD00)}, {"url", "file:///D:/pools/a"}, {"pool_uuid", pool_}}));
  ASSERT_TRUE(impl_->add_device(Object{
      {"uuid", u(0xD01)}, {"url", "dedup://10.0.0.1:8080/ddp/pool%20b"}, {"pool_uuid", other}}));
  const std::tuple<std::string, int, Array, std::string, int> sets[] = {
      {pool_, 1, {"backupd\\20240101\\catalog", "x.dat"}, "backupd", 1},
      {pool_, 2, {"backupd\\20240102\\data"}, "backupd", 1},  // no catalog file
      {other, 3, {"x.dat", "backupd\\20240103\\catalog"}, "backupd", 1},
      {other, 4, {"b\\catalog"}, "backup.file", 1},
      {other, 5, {"b\\catalog"}, "backupd", 2}};
  for (const auto& [pool, n, files, agent, state] : sets) {
    Object set =
        backup_set(u(n), u(n), "2024-01-0" + std::to_string(n) + " 00:00:00", state, files);
    set["agent"] = agent;
    set["pool_uuid"] = pool;
    ASSERT_TRUE(impl_->add_catalog(pool, set)) << log_.dump();
  }
  EXPECT_EQ(Value(time_points({}, 0, -1, &total)), Value::parse(R"([
      {"name": "set 0003", "time_point": "2024-01-03 00:00:00", "scheme": "dedup",
       "uri": "/ddp/pool b/backupd\\20240103"},
      {"name": "set 0001", "time_point": "2024-01-01 00:00:00", "scheme": "file",
       "uri": "/D:/pools/a/backupd\\20240101"}])"));
  EXPECT_EQ(total, 3);  // the set without a catalog file counts but is not listed
  EXPECT_TRUE(time_points({}, 1, 1, &total).empty());
  EXPECT_EQ(time_points({}, 2, 5, &total)[0]["name"], "set 0001");
  EXPECT_EQ(time_points({{"uuid", u(3)}}, 0, -1, &total).size(), 1u);
  EXPECT_EQ(total, 1);

  // Filter keys must be columns; values are bound.
  Array out;
  EXPECT_FALSE(impl_->get_disaster_restore_time_points({{"1=1 OR name", "x"}}, 0, -1, out, &total));
  EXPECT_TRUE(
      log_.has("Failed to get disaster restore time points: unknown filter key "
               "'1=1 OR name'."));
  EXPECT_TRUE(time_points({{"name", "x' OR '1'='1"}}, 0, -1, &total).empty());
  EXPECT_EQ(total, 0);
}

// More pools than one compound statement may join (SQLite allows 500
// terms): the answer is still one list ordered over every pool.
TEST_P(Merge_Jobs, TimePointsSpanAnyNumberOfPools) {
  const int kPools = 510;
  std::vector<std::string> pools{pool_};
  {
    // One commit for all of them keeps the SQLite file's syncs few.
    database::Transaction setup(impl_->get_connection());
    ASSERT_TRUE(setup.begin());
    for (int i = 1; i < kPools; ++i) {
      pools.push_back(u(0x1000 + i));
      add_pool(pools.back());
    }
    for (int i = 0; i < kPools; ++i)
      ASSERT_TRUE(impl_->add_device(Object{{"uuid", u(0x2000 + i)},
                                           {"url", "file:///D:/p" + std::to_string(i)},
                                           {"pool_uuid", pools[i]}}))
          << log_.dump();
    ASSERT_TRUE(setup.commit());
  }
  // Sets in pools far apart, their times interleaved across the pools.
  const std::pair<int, int> sets[] = {{0, 3}, {499, 5}, {509, 1}, {200, 4}, {509, 6}, {1, 2}};
  int n = 1;
  for (const auto& [pool, day] : sets) {
    Object set = backup_set(u(n), u(n), "2024-01-0" + std::to_string(day) + " 00:00:00", 1,
                            Array{"backupd\\" + std::to_string(day) + "\\catalog"});
    set["pool_uuid"] = pools[pool];
    ASSERT_TRUE(impl_->add_catalog(pools[pool], set)) << log_.dump();
    ++n;
  }
  auto days = [](const Array& rows) {
    std::vector<std::string> out;
    for (const Value& row : rows)
      out.push_back(row["time_point"].get<std::string>().substr(8, 2));
    return out;
  };
  long long total = -1;
  Array all = time_points({}, 0, -1, &total);
  ASSERT_EQ(days(all), (Uuids{"06", "05", "04", "03", "02", "01"}));
  EXPECT_EQ(total, 6);
  EXPECT_EQ(all[1]["uri"], "/D:/p499/backupd\\5");
  EXPECT_EQ(days(time_points({}, 1, 3, &total)), (Uuids{"05", "04", "03"}));
  EXPECT_EQ(days(time_points({}, 5, 10, &total)), Uuids{"01"});
  EXPECT_TRUE(time_points({}, 6, 10, &total).empty());
  EXPECT_EQ(total, 6);
  EXPECT_EQ(days(time_points({{"name", "set 0005"}}, 0, -1, &total)), Uuids{"06"});
  EXPECT_EQ(total, 1);
}

SCAT_INSTANTIATE_ENGINES(Merge_Jobs);

}  // namespace
