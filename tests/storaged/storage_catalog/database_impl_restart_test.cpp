// The shared catalog across a restart of its MariaDB server, on a server
// of the test's own so that other test processes keep theirs.
#include <gtest/gtest.h>

#include "platform/sql/legacy_manager.h"
#include "platform/sql/metadata.h"
#include "storaged/storage_catalog/storage_catalog_manager_database_impl.h"
#include "tests/support/log_capture.h"
#include "tests/support/test_mariadb.h"

namespace {

const std::string kPool = "0123456789abcdef0123456789abcdef";
const std::string kSet = "fedcba9876543210fedcba9876543210";

class Shared_Catalog_Restart : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test_mariadb::configured())
      GTEST_SKIP() << "no MariaDB server configured";
    ASSERT_TRUE(server_.start());
    auto admin = database::sql::open_connection(server_.database(""));
    ASSERT_TRUE(admin && admin->execute(std::string("CREATE DATABASE IF NOT EXISTS catalog;")));
    database::Database db = server_.database("catalog");
    db.name("storage_catalog");
    database::Manager::instance()->configure("storage_catalog", db);
    database::sql::Legacy_Manager::instance()->close("storage_catalog");
    configured_ = true;
  }

  void TearDown() override {
    if (!configured_)
      return;
    database::sql::Legacy_Manager::instance()->close("storage_catalog");
    database::Manager::instance()->unconfigure("storage_catalog");
  }

  Log_Capture log_;
  test_mariadb::Private_Server server_;
  bool configured_ = false;
};

TEST_F(Shared_Catalog_Restart, TheOperationAfterARestartSucceeds) {
  Storage_Catalog_Manager_Database_Impl impl("");
  ASSERT_TRUE(impl.open()) << log_.dump();
  ASSERT_TRUE(impl.add_pool(Object{{"uuid", kPool}, {"name", "pool"}})) << log_.dump();

  ASSERT_TRUE(server_.stop());
  ASSERT_TRUE(server_.start());

  Object set{{"uuid", kSet},
             {"incarnation", kSet},
             {"pool_uuid", kPool},
             {"agent", "backupd"},
             {"backup_time", "2024-05-01 08:00:00"},
             {"state", 1},
             {"files", Array{"a"}},
             {"extended_attrs", Object()}};
  EXPECT_TRUE(impl.add_catalog(kPool, set)) << log_.dump();
  EXPECT_TRUE(log_.contains("reconnected to the server."));
  Array rows;
  ASSERT_TRUE(impl.query_catalog(kPool, Object{{"uuid", kSet}}, "", true, 0, -1, rows, nullptr,
                                 false, false))
      << log_.dump();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0]["backup_time"], "2024-05-01 08:00:00");
  // A back-end opened after the restart finds the pool's table again.
  Storage_Catalog_Manager_Database_Impl again("");
  ASSERT_TRUE(again.open()) << log_.dump();
  EXPECT_TRUE(again.is_known_table(kPool));
}

}  // namespace
