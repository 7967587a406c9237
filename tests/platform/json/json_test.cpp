#include "platform/json/json.h"

#include <gtest/gtest.h>

namespace {

Object sample() {
  Value v = Value::parse(R"({"name":"p1","size":5,"big":9000000000,"flag":true,
                            "attrs":{"a":1},"list":[1,2],"neg":-3})");
  return v.get<Object>();
}

TEST(Json, AccessorsRefuseMissingOrMistypedMembers) {
  Object o = sample();
  ASSERT_NE(object_get_str(o, "name"), nullptr);
  EXPECT_EQ(object_get_str(o, "size"), nullptr);
  EXPECT_EQ(object_get_object(o, "list"), nullptr);
  EXPECT_EQ(object_get_int64_or_throw(o, "big"), 9000000000LL);
  try {
    object_get_str_or_throw(o, "missing");
    FAIL();
  } catch (const std::exception& e) {
    EXPECT_NE(std::string(e.what()).find("'missing'"), std::string::npos);
  }
  EXPECT_THROW(object_get_int_or_throw(o, "big"), JSON_Error);  // out of int range
  EXPECT_THROW(object_get_uint_or_throw(o, "neg"), JSON_Error);
  EXPECT_THROW(object_get_array_or_throw(o, "attrs"), JSON_Error);
  std::string s = "kept";
  EXPECT_FALSE(object_get(o, "nothing", s));
  EXPECT_EQ(s, "kept");
  int n = 0;
  EXPECT_THROW(object_get(o, "name", n), JSON_Error);
}

TEST(Json, UpdatePartialCopiesOnlyListedExistingKeys) {
  Object target{{"name", "old"}, {"other", 1}};
  update_json_partial(sample(), target, "name", "size", "absent");
  EXPECT_EQ(Value(target), Value::parse(R"({"name":"p1","size":5,"other":1})"));
}

TEST(Json, LoadsDumpsAndReadsPointerPaths) {
  Value v;
  std::string text = R"({"b":1,"a":{"c":"C:\\pool"}})";
  ASSERT_TRUE(loads_json(text.data(), text.size(), v));
  EXPECT_EQ(JSON_Dump(v, false), R"({"a":{"c":"C:\\pool"},"b":1})");  // ordered by key
  Value untouched = 7;
  EXPECT_FALSE(loads_json("{bad", 4, untouched));
  EXPECT_EQ(untouched, 7);
  EXPECT_EQ(json_pointer_str(v, "/a/c"), "C:\\pool");
  try {
    json_pointer(v, "/a/role");
    FAIL();
  } catch (const JSON_Error& e) {
    EXPECT_STREQ(e.what(), "JSON Pointer path '/a/role' not exist in JSON!");
  }
}

TEST(Json, NestingDeeperThanTheCapIsNotJson) {
  auto nested = [](std::size_t depth) { return std::string(depth, '[') + std::string(depth, ']'); };
  Value v;
  ASSERT_TRUE(loads_json(nested(kMaxJsonDepth), v));
  EXPECT_TRUE(json_within_depth(v.get_ref<const Array&>(), kMaxJsonDepth));
  EXPECT_FALSE(json_within_depth(v.get_ref<const Array&>(), kMaxJsonDepth - 1));
  Value untouched = 7;
  EXPECT_FALSE(loads_json(nested(kMaxJsonDepth + 1), untouched));
  EXPECT_FALSE(loads_json(nested(100000), untouched));
  std::string text = "{\"a\":" + nested(100000) + "}";
  EXPECT_FALSE(loads_json(text, untouched));
  EXPECT_EQ(untouched, 7);
  // Brackets inside strings nest nothing.
  text = "[\"" + std::string(1000, '[') + "\\\"\"]";
  ASSERT_TRUE(loads_json(text, v));
  EXPECT_EQ(v[0].get<std::string>().size(), 1001u);

  Object deep;
  deep["a"] = Value::parse(nested(100000));
  EXPECT_FALSE(json_within_depth(deep));
  // The object, its array and the object in it: three levels.
  EXPECT_TRUE(json_within_depth(Object{{"a", Array{Object{{"b", 1}}}}}, 3));
  EXPECT_FALSE(json_within_depth(Object{{"a", Array{Object{{"b", 1}}}}}, 2));
}

}  // namespace
