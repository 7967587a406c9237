#include <gtest/gtest.h>

#include "platform/runtime/string_template.h"

namespace {

TEST(String_Template, FillsNamedVariablesAndLeavesOthersAsWritten) {
  String_Template text("{{j}}.pool_uuid = p.uuid AND {{j}}.id > {{min}}");
  EXPECT_EQ(text.set("j", "job").set("min", "5").str(), "job.pool_uuid = p.uuid AND job.id > 5");
  EXPECT_EQ(fill_template("{{x}} and {{j}} and {{j", "j", "a"), "{{x}} and a and {{j");
  EXPECT_EQ(String_Template("<a> <b>", "<", ">").set("b", "2").str(), "<a> 2");
  EXPECT_EQ(String_Template("{{j}}", "", "").set("j", "x").str(), "{{j}}");
}

}  // namespace
