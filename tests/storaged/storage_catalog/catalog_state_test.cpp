#include "storaged/storage_catalog/catalog_state.h"

#include <gtest/gtest.h>

namespace {

TEST(CatalogState, NamesMatchWholeAndCaseSensitive) {
  EXPECT_EQ(name_to_catalog_state("online", 6), CST_ONLINE);
  EXPECT_EQ(name_to_catalog_state("online", 5), CST_UNKNOWN);
  EXPECT_EQ(name_to_catalog_state("Online", 6), CST_UNKNOWN);
  EXPECT_EQ(name_to_catalog_state("replicated,x", 10), CST_REPLICATED);
  EXPECT_EQ(name_to_catalog_state(nullptr, 6), CST_UNKNOWN);
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
}

TEST(CatalogState, FilterTextOverwritesAndSkipsUnknownPieces) {
  const std::pair<const char*, const char*> included[] = {
      {"online,expired", "state & 9 = 9"},
      {"warmup,", "state & 32 = 32"},
      {",,", "state & 0 = 0"},
      {"online, offline,bogus", "state & 1 = 1"}};  // " offline" is unknown
  std::string sql = "previous text";
  for (const auto& names : included) {
    generate_state_filter_sql(names.first, false, sql);
    EXPECT_EQ(sql, names.second) << names.first;
  }
  generate_state_filter_sql("online,expired", true, sql);
  EXPECT_EQ(sql, "state & 9 = 0");
}

}  // namespace
