#include <gtest/gtest.h>

#include "platform/common/module_name.h"

namespace {

TEST(Module_Name, NamesTheModuleOfAnAgent) {
  const std::pair<std::string, std::string> named[] = {{"backup.file", "file"},
                                                       {"backup.vmware.vm", "vmware"},
                                                       {"Backup.Hadoop", "hadoop"},
                                                       {"file.agent", "file"},
                                                       {"backupd", "backupd"}};
  for (const auto& agent : named) {
    std::string module;
    EXPECT_TRUE(common::parse_module_name(agent.first, module)) << agent.first;
    EXPECT_EQ(module, agent.second);
  }
  for (const std::string bad :
       {"", "backup", "backup.", ".file", "backup..file", "file agent", "backup.file/x", "b\\c"}) {
    std::string module = "untouched";
    EXPECT_FALSE(common::parse_module_name(bad, module)) << bad;
    EXPECT_EQ(module, "untouched");
  }
}

}  // namespace
