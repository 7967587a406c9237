#include "storaged/storage_catalog/catalog_settings.h"

#include <gtest/gtest.h>

#include "platform/common/attribute_manager.h"
#include "platform/rpc/host_manager.h"

namespace {

TEST(CatalogSettings, DefaultsAndSetValuesAreRead) {
  EXPECT_EQ(get_tape_replicate_retry(), 5);
  EXPECT_EQ(get_max_wait_seconds(), 300);
  set_tape_replicate_retry(-2);
  set_max_wait_seconds(7);
  EXPECT_EQ(get_tape_replicate_retry(), -2);
  EXPECT_EQ(get_max_wait_seconds(), 7);
  set_tape_replicate_retry(5);
  set_max_wait_seconds(300);
}

// This test binary runs without the engine's library on its search path.
TEST(CatalogSettings, DedupDirStaysUnchangedWithoutTheEngine) {
  std::string dir = "prefilled";
  get_dedup_datadir(dir);
  EXPECT_EQ(dir, "prefilled");
}

class Host_Key : public ::testing::Test {
 protected:
  void TearDown() override {
    Host_Manager::instance()->reset();
    Attribute_Manager::instance()->set_key("");
  }
};

TEST_F(Host_Key, ComesFromTheAttributeStoreOnTheDaemonsHost) {
  Host_Manager::instance()->set_key("host-key");
  Attribute_Manager::instance()->set_key("attr-key");
  std::string key = "old";
  Host_Manager::instance()->set_role(Host_Manager::ROLE_BACKUPD);
  EXPECT_TRUE(get_host_key(key));
  EXPECT_EQ(key, "attr-key");
  Host_Manager::instance()->set_role(Host_Manager::ROLE_AGENT);
  EXPECT_TRUE(get_host_key(key));
  EXPECT_EQ(key, "host-key");
}

TEST_F(Host_Key, EmptyKeyIsAFailure) {
  Host_Manager::instance()->set_role(Host_Manager::ROLE_SERVER);
  Host_Manager::instance()->set_key("");
  std::string key = "old";
  EXPECT_FALSE(get_host_key(key));
  EXPECT_EQ(key, "");
}

}  // namespace
