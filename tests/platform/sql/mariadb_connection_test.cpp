#include "platform/sql/mariadb_connection.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/sql/cursor.h"
#include "platform/sql/metadata.h"
#include "platform/sql/transaction.h"
#include "tests/support/log_capture.h"
#include "tests/support/test_mariadb.h"

using namespace database;
using namespace database::sql;

namespace {

const std::string kUuid = "00112233445566778899aabbccddeeff";

class Mariadb : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test_mariadb::configured())
      GTEST_SKIP() << "no MariaDB server configured";
    ASSERT_TRUE(test_mariadb::create_schema(schema_)) << log_.dump();
    conn_ = open_connection(test_mariadb::server(schema_));
    ASSERT_TRUE(conn_) << log_.dump();
    ASSERT_TRUE(conn_->execute(std::string(
        "CREATE TABLE t (id bigint NOT NULL AUTO_INCREMENT PRIMARY KEY, uuid binary(16), "
        "name text, size bigint, backup_time datetime, extended_attrs longtext) "
        "ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;")));
  }

  void TearDown() override {
    conn_ = Connection_Ptr();
    if (!schema_.empty())
      test_mariadb::drop_schema(schema_);
  }

  long long scalar(const std::string& text) {
    SQL q(text);
    Legacy_Cursor c(conn_, q, Legacy_Cursor::SCALAR);
    long long n = -1;
    EXPECT_TRUE(c.fetch()) << log_.dump();
    c >> n;
    return n;
  }

  bool insert(const std::string& name, long long size = 0) {
    Insert_SQL i;
    i.table("t").value_uuid("uuid", kUuid);
    i.value("name", Binding_Value(name)).value("size", Binding_Value(size));
    return conn_->execute(i);
  }

  std::vector<std::string> names() {
    SQL q("SELECT name FROM t ORDER BY id");
    Value rows;
    Legacy_Cursor c(conn_, q, Legacy_Cursor::ROWS);
    EXPECT_TRUE(c.fetch(rows)) << log_.dump();
    std::vector<std::string> out;
    for (const Value& r : rows)
      out.push_back(r["name"].get<std::string>());
    return out;
  }

  Log_Capture log_;
  std::string schema_;
  Connection_Ptr conn_;
};

TEST_F(Mariadb, RoundTripsUuidsTextIntegersNullsAndDatetimes) {
  Insert_SQL i;
  i.table("t").value_uuid("uuid", kUuid);
  i.value("name", Binding_Value(std::string("caf\xc3\xa9 \xf0\x9f\x93\xa6")))
      .value("size", Binding_Value(1LL << 40))
      .value("backup_time", Binding_Value("2024-02-29 13:45:07"))
      .value("extended_attrs", Binding_Value());
  ASSERT_TRUE(conn_->execute(i)) << log_.dump();
  EXPECT_EQ(conn_->last_insert_id(), 1);

  SQL q("SELECT uuid, LOWER(HEX(uuid)) hex, name, size, backup_time, extended_attrs FROM t");
  Value row;
  Legacy_Cursor c(conn_, q, Legacy_Cursor::ROW);
  ASSERT_TRUE(c.fetch(row)) << log_.dump();
  EXPECT_EQ(row["uuid"], kUuid);
  EXPECT_EQ(row["hex"], kUuid);
  EXPECT_EQ(row["name"], "caf\xc3\xa9 \xf0\x9f\x93\xa6");
  EXPECT_EQ(row["size"], 1LL << 40);
  EXPECT_EQ(row["backup_time"], "2024-02-29 13:45:07");
  EXPECT_TRUE(row["extended_attrs"].is_null());

  ASSERT_TRUE(conn_->execute(std::string("UPDATE t SET backup_time = '2024-03-01 00:00:00';")));
  Legacy_Cursor midnight(conn_, q, Legacy_Cursor::ROW);
  ASSERT_TRUE(midnight.fetch(row));
  EXPECT_EQ(row["backup_time"], "2024-03-01 00:00:00");

  // Sums come back as exact numbers; an empty sum is NULL.
  ASSERT_TRUE(insert("second", 5));
  EXPECT_EQ(conn_->last_insert_id(), 2);
  SQL sums("SELECT SUM(size) total, SUM(CASE WHEN id > 9 THEN size END) none FROM t");
  Legacy_Cursor s(conn_, sums, Legacy_Cursor::ROW);
  ASSERT_TRUE(s.fetch(row));
  EXPECT_EQ(row["total"], (1LL << 40) + 5);
  EXPECT_TRUE(row["none"].is_null());
}

TEST_F(Mariadb, BoundHostileTextStaysAValue) {
  const std::string hostile[] = {"x'); DROP TABLE t; --", "\\'; DELETE FROM t; #", "\"`t`\""};
  for (const std::string& h : hostile)
    ASSERT_TRUE(insert(h)) << log_.dump();
  for (const std::string& h : hostile) {
    Select_SQL s;
    s.table("t").select("COUNT(*)");
    s.where().and_filter()->add_kv_item("name", Value(h));
    Legacy_Cursor c(conn_, s, Legacy_Cursor::SCALAR);
    ASSERT_TRUE(c.fetch());
    long long n = 0;
    c >> n;
    EXPECT_EQ(n, 1) << h;
  }
  EXPECT_TRUE(conn_->table_exists("t"));
  EXPECT_FALSE(conn_->table_exists("t' OR '1'='1"));
  EXPECT_FALSE(conn_->table_exists("missing"));
}

TEST_F(Mariadb, RollbackAndSavepointsUndoOnlyTheirPart) {
  {
    Transaction outer(conn_);
    ASSERT_TRUE(outer.begin());
    ASSERT_TRUE(insert("kept before"));
    {
      Transaction inner(conn_);
      ASSERT_TRUE(inner.begin());
      ASSERT_TRUE(insert("undone by the savepoint"));
    }
    ASSERT_TRUE(insert("kept after"));
    ASSERT_TRUE(outer.commit()) << log_.dump();
  }
  {
    Transaction abandoned(conn_);
    ASSERT_TRUE(abandoned.begin());
    ASSERT_TRUE(insert("never committed"));
  }
  EXPECT_EQ(names(), (std::vector<std::string>{"kept before", "kept after"}));
  EXPECT_EQ(conn_->transaction_depth(), 0);
}

TEST_F(Mariadb, ExecutesSeveralStatementsOfOneText) {
  ASSERT_TRUE(conn_->execute(
      std::string("INSERT INTO t (name) VALUES ('a'); INSERT INTO t (name) VALUES ('b;c');"
                  "SELECT * FROM t; UPDATE t SET size = 7;")))
      << log_.dump();
  EXPECT_EQ(names(), (std::vector<std::string>{"a", "b;c"}));
  EXPECT_EQ(scalar("SELECT SUM(size) FROM t"), 14);

  // A failing later statement fails the text and leaves the session usable.
  EXPECT_FALSE(conn_->execute(
      std::string("INSERT INTO t (name) VALUES ('d'); INSERT INTO missing VALUES (1);")));
  EXPECT_TRUE(log_.contains("execution failed"));
  EXPECT_EQ(scalar("SELECT COUNT(*) FROM t"), 3);
}

TEST_F(Mariadb, CountsMatchedRowsAndKeepsCursorsOpenAcrossStatements) {
  ASSERT_TRUE(insert("a", 1));
  ASSERT_TRUE(insert("b", 1));
  // Rows that already hold the value still count, as in SQLite.
  Update_SQL u;
  u.table("t").set("size", Binding_Value(1));
  long long affected = -1;
  ASSERT_TRUE(conn_->execute(u, &affected));
  EXPECT_EQ(affected, 2);

  SQL all("SELECT id, name FROM t ORDER BY id");
  Legacy_Cursor stream(conn_, all, Legacy_Cursor::STREAM);
  ASSERT_TRUE(stream.fetch());
  int rows = 0;
  while (!stream.eof()) {
    long long id = 0;
    std::string name;
    stream >> id >> name;
    ASSERT_TRUE(insert(name + " copy")) << log_.dump();
    ++rows;
  }
  EXPECT_EQ(rows, 2);
  EXPECT_EQ(scalar("SELECT COUNT(*) FROM t"), 4);
}

TEST_F(Mariadb, SessionTimesAreUtcAndValuesThatDoNotFitAreRefused) {
  EXPECT_EQ(scalar("SELECT UNIX_TIMESTAMP('1970-01-02 00:00:00')"), 86400);
  EXPECT_FALSE(conn_->execute(std::string("INSERT INTO t (size) VALUES ('many');")));
  EXPECT_FALSE(conn_->execute(std::string("INSERT INTO t (backup_time) VALUES ('soon');")));
  EXPECT_EQ(scalar("SELECT COUNT(*) FROM t"), 0);
}

TEST_F(Mariadb, ForeignKeyChecksCanBeSwitchedOff) {
  ASSERT_TRUE(
      conn_->execute(std::string("CREATE TABLE child (id int PRIMARY KEY, parent bigint, "
                                 "FOREIGN KEY (parent) REFERENCES t (id)) ENGINE=InnoDB;")));
  EXPECT_FALSE(conn_->execute(std::string("INSERT INTO child VALUES (1, 42);")));
  ASSERT_TRUE(conn_->set_foreign_keys(false));
  EXPECT_TRUE(conn_->execute(std::string("INSERT INTO child VALUES (1, 42);")));
  ASSERT_TRUE(conn_->set_foreign_keys(true));
  EXPECT_FALSE(conn_->execute(std::string("INSERT INTO child VALUES (2, 43);")));
}

TEST_F(Mariadb, TemporaryTablesBelongToTheirConnection) {
  ASSERT_TRUE(conn_->execute(
      std::string("CREATE TEMPORARY TABLE IF NOT EXISTS `scratch`(v binary(16) not null);"
                  "INSERT INTO scratch VALUES (x'" +
                  kUuid + "');")));
  EXPECT_EQ(scalar("SELECT COUNT(*) FROM scratch"), 1);
  Connection_Ptr other = open_connection(test_mariadb::server(schema_));
  ASSERT_TRUE(other);
  EXPECT_FALSE(other->execute(std::string("SELECT * FROM scratch;")));
}

TEST_F(Mariadb, ReachesTheServerOverTcpToo) {
  const char* port = std::getenv("SCAT_TEST_MARIADB_PORT");
  if (port == nullptr)
    GTEST_SKIP() << "no TCP port configured";
  Database db = test_mariadb::server(schema_);
  db.socket("").host("127.0.0.1").port(static_cast<unsigned>(std::atoi(port)));
  Connection_Ptr tcp = open_connection(db);
  ASSERT_TRUE(tcp) << log_.dump();
  EXPECT_TRUE(tcp->table_exists("t"));
}

TEST_F(Mariadb, AnUnreachableServerFailsTheOpenWithAReason) {
  Database db = test_mariadb::server(schema_);
  db.socket("/nonexistent/mysqld.sock");
  EXPECT_FALSE(open_connection(db));
  EXPECT_TRUE(log_.contains("Failed to connect to the MariaDB server of database 'scat_test'"));
}

TEST_F(Mariadb, TheEnvironmentSelectsTheServer) {
  setenv("STORAGED_DB_ENGINE", "mariadb", 1);
  setenv("STORAGED_DB_SOCKET", std::getenv("SCAT_TEST_MARIADB_SOCKET"), 1);
  setenv("STORAGED_DB_USER", "root", 1);
  setenv("STORAGED_DB_NAME", schema_.c_str(), 1);
  Database db = Manager::instance()->database("env_test");
  for (const char* v :
       {"STORAGED_DB_ENGINE", "STORAGED_DB_SOCKET", "STORAGED_DB_USER", "STORAGED_DB_NAME"})
    unsetenv(v);
  EXPECT_EQ(db.type(), Database::MYSQL);
  EXPECT_EQ(db.schema(), schema_);
  Connection_Ptr conn = open_connection(db);
  ASSERT_TRUE(conn) << log_.dump();
  EXPECT_TRUE(conn->table_exists("t"));
}

TEST(Mariadb_Configuration, AMistypedPortFallsBackToTheDefaultWithAReason) {
  Log_Capture log;
  setenv("STORAGED_DB_ENGINE", "mariadb", 1);
  setenv("STORAGED_DB_PORT", "33o6", 1);
  Database db = Manager::instance()->database("port_test");
  unsetenv("STORAGED_DB_ENGINE");
  unsetenv("STORAGED_DB_PORT");
  EXPECT_EQ(db.type(), Database::MYSQL);
  EXPECT_EQ(db.port(), 3306u);
  EXPECT_EQ(db.host(), "127.0.0.1");
  EXPECT_TRUE(log.has("Invalid STORAGED_DB_PORT '33o6': using port 3306."));
}

}  // namespace
