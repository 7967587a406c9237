// The pool utility stand-ins: agent descriptors and continuous-data modules.
#include <gtest/gtest.h>

#include "platform/poolutil/catalog_agent.h"
#include "platform/poolutil/cd_modules.h"

namespace {

TEST(Catalog_Agent, SplitsBothFormsIntoCategoryModuleAndKind) {
  Catalog_Agent agent;
  ASSERT_TRUE(agent.parse("backup.MSSQL.database"));
  EXPECT_EQ(agent.category, "backup");
  EXPECT_EQ(agent.module, "mssql");
  EXPECT_EQ(agent.kind, "database");
  ASSERT_TRUE(agent.parse("file"));
  EXPECT_EQ(agent.category, "");
  EXPECT_EQ(agent.module, "file");
  EXPECT_EQ(agent.kind, "");
  ASSERT_TRUE(agent.parse("vmware.vm.disk"));
  EXPECT_EQ(agent.module, "vmware");
  EXPECT_EQ(agent.kind, "vm.disk");
  for (const std::string bad : {"", "backup", "backup.", ".mssql", "a..b", "ms sql"}) {
    Catalog_Agent untouched{"c", "m", "k"};
    EXPECT_FALSE(untouched.parse(bad)) << bad;
    EXPECT_EQ(untouched.module, "m");
  }
}

TEST(Cd_Modules, KnowsTheContinuousDataModulesByTheAgentGivenOrStored) {
  EXPECT_TRUE(is_cd_modules(Object{{"agent", "backup.cdp.file"}}, nullptr));
  EXPECT_TRUE(is_cd_modules(Object{{"agent", "cdm"}}, nullptr));
  EXPECT_FALSE(is_cd_modules(Object{{"agent", "backup.mssql"}}, nullptr));
  EXPECT_FALSE(is_cd_modules(Object{{"agent", 7}}, nullptr));
  EXPECT_FALSE(is_cd_modules(Object(), nullptr));
  const std::string given = "backup.cdp";
  EXPECT_TRUE(is_cd_modules(Object{{"agent", "backup.file"}}, &given));
}

}  // namespace
