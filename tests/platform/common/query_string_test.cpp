#include <gtest/gtest.h>

#include "platform/common/query_string.h"

namespace {

TEST(Query_String, ReadsPairsIntoStringMembers) {
  Object out{{"kept", "yes"}};
  ASSERT_TRUE(common::parse_query_string("uuid=ab%2Fc&id=12&&name=a+b&id=13&flag", out));
  EXPECT_EQ(
      out,
      (Object{{"kept", "yes"}, {"uuid", "ab/c"}, {"id", "13"}, {"name", "a b"}, {"flag", ""}}));
  for (const std::string bad : {"=x", "a=%2", "a=%zz", "%=1"}) {
    Object untouched{{"a", "1"}};
    EXPECT_FALSE(common::parse_query_string(bad, untouched)) << bad;
    EXPECT_EQ(untouched, (Object{{"a", "1"}}));
  }
}

}  // namespace
