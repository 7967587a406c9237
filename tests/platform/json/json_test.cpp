#include "platform/json/json.h"

#include <gtest/gtest.h>

namespace {

Object sample() {
  Value v = Value::parse(R"({"name":"p1","size":5,"big":9000000000,"flag":true,
                            "attrs":{"a":1},"list":[1,2],"neg":-3})");
  return v.get<Object>();
}

TEST(Json, PointerAccessorsReturnNullForMissingOrMistypedMembers) {
  Object o = sample();
  ASSERT_NE(object_get_str(o, "name"), nullptr);
  EXPECT_EQ(*object_get_str(o, "name"), "p1");
  EXPECT_EQ(object_get_str(o, "size"), nullptr);
  EXPECT_EQ(object_get_str(o, "nothing"), nullptr);
  EXPECT_NE(object_get_object(o, "attrs"), nullptr);
  EXPECT_EQ(object_get_object(o, "list"), nullptr);
  EXPECT_NE(object_get_array(o, "list"), nullptr);
}

TEST(Json, ThrowingAccessorsNameTheKey) {
  Object o = sample();
  EXPECT_EQ(object_get_int_or_throw(o, "size"), 5);
  EXPECT_EQ(object_get_int64_or_throw(o, "big"), 9000000000LL);
  EXPECT_EQ(object_get_uint_or_throw(o, "size"), 5u);
  EXPECT_TRUE(object_get_bool_or_throw(o, "flag"));
  try {
    object_get_str_or_throw(o, "missing");
    FAIL();
  } catch (const std::exception& e) {
    EXPECT_NE(std::string(e.what()).find("'missing'"), std::string::npos);
  }
  EXPECT_THROW(object_get_int_or_throw(o, "big"), JSON_Error);  // out of int range
  EXPECT_THROW(object_get_uint_or_throw(o, "neg"), JSON_Error);
  EXPECT_THROW(object_get_int_or_throw(o, "name"), JSON_Error);
  EXPECT_THROW(object_get_array_or_throw(o, "attrs"), JSON_Error);
}

TEST(Json, ObjectGetLeavesOutputAloneWhenKeyIsAbsent) {
  Object o = sample();
  std::string s = "kept";
  EXPECT_FALSE(object_get(o, "nothing", s));
  EXPECT_EQ(s, "kept");
  EXPECT_TRUE(object_get(o, "name", s));
  EXPECT_EQ(s, "p1");
  int n = 0;
  EXPECT_THROW(object_get(o, "name", n), JSON_Error);
}

TEST(Json, UpdatePartialCopiesOnlyListedExistingKeys) {
  Object source = sample();
  Object target{{"name", "old"}, {"other", 1}};
  update_json_partial(source, target, "name", "size", "absent");
  EXPECT_EQ(target["name"], "p1");
  EXPECT_EQ(target["size"], 5);
  EXPECT_EQ(target.count("absent"), 0u);
  EXPECT_EQ(target["other"], 1);
}

TEST(Json, LoadsAndDumps) {
  Value v;
  std::string text = R"({"b":1,"a":[true,null]})";
  ASSERT_TRUE(loads_json(text.data(), text.size(), v));
  EXPECT_EQ(JSON_Dump(v, false), R"({"a":[true,null],"b":1})");  // ordered by key
  Value untouched = 7;
  EXPECT_FALSE(loads_json("{bad", 4, untouched));
  EXPECT_EQ(untouched, 7);
  EXPECT_FALSE(loads_json(nullptr, 0, untouched));
}

TEST(Json, PointerPathsReadNestedMembersOrRaiseTheHostText) {
  Value v = Value::parse(R"({"extended_attrs":{"attached_hosts":{"h1":"C:\\pool"}}})");
  EXPECT_EQ(json_pointer_str(v, "/extended_attrs/attached_hosts/h1"), "C:\\pool");
  try {
    json_pointer(v, "/extended_attrs/role");
    FAIL();
  } catch (const JSON_Error& e) {
    EXPECT_STREQ(e.what(), "JSON Pointer path '/extended_attrs/role' not exist in JSON!");
  }
  EXPECT_THROW(json_pointer(v, "no-slash"), JSON_Error);
}

}  // namespace
