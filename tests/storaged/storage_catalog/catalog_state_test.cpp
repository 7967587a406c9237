#include "storaged/storage_catalog/catalog_state.h"

#include <gtest/gtest.h>

namespace {

TEST(CatalogState, NamesMatchWholeAndCaseSensitive) {
  EXPECT_EQ(name_to_catalog_state("online", 6), CST_ONLINE);
  EXPECT_EQ(name_to_catalog_state("online", 5), CST_UNKNOWN);
  EXPECT_EQ(name_to_catalog_state("Online", 6), CST_UNKNOWN);
  EXPECT_EQ(name_to_catalog_state("replicated,x", 10), CST_REPLICATED);
  EXPECT_EQ(name_to_catalog_state("warmup", 6), CST_WARMUP);
  EXPECT_EQ(name_to_catalog_state(nullptr, 6), CST_UNKNOWN);
  EXPECT_EQ(name_to_catalog_state("", 0), CST_UNKNOWN);
  EXPECT_EQ(name_to_catalog_state("online", 0), CST_UNKNOWN);
}

TEST(CatalogState, StateToNamesInTableOrder) {
  Array names{"stale"};
  catalog_state_to_array(static_cast<Catalog_State>(5), names);
  EXPECT_EQ(Value(names), Value::parse(R"(["online","nearline"])"));
  catalog_state_to_array(static_cast<Catalog_State>(63), names);
  EXPECT_EQ(Value(names),
            Value::parse(R"(["online","offline","nearline","expired","replicated","warmup"])"));
  catalog_state_to_array(static_cast<Catalog_State>(64), names);
  EXPECT_TRUE(names.empty());
  catalog_state_to_array(CST_UNKNOWN, names);
  EXPECT_TRUE(names.empty());
}

TEST(CatalogState, FilterTextOverwritesAndSkipsUnknownPieces) {
  std::string sql = "previous text";
  generate_state_filter_sql("online,expired", false, sql);
  EXPECT_EQ(sql, "state & 9 = 9");
  generate_state_filter_sql("online,expired", true, sql);
  EXPECT_EQ(sql, "state & 9 = 0");
  generate_state_filter_sql("warmup,", false, sql);
  EXPECT_EQ(sql, "state & 32 = 32");
  generate_state_filter_sql(",,", false, sql);
  EXPECT_EQ(sql, "state & 0 = 0");
  generate_state_filter_sql("", true, sql);
  EXPECT_EQ(sql, "state & 0 = 0");
  generate_state_filter_sql("online, offline,bogus", false, sql);  // " offline" is unknown
  EXPECT_EQ(sql, "state & 1 = 1");
}

}  // namespace
