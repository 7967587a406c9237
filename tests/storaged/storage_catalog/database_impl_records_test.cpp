#include <gtest/gtest.h>

#include "tests/storaged/storage_catalog/catalog_back_end_test.h"

using I = Storage_Catalog_Manager_Database_Impl;
using Uuids = std::vector<std::string>;

namespace {

class Records : public Catalog_Back_End_Test {
 protected:
  // Every backup set `filter` selects, by `order`; false when the query fails.
  bool query(Array& rows, const Object& filter = Object(), long long* total = nullptr,
             bool detail = false, bool online_only = false, const std::string& order = "id") {
    return impl_->query_catalog(pool_, filter, order, true, 0, -1, rows, total, detail,
                                online_only);
  }
  Array all(const Object& filter = Object(), bool detail = false, bool online_only = false) {
    Array rows;
    EXPECT_TRUE(query(rows, filter, nullptr, detail, online_only)) << log_.dump();
    return rows;
  }
};

TEST_P(Records, APoolComesWithItsCatalogTableAndUsageRowOrNotAtAll) {
  add_pool(u(0xA02));
  EXPECT_TRUE(impl_->get_connection()->table_exists(u(0xA02)));
  Array usage = raw_rows("storage_catalog_pool_usage");
  ASSERT_EQ(usage.size(), 2u);
  EXPECT_EQ(usage[1]["pool_uuid"], u(0xA02));

  EXPECT_FALSE(impl_->add_pool(Object{{"uuid", u(0xA02)}}));
  EXPECT_TRUE(log_.has("Failed to execute insert SQL."));
  EXPECT_FALSE(impl_->add_pool(Object{{"name", "no uuid"}}));
  EXPECT_TRUE(log_.has("Invalid data, can not find uuid."));
  // A mistyped member is found before the table is made.
  EXPECT_FALSE(impl_->add_pool(Object{{"uuid", u(0xA05)}, {"quoted", "two"}}));
  EXPECT_FALSE(impl_->get_connection()->table_exists(u(0xA05)));
  EXPECT_EQ(raw_rows("storage_catalog_storage_pool").size(), 2u);
}

TEST_P(Records, BackupSetsRoundTripWithPagingAndTotals) {
  for (int i = 1; i <= 5; ++i)
    add(i, 1, "2024-01-0" + std::to_string(6 - i) + " 10:00:00", 1,
        Object{{"files", Array{"C:\\data\\set" + std::to_string(i) + ".vhd"}}});
  Array rows;
  long long total = -1;
  ASSERT_TRUE(
      impl_->query_catalog(pool_, Object(), "backup_time", true, 1, 2, rows, &total, false, false));
  EXPECT_EQ(total, 5);
  EXPECT_EQ(uuids(rows), (Uuids{u(4), u(3)}));
  ASSERT_TRUE(impl_->query_catalog(pool_, Object(), "backup_time", false, 0, 2, rows, &total, false,
                                   false));
  EXPECT_EQ(uuids(rows), (Uuids{u(1), u(2)}));

  ASSERT_TRUE(impl_->update_catalog(pool_, u(2), Object{{"name", "renamed"}, {"size", 7}}));
  Object expected = backup_set(u(2), u(1), "2024-01-04 10:00:00", 1, Array{"C:\\data\\set2.vhd"});
  expected["name"] = "renamed";
  expected["size"] = 7;
  expected["minor_resource_id"] = "";  // written even when the record lacks it
  Value stored = stored_set(u(2));
  for (const auto& member : expected)
    EXPECT_EQ(stored[member.first], member.second) << member.first;
}

// Devices, pools and replicates, keyed by uuid; updates merge extended_attrs.
TEST_P(Records, SharedRecordsRoundTripByUuid) {
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
    Uuids added;
    for (int i = 0; i < 3; ++i) {
      added.push_back(u(++n));
      // Columns a table lacks are not written.
      Object record{{"uuid", added.back()},
                    {kind.group_key, group},
                    {"target_uuid", u(0xA01)},
                    {"extended_attrs", Object{{"a", 1}, {"b", 2}}}};
      ASSERT_TRUE((impl_.get()->*kind.add)(record)) << log_.dump();
    }
    const Object filter{{kind.group_key, group}};
    Array rows;
    long long total = 0;
    ASSERT_TRUE((impl_.get()->*kind.query)(filter, 1, 1, rows, &total)) << log_.dump();
    EXPECT_EQ(total, 3);
    EXPECT_EQ(uuids(rows), Uuids{added[1]});

    ASSERT_TRUE((impl_.get()->*kind.update)(
        added[1], Object{{"extended_attrs", Object{{"b", 3}, {"c", 4}}}}));
    ASSERT_TRUE((impl_.get()->*kind.remove)(added[0])) << log_.dump();
    ASSERT_TRUE((impl_.get()->*kind.query)(filter, 0, -1, rows, &total));
    EXPECT_EQ(total, 2);
    ASSERT_EQ(uuids(rows), (Uuids{added[1], added[2]}));
    EXPECT_EQ(rows[0]["extended_attrs"], (Object{{"a", 1}, {"b", 3}, {"c", 4}}));
    EXPECT_EQ(rows[0][kind.group_key], group);
  }
  // With nothing stored to merge into, the update fails and adds nothing.
  EXPECT_FALSE(impl_->update_device(u(9), Object{{"extended_attrs", Object{{"x", 1}}}}));
  EXPECT_TRUE(log_.has("Failed to get pool with uuid '" + u(9) + "' or id '0'"));
  EXPECT_EQ(raw_rows("storage_catalog_device").size(), 2u);
}

TEST_P(Records, JobsRoundTripByTheirIds) {
  struct Kind {
    bool (I::*add)(const Object&, long long&);
    bool (I::*update)(long long, const Object&);
    bool (I::*remove)(long long);
    bool (I::*query)(const Object&, long long, long long, Array&, long long*);
  };
  const Kind kinds[] = {{&I::add_replicate_job, &I::update_replicate_job, &I::remove_replicate_job,
                         &I::query_replicate_job},
                        {&I::add_merge_backup_job, &I::update_merge_backup_job,
                         &I::remove_merge_backup_job, &I::query_merge_backup_job}};
  for (const Kind& kind : kinds) {
    long long ids[3] = {0, 0, 0};
    for (long long& id : ids)
      ASSERT_TRUE((impl_.get()->*kind.add)(
          Object{{"type", "file"}, {"state", "pending"}, {"source_pool_uuid", pool_}}, id))
          << log_.dump();
    ASSERT_TRUE((impl_.get()->*kind.update)(ids[1], Object{{"state", "running"}}));
    ASSERT_TRUE((impl_.get()->*kind.remove)(ids[0]));
    EXPECT_FALSE((impl_.get()->*kind.update)(0, Object{{"state", "failed"}}));  // needs its id
    Array rows;
    long long total = 0;
    ASSERT_TRUE((impl_.get()->*kind.query)(Object(), 1, 5, rows, &total));
    EXPECT_EQ(total, 2);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0]["id"], ids[2]);
    ASSERT_TRUE((impl_.get()->*kind.query)(Object{{"state", "running"}}, 0, -1, rows, &total));
    ASSERT_EQ(total, 1);
    EXPECT_EQ(rows[0]["id"], ids[1]);
  }
}

TEST_P(Records, NullExtendedAttrsKeepTheStoredOnes) {
  add(1, 1, "2024-01-01 00:00:00", 1, Object{{"extended_attrs", Object{{"snapshot_id", "s"}}}});
  ASSERT_TRUE(
      impl_->update_catalog(pool_, u(1), Object{{"name", "renamed"}, {"extended_attrs", nullptr}}))
      << log_.dump();
  EXPECT_EQ(stored_set(u(1))["name"], "renamed");
  EXPECT_EQ(stored_set(u(1))["extended_attrs"], (Object{{"snapshot_id", "s"}}));
}

TEST_P(Records, CatalogFiltersSelectBackupSets) {
  add(1, 1, "2024-01-01 00:00:00", 1);
  add(2, 1, "2024-01-02 00:00:00", 1 | 8);
  add(3, 3, "2024-01-03 00:00:00", 2, Object{{"backup_type", "differential"}});
  add(4, 1, "2024-01-04 00:00:00", 1 | 16);
  const std::tuple<Object, bool, Uuids> cases[] = {
      {Object{{"states", "online"}}, false, {u(1), u(2), u(4)}},
      {Object{{"states", "online,expired"}}, false, {u(2)}},
      {Object{{"not_states", "expired,replicated"}}, false, {u(1), u(3)}},
      {Object{{"states", "online"}, {"not_states", "expired"}}, false, {u(1), u(4)}},
      // Online-only overrides the filter's state names.
      {Object{{"states", "offline"}}, true, {u(1), u(2), u(4)}},
      {Object{{"backup_type", "full,differential"}}, false, {u(1), u(3)}},
      {Object{{"incarnation", u(1)}, {"backup_time", Object{{"gt", "2024-01-01 12:00:00"}}}},
       false,
       {u(2), u(4)}},
      {Object{{"limit", 1}}, false, {u(1), u(2), u(3), u(4)}},  // not a filter key
  };
  for (const auto& [filter, online_only, expected] : cases)
    EXPECT_EQ(uuids(all(filter, false, online_only)), expected) << Value(filter).dump();
}

TEST_P(Records, DetailShapesStatesAndRestorability) {
  add(1, 1, "2024-01-01 00:00:00", 1 | 16);  // replicated, but no job behind it
  add(2, 1, "2024-01-02 00:00:00", 2);       // offline: breaks the chain
  add(3, 1, "2024-01-03 00:00:00", 1);
  add(4, 4, "2024-01-04 00:00:00", 1 | 16);  // replicated by a job
  add(5, 5, "2024-01-05 00:00:00", 1 | 16,
      Object{{"extended_attrs", Object{{"snapshot_id", "s"}}}});
  add(6, 6, "2024-01-06 00:00:00", 1 | 2);
  add_relation(1);
  add_job("replicate", 4, "succeeded");
  Array rows = all(Object(), true);
  const Array states[] = {{"online"},
                          {"offline"},
                          {"online"},
                          {"online", "replicated"},
                          {"online", "replicated"},
                          {"online", "offline"}};
  const bool restorable[] = {true, false, false, true, true, false};
  ASSERT_EQ(rows.size(), 6u);
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(rows[i]["state"], states[i]) << i;
    EXPECT_EQ(rows[i]["restorable"], restorable[i]) << i;
  }
  EXPECT_EQ(stored_set(u(1))["state"], 17);  // without detail, as stored
}

TEST_P(Records, RemovingAReplicateKeepsItsSucceededJobs) {
  add_relation(1);
  add_relation(2);
  for (const char* state : {"pending", "running", "succeeded", "failed"})
    for (int target : {0xA01, 0xA02})
      add_job("replicate", 1, state, u(target));
  ASSERT_TRUE(impl_->remove_replicate(u(0xC01))) << log_.dump();
  Array rows;
  ASSERT_TRUE(impl_->query_replicate(Object(), 0, -1, rows, nullptr));
  EXPECT_EQ(uuids(rows), Uuids{u(0xC02)});
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
  EXPECT_FALSE(impl_->add_catalog(unknown, backup_set(u(1), u(1), "2024-01-01", 1)));
  EXPECT_FALSE(
      impl_->query_catalog(unknown, Object(), "", true, 0, -1, rows, nullptr, true, false));
  EXPECT_FALSE(impl_->update_catalog(unknown, u(1), Object{{"name", "x"}}));
  EXPECT_FALSE(impl_->set_state(unknown, Array{"a.vhd"}, CST_EXPIRED));
  EXPECT_FALSE(impl_->remove_catalogs(unknown, Array{u(1)}, rows));
  EXPECT_EQ(log_.count("Failed to find catalog table of pool '" + unknown + "'."), 5);
  EXPECT_FALSE(impl_->get_connection()->table_exists(unknown));
  EXPECT_TRUE(take_notices().empty());
  // A name that could not be a pool never reaches the statement.
  EXPECT_FALSE(impl_->get_uuids_with_file("x` WHERE 1=1; --", "a", rows));
  EXPECT_TRUE(log_.has("Failed to get uuids with file: 'x` WHERE 1=1; --' is not a pool uuid."));
  EXPECT_FALSE(impl_->query_catalog("", Object(), "", true, 0, -1, rows, nullptr, false, false));
  EXPECT_TRUE(log_.has_prefix(LM_EMERGENCY, "Unexpected error in "));
  EXPECT_TRUE(log_.contains(", name is empty:\n"));
}

TEST_P(Records, MistypedMembersAndHostileFiltersChangeNothing) {
  add(1, 1, "2024-01-01 00:00:00", 1);
  Object bad = backup_set(u(2), u(1), "2024-01-02 00:00:00", 1);
  bad["size"] = "big";
  EXPECT_FALSE(impl_->add_catalog(pool_, bad));
  EXPECT_TRUE(log_.contains("'size' expects an integer, got string"));
  EXPECT_FALSE(impl_->update_catalog(pool_, u(1), Object{{"incarnation", "not-a-uuid"}}));
  EXPECT_FALSE(impl_->update_catalog(pool_, u(1), Object{{"extended_attrs", Array{1}}}));
  long long id = -1;
  EXPECT_FALSE(impl_->add_replicate_job(Object{{"type", "replicate"}, {"retry", "often"}}, id));
  EXPECT_EQ(id, -1);

  Array rows{"kept"};
  EXPECT_FALSE(query(rows, Object(), nullptr, false, false, "id; DROP TABLE `" + pool_ + "`"));
  EXPECT_TRUE(log_.contains("is not a column to order by"));
  EXPECT_FALSE(query(rows, Object{{"states", Array{"online"}}}));
  EXPECT_TRUE(log_.has("Failed to parse Select_SQL for query catalog."));
  EXPECT_EQ(rows, Array{"kept"});
  EXPECT_EQ(raw_rows(pool_).size(), 1u);
  EXPECT_EQ(stored_set(u(1))["incarnation"], u(1));
  EXPECT_TRUE(raw_rows("storage_catalog_pool_replicate_job").empty());
}

TEST_P(Records, MalformedStoredJsonFailsTheReadAndTheMerge) {
  add(1, 1, "2024-01-01 00:00:00", 1);
  ASSERT_TRUE(impl_->get_connection()->execute(
      "UPDATE `" + pool_ + "` SET files = '[\"a.vhd\"', extended_attrs = '{oops'"));
  Array rows;
  EXPECT_FALSE(query(rows));
  EXPECT_TRUE(log_.has("Failed to load [\"a.vhd\""));
  EXPECT_TRUE(log_.has("Failed to query '" + pool_ + "' catalog"));
  EXPECT_TRUE(rows.empty());
  // The stored attributes are kept rather than replaced.
  EXPECT_FALSE(impl_->update_catalog(pool_, u(1), Object{{"extended_attrs", Object{{"a", 1}}}}));
  EXPECT_TRUE(log_.has("Failed to load {oops"));
  EXPECT_EQ(raw_rows(pool_)[0]["extended_attrs"], "{oops");
}

TEST_P(Records, NumbersBeyondTheSignedRangeAreRefused) {
  add(1, 1, "2024-01-01 00:00:00", 1, Object{{"size", -1}});
  Value beyond;
  ASSERT_TRUE(loads_json("18446744073709551615", beyond));
  Object big = backup_set(u(2), u(1), "2024-01-02 00:00:00", 1);
  big["size"] = beyond;
  EXPECT_FALSE(impl_->add_catalog(pool_, big));
  EXPECT_TRUE(log_.contains("'size' holds 18446744073709551615, beyond the 64-bit signed range"))
      << log_.dump();
  EXPECT_FALSE(impl_->update_catalog(pool_, u(1), Object{{"size", beyond}}));
  Array rows{"kept"};
  EXPECT_FALSE(query(rows, Object{{"size", beyond}}));
  EXPECT_FALSE(query(rows, Object{{"size", Array{1, beyond}}}));
  EXPECT_FALSE(query(rows, Object{{"size", Object{{"lt", beyond}}}}));
  EXPECT_FALSE(impl_->query_replicate_job(Object{{"size", beyond}}, 0, -1, rows, nullptr));
  EXPECT_EQ(rows, Array{"kept"});
  EXPECT_EQ(stored_set(u(1))["size"], -1);
  EXPECT_EQ(raw_rows(pool_).size(), 1u);
  // The largest signed value is still a number.
  ASSERT_TRUE(loads_json("9223372036854775807", beyond));
  ASSERT_TRUE(impl_->update_catalog(pool_, u(1), Object{{"size", beyond}})) << log_.dump();
  EXPECT_EQ(uuids(all(Object{{"size", beyond}})), Uuids{u(1)});
}

TEST_P(Records, SharedTableFiltersCompareOnlyValuesOfTheColumnType) {
  ASSERT_TRUE(impl_->add_device(Object{{"uuid", u(0xD01)}, {"url", "file:///d1"}}));
  ASSERT_TRUE(impl_->add_device(Object{{"uuid", u(0xD02)}, {"url", "file:///d2"}}));
  Array rows;
  ASSERT_TRUE(impl_->query_device(Object{{"id", 1}}, 0, -1, rows, nullptr)) << log_.dump();
  EXPECT_EQ(uuids(rows), Uuids{u(0xD01)});
  ASSERT_TRUE(impl_->query_device(Object{{"url", Object{{"lk", "%d2"}}}}, 0, -1, rows, nullptr));
  EXPECT_EQ(uuids(rows), Uuids{u(0xD02)});
  ASSERT_TRUE(impl_->query_pool(Object{{"on_host", 1}, {"state", "normal"}}, 0, -1, rows, nullptr))
      << log_.dump();
  EXPECT_EQ(uuids(rows), Uuids{pool_});
  rows = Array{"kept"};
  for (const Object& filter :
       {Object{{"id", "1 OR 1=1"}}, Object{{"id", Array{2, "1"}}}, Object{{"url", 5}},
        Object{{"id", Object{{"ge", "0"}}}}, Object{{"pool_uuid", 1}}, Object{{"no_column", 1}}}) {
    EXPECT_FALSE(impl_->query_device(filter, 0, -1, rows, nullptr)) << Value(filter).dump();
  }
  EXPECT_TRUE(log_.contains("Failed to parse filter of storage_catalog_device"));
  EXPECT_FALSE(impl_->query_replicate_job(Object{{"retry", "1"}}, 0, -1, rows, nullptr));
  EXPECT_FALSE(impl_->query_merge_backup_job(Object{{"state", 3}}, 0, -1, rows, nullptr));
  EXPECT_FALSE(impl_->query_replicate(Object{{"extended_attrs", 1}}, 0, -1, rows, nullptr));
  EXPECT_EQ(rows, Array{"kept"});
}

TEST_P(Records, DeeplyNestedJsonIsRefused) {
  add(1, 1, "2024-01-01 00:00:00", 1);
  const int kDepth = 100000;
  const std::string text = std::string(kDepth, '[') + std::string(kDepth, ']');
  // Built by the parser alone, which nests without recursion.
  Value deep = Value::parse(text);
  Object set = backup_set(u(2), u(1), "2024-01-02 00:00:00", 1);
  set["extended_attrs"] = Object();
  set["extended_attrs"]["deep"] = std::move(deep);
  EXPECT_FALSE(impl_->add_catalog(pool_, set));
  EXPECT_TRUE(log_.contains("nests deeper than")) << log_.dump();
  Object change;
  change["extended_attrs"] = std::move(set["extended_attrs"]);
  EXPECT_FALSE(impl_->update_catalog(pool_, u(1), change));
  Array rows{"kept"};
  Object filter;
  filter["size"] = std::move(change["extended_attrs"]["deep"]);
  EXPECT_FALSE(query(rows, filter));
  EXPECT_FALSE(impl_->query_device(filter, 0, -1, rows, nullptr));
  EXPECT_EQ(rows, Array{"kept"});
  EXPECT_FALSE(impl_->get_incarnation_info(pool_, filter["size"].get_ref<const Array&>(), rows));
  EXPECT_EQ(raw_rows(pool_).size(), 1u);

  // Stored that deep by other means, the row no longer reads.
  ASSERT_TRUE(impl_->get_connection()->execute("UPDATE `" + pool_ +
                                               "` SET extended_attrs = '{\"a\":" + text + "}'"));
  EXPECT_FALSE(query(rows));
  EXPECT_TRUE(log_.has_prefix(LM_ERROR, "Failed to load {\"a\":[[["));
  EXPECT_FALSE(impl_->update_catalog(pool_, u(1), Object{{"extended_attrs", Object{{"b", 1}}}}));
  ASSERT_TRUE(impl_->remove_catalogs(pool_, Array{u(1)}, rows));
  EXPECT_EQ(rows, Array{"kept"});
}

SCAT_INSTANTIATE_ENGINES(Records);

}  // namespace
