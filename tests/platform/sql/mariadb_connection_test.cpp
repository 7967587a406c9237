// What only the MariaDB connection does: strict UTC sessions, choosing and
// reaching the server. What both engines do is in connection_test.
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/sql/cursor.h"
#include "platform/sql/metadata.h"
#include "tests/support/log_capture.h"
#include "tests/support/sql_rows.h"
#include "tests/support/test_mariadb.h"

using namespace database;
using namespace database::sql;

namespace {

TEST(Mariadb_Session, TimesAreUtcAndValuesThatDoNotFitAreRefused) {
  if (!test_mariadb::configured())
    GTEST_SKIP() << "no MariaDB server configured";
  Log_Capture log;
  std::string schema;
  ASSERT_TRUE(test_mariadb::create_schema(schema)) << log.dump();
  Connection_Ptr conn = open_connection(test_mariadb::server(schema));
  ASSERT_TRUE(conn && conn->execute(std::string("CREATE TABLE t (id bigint NOT NULL AUTO_INCREMENT "
                                                "PRIMARY KEY, n bigint, d datetime);")));
  EXPECT_EQ(select_scalar(conn, "SELECT UNIX_TIMESTAMP('1970-01-02 00:00:00')"), 86400);
  EXPECT_FALSE(conn->execute(std::string("INSERT INTO t (n) VALUES ('many');")));
  EXPECT_FALSE(conn->execute(std::string("INSERT INTO t (d) VALUES ('soon');")));
  conn = Connection_Ptr();
  test_mariadb::drop_schema(schema);
}

TEST(Mariadb_Configuration, TheEnvironmentSelectsTheServerAndAnUnreachableOneFailsTheOpen) {
  if (!test_mariadb::configured())
    GTEST_SKIP() << "no MariaDB server configured";
  Log_Capture log;
  std::string schema;
  ASSERT_TRUE(test_mariadb::create_schema(schema)) << log.dump();
  setenv("STORAGED_DB_ENGINE", "mariadb", 1);
  const bool cluster = test_mariadb::on_cluster();
  const char* where = cluster ? "STORAGED_DB_HOSTS" : "STORAGED_DB_SOCKET";
  setenv(where, std::getenv(cluster ? "SCAT_TEST_MARIADB_HOSTS" : "SCAT_TEST_MARIADB_SOCKET"), 1);
  setenv("STORAGED_DB_USER", "root", 1);
  setenv("STORAGED_DB_NAME", schema.c_str(), 1);
  Database db = Manager::instance()->database("env_test");
  setenv(where, cluster ? "127.0.0.1:1,127.0.0.1:2" : "/nonexistent/mysqld.sock", 1);
  Database unreachable = Manager::instance()->database("env_test");
  for (const char* v : {"STORAGED_DB_ENGINE", "STORAGED_DB_SOCKET", "STORAGED_DB_HOSTS",
                        "STORAGED_DB_USER", "STORAGED_DB_NAME"})
    unsetenv(v);
  EXPECT_EQ(db.type(), Database::MYSQL);
  EXPECT_TRUE(open_connection(db)) << log.dump();
  EXPECT_FALSE(open_connection(unreachable));
  EXPECT_TRUE(log.contains("Failed to connect to the MariaDB server of database 'env_test'"));
  test_mariadb::drop_schema(schema);
}

TEST(Mariadb_Configuration, AMistypedPortFallsBackToTheDefaultWithAReason) {
  Log_Capture log;
  setenv("STORAGED_DB_ENGINE", "mariadb", 1);
  setenv("STORAGED_DB_PORT", "33o6", 1);
  Database db = Manager::instance()->database("port_test");
  unsetenv("STORAGED_DB_ENGINE");
  unsetenv("STORAGED_DB_PORT");
  EXPECT_EQ(db.port(), 3306u);
  EXPECT_TRUE(log.has("Invalid STORAGED_DB_PORT '33o6': using port 3306."));
}

}  // namespace
