#include <gtest/gtest.h>

#include "platform/sql/sql.h"
#include "tests/storaged/storage_catalog/catalog_back_end_test.h"

using database::sql::Select_SQL;

namespace {

class Records : public Catalog_Back_End_Test {
 protected:
  // uuids of `rows` in order.
  static std::vector<std::string> uuids(const Array& rows) {
    std::vector<std::string> out;
    for (const Value& row : rows)
      out.push_back(row.value("uuid", ""));
    return out;
  }

  std::vector<std::string> query_uuids(const Object& filter, bool online_only = false) {
    Array rows;
    EXPECT_TRUE(
        impl_->query_catalog(pool_, filter, "id", true, 0, -1, rows, nullptr, false, online_only))
        << log_.dump();
    return uuids(rows);
  }

  Value detailed(const std::string& uuid) {
    Array rows;
    EXPECT_TRUE(impl_->query_catalog(pool_, Object{{"uuid", uuid}}, "", true, 0, -1, rows, nullptr,
                                     true, false))
        << log_.dump();
    return rows.empty() ? Value() : rows[0];
  }

  void add_relation_and_job(const std::string& set) {
    ASSERT_TRUE(impl_->add_replicate(
        Object{{"uuid", u(0xC01)}, {"source_uuid", pool_}, {"target_uuid", u(0xA01)}}));
    long long id = 0;
    ASSERT_TRUE(impl_->add_replicate_job(Object{{"type", "replicate"},
                                                {"catalog_uuid", set},
                                                {"source_pool_uuid", pool_},
                                                {"target_pool_uuid", u(0xA01)},
                                                {"state", "succeeded"}},
                                         id));
  }
};

TEST_P(Records, AddingAPoolMakesItsCatalogTableAndUsageRow) {
  add_pool(u(0xA02));
  EXPECT_TRUE(impl_->is_known_table(u(0xA02)));
  EXPECT_TRUE(impl_->get_connection()->table_exists(u(0xA02)));
  Array usage = raw_rows("storage_catalog_pool_usage");
  ASSERT_EQ(usage.size(), 2u);
  EXPECT_EQ(usage[1]["pool_uuid"], u(0xA02));
  // A second pool of the same uuid is refused; its table stays.
  EXPECT_FALSE(impl_->add_pool(Object{{"uuid", u(0xA02)}}));
  EXPECT_TRUE(log_.has("Failed to execute insert SQL."));
  EXPECT_EQ(raw_rows("storage_catalog_storage_pool").size(), 2u);
}

TEST_P(Records, BackupSetsRoundTripWithPagingAndTotals) {
  for (int i = 1; i <= 5; ++i)
    add_set(backup_set(u(i), u(1), "2024-01-0" + std::to_string(6 - i) + " 10:00:00", 1,
                       Array{"C:\\data\\set" + std::to_string(i) + ".vhd"}));
  Array rows;
  long long total = -1;
  ASSERT_TRUE(
      impl_->query_catalog(pool_, Object(), "backup_time", true, 1, 2, rows, &total, false, false));
  EXPECT_EQ(total, 5);
  EXPECT_EQ(uuids(rows), (std::vector<std::string>{u(4), u(3)}));
  ASSERT_TRUE(impl_->query_catalog(pool_, Object(), "backup_time", false, 0, 2, rows, &total, false,
                                   false));
  EXPECT_EQ(uuids(rows), (std::vector<std::string>{u(1), u(2)}));

  Value set = stored_set(u(2));
  EXPECT_EQ(set["incarnation"], u(1));
  EXPECT_EQ(set["resource_uuid"], u(0xB00));
  EXPECT_EQ(set["files"], Array{"C:\\data\\set2.vhd"});
  EXPECT_EQ(set["extended_attrs"], Object());
  EXPECT_EQ(set["state"], 1);
  EXPECT_EQ(set["minor_resource_id"], "");  // written even when the record lacks it

  ASSERT_TRUE(impl_->update_catalog(pool_, u(2), Object{{"name", "renamed"}, {"size", 7}}));
  EXPECT_EQ(stored_set(u(2))["name"], "renamed");
  EXPECT_EQ(stored_set(u(2))["size"], 7);

  // Adding a set under a stored uuid replaces it.
  add_set(backup_set(u(2), u(1), "2024-02-01 00:00:00", 2));
  EXPECT_EQ(stored_set(u(2))["backup_time"], "2024-02-01 00:00:00");
  ASSERT_TRUE(impl_->query_catalog(pool_, Object(), "", true, 0, -1, rows, &total, false, false));
  EXPECT_EQ(total, 5);
}

TEST_P(Records, SharedRecordsRoundTripByUuid) {
  using I = Storage_Catalog_Manager_Database_Impl;
  struct Kind {
    const char* group_key;  // a column to filter on
    bool (I::*add)(const Object&);
    bool (I::*update)(const std::string&, const Object&);
    bool (I::*remove)(const std::string&);
    bool (I::*query)(const Object&, long long, long long, Array&, long long*);
  };
  const Kind kinds[] = {
      {"pool_uuid", &I::add_device, &I::update_device, &I::remove_device, &I::query_device},
      {"name", &I::add_pool, &I::update_pool, &I::remove_pool, &I::query_pool},
      {"source_uuid", &I::add_replicate, &I::update_replicate, &I::remove_replicate,
       &I::query_replicate},
  };
  int n = 0x100;
  for (const Kind& kind : kinds) {
    SCOPED_TRACE(kind.group_key);
    const std::string group = u(0xD00 + n);
    std::vector<std::string> added;
    for (int i = 0; i < 3; ++i) {
      added.push_back(u(++n));
      // Columns a table lacks are not written.
      Object record{{"uuid", added.back()},
                    {kind.group_key, group},
                    {"target_uuid", u(0xA01)},
                    {"extended_attrs", Object{{"i", i}}}};
      ASSERT_TRUE((impl_.get()->*kind.add)(record)) << log_.dump();
    }
    const Object filter{{kind.group_key, group}};
    Array rows;
    long long total = 0;
    ASSERT_TRUE((impl_.get()->*kind.query)(filter, 1, 1, rows, &total)) << log_.dump();
    EXPECT_EQ(total, 3);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0]["uuid"], added[1]);
    EXPECT_EQ(rows[0][kind.group_key], group);

    ASSERT_TRUE(
        (impl_.get()->*kind.update)(added[1], Object{{"extended_attrs", Object{{"j", 2}}}}));
    ASSERT_TRUE((impl_.get()->*kind.remove)(added[0])) << log_.dump();
    ASSERT_TRUE((impl_.get()->*kind.query)(filter, 0, -1, rows, &total));
    EXPECT_EQ(total, 2);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0]["uuid"], added[1]);
    EXPECT_EQ(rows[0]["extended_attrs"], (Object{{"i", 1}, {"j", 2}}));
    EXPECT_EQ(rows[1]["extended_attrs"], (Object{{"i", 2}}));
  }
}

TEST_P(Records, JobsRoundTripByTheirIds) {
  long long first = 0, second = 0, third = 0;
  Object job{{"type", "replicate"},
             {"catalog_uuid", u(1)},
             {"source_pool_uuid", pool_},
             {"target_pool_uuid", u(2)},
             {"state", "pending"},
             {"size", 10},
             {"retry", 3},
             {"creation_time", "2024-01-01 00:00:00"}};
  ASSERT_TRUE(impl_->add_replicate_job(job, first)) << log_.dump();
  ASSERT_TRUE(impl_->add_replicate_job(job, second));
  EXPECT_GT(second, first);
  ASSERT_TRUE(impl_->update_replicate_job(second, Object{{"state", "running"}, {"progress", 50}}));
  Array rows;
  long long total = 0;
  ASSERT_TRUE(impl_->query_replicate_job(Object{{"state", "running"}}, 0, -1, rows, &total));
  ASSERT_EQ(total, 1);
  EXPECT_EQ(rows[0]["id"], second);
  EXPECT_EQ(rows[0]["catalog_uuid"], u(1));
  EXPECT_EQ(rows[0]["progress"], 50);
  ASSERT_TRUE(impl_->remove_replicate_job(first));
  ASSERT_TRUE(impl_->query_replicate_job(Object(), 0, -1, rows, &total));
  EXPECT_EQ(total, 1);

  Object merge{{"type", "file"},           {"pool_uuid", pool_},        {"incarnation", u(1)},
               {"from_uuid", u(1)},        {"to_uuid", u(3)},           {"state", "pending"},
               {"minor_resource_id", "m"}, {"synthesizer_version", "2"}};
  ASSERT_TRUE(impl_->add_merge_backup_job(merge, first)) << log_.dump();
  ASSERT_TRUE(impl_->add_merge_backup_job(merge, second));
  ASSERT_TRUE(impl_->add_merge_backup_job(merge, third));
  EXPECT_LT(first, second);
  EXPECT_LT(second, third);
  ASSERT_TRUE(impl_->update_merge_backup_job(third, Object{{"state", "succeeded"}}));
  ASSERT_TRUE(impl_->query_merge_backup_job(Object{{"state", "pending"}}, 1, 5, rows, &total));
  EXPECT_EQ(total, 2);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0]["id"], second);
  EXPECT_EQ(rows[0]["to_uuid"], u(3));
  ASSERT_TRUE(impl_->remove_merge_backup_job(second));
  ASSERT_TRUE(impl_->query_merge_backup_job(Object(), 0, -1, rows, &total));
  EXPECT_EQ(total, 2);
  // A job update needs its id.
  EXPECT_FALSE(impl_->update_merge_backup_job(0, Object{{"state", "failed"}}));
}

TEST_P(Records, UpdatesMergeExtendedAttrs) {
  ASSERT_TRUE(impl_->add_device(Object{
      {"uuid", u(1)}, {"url", "file:///d"}, {"extended_attrs", Object{{"a", 1}, {"b", 2}}}}));
  ASSERT_TRUE(impl_->update_device(u(1), Object{{"extended_attrs", Object{{"b", 3}, {"c", 4}}}}));
  Array rows;
  ASSERT_TRUE(impl_->query_device(Object{{"uuid", u(1)}}, 0, -1, rows, nullptr));
  EXPECT_EQ(rows[0]["extended_attrs"], (Object{{"a", 1}, {"b", 3}, {"c", 4}}));
  EXPECT_EQ(rows[0]["url"], "file:///d");

  long long id = 0;
  ASSERT_TRUE(impl_->add_merge_backup_job(
      Object{{"type", "file"}, {"extended_attrs", Object{{"a", 1}, {"b", 2}}}}, id));
  ASSERT_TRUE(
      impl_->update_merge_backup_job(id, Object{{"extended_attrs", Object{{"b", 3}, {"c", 4}}}}));
  ASSERT_TRUE(impl_->query_merge_backup_job(Object(), 0, -1, rows, nullptr));
  EXPECT_EQ(rows[0]["extended_attrs"], (Object{{"a", 1}, {"b", 3}, {"c", 4}}));

  // With nothing stored to merge into, the update fails and adds nothing.
  EXPECT_FALSE(impl_->update_device(u(9), Object{{"extended_attrs", Object{{"x", 1}}}}));
  EXPECT_TRUE(log_.has("Failed to get pool with uuid '" + u(9) + "' or id '0'"));
  EXPECT_EQ(raw_rows("storage_catalog_device").size(), 1u);
}

TEST_P(Records, NullExtendedAttrsKeepTheStoredOnes) {
  Object set = backup_set(u(1), u(1), "2024-01-01 00:00:00", 1 | 16);
  set["extended_attrs"] = Object{{"snapshot_id", "s1"}};
  add_set(set);
  ASSERT_TRUE(
      impl_->update_catalog(pool_, u(1), Object{{"name", "renamed"}, {"extended_attrs", nullptr}}))
      << log_.dump();
  EXPECT_EQ(stored_set(u(1))["name"], "renamed");
  EXPECT_EQ(stored_set(u(1))["extended_attrs"], (Object{{"snapshot_id", "s1"}}));

  long long id = 0;
  ASSERT_TRUE(impl_->add_replicate_job(
      Object{{"type", "replicate"}, {"extended_attrs", Object{{"a", 1}}}}, id));
  ASSERT_TRUE(impl_->update_replicate_job(id, Object{{"extended_attrs", nullptr}})) << log_.dump();
  Array rows;
  ASSERT_TRUE(impl_->query_replicate_job(Object(), 0, -1, rows, nullptr));
  EXPECT_EQ(rows[0]["extended_attrs"], (Object{{"a", 1}}));
}

TEST_P(Records, StateNamesFilterBackupSets) {
  add_set(backup_set(u(1), u(1), "2024-01-01 00:00:00", 1));       // online
  add_set(backup_set(u(2), u(1), "2024-01-02 00:00:00", 1 | 8));   // online, expired
  add_set(backup_set(u(3), u(1), "2024-01-03 00:00:00", 2));       // offline
  add_set(backup_set(u(4), u(1), "2024-01-04 00:00:00", 1 | 16));  // online, replicated
  EXPECT_EQ(query_uuids(Object{{"states", "online"}}),
            (std::vector<std::string>{u(1), u(2), u(4)}));
  EXPECT_EQ(query_uuids(Object{{"states", "online,expired"}}), (std::vector<std::string>{u(2)}));
  EXPECT_EQ(query_uuids(Object{{"not_states", "expired,replicated"}}),
            (std::vector<std::string>{u(1), u(3)}));
  EXPECT_EQ(query_uuids(Object{{"states", "online"}, {"not_states", "expired"}}),
            (std::vector<std::string>{u(1), u(4)}));
  // Online-only keeps online sets that are not offline, whatever the
  // filter's state names say.
  EXPECT_EQ(query_uuids(Object{{"states", "offline"}}, true),
            (std::vector<std::string>{u(1), u(2), u(4)}));
}

TEST_P(Records, CatalogFilterKeysSelectBackupSets) {
  add_set(backup_set(u(1), u(1), "2024-01-01 00:00:00", 1));
  add_set(backup_set(u(2), u(1), "2024-01-02 00:00:00", 1));
  Object other = backup_set(u(3), u(3), "2024-01-03 00:00:00", 1);
  other["backup_type"] = "differential";
  other["agent"] = "backup.x.vm";
  add_set(other);
  EXPECT_EQ(query_uuids(Object{{"backup_type", "full,differential"}}),
            (std::vector<std::string>{u(1), u(3)}));
  EXPECT_EQ(query_uuids(Object{{"incarnation", u(1)},
                               {"backup_time", Object{{"gt", "2024-01-01 12:00:00"}}}}),
            (std::vector<std::string>{u(2)}));
  EXPECT_EQ(query_uuids(Object{{"agent", "backup.x.vm"}}), (std::vector<std::string>{u(3)}));
  // Keys that are not catalog filter keys are not conditions.
  EXPECT_EQ(query_uuids(Object{{"limit", 1}}).size(), 3u);
}

TEST_P(Records, DetailDropsReplicatedWithoutAJobBehindIt) {
  add_set(backup_set(u(1), u(1), "2024-01-01 00:00:00", 1 | 16));
  add_set(backup_set(u(2), u(2), "2024-01-02 00:00:00", 1 | 16));
  Object snapshot = backup_set(u(3), u(3), "2024-01-03 00:00:00", 1 | 16);
  snapshot["extended_attrs"] = Object{{"snapshot_id", "s1"}};
  add_set(snapshot);
  add_relation_and_job(u(2));

  EXPECT_EQ(detailed(u(1))["state"], Array{"online"});
  EXPECT_EQ(detailed(u(2))["state"], (Array{"online", "replicated"}));
  EXPECT_EQ(detailed(u(3))["state"], (Array{"online", "replicated"}));
  // Without detail the stored bits come back as they are.
  EXPECT_EQ(stored_set(u(1))["state"], 17);
  EXPECT_EQ(detailed(u(1))["restorable"], true);
}

TEST_P(Records, DetailTellsWhetherTheChainCanBeRestored) {
  add_set(backup_set(u(1), u(1), "2024-01-01 00:00:00", 1));
  add_set(backup_set(u(2), u(1), "2024-01-02 00:00:00", 2));  // offline
  add_set(backup_set(u(3), u(1), "2024-01-03 00:00:00", 1));
  add_set(backup_set(u(4), u(4), "2024-01-04 00:00:00", 1 | 2));  // online and offline
  EXPECT_EQ(detailed(u(1))["restorable"], true);
  EXPECT_EQ(detailed(u(2))["restorable"], false);
  EXPECT_EQ(detailed(u(3))["restorable"], false);
  EXPECT_EQ(detailed(u(4))["restorable"], false);
  EXPECT_EQ(detailed(u(4))["state"], (Array{"online", "offline"}));
}

TEST_P(Records, CallerStatementsRunOnTheirTables) {
  add_set(backup_set(u(1), u(1), "2024-01-01 00:00:00", 1));
  add_set(backup_set(u(2), u(1), "2024-01-02 00:00:00", 2));
  Select_SQL sql;
  sql.select("uuid, state, files").where().and_filter()->add_key_uuid_eq_item("uuid", u(2));
  Array rows;
  long long total = 0;
  ASSERT_TRUE(impl_->query_catalog(pool_, sql, rows, &total)) << log_.dump();
  EXPECT_EQ(total, 1);
  EXPECT_EQ(rows[0], (Object{{"uuid", u(2)}, {"state", 2}, {"files", Array()}}));

  Select_SQL pools;
  pools.table("storage_catalog_storage_pool").select("uuid, name").limit(1);
  ASSERT_TRUE(impl_->query(pools, rows, &total));
  EXPECT_EQ(total, 1);
  EXPECT_EQ(rows[0]["uuid"], pool_);
}

TEST_P(Records, RemovingAReplicateKeepsItsSucceededJobs) {
  ASSERT_TRUE(impl_->add_replicate(
      Object{{"uuid", u(0xC01)}, {"source_uuid", pool_}, {"target_uuid", u(0xA01)}}));
  ASSERT_TRUE(impl_->add_replicate(
      Object{{"uuid", u(0xC02)}, {"source_uuid", pool_}, {"target_uuid", u(0xA02)}}));
  for (const char* state : {"pending", "running", "succeeded", "failed"}) {
    for (int target : {0xA01, 0xA02}) {
      long long id;
      ASSERT_TRUE(impl_->add_replicate_job(Object{{"type", "replicate"},
                                                  {"source_pool_uuid", pool_},
                                                  {"target_pool_uuid", u(target)},
                                                  {"state", state}},
                                           id));
    }
  }
  ASSERT_TRUE(impl_->remove_replicate(u(0xC01))) << log_.dump();
  Array rows;
  ASSERT_TRUE(impl_->query_replicate(Object(), 0, -1, rows, nullptr));
  EXPECT_EQ(rows.size(), 1u);
  ASSERT_TRUE(
      impl_->query_replicate_job(Object{{"target_pool_uuid", u(0xA01)}}, 0, -1, rows, nullptr));
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0]["state"], "succeeded");
  ASSERT_TRUE(
      impl_->query_replicate_job(Object{{"target_pool_uuid", u(0xA02)}}, 0, -1, rows, nullptr));
  EXPECT_EQ(rows.size(), 4u);

  EXPECT_FALSE(impl_->remove_replicate(u(0xC01)));
  EXPECT_TRUE(log_.has("Failed to query replicate by " + u(0xC01)));
}

// ---------------------------------------------------------------------------
// Bad input

TEST_P(Records, AnUnknownPoolIsRefusedWithoutTouchingAnything) {
  const std::string unknown = u(0xEEE);
  Array rows;
  std::set<std::string> found;
  Catalog_State state;
  EXPECT_FALSE(impl_->add_catalog(unknown, backup_set(u(1), u(1), "2024-01-01", 1)));
  EXPECT_FALSE(
      impl_->query_catalog(unknown, Object(), "", true, 0, -1, rows, nullptr, true, false));
  EXPECT_FALSE(impl_->update_catalog(unknown, u(1), Object{{"name", "x"}}));
  EXPECT_FALSE(impl_->get_state(unknown, u(1), state));
  EXPECT_FALSE(impl_->set_state(unknown, u(1), CST_EXPIRED));
  EXPECT_FALSE(impl_->remove_catalog(unknown, u(1)));
  EXPECT_FALSE(impl_->remove_catalogs(unknown, Array{u(1)}, rows));
  EXPECT_FALSE(impl_->set_state(unknown, Array{"a.vhd"}, CST_EXPIRED));
  EXPECT_EQ(log_.count("Failed to find catalog table of pool '" + unknown + "'."), 8);
  EXPECT_FALSE(impl_->get_connection()->table_exists(unknown));
  EXPECT_TRUE(take_notices().empty());

  // A name that could not be a pool never reaches the statement.
  EXPECT_FALSE(impl_->get_uuids_with_file("x` WHERE 1=1; --", "a", rows));
  EXPECT_TRUE(log_.has("Failed to get uuids with file: 'x` WHERE 1=1; --' is not a pool uuid."));
  EXPECT_FALSE(impl_->get_uuids_with_files(unknown, Array{"a"}, found));
  EXPECT_FALSE(impl_->query_catalog("", Object(), "", true, 0, -1, rows, nullptr, false, false));
  EXPECT_TRUE(log_.contains(", name is empty:\n"));
}

TEST_P(Records, MistypedMembersAreRefusedAndNothingChanges) {
  add_set(backup_set(u(1), u(1), "2024-01-01 00:00:00", 1));
  Object bad = backup_set(u(2), u(1), "2024-01-02 00:00:00", 1);
  bad["size"] = "big";
  EXPECT_FALSE(impl_->add_catalog(pool_, bad));
  EXPECT_TRUE(log_.contains("'size' expects an integer, got string"));
  EXPECT_FALSE(impl_->update_catalog(pool_, u(1), Object{{"incarnation", "not-a-uuid"}}));
  EXPECT_FALSE(impl_->update_catalog(pool_, u(1), Object{{"extended_attrs", Array{1}}}));
  EXPECT_FALSE(impl_->update_catalog(pool_, "short", Object{{"name", "x"}}));
  EXPECT_EQ(raw_rows(pool_).size(), 1u);
  EXPECT_EQ(stored_set(u(1))["name"], "set 0001");

  EXPECT_FALSE(impl_->add_pool(Object{{"name", "no uuid"}}));
  EXPECT_TRUE(log_.has("Invalid data, can not find uuid."));
  EXPECT_FALSE(impl_->add_pool(Object{{"uuid", u(0xA05)}, {"quoted", "two"}}));
  EXPECT_FALSE(impl_->is_known_table(u(0xA05)));
  EXPECT_FALSE(impl_->get_connection()->table_exists(u(0xA05)));
  const std::string upper = "ABCDEF00000000000000000000000A06";  // a uuid, not a table name
  EXPECT_FALSE(impl_->add_pool(Object{{"uuid", upper}}));
  EXPECT_TRUE(log_.has("Failed to init db catalog schema for " + upper + "."));
  EXPECT_FALSE(impl_->add_pool(Object{{"uuid", "../x"}}));

  EXPECT_FALSE(impl_->add_device(Object{{"uuid", 42}, {"url", "file:///d"}}));
  long long id = -1;
  EXPECT_FALSE(impl_->add_replicate_job(Object{{"type", "replicate"}, {"retry", "often"}}, id));
  EXPECT_EQ(id, -1);
  EXPECT_EQ(raw_rows("storage_catalog_storage_pool").size(), 1u);
  EXPECT_TRUE(raw_rows("storage_catalog_device").empty());
  EXPECT_TRUE(raw_rows("storage_catalog_pool_replicate_job").empty());
}

TEST_P(Records, HostileOrderColumnsAndFiltersAreRefused) {
  add_set(backup_set(u(1), u(1), "2024-01-01 00:00:00", 1));
  Array rows{"kept"};
  long long total = 42;
  EXPECT_FALSE(impl_->query_catalog(pool_, Object(), "id; DROP TABLE `" + pool_ + "`", true, 0, -1,
                                    rows, &total, false, false));
  EXPECT_TRUE(log_.contains("is not a column to order by"));
  EXPECT_FALSE(impl_->query_catalog(pool_, Object{{"size", "1 OR 1=1"}}, "", true, 0, -1, rows,
                                    &total, false, false));
  EXPECT_FALSE(impl_->query_catalog(pool_, Object{{"uuid", "zz"}}, "", true, 0, -1, rows, &total,
                                    false, false));
  EXPECT_FALSE(impl_->query_catalog(pool_, Object{{"states", Array{"online"}}}, "", true, 0, -1,
                                    rows, &total, false, false));
  EXPECT_EQ(log_.count("Failed to parse Select_SQL for query catalog."), 3);
  EXPECT_FALSE(impl_->query_device(Object{{"url = url OR 1", 1}}, 0, -1, rows, &total));
  EXPECT_EQ(rows, Array{"kept"});
  EXPECT_EQ(total, 42);
  EXPECT_EQ(raw_rows(pool_).size(), 1u);
}

TEST_P(Records, MalformedStoredJsonFailsTheReadAndTheMerge) {
  add_set(backup_set(u(1), u(1), "2024-01-01 00:00:00", 1));
  add_set(backup_set(u(2), u(1), "2024-01-02 00:00:00", 1));
  ASSERT_TRUE(impl_->get_connection()->execute("UPDATE `" + pool_ +
                                               "` SET files = '[\"a.vhd\"', extended_attrs = "
                                               "'{oops' WHERE uuid = x'" +
                                               u(2) + "';"));
  Array rows;
  EXPECT_FALSE(impl_->query_catalog(pool_, Object(), "", true, 0, -1, rows, nullptr, false, false));
  EXPECT_TRUE(log_.has("Failed to load [\"a.vhd\""));
  EXPECT_TRUE(log_.has("Failed to query '" + pool_ + "' catalog"));
  EXPECT_TRUE(rows.empty());

  EXPECT_FALSE(impl_->update_catalog(pool_, u(2),
                                     Object{{"name", "x"}, {"extended_attrs", Object{{"a", 1}}}}));
  EXPECT_TRUE(log_.has("Failed to load {oops"));
  Array raw = raw_rows(pool_);
  EXPECT_EQ(raw[1]["extended_attrs"], "{oops");
  EXPECT_EQ(raw[1]["name"], "set 0002");
  // The healthy set still reads.
  EXPECT_EQ(stored_set(u(1))["uuid"], u(1));
}

SCAT_INSTANTIATE_ENGINES(Records);

}  // namespace
