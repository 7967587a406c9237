// Request parameters: paging defaults and conversion, and filters whose
// keys and values reach the catalog only as checked columns and bound
// values, run against the catalog on each engine.
#include <gtest/gtest.h>

#include "platform/sql/filter_builder.h"
#include "storaged/storage_catalog/storage_catalog_utils.h"
#include "tests/support/front_fixture.h"

namespace {

using Utils = Storage_Catalog_Utils;

Object paging_of(const Object& request) {
  Object filter, paging;
  EXPECT_TRUE(Utils::parse_params(request, filter, paging));
  return paging;
}

TEST(Utils_Paging, ConvertsTextAndKeepsDefaults) {
  Object paging = paging_of(Object{{"limit", "20"}, {"offset", "40"}});
  EXPECT_EQ(paging["limit"], 20);
  EXPECT_EQ(paging["offset"], 40);
  EXPECT_TRUE(paging["limit"].is_number_integer());
  EXPECT_EQ(paging_of(Object{{"limit", "abc"}})["limit"], 0);
  EXPECT_EQ(paging_of(Object{{"limit", "12ab"}})["limit"], 12);
  EXPECT_EQ(paging_of(Object{{"limit", "+7"}})["limit"], 7);
  EXPECT_EQ(paging_of(Object{{"limit", "99999999999999999999"}})["limit"], LLONG_MAX);
  // A negative page start or size means the first row and no limit.
  EXPECT_EQ(paging_of(Object{{"limit", "-5"}})["limit"], -1);
  EXPECT_EQ(paging_of(Object{{"offset", "-5"}})["offset"], 0);
  EXPECT_EQ(paging_of(Object{{"offset", -5}})["offset"], 0);

  Object defaults = paging_of(Object());
  EXPECT_EQ(defaults, (Object{{"sort", "id"},
                              {"order", "desc"},
                              {"offset", 0},
                              {"limit", -1},
                              {"group_by", ""},
                              {"group_sort", "id"},
                              {"group_selector", "max"},
                              {"api_key", ""}}));
  EXPECT_EQ(paging_of(Object{{"order", "ASC"}, {"sort", "backup_time"}})["order"], "asc");

  Object filter, plain_paging;
  ASSERT_TRUE(Utils::parse_params2(
      Object{{"limit", "3"}, {"type", "FULL"}, {"name", "x"}, {"api_key", "k"}}, filter,
      plain_paging));
  EXPECT_EQ(filter, (Object{{"backup_type", "FULL"}, {"name", "x"}}));
  EXPECT_EQ(plain_paging["limit"], 3);
  EXPECT_EQ(plain_paging["api_key"], "k");
}

TEST(Utils_Paging, RefusesPagingValuesCallersCannotUse) {
  Log_Capture log;
  Object filter, paging;
  for (const Object& request :
       {Object{{"limit", 2.5}}, Object{{"offset", Array{1}}}, Object{{"order", "up"}},
        Object{{"sort", "id; DROP TABLE x"}}, Object{{"group_by", "a b"}}, Object{{"sort", 1}}}) {
    EXPECT_FALSE(Utils::parse_params(request, filter, paging)) << JSON_Dump(request);
    EXPECT_FALSE(Utils::parse_params2(request, filter, paging)) << JSON_Dump(request);
  }
  EXPECT_TRUE(log.has("Failed to parse params: 'sort' is not a column name"));
  EXPECT_TRUE(log.has("Failed to parse params: 'order' is neither asc nor desc"));
}

TEST(Utils_Filter, BuildsItemsAndKeepsTheRoutingKeyPlain) {
  const std::string pool = Front_Test::kPoolA;
  Object filter, paging;
  ASSERT_TRUE(Utils::parse_params(Object{{"pool_uuid", pool},
                                         {"type", "FULL"},
                                         {"GE_backup_time", "2026-01-01"},
                                         {"LK_name", "s%"},
                                         {"states", "online,expired"},
                                         {"sort", "id"}},
                                  filter, paging, "pool_uuid"));
  Array items = filter.at(database::sql::kFilterAndItems);
  EXPECT_EQ(filter.at("pool_uuid"), pool);
  ASSERT_EQ(items.size(), 5u);  // in key order
  EXPECT_EQ(items[0], (Object{{"key", "backup_time"}, {"op", "ge"}, {"value", "2026-01-01"}}));
  EXPECT_EQ(items[1], (Object{{"key", "name"}, {"op", "lk"}, {"value", "s%"}}));
  EXPECT_EQ(items[2], (Object{{"key", "pool_uuid"}, {"op", "eq"}, {"value", pool}}));
  EXPECT_EQ(items[3], (Object{{"sql", "state & 9 = 9"}}));
  EXPECT_EQ(items[4], (Object{{"key", "backup_type"}, {"op", "eq"}, {"value", "FULL"}}));
  EXPECT_EQ(filter.count("sort"), 0u);
}

class Utils_Query : public Front_Server_Test {
 protected:
  void SetUp() override {
    Front_Server_Test::SetUp();
    if (IsSkipped())
      return;
    ASSERT_TRUE(front_->add_pool(pool_record(kPoolA)));
    add_set(kSetA, "full", "2026-01-01 00:00:00", "alpha", 1);
    add_set(kSetB, "incr", "2026-02-01 00:00:00", "beta", 9);
    add_set(uuid_of(3), "full", "2026-03-01 00:00:00", "gamma", 2);
  }

  void add_set(const std::string& uuid, const std::string& type, const std::string& time,
               const std::string& name, int state) {
    Object set = catalog_record(uuid, kPoolA);
    set["backup_type"] = type;
    set["backup_time"] = time;
    set["name"] = name;
    set["state"] = state;
    ASSERT_TRUE(front_->add_catalog(kPoolA, set)) << log_.dump();
  }

  // The names of the sets the request selects, in the paging's order; "FAILED"
  // when the request is refused or the query fails.
  std::string names(const Object& request) {
    Object filter, paging;
    Array rows;
    if (!Utils::parse_params(request, filter, paging) ||
        !front_->query_catalog(kPoolA, filter, paging["sort"], paging["order"] == "asc",
                               paging["offset"], paging["limit"], rows, nullptr, false, false))
      return "FAILED";
    std::string out;
    for (const Value& row : rows)
      out += (out.empty() ? "" : ",") + row["name"].get<std::string>();
    return out;
  }

  long long pools(const Object& request) {
    Object filter, paging;
    Array rows;
    if (!Utils::parse_params(request, filter, paging) ||
        !front_->query_pool(filter, 0, -1, rows, nullptr))
      return -1;
    return rows.size();
  }
};

TEST_P(Utils_Query, ConditionsSelectTheRowsTheyName) {
  EXPECT_EQ(names(Object()), "gamma,beta,alpha");
  EXPECT_EQ(names(Object{{"order", "asc"}, {"limit", "2"}, {"offset", "1"}}), "beta,gamma");
  EXPECT_EQ(names(Object{{"type", "full"}}), "gamma,alpha");
  EXPECT_EQ(names(Object{{"GE_backup_time", "2026-02-01 00:00:00"}}), "gamma,beta");
  EXPECT_EQ(names(Object{{"LT_backup_time", "2026-02-01 00:00:00"}}), "alpha");
  EXPECT_EQ(names(Object{{"BA_size", Array{50, 150}}, {"LK_name", "%a"}}), "gamma,beta,alpha");
  EXPECT_EQ(names(Object{{"LK_name", "%ta"}}), "beta");
  EXPECT_EQ(names(Object{{"states", "online"}}), "beta,alpha");
  EXPECT_EQ(names(Object{{"not_states", "online"}}), "gamma");
  EXPECT_EQ(names(Object{{"states", "online,expired"}}), "beta");
  EXPECT_EQ(names(Object{{"uuid", kSetB}}), "beta");
  EXPECT_EQ(pools(Object{{"uuid", kPoolA}}), 1);
  EXPECT_EQ(pools(Object{{"LK_name", "pool-%"}, {"uuid", kPoolA}}), 1);
  EXPECT_EQ(pools(Object{{"uuid", kPoolB}}), 0);
}

TEST_P(Utils_Query, HostileKeysAndValuesNeverChangeTheStatement) {
  EXPECT_EQ(names(Object{{"name", "x' OR '1'='1"}}), "");
  EXPECT_EQ(names(Object{{"LK_name", "%' OR '1'='1"}}), "");
  // Unknown state names add nothing to the condition.
  EXPECT_EQ(names(Object{{"states", "online) OR (1=1"}}), "gamma,beta,alpha");
  EXPECT_EQ(names(Object{{"name", "alpha"}, {"states", "offline"}}), "");
  for (const Object& request :
       {Object{{"name = name OR 1", "x"}}, Object{{"GE_size) OR (1", 1}}, Object{{"LK_", "%"}},
        Object{{"name", Object{{"ne", "x"}}}}, Object{{"name", Array{"alpha", "beta"}}},
        Object{{"BA_size", "1,2"}}, Object{{"states", 1}},
        Object{{"$and", Array{Object{{"sql", "1=1"}}}}}, Object{{"uuid", "1' OR '1'='1"}}}) {
    EXPECT_EQ(names(request), "FAILED") << JSON_Dump(request);
  }
  EXPECT_TRUE(
      log_.contains("Failed to parse params: cannot compare 'name = name OR 1' with \"x\""));
  EXPECT_EQ(pools(Object{{"uuid", "x' OR 1=1 --"}}), -1);
  EXPECT_EQ(pools(Object{{"name", "x"}, {"quoted) OR (1", 1}}), -1);
  EXPECT_EQ(catalog_count(kPoolA), 3);
}

TEST_P(Utils_Query, AFilterThatCouldNotBeBuiltSelectsNothing) {
  Object filter, paging;
  ASSERT_FALSE(Utils::parse_params(Object{{"name", "alpha"}, {"z z", 1}}, filter, paging));
  Array rows;
  EXPECT_FALSE(
      front_->query_catalog(kPoolA, filter, "id", true, 0, -1, rows, nullptr, false, false));
  EXPECT_FALSE(front_->query_pool(filter, 0, -1, rows, nullptr));
  EXPECT_TRUE(rows.empty());
  EXPECT_TRUE(log_.contains("filter refused: cannot compare 'z z' with 1"));
}

SCAT_INSTANTIATE_ENGINES(Utils_Query);

}  // namespace
