// Sessions on several servers: choosing a ready one, moving on, and
// transactions a Galera cluster undid running again whole. The cluster
// cases run when the tests are given one (SCAT_TEST_MARIADB_HOSTS).
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/sql/cursor.h"
#include "platform/sql/metadata.h"
#include "platform/sql/transaction.h"
#include "tests/support/log_capture.h"
#include "tests/support/sql_rows.h"
#include "tests/support/test_mariadb.h"

using namespace database;
using namespace database::sql;

namespace {

TEST(Mariadb_Servers, AListOfServersIsReadWholeOrNotAtAll) {
  std::vector<Database::Server> servers;
  ASSERT_TRUE(Database::parse_servers("db1:3307,db2,10.0.0.3:3306", servers));
  ASSERT_EQ(servers.size(), 3u);
  EXPECT_EQ(servers[0].host, "db1");
  EXPECT_EQ(servers[0].port, 3307u);
  EXPECT_EQ(servers[1].host, "db2");
  EXPECT_EQ(servers[1].port, 3306u);
  EXPECT_EQ(servers[2].host, "10.0.0.3");
  for (const char* bad : {"", "db1:", "db1:0", "db1:70000", "db1:33o6", "db1,,db2", ":3306"})
    EXPECT_FALSE(Database::parse_servers(bad, servers)) << bad;
  EXPECT_EQ(servers.size(), 3u);  // left as it was

  Log_Capture log;
  setenv("STORAGED_DB_ENGINE", "mariadb", 1);
  setenv("STORAGED_DB_HOSTS", "db1:3307,db2:3308", 1);
  Database db = Manager::instance()->database("hosts_test");
  setenv("STORAGED_DB_HOSTS", "db1:x", 1);
  Database fallback = Manager::instance()->database("hosts_test");
  unsetenv("STORAGED_DB_ENGINE");
  unsetenv("STORAGED_DB_HOSTS");
  ASSERT_EQ(db.servers().size(), 2u);
  EXPECT_EQ(db.servers()[1].port, 3308u);
  EXPECT_TRUE(fallback.servers().empty());
  EXPECT_TRUE(log.has("Invalid STORAGED_DB_HOSTS 'db1:x': using STORAGED_DB_HOST."));
}

class Mariadb_Cluster : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test_mariadb::on_cluster())
      GTEST_SKIP() << "no Galera cluster configured";
    ASSERT_TRUE(test_mariadb::create_schema(schema_)) << log_.dump();
    Connection_Ptr conn = open_connection(test_mariadb::server(schema_));
    ASSERT_TRUE(conn && conn->execute(
                            std::string("CREATE TABLE t (id bigint NOT NULL PRIMARY KEY, n bigint);"
                                        "INSERT INTO t VALUES (1, 0);")))
        << log_.dump();
  }
  void TearDown() override {
    if (!schema_.empty())
      test_mariadb::drop_schema(schema_);
  }

  Log_Capture log_;
  std::string schema_;
};

TEST_F(Mariadb_Cluster, ASessionSkipsServersThatDoNotAnswerAndReadsWhatAnotherNodeWrote) {
  Database db = test_mariadb::server(schema_);
  std::vector<Database::Server> servers = db.servers();
  servers.insert(servers.begin(), Database::Server{"127.0.0.1", 1});
  Connection_Ptr conn = open_connection(db.servers(servers));
  ASSERT_TRUE(conn) << log_.dump();
  // Written through node 3, read at once through another node.
  Connection_Ptr third = open_connection(test_mariadb::cluster::node(3, schema_));
  ASSERT_TRUE(third);
  ASSERT_TRUE(third->execute(std::string("UPDATE t SET n = 42 WHERE id = 1;")));
  EXPECT_EQ(select_scalar(conn, "SELECT n FROM t WHERE id = 1"), 42);
}

TEST_F(Mariadb_Cluster, ATransactionThatLostAConflictWithAnotherNodeRunsAgainWhole) {
  Connection_Ptr first = open_connection(test_mariadb::cluster::node(1, schema_));
  Connection_Ptr second = open_connection(test_mariadb::cluster::node(2, schema_));
  ASSERT_TRUE(first && second) << log_.dump();
  int runs = 0;
  bool done = run_in_transaction(first, [&] {
    ++runs;
    if (!first->execute(std::string("UPDATE t SET n = n + 1 WHERE id = 1;")))
      return false;
    // The other node commits a change of the same row first: this
    // transaction loses certification at its commit.
    return runs > 1 || second->execute(std::string("UPDATE t SET n = n + 100 WHERE id = 1;"));
  });
  EXPECT_TRUE(done) << log_.dump();
  EXPECT_EQ(runs, 2);
  EXPECT_TRUE(log_.contains("running a transaction again")) << log_.dump();
  EXPECT_EQ(select_scalar(first, "SELECT n FROM t WHERE id = 1"), 101);
  EXPECT_EQ(select_scalar(second, "SELECT n FROM t WHERE id = 1"), 101);
}

TEST_F(Mariadb_Cluster, AFailureOfTheTransactionItselfIsNotRunAgain) {
  Connection_Ptr conn = open_connection(test_mariadb::server(schema_));
  ASSERT_TRUE(conn);
  int runs = 0;
  Transaction_Step failed = Transaction_Step::NONE;
  EXPECT_FALSE(run_in_transaction(
      conn,
      [&] {
        ++runs;
        return conn->execute(std::string("INSERT INTO t VALUES (1, 5);"));  // duplicate key
      },
      &failed));
  EXPECT_EQ(runs, 1);
  EXPECT_EQ(failed, Transaction_Step::BODY);
  EXPECT_EQ(select_scalar(conn, "SELECT COUNT(*) FROM t"), 1);
}

}  // namespace
