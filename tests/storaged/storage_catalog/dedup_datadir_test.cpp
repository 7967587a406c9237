// Runs with the stand-in engine library on the search path.
#include "storaged/storage_catalog/catalog_settings.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "storaged/storage_catalog/pool_url_info.h"
#include "tests/support/front_fixture.h"

TEST(DedupDataDir, ReadsTheExportedText) {
  std::string dir = "prefilled";
  get_dedup_datadir(dir);
  EXPECT_EQ(dir, "/srv/dedup/data");
}

namespace {

// A dedup pool's folder: the engine's data folder, then its URL path after
// the engine's own 9-character part.
class Dedup_Pool_Url : public Front_Test {};

TEST_F(Dedup_Pool_Url, JoinsTheEngineFolderAndTheUrlPath) {
  open_server();
  ASSERT_TRUE(front_->add_device(Object{{"uuid", uuid_of(1)},
                                        {"url", "dedups://10.0.0.1:8443/ddp/vol1/pool"},
                                        {"pool_uuid", kPoolA}}));
  Pool_URL_Info info(kPoolA);
  ASSERT_TRUE(info.init()) << log_.dump();
  std::string expected = "/srv/dedup/data/pool";
  std::replace(expected.begin(), expected.end(), '/', Pool_URL_Info::kPathSeparator);
  EXPECT_EQ(info.path(), expected);
  EXPECT_EQ(info.url(), "dedups://10.0.0.1:8443/ddp/vol1/pool");
}

}  // namespace
