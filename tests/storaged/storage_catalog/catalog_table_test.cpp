// A pool's catalog table name: only a pool uuid makes one.
#include "storaged/storage_catalog/catalog_table.h"

#include <gtest/gtest.h>

namespace {

TEST(Catalog_Table, OnlyAPoolUuidNamesATable) {
  const std::string pool = "0123456789abcdef0123456789abcdef";
  Catalog_Table table(pool);
  EXPECT_EQ(table.name(), pool);
  EXPECT_EQ(table.sql(), "`" + pool + "`");
  for (const std::string& name :
       {std::string(), pool.substr(1), pool + "0", std::string("0123456789ABCDEF0123456789abcdef"),
        std::string("storage_catalog_device"), pool.substr(2) + "`;"}) {
    EXPECT_FALSE(Catalog_Table::is_pool_uuid(name)) << name;
    EXPECT_THROW(Catalog_Table{name}, std::invalid_argument) << name;
  }
}

}  // namespace
