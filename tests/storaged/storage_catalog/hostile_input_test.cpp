// Caller text that looks like SQL, LIKE patterns, JSON escapes or plain
// garbage, huge strings, numbers beyond 64 bits and very deep JSON, all
// through the public operations on both engines. Each call either does
// exactly what it says or fails with a logged error; it never crashes,
// never changes what a statement means and never touches another row.
#include <gtest/gtest.h>

#include <limits>
#include <set>
#include <string>
#include <vector>

#include "platform/queue/queue_manager.h"
#include "storaged/storage_catalog/catalog_dependence_resolver.h"
#include "storaged/storage_catalog/storage_catalog_utils.h"
#include "tests/support/front_fixture.h"

namespace {

using Utils = Storage_Catalog_Utils;

const std::string kNul("a\0b", 3);
const std::string kHuge(1 << 20, 'h');

// Texts that would change a statement, a pattern or a JSON text if they
// were ever pasted into one.
std::vector<std::string> hostile_texts() {
  return {"x' OR '1'='1",
          "x\" OR \"1\"=\"1",
          "`; DROP TABLE storage_catalog_storage_pool; --",
          "/* comment */",
          "-- comment",
          "#",
          "%",
          "_",
          "\\",
          "\\%",
          "\"",
          "\\\"",
          "\\u0000",
          kNul,
          std::string(1, '\0'),
          std::string(32, '%'),
          std::string(32, '_'),
          Front_Test::kSetA + "' OR 1=1 --",
          Front_Test::kSetA + std::string(1, '\0'),
          kHuge};
}

// A value nested `depth` arrays deep, built without recursion (the JSON
// text parser refuses such depth).
Value deep_array(int depth) {
  Value value = Array();
  for (int i = 1; i < depth; ++i) {
    Value outer = Array();
    outer.push_back(std::move(value));
    value = std::move(outer);
  }
  return value;
}

class Hostile_Input : public Front_Server_Test {
 protected:
  void SetUp() override {
    Front_Server_Test::SetUp();
    if (IsSkipped())
      return;
    add_pools_and_sets();
    // The sync notices of the set-up are not what the tests look at.
    std::string text;
    while (Queue_Manager::instance()->dequeue("storage_catalog_sync", text) == 1) {
    }
  }

  // Both sets and both pools exactly as add_pools_and_sets left them, and
  // no notice sent about either set.
  void expect_untouched() {
    for (const auto& entry : {std::make_pair(kPoolA, kSetA), std::make_pair(kPoolB, kSetB)}) {
      Object set;
      ASSERT_TRUE(Utils::get_catalog(entry.first, entry.second, set)) << entry.first;
      Object expected = catalog_record(entry.second, entry.first);
      for (const char* key : {"uuid", "name", "size", "state", "incarnation"})
        EXPECT_EQ(set[key], expected[key]) << key;
      EXPECT_EQ(catalog_count(entry.first), 1);
      Object pool;
      ASSERT_TRUE(Utils::get_pool(entry.first, pool)) << entry.first;
      EXPECT_EQ(pool["state"], "normal");
      EXPECT_EQ(pool["name"], pool_record(entry.first)["name"]);
    }
    Array pools;
    ASSERT_TRUE(front_->query_pool(Object(), 0, -1, pools, nullptr));
    EXPECT_EQ(pools.size(), 2u);
    std::string text;
    while (Queue_Manager::instance()->dequeue("storage_catalog_sync", text) == 1) {
      EXPECT_EQ(text.find(kSetA), std::string::npos) << text;
      EXPECT_EQ(text.find(kSetB), std::string::npos) << text;
    }
  }

  // The "name" of every set of pool A the request selects, by id; "FAILED"
  // when the request cannot become a filter or the query fails.
  std::string names(const Object& request) {
    Object filter, paging;
    Array rows;
    if (!Utils::parse_params(request, filter, paging) ||
        !front_->query_catalog(kPoolA, filter, "id", true, 0, -1, rows, nullptr, false, false))
      return "FAILED";
    std::string text;
    for (const Value& row : rows)
      text += (text.empty() ? "" : ",") + row["name"].get<std::string>();
    return text;
  }

  // The uuids of the sets of pool A that list `file`.
  std::set<std::string> sets_with(const std::string& file) {
    Array rows;
    EXPECT_TRUE(front_->get_uuids_with_file(kPoolA, file, rows)) << file;
    std::set<std::string> found;
    for (const Value& row : rows)
      found.insert(row.is_object() ? row["uuid"].get<std::string>() : row.get<std::string>());
    return found;
  }
};

TEST_P(Hostile_Input, TextsThatAreNotUuidsNeverReachAnotherRow) {
  for (const std::string& text : hostile_texts()) {
    SCOPED_TRACE(text.size() > 64 ? "(1 MB text)" : text);
    Object set = catalog_record(text, kPoolA);
    EXPECT_FALSE(front_->add_catalog(kPoolA, set));
    EXPECT_FALSE(front_->add_catalog(text, catalog_record(uuid_of(7), text)));
    EXPECT_FALSE(front_->update_catalog(kPoolA, text, Object{{"name", "changed"}}));
    EXPECT_FALSE(front_->update_catalog(text, kSetA, Object{{"name", "changed"}}));
    front_->remove_catalog(kPoolA, text);
    front_->remove_catalog(text, kSetA);
    Array removed;
    front_->remove_catalogs(kPoolA, Array{text}, removed);
    EXPECT_TRUE(removed.empty());
    front_->set_state(kPoolA, text, CST_EXPIRED);
    front_->set_state(text, kSetA, CST_EXPIRED);
    front_->unset_state(kPoolA, text, CST_ONLINE);
    Catalog_State state = CST_UNKNOWN;
    EXPECT_FALSE(front_->get_state(kPoolA, text, state) && state != CST_UNKNOWN);
    Array rows;
    EXPECT_FALSE(
        front_->query_catalog(text, Object(), "id", true, 0, -1, rows, nullptr, false, false) &&
        !rows.empty());
    front_->update_pool(text, Object{{"state", "deleting"}});
    front_->remove_pool(text);
    front_->add_pool(pool_record(text));
    rows.clear();
    if (front_->query_pool(Object{{"uuid", text}}, 0, -1, rows, nullptr)) {
      EXPECT_TRUE(rows.empty());
    }
    Object response;
    predelete_backupset(Object{{"pool_uuid", text}, {"uuids", Array{kSetA}}}, response);
    predelete_backupset(Object{{"pool_uuid", kPoolA}, {"uuids", Array{text}}}, response);
  }
  expect_untouched();
}

TEST_P(Hostile_Input, FileNamesMatchOnlyThemselves) {
  const std::vector<std::string> files = {"a_b.vhd",  "axb.vhd",  "100%.vhd",     "1000.vhd",
                                          "it's.vhd", "q\"q.vhd", "C:\\d\\z.vhd", kNul,
                                          "/* c */",  "\\u0041"};
  for (std::size_t i = 0; i < files.size(); ++i) {
    Object set = catalog_record(uuid_of(100 + i), kPoolA);
    set["files"] = Array{files[i]};
    ASSERT_TRUE(front_->add_catalog(kPoolA, set)) << log_.dump();
  }
  for (std::size_t i = 0; i < files.size(); ++i)
    EXPECT_EQ(sets_with(files[i]), std::set<std::string>{uuid_of(100 + i)}) << files[i];
  for (const std::string& stray :
       {std::string("%"), std::string("_"), std::string("a"), std::string("' OR 1=1 --"),
        std::string("\\"), std::string("a_b.vhd\",\"axb.vhd")})
    EXPECT_TRUE(sets_with(stray).empty()) << stray;
  EXPECT_FALSE(sets_with("z.vhd").count(uuid_of(100)));

  // A state change by file reaches the one set and sends its one notice.
  ASSERT_TRUE(front_->set_state(kPoolA, Array{"100%.vhd"}, CST_OFFLINE)) << log_.dump();
  Catalog_State state = CST_UNKNOWN;
  ASSERT_TRUE(front_->get_state(kPoolA, uuid_of(102), state));
  EXPECT_EQ(state, CST_ONLINE | CST_OFFLINE);
  ASSERT_TRUE(front_->get_state(kPoolA, uuid_of(103), state));
  EXPECT_EQ(state, CST_ONLINE);
  EXPECT_EQ(Queue_Manager::instance()->size("storage_catalog_sync"), 1);
}

TEST_P(Hostile_Input, FilterKeysAndValuesStayValues) {
  for (const std::string& text : hostile_texts()) {
    SCOPED_TRACE(text.size() > 64 ? "(1 MB text)" : text);
    EXPECT_EQ(names(Object{{"name", text}}), "");
    EXPECT_EQ(names(Object{{"uuid", text}}), "FAILED");
    std::string found = names(Object{{"LK_name", text}});
    EXPECT_TRUE(found == "" || found == "FAILED" ||
                (text.find_first_of("%_") == 0 && found == "set"))
        << found;
    EXPECT_EQ(names(Object{{text, "set"}}), "FAILED");
    EXPECT_EQ(names(Object{{"GE_" + text, 1}}), "FAILED");
    EXPECT_EQ(names(Object{{"states", text}}), "set");  // unknown names add no condition
  }
  // A LIKE pattern is the caller's own, but it matches only the named column.
  EXPECT_EQ(names(Object{{"LK_name", "%"}}), "set");
  EXPECT_EQ(names(Object{{"LK_name", "s_t"}}), "set");
  EXPECT_EQ(names(Object{{"LK_name", "x%' OR '1'='1"}}), "");
  expect_untouched();
}

// A value of the other type never matches by the engine's own conversions
// (on MariaDB 'set' = 0 and '100abc' = 100 would both hold).
TEST_P(Hostile_Input, ValuesOfAnotherTypeMatchNothing) {
  for (const Object& request :
       {Object{{"name", 0}}, Object{{"name", false}}, Object{{"size", "100abc"}},
        Object{{"size", "100"}}, Object{{"GE_name", 0}}, Object{{"LT_size", "999x"}},
        Object{{"BA_size", Array{"0", "1000"}}}, Object{{"LK_size", "1%"}}}) {
    std::string found = names(request);
    EXPECT_TRUE(found == "" || found == "FAILED") << JSON_Dump(request) << ": " << found;
  }
  expect_untouched();
}

TEST_P(Hostile_Input, NamesAndJsonTextsAreStoredAsTheyCame) {
  std::vector<std::string> texts = hostile_texts();
  texts.pop_back();  // the huge one has a test of its own
  int n = 200;
  for (const std::string& text : texts) {
    SCOPED_TRACE(text);
    std::string uuid = uuid_of(++n);
    Object set = catalog_record(uuid, kPoolA);
    set["name"] = text;
    set["extended_attrs"] = Object{{text, text}, {"nested", Object{{"v", Array{text}}}}};
    ASSERT_TRUE(front_->add_catalog(kPoolA, set)) << log_.dump();
    Object stored;
    ASSERT_TRUE(Utils::get_catalog(kPoolA, uuid, stored));
    EXPECT_EQ(stored["name"], text);
    EXPECT_EQ(stored["extended_attrs"], set["extended_attrs"]);
    EXPECT_EQ(names(Object{{"name", text}}), text);

    Object pool = pool_record(uuid);
    pool["name"] = text;
    ASSERT_TRUE(front_->add_pool(pool)) << log_.dump();
    Object found;
    ASSERT_TRUE(Utils::get_pool(uuid, found));
    EXPECT_EQ(found["name"], text);
    ASSERT_TRUE(front_->remove_pool(uuid)) << log_.dump();
    ASSERT_TRUE(front_->remove_catalog(kPoolA, uuid)) << log_.dump();
  }
  expect_untouched();
}

TEST_P(Hostile_Input, AMegabyteTextIsStoredWholeOrRefused) {
  Object set = catalog_record(uuid_of(300), kPoolA);
  set["name"] = kHuge;
  set["files"] = Array{kHuge};
  set["extended_attrs"] = Object{{"big", kHuge}};
  if (front_->add_catalog(kPoolA, set)) {
    Object stored;
    ASSERT_TRUE(Utils::get_catalog(kPoolA, uuid_of(300), stored));
    EXPECT_EQ(stored["name"], kHuge);
    EXPECT_EQ(stored["files"], Array{kHuge});
    // SQLite refuses patterns this long: the look-up fails, it never
    // answers with other sets.
    Array rows;
    if (front_->get_uuids_with_file(kPoolA, kHuge, rows)) {
      ASSERT_EQ(rows.size(), 1u);
    } else {
      EXPECT_TRUE(log_.contains("Failed to get uuids with file"));
    }
    ASSERT_TRUE(front_->remove_catalog(kPoolA, uuid_of(300)));
  } else {
    EXPECT_TRUE(log_.has_prefix(LM_ERROR, "")) << "refused without a reason";
  }
  // The key names the set; a "uuid" member never renames it.
  front_->update_catalog(kPoolA, kSetA, Object{{"uuid", kHuge}});
  Object pool = pool_record(uuid_of(301));
  pool["name"] = kHuge;
  if (front_->add_pool(pool))
    ASSERT_TRUE(front_->remove_pool(uuid_of(301)));
  expect_untouched();
}

TEST_P(Hostile_Input, NumbersBeyondSixtyFourBitsAreRefusedNotWrapped) {
  const Value beyond[] = {Value(std::numeric_limits<std::uint64_t>::max()),
                          Value(std::uint64_t(1) << 63), Value(1e30), Value(-1e30)};
  for (const Value& number : beyond) {
    SCOPED_TRACE(number.dump());
    Object set = catalog_record(uuid_of(400), kPoolA);
    set["size"] = number;
    EXPECT_FALSE(front_->add_catalog(kPoolA, set));
    EXPECT_FALSE(front_->update_catalog(kPoolA, kSetA, Object{{"size", number}}));
    EXPECT_FALSE(front_->update_pool(kPoolA, Object{{"quoted", number}}));
    std::string found = names(Object{{"size", number}});
    EXPECT_TRUE(found == "" || found == "FAILED") << found;
    found = names(Object{{"GE_size", number}});
    EXPECT_TRUE(found == "" || found == "FAILED") << found;
  }
  // Text digits beyond 64 bits parse as JSON but never as a size.
  Value parsed;
  ASSERT_TRUE(loads_json("{\"size\": 123456789012345678901234567890}", parsed));
  Object set = catalog_record(uuid_of(401), kPoolA);
  set["size"] = parsed["size"];
  EXPECT_FALSE(front_->add_catalog(kPoolA, set));
  expect_untouched();
}

// Such a value is moved into place, never copied: a copy recurses once per
// level, in the caller as anywhere.
TEST_P(Hostile_Input, DeeplyNestedJsonIsRefusedWithoutACrash) {
  const int kDepth = 100000;
  auto holding_deep = [&](Object base, const std::string& key) {
    base[key] = deep_array(kDepth);
    return base;
  };
  auto deep_list = [&] {
    Array list;
    list.push_back(deep_array(kDepth));
    return list;
  };
  Object set = catalog_record(uuid_of(500), kPoolA);
  set["extended_attrs"] = holding_deep(Object(), "deep");
  EXPECT_FALSE(front_->add_catalog(kPoolA, set));
  set["extended_attrs"] = Object();
  set["files"] = deep_list();
  EXPECT_FALSE(front_->add_catalog(kPoolA, set));
  Object update;
  update["extended_attrs"] = holding_deep(Object(), "d");
  EXPECT_FALSE(front_->update_catalog(kPoolA, kSetA, update));
  Array removed;
  EXPECT_FALSE(front_->remove_catalogs(kPoolA, deep_list(), removed));
  Array rows;
  EXPECT_FALSE(front_->query_catalog(kPoolA, holding_deep(Object(), "name"), "id", true, 0, -1,
                                     rows, nullptr, false, false));
  Object pool = pool_record(uuid_of(501));
  pool["extended_attrs"] = holding_deep(Object(), "deep");
  EXPECT_FALSE(front_->add_pool(pool));
  Object filter, paging;
  EXPECT_FALSE(Utils::parse_params(holding_deep(Object(), "name"), filter, paging));
  EXPECT_TRUE(log_.contains("request nested deeper than 128 levels"));
  Object copied, copied_paging;
  EXPECT_FALSE(Utils::parse_params2(holding_deep(Object(), "name"), copied, copied_paging));
  EXPECT_TRUE(copied.empty());
  expect_untouched();
}

// Deep but well-formed text is refused in Json.NestingDeeperThanTheCapIsNotJson.
TEST(Hostile_Json_Text, DeepOrBrokenTextIsParsedOrRefusedWithoutACrash) {
  const std::string broken[] = {std::string(100000, '['),
                                std::string(100000, '{'),
                                "{\"a\": 1 /* comment */}",
                                "{\"a\": 1} trailing",
                                "{\"a\": \"\\ud800\"}",
                                std::string("{\"a\": \"x\0y\"}", 12),
                                "",
                                "\xff\xfe"};
  for (const std::string& text : broken) {
    Value untouched = "kept";
    EXPECT_FALSE(loads_json(text, untouched)) << text.substr(0, 40);
    EXPECT_EQ(untouched, "kept");
  }
  Value value;
  EXPECT_FALSE(loads_json(nullptr, 0, value, 0));
}

SCAT_INSTANTIATE_ENGINES(Hostile_Input);

}  // namespace
