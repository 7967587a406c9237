#include "storaged/storage_catalog/catalog_settings.h"

#include <gtest/gtest.h>

#include "platform/common/attribute_manager.h"
#include "platform/rpc/host_manager.h"

namespace {

// This test binary runs without the engine's library on its search path.
TEST(CatalogSettings, DedupDirStaysUnchangedWithoutTheEngine) {
  std::string dir = "prefilled";
  get_dedup_datadir(dir);
  EXPECT_EQ(dir, "prefilled");
}

TEST(CatalogSettings, HostKeyComesFromTheAttributeStoreOnlyOnTheDaemonsHost) {
  Host_Manager* host = Host_Manager::instance();
  host->set_key("host-key");
  Attribute_Manager::instance()->set_key("attr-key");
  std::string key = "old";
  host->set_role(Host_Manager::ROLE_BACKUPD);
  EXPECT_TRUE(get_host_key(key));
  EXPECT_EQ(key, "attr-key");
  host->set_role(Host_Manager::ROLE_AGENT);
  EXPECT_TRUE(get_host_key(key));
  EXPECT_EQ(key, "host-key");
  host->set_key("");
  EXPECT_FALSE(get_host_key(key));
  EXPECT_EQ(key, "");
  host->reset();
  Attribute_Manager::instance()->set_key("");
}

}  // namespace
