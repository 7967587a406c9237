#include <gtest/gtest.h>

#include "platform/common/module_name.h"

namespace {

std::string module_of(const std::string& agent) {
  std::string module = "untouched";
  EXPECT_TRUE(common::parse_module_name(agent, module)) << agent;
  return module;
}

TEST(Module_Name, NamesTheModuleOfAnAgent) {
  EXPECT_EQ(module_of("backup.file"), "file");
  EXPECT_EQ(module_of("backup.vmware.vm"), "vmware");
  EXPECT_EQ(module_of("Backup.Hadoop"), "hadoop");
  EXPECT_EQ(module_of("file.agent"), "file");
  EXPECT_EQ(module_of("backupd"), "backupd");
  EXPECT_EQ(module_of("obs"), "obs");
}

TEST(Module_Name, RefusesTextsThatNameNoModule) {
  for (const std::string bad :
       {"", "backup", "backup.", ".file", "backup..file", "file agent", "backup.file/x", "b\\c"}) {
    std::string module = "untouched";
    EXPECT_FALSE(common::parse_module_name(bad, module)) << bad;
    EXPECT_EQ(module, "untouched");
  }
}

}  // namespace
