#include <gtest/gtest.h>

#include <map>

#include "platform/sql/sql.h"
#include "tests/storaged/storage_catalog/catalog_back_end_test.h"

using database::sql::Select_SQL;
using database::sql::SQL;

namespace {

class Merge_Jobs : public Catalog_Back_End_Test {
 protected:
  void keep_merged(const Value& retention, const std::string& version = "") {
    Object attrs{{"synthetic_backup_retention", retention}};
    if (!version.empty())
      attrs["synthesizer_version"] = version;
    ASSERT_TRUE(impl_->update_pool(pool_, Object{{"extended_attrs", attrs}})) << log_.dump();
  }

  // Sets `first`..`last` of one chain, in id order, one day apart.
  void add_chain(int first, int last, const std::string& agent = "backup.file",
                 const std::string& minor = "C:") {
    for (int i = first; i <= last; ++i) {
      Object set = backup_set(u(i), u(first), "2024-01-" + two_digits(i) + " 00:00:00", 1);
      set["agent"] = agent;
      set["minor_resource_id"] = minor;
      add_set(set);
    }
  }

  static std::string two_digits(int n) { return (n < 10 ? "0" : "") + std::to_string(n); }

  Object strategy(int catalog) {
    Object out;
    EXPECT_TRUE(impl_->get_merge_backup_strategy(pool_, u(catalog), out)) << log_.dump();
    return out;
  }

  long long add_merge_job(const std::string& state, int incarnation, int from, int to) {
    long long id = 0;
    EXPECT_TRUE(impl_->add_merge_backup_job(Object{{"type", "file"},
                                                   {"pool_uuid", pool_},
                                                   {"incarnation", u(incarnation)},
                                                   {"minor_resource_id", "C:"},
                                                   {"from_uuid", u(from)},
                                                   {"to_uuid", u(to)},
                                                   {"state", state},
                                                   {"creation_time", "2024-02-01 00:00:00"},
                                                   {"start_time", "2024-02-01 00:01:00"}},
                                            id))
        << log_.dump();
    return id;
  }

  void add_device(const std::string& pool, int uuid, const std::string& url) {
    ASSERT_TRUE(impl_->add_device(Object{{"uuid", u(uuid)}, {"url", url}, {"pool_uuid", pool}}));
  }

  void add_daemon_set(const std::string& pool, int uuid, const std::string& time,
                      const Array& files, const std::string& agent = "backupd", int state = 1) {
    Object set = backup_set(u(uuid), u(uuid), time, state, files);
    set["agent"] = agent;
    set["pool_uuid"] = pool;
    ASSERT_TRUE(impl_->add_catalog(pool, set)) << log_.dump();
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
  keep_merged(3);
  add_chain(1, 5);
  add_set(backup_set(u(6), u(1), "2024-01-06 00:00:00", 2));  // offline: not merged
  EXPECT_EQ(strategy(5), (Object{{"type", "file"},
                                 {"pool_uuid", pool_},
                                 {"incarnation", u(1)},
                                 {"from_uuid", u(1)},
                                 {"to_uuid", u(3)},
                                 {"synthesizer_version", ""}}));
}

TEST_P(Merge_Jobs, PendingOrRunningMergeOfTheGroupBlocksTheStrategy) {
  keep_merged(3);
  add_chain(1, 5);
  add_chain(10, 14);
  long long job = add_merge_job("pending", 1, 1, 3);
  EXPECT_TRUE(strategy(5).empty());
  // Another chain's group is not held back.
  EXPECT_EQ(strategy(14)["from_uuid"], u(10));
  ASSERT_TRUE(impl_->update_merge_backup_job(job, Object{{"state", "running"}}));
  EXPECT_TRUE(strategy(5).empty());
  ASSERT_TRUE(impl_->update_merge_backup_job(job, Object{{"state", "succeeded"}}));
  EXPECT_EQ(strategy(5)["to_uuid"], u(3));
}

TEST_P(Merge_Jobs, FileSetsOfSynthesizerTwoGroupByMinorResource) {
  add_chain(1, 3);
  add_chain(4, 5);
  // By chain, the second chain is too short to merge anything.
  keep_merged(3);
  EXPECT_TRUE(strategy(5).empty());
  keep_merged(3, "2.0");
  EXPECT_EQ(strategy(5), (Object{{"type", "file"},
                                 {"pool_uuid", pool_},
                                 {"incarnation", u(4)},
                                 {"from_uuid", u(1)},
                                 {"to_uuid", u(3)},
                                 {"synthesizer_version", "2.0"}}));
  // Other modules keep grouping by chain.
  for (int i = 1; i <= 5; ++i)
    ASSERT_TRUE(impl_->update_catalog(pool_, u(i), Object{{"agent", "backup.vmware.vm"}}));
  EXPECT_TRUE(strategy(5).empty());
}

TEST_P(Merge_Jobs, StrategyWithoutRetentionOrWithBadInput) {
  add_chain(1, 5);
  EXPECT_TRUE(strategy(5).empty());
  keep_merged(0);
  EXPECT_TRUE(strategy(5).empty());
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
  SQL broken("UPDATE storage_catalog_storage_pool SET extended_attrs = '[1]' WHERE uuid = :uuid");
  ASSERT_TRUE(broken.bind_uuid("uuid", pool_));
  ASSERT_TRUE(impl_->get_connection()->execute(broken));
  EXPECT_FALSE(impl_->get_merge_backup_strategy(pool_, u(4), out));
  EXPECT_TRUE(out.empty());
}

TEST_P(Merge_Jobs, MergeJobInfoNamesTheSetsItSpans) {
  add_chain(1, 5);
  ASSERT_TRUE(impl_->update_catalog(pool_, u(3), Object{{"uid", u(0xF03)}}));
  long long id = add_merge_job("running", 1, 1, 3);
  Object out;
  ASSERT_TRUE(impl_->get_merge_backup_job_info(pool_, id, out)) << log_.dump();
  EXPECT_EQ(out, (Object{{"id", id},
                         {"type", "file"},
                         {"pool_name", "pool 0a00"},
                         {"pool_uuid", pool_},
                         {"from_uuid", u(1)},
                         {"to_uuid", u(3)},
                         {"state", "running"},
                         {"creation_time", "2024-02-01 00:00:00"},
                         {"start_time", "2024-02-01 00:01:00"},
                         {"end_time", ""},
                         {"from_timepoint", "2024-01-01 00:00:00"},
                         {"from_name", "set 0001"},
                         {"to_timepoint", "2024-01-03 00:00:00"},
                         {"to_name", "set 0003"},
                         {"name", "set 0003"},
                         {"host_uuid", nullptr},
                         {"uid", u(0xF03)},
                         {"resource_uuid", u(0xB00)},
                         {"agent", "backup.file"}}));
  Object none;
  ASSERT_TRUE(impl_->get_merge_backup_job_info(pool_, id + 1, none));
  EXPECT_TRUE(none.empty());

  long long pending = add_merge_job("pending", 1, 4, 5);
  long long lost = add_merge_job("pending", 1, 4, 9);
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
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0]["id"], pending);
  EXPECT_EQ(rows[0]["to_name"], "set 0005");
}

TEST_P(Merge_Jobs, CatalogsBetweenTwoSetsOfOneGroup) {
  add_chain(1, 2);
  add_chain(10, 10);
  add_set(backup_set(u(3), u(1), "2024-01-03 00:00:00", 1));
  add_set(backup_set(u(4), u(1), "2024-01-04 00:00:00", 1));
  auto between = [&](int from, int to, const std::string& column) {
    Array rows;
    EXPECT_TRUE(impl_->get_catalogs(pool_, u(from), u(to), column, rows)) << log_.dump();
    std::vector<std::string> uuids;
    for (const Value& row : rows)
      uuids.push_back(row["uuid"].get<std::string>());
    return uuids;
  };
  EXPECT_EQ(between(2, 4, "incarnation"), (std::vector<std::string>{u(2), u(3), u(4)}));
  EXPECT_EQ(between(1, 4, "minor_resource_id"), (std::vector<std::string>{u(1), u(2), u(10)}));
  EXPECT_EQ(between(1, 4, "resource_uuid"),
            (std::vector<std::string>{u(1), u(2), u(10), u(3), u(4)}));
  Array rows;
  EXPECT_FALSE(impl_->get_catalogs(pool_, u(1), u(4), "1=1 OR name", rows));
  EXPECT_TRUE(
      log_.has("Failed to get catalogs: '1=1 OR name' is not a column of the catalog "
               "table."));
  EXPECT_FALSE(impl_->get_catalogs(pool_, u(9), u(4), "incarnation", rows));
  EXPECT_TRUE(log_.has("Failed to get catalog with '" + u(9) + "' in pool '" + pool_ + "'."));
  EXPECT_FALSE(impl_->get_catalogs(pool_, u(1), u(4), "uid", rows));
  EXPECT_TRUE(log_.has("Failed to get catalog '" + u(1) + "'."));
  EXPECT_FALSE(impl_->get_catalogs(u(0xEEE), u(1), u(4), "incarnation", rows));
  EXPECT_TRUE(rows.empty());
}

TEST_P(Merge_Jobs, TimePointsListTheDaemonsCatalogBackups) {
  const std::string other = u(0xA01);
  add_pool(other);
  add_device(pool_, 0xD00, "file:///D:/pools/a");
  add_device(other, 0xD01, "dedup://10.0.0.1:8080/ddp/pool%20b");
  add_daemon_set(pool_, 1, "2024-01-01 00:00:00", Array{"backupd\\20240101\\catalog", "x.dat"});
  add_daemon_set(pool_, 2, "2024-01-02 00:00:00", Array{"backupd\\20240102\\data"});
  add_daemon_set(other, 3, "2024-01-03 00:00:00", Array{"x.dat", "backupd\\20240103\\catalog"});
  add_daemon_set(other, 4, "2024-01-04 00:00:00", Array{"b\\catalog"}, "backup.file");
  add_daemon_set(other, 5, "2024-01-05 00:00:00", Array{"b\\catalog"}, "backupd", 2);

  long long total = -1;
  EXPECT_EQ(time_points({}, 0, -1, &total), (Array{Object{{"name", "set 0003"},
                                                          {"time_point", "2024-01-03 00:00:00"},
                                                          {"uri", "/ddp/pool b/backupd\\20240103"},
                                                          {"scheme", "dedup"}},
                                                   Object{{"name", "set 0001"},
                                                          {"time_point", "2024-01-01 00:00:00"},
                                                          {"uri", "/D:/pools/a/backupd\\20240101"},
                                                          {"scheme", "file"}}}));
  // The set without a catalog file counts but is not listed.
  EXPECT_EQ(total, 3);
  Array page = time_points({}, 1, 1, &total);
  ASSERT_EQ(page.size(), 0u);
  page = time_points({}, 2, 5, &total);
  ASSERT_EQ(page.size(), 1u);
  EXPECT_EQ(page[0]["name"], "set 0001");
  EXPECT_EQ(total, 3);
  EXPECT_EQ(time_points({{"name", "set 0001"}}, 0, -1, &total).size(), 1u);
  EXPECT_EQ(total, 1);
  EXPECT_EQ(time_points({{"uuid", u(3)}}, 0, -1, nullptr).size(), 1u);
}

TEST_P(Merge_Jobs, TimePointFiltersAreColumnsWithBoundValues) {
  add_device(pool_, 0xD00, "file:///D:/pools/a");
  add_daemon_set(pool_, 1, "2024-01-01 00:00:00", Array{"backupd\\20240101\\catalog"});
  Array out;
  long long total = -1;
  EXPECT_FALSE(impl_->get_disaster_restore_time_points({{"1=1 OR name", "x"}}, 0, -1, out, &total));
  EXPECT_TRUE(
      log_.has("Failed to get disaster restore time points: unknown filter key "
               "'1=1 OR name'."));
  EXPECT_FALSE(
      impl_->get_disaster_restore_time_points({{"uuid", "x' OR '1'='1"}}, 0, -1, out, nullptr));
  EXPECT_TRUE(time_points({{"name", "x' OR '1'='1"}}, 0, -1, &total).empty());
  EXPECT_EQ(total, 0);
  EXPECT_TRUE(out.empty());
}

TEST_P(Merge_Jobs, NoPoolsNoTimePoints) {
  long long total = -1;
  EXPECT_TRUE(time_points({}, 0, -1, &total).empty());
  EXPECT_EQ(total, 0);
}

TEST_P(Merge_Jobs, OldCatalogIsReadFromTheLegacyTable) {
  SQL legacy(
      "INSERT INTO catalog (uuid, instance_uuid, agent, backup_type, backup_time, base_dir, files, "
      "size, name, incarnation, state) VALUES (:uuid, :instance, 'backupd', 'full', "
      "'2020-01-01 00:00:00', :base_dir, '[\"a.dat\"]', 42, 'old set', 'inc-1', 1)");
  legacy.bind("base_dir", "D:\\old");
  ASSERT_TRUE(legacy.bind_uuid("uuid", u(7)));
  ASSERT_TRUE(legacy.bind_uuid("instance", u(8)));
  ASSERT_TRUE(impl_->get_connection()->execute(legacy));
  Object out;
  ASSERT_TRUE(impl_->get_old_catalog(pool_, u(7), out)) << log_.dump();
  EXPECT_EQ(out, (Object{{"uuid", u(7)},
                         {"instance_uuid", u(8)},
                         {"agent", "backupd"},
                         {"backup_type", "full"},
                         {"backup_time", "2020-01-01 00:00:00"},
                         {"base_dir", "D:\\old"},
                         {"files", Array{"a.dat"}},
                         {"size", 42},
                         {"name", "old set"},
                         {"incarnation_str", "inc-1"},
                         {"state", 1}}));
  Object none;
  EXPECT_FALSE(impl_->get_old_catalog(pool_, u(9), none));
  EXPECT_FALSE(impl_->get_old_catalog(u(0xEEE), u(7), none));
  EXPECT_TRUE(none.empty());
}

SCAT_INSTANTIATE_ENGINES(Merge_Jobs);

}  // namespace
