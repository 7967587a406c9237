#include "tests/support/catalog_fixture.h"

#include "tests/support/test_mariadb.h"

std::string engine_name(const ::testing::TestParamInfo<Engine>& info) {
  return info.param == Engine::SQLITE ? "SQLite" : "MariaDB";
}

void Catalog_Engine_Test::SetUp() {
  if (is_mysql()) {
    if (!test_mariadb::configured())
      GTEST_SKIP() << "no MariaDB server configured";
    ASSERT_TRUE(test_mariadb::create_schema(schema_)) << log_.dump();
  }
  impl_ = make_impl();
  ASSERT_TRUE(impl_->open()) << log_.dump();
}

void Catalog_Engine_Test::TearDown() {
  impl_.reset();
  if (!schema_.empty())
    test_mariadb::drop_schema(schema_);
}

std::unique_ptr<Storage_Catalog_Manager_Database_Impl> Catalog_Engine_Test::make_impl() const {
  std::string path = is_mysql() ? std::string() : dir_.file("catalog.db");
  return std::unique_ptr<Storage_Catalog_Manager_Database_Impl>(
      new Storage_Catalog_Manager_Database_Impl(path));
}
