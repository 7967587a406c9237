// Filters built item by item: what they render to through the two readers
// of filter objects, and that a caller's key or value never becomes SQL.
#include "platform/sql/filter_builder.h"

#include <gtest/gtest.h>

#include "platform/sql/filter_parser.h"

using namespace database::sql;

namespace {

const std::string kUuid = "0123456789abcdef0123456789abcdef";

const Filter_Key kColumns[] = {{"uuid", KEY_UUID, 0},        {"pool_uuid", KEY_UUID, 0},
                               {"backup_time", KEY_STRING, 0}, {"size", KEY_INTEGER, 0},
                               {"name", KEY_STRING, 0},        {"id", KEY_INTEGER, 0},
                               {"a", KEY_INTEGER, 0},          {nullptr, 0, 0}};

std::string render_filter(const Object& filter, Bindings* bindings = nullptr) {
  Select_SQL s;
  s.table("t");
  std::string error;
  if (!generate_filter_from_obj(filter, *s.where().and_filter(), kColumns, &error))
    return "INVALID: " + error;
  Render_Context ctx(DIALECT_SQLITE);
  if (!s.render(ctx))
    return "INVALID: " + ctx.error();
  if (bindings != nullptr)
    *bindings = ctx.bindings();
  return ctx.text();
}

TEST(FilterBuilder, ItemsRenderAsBoundComparisons) {
  Object f;
  generate_and_filter(f);
  ASSERT_TRUE(filter_add_eq_item(f, "uuid", kUuid));
  ASSERT_TRUE(filter_add_ge_item(f, "backup_time", "2026-01-01"));
  ASSERT_TRUE(filter_add_lt_item(f, "size", 10));
  ASSERT_TRUE(filter_add_lk_item(f, "name", "a%"));
  ASSERT_TRUE(filter_add_ba_item(f, "id", Array{1, 5}));
  ASSERT_TRUE(filter_add_item(f, "state & 9 = 0"));
  Bindings b;
  EXPECT_EQ(render_filter(f, &b),
            "SELECT * FROM `t` WHERE (`uuid` = :_p1) AND (`backup_time` >= :_p2) AND "
            "(`size` < :_p3) AND (`name` LIKE :_p4) AND (`id` BETWEEN :_p5 AND :_p6) AND "
            "(`state` & 9 = 0)");
  ASSERT_EQ(b.size(), 6u);
  EXPECT_EQ(b[0].second.text().size(), 16u);  // the uuid as its bytes

  Object one = generate_eq_item("pool_uuid", kUuid);
  EXPECT_EQ(render_filter(one), "SELECT * FROM `t` WHERE (`pool_uuid` = :_p1)");
}

TEST(FilterBuilder, RefusesKeysThatAreNotColumnsAndUnusableValues) {
  Object f;
  generate_and_filter(f);
  Object before = f;
  EXPECT_FALSE(filter_add_eq_item(f, "name = 1 OR 1", 1));
  EXPECT_FALSE(filter_add_ge_item(f, "a;DROP TABLE t", 1));
  EXPECT_FALSE(filter_add_eq_item(f, "name", Object{{"ne", "x"}}));
  EXPECT_FALSE(filter_add_eq_item(f, "name", Array{"a", "b"}));
  EXPECT_FALSE(filter_add_lk_item(f, "name", 5));
  EXPECT_FALSE(filter_add_ba_item(f, "id", Array{1}));
  EXPECT_FALSE(filter_add_ba_item(f, "id", Array{1, Array{2}}));
  EXPECT_FALSE(filter_add_item(f, "1=1) OR (1=1"));
  EXPECT_FALSE(filter_add_item(f, "state & 9 = 9; DROP TABLE t"));
  EXPECT_FALSE(filter_add_item(f, "state & 9 = 9 OR 1"));
  EXPECT_EQ(f, before);
  EXPECT_TRUE(generate_eq_item("x y", 1).empty());
}

TEST(FilterBuilder, ReadersRefuseForgedItems) {
  // Filter objects also come from callers as they stand: items they forge
  // are checked as the builders check them.
  auto forged = [](const Value& item) { return Object{{kFilterAndItems, Array{item}}}; };
  EXPECT_EQ(render_filter(forged(Object{{"sql", "1=1"}})).rfind("INVALID", 0), 0u);
  EXPECT_EQ(
      render_filter(forged(Object{{"key", "a b"}, {"op", "eq"}, {"value", 1}})).rfind("INVALID", 0),
      0u);
  EXPECT_EQ(
      render_filter(forged(Object{{"key", "a"}, {"op", "xx"}, {"value", 1}})).rfind("INVALID", 0),
      0u);
  EXPECT_EQ(render_filter(forged(Object{{"key", "a"}, {"op", "eq"}, {"value", Object{{"ne", 1}}}}))
                .rfind("INVALID", 0),
            0u);
  EXPECT_EQ(render_filter(forged(Object{{"key", "uuid"}, {"op", "eq"}, {"value", "zz"}}))
                .rfind("INVALID", 0),
            0u);
  EXPECT_EQ(render_filter(Object{{kFilterAndItems, "state & 1 = 1"}}).rfind("INVALID", 0), 0u);
  // A mask condition is written again from its parts.
  EXPECT_EQ(render_filter(forged(Object{{"sql", "state & 0009 = 9"}})),
            "SELECT * FROM `t` WHERE (`state` & 9 = 9)");

  // The catalog's reader takes items on its own keys only.
  static const Filter_Key kKeys[] = {
      {"backup_type", KEY_STRING, KEY_FLAG_LIST}, {"uuid", KEY_UUID, 0}, {nullptr, 0, 0}};
  Object f;
  generate_and_filter(f);
  filter_add_eq_item(f, "backup_type", "full,incr");
  filter_add_item(f, "state & 1 = 1");
  Select_SQL s;
  s.table("t");
  SQL_Filter_Parser parser(s.where().and_filter(), kKeys);
  ASSERT_TRUE(parser.parse(f, 1)) << parser.error();
  EXPECT_EQ(s.str(),
            "SELECT * FROM `t` WHERE (`backup_type` IN (:_p1, :_p2)) AND (`state` & 1 = 1)");
  filter_add_eq_item(f, "size", 1);
  Select_SQL other;
  SQL_Filter_Parser refusing(other.where().and_filter(), kKeys);
  EXPECT_FALSE(refusing.parse(f, 1));
  EXPECT_EQ(refusing.error(), "'size' is not a filter key");
}

}  // namespace
