// Runs with the stand-in engine library on the search path.
#include "storaged/storage_catalog/catalog_settings.h"

#include <gtest/gtest.h>

TEST(DedupDataDir, ReadsTheExportedText) {
  std::string dir = "prefilled";
  get_dedup_datadir(dir);
  EXPECT_EQ(dir, "/srv/dedup/data");
}
