// Shaping a page of backup sets for callers (restorability and the
// replicated state behind a replicate job) on a catalog of many mixed sets,
// against the rule worked out here row by row.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>

#include "platform/sql/transaction.h"
#include "storaged/storage_catalog/catalog_state.h"
#include "tests/storaged/storage_catalog/catalog_back_end_test.h"

namespace {

struct Model_Set {
  std::string uuid, incarnation, time, pool;  // empty: NULL
  int state = 0;
  bool snapshot = false;
  bool job_through_relation = false;
};

class Catalog_Shaping : public Catalog_Back_End_Test {
 protected:
  // Sets of chains of four (ids 1 to count), with ties in time, missing and offline
  // members, sets without chain or time, replicated sets with and without
  // a job through a relation, and sets naming another pool.
  void build(int count) {
    std::mt19937 random(7);
    const int states[] = {1, 1, 1, 3, 0, 9, 17, 17, 19, 16, 33, 2};
    add_relation(1);
    database::Transaction transaction(impl_->get_connection());
    ASSERT_TRUE(transaction.begin());
    for (int i = 0; i < count; ++i) {
      Model_Set m;
      m.uuid = u(0x1000 + i);
      m.incarnation = u(0x1000 + i - i % 4);
      char time[32];
      std::snprintf(time, sizeof time, "2024-01-%02d 10:00:%02d", 1 + i / 40,
                    static_cast<int>(random() % 3));
      m.time = time;
      m.pool = i % 17 == 3 ? u(0xA05) : pool_;
      m.state = states[random() % (sizeof states / sizeof states[0])];
      m.snapshot = (m.state & 16) != 0 && random() % 5 == 0;
      Object more{{"pool_uuid", m.pool},
                  {"extended_attrs", m.snapshot ? Object{{"snapshot_id", "s"}} : Object()}};
      add(0x1000 + i, 0x1000 + i - i % 4, time, m.state, more);
      int job = static_cast<int>(random() % 3);
      if ((m.state & 16) != 0 && job > 0) {
        // To the relation's target, or to a pool no relation leads to.
        add_job("replicate", 0x1000 + i, "succeeded", job == 1 ? u(0xA01) : u(0xA02));
        m.job_through_relation = job == 1 && m.pool == pool_;
      }
      model_[m.uuid] = m;
    }
    ASSERT_TRUE(transaction.commit());
    auto conn = impl_->get_connection();
    // By uuid: ids need not be consecutive (a cluster steps them by its size).
    for (int i = 0; i < count; ++i) {
      const std::string where = " WHERE uuid = x'" + u(0x1000 + i) + "';";
      if ((i + 1) % 25 == 8)
        ASSERT_TRUE(conn->execute("UPDATE `" + pool_ + "` SET incarnation = NULL" + where));
      if ((i + 1) % 31 == 6)
        ASSERT_TRUE(conn->execute("UPDATE `" + pool_ + "` SET backup_time = NULL" + where));
    }
  }

  bool usable(const Model_Set& m) const { return (m.state & 1) != 0 && (m.state & 2) == 0; }

  Object expected(const Model_Set& m) const {
    bool restorable = !m.incarnation.empty() && !m.time.empty();
    for (const auto& other : model_) {
      const Model_Set& o = other.second;
      if (restorable && o.incarnation == m.incarnation && !o.time.empty() && o.time <= m.time &&
          !usable(o))
        restorable = false;
    }
    int state = m.state;
    if ((state & 16) != 0 && !m.snapshot && !m.job_through_relation)
      state &= ~16;
    Array names;
    catalog_state_to_array(static_cast<Catalog_State>(state), names);
    return Object{{"restorable", restorable}, {"state", names}};
  }

  void expect_shaped(const Array& rows) {
    for (const Value& row : rows) {
      const Model_Set& m = model_.at(row["uuid"].get<std::string>());
      Object want = expected(m);
      EXPECT_EQ(row["restorable"], want["restorable"]) << m.uuid;
      EXPECT_EQ(row["state"], want["state"]) << m.uuid << " " << m.state;
    }
  }

  std::map<std::string, Model_Set> model_;
};

TEST_P(Catalog_Shaping, APageOfMixedSetsIsShapedRowByRowRule) {
  const int kCount = 1100;
  build(kCount);
  // NULLs written after the adds.
  for (auto& entry : model_) {
    int id = std::stoi(entry.first.substr(24), nullptr, 16) - 0x1000 + 1;
    if (id % 25 == 8)
      entry.second.incarnation.clear();
    if (id % 31 == 6)
      entry.second.time.clear();
  }
  Array all;
  long long total = 0;
  ASSERT_TRUE(impl_->query_catalog(pool_, Object(), "id", true, 0, -1, all, &total, true, false))
      << log_.dump();
  ASSERT_EQ(all.size(), static_cast<std::size_t>(kCount));
  EXPECT_EQ(total, kCount);
  expect_shaped(all);

  // A page in the middle, newest first, has the same rows shaped alike.
  Array page;
  ASSERT_TRUE(
      impl_->query_catalog(pool_, Object(), "id", false, 300, 200, page, nullptr, true, false));
  ASSERT_EQ(page.size(), 200u);
  EXPECT_EQ(page.front()["uuid"], all[kCount - 301]["uuid"]);
  for (const Value& row : page)
    EXPECT_EQ(row, all[std::stoi(row["uuid"].get<std::string>().substr(24), nullptr, 16) - 0x1000]);
}

TEST_P(Catalog_Shaping, AReplicatedSetWithNullAttributesLosesItsReplicatedState) {
  add(1, 1, "2024-01-01 10:00:00", 1);
  add(2, 1, "2024-01-02 10:00:00", 17);
  ASSERT_TRUE(impl_->get_connection()->execute("UPDATE `" + pool_ +
                                               "` SET extended_attrs = NULL WHERE id = 2;"));
  Array rows;
  // NULL reads as an empty object: no snapshot, no job, not replicated.
  ASSERT_TRUE(impl_->query_catalog(pool_, Object(), "id", true, 0, -1, rows, nullptr, true, false));
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[1]["state"], Value::parse(R"(["online"])"));
}

SCAT_INSTANTIATE_ENGINES(Catalog_Shaping);

}  // namespace
