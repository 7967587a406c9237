// The SQL layer's connections on both engines, and the connection pool.
#include <gtest/gtest.h>

#include <thread>

#include "platform/sql/connection_pool.h"
#include "platform/sql/cursor.h"
#include "platform/sql/transaction.h"
#include "tests/support/catalog_fixture.h"
#include "tests/support/log_capture.h"
#include "tests/support/temp_dir.h"
#include "tests/support/sql_rows.h"
#include "tests/support/test_mariadb.h"

using namespace database;
using namespace database::sql;

namespace {

const std::string kUuid = "00112233445566778899aabbccddeeff";

// A fresh database with one table `t`: an SQLite file, or a schema of its
// own on the test MariaDB server.
class Connection_Engines : public ::testing::TestWithParam<Engine> {
 protected:
  void SetUp() override {
    Database db;
    db.name("test").type(Database::SQLITE).path(dir_.file("test.db"));
    if (GetParam() == Engine::MARIADB) {
      if (!test_mariadb::configured())
        GTEST_SKIP() << "no MariaDB server configured";
      ASSERT_TRUE(test_mariadb::create_schema(schema_)) << log_.dump();
      db = test_mariadb::server(schema_);
    }
    conn_ = open_connection(db);
    ASSERT_TRUE(conn_) << log_.dump();
    const char* id = GetParam() == Engine::MARIADB ? "id bigint NOT NULL AUTO_INCREMENT PRIMARY KEY"
                                                   : "id INTEGER PRIMARY KEY AUTOINCREMENT";
    ASSERT_TRUE(conn_->execute(std::string("CREATE TABLE t (") + id +
                               ", uuid binary(16), name text, size bigint, "
                               "backup_time datetime, extended_attrs text);"));
  }

  void TearDown() override {
    conn_ = Connection_Ptr();
    if (!schema_.empty())
      test_mariadb::drop_schema(schema_);
  }

  long long scalar(const std::string& text) { return select_scalar(conn_, text); }

  bool insert(const std::string& name, long long size = 1) {
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

  Temp_Dir dir_;
  Log_Capture log_;
  std::string schema_;
  Connection_Ptr conn_;
};

TEST_P(Connection_Engines, RoundTripsUuidsTextNumbersNullsAndDatetimes) {
  Insert_SQL i;
  i.table("t").value_uuid("uuid", kUuid);
  i.value("name", Binding_Value(std::string("caf\xc3\xa9 \xf0\x9f\x93\xa6")))
      .value("size", Binding_Value(1LL << 40))
      .value("backup_time", Binding_Value("2024-02-29 13:45:07"))
      .value("extended_attrs", Binding_Value());
  ASSERT_TRUE(conn_->execute(i)) << log_.dump();
  const long long first = conn_->last_insert_id();
  EXPECT_GE(first, 1);
  ASSERT_TRUE(insert("second", 5));
  // On a cluster ids step by its size: they only grow.
  const long long second = conn_->last_insert_id();
  EXPECT_GT(second, first);
  // A datetime at midnight keeps its time part.
  ASSERT_TRUE(conn_->execute("UPDATE t SET backup_time = '2024-03-01 00:00:00' WHERE id = " +
                             std::to_string(second) + ";"));

  SQL q("SELECT uuid, name, size, backup_time, extended_attrs FROM t ORDER BY id");
  Value rows;
  Legacy_Cursor c(conn_, q, Legacy_Cursor::ROWS);
  ASSERT_TRUE(c.fetch(rows)) << log_.dump();
  EXPECT_EQ(rows, Value::parse(R"([{"uuid": ")" + kUuid + R"(", "name": "caf\u00e9 \ud83d\udce6",
      "size": 1099511627776, "backup_time": "2024-02-29 13:45:07", "extended_attrs": null},
      {"uuid": ")" + kUuid + R"(", "name": "second", "size": 5,
      "backup_time": "2024-03-01 00:00:00", "extended_attrs": null}])"));

  // Sums come back as exact whole numbers.
  EXPECT_EQ(scalar("SELECT SUM(size) FROM t"), (1LL << 40) + 5);
}

TEST_P(Connection_Engines, BoundHostileTextStaysAValue) {
  const std::vector<std::string> hostile{"x'); DROP TABLE t; --", "\\'; DELETE FROM t; #",
                                         "\"`t`\""};
  for (const std::string& h : hostile)
    ASSERT_TRUE(insert(h)) << log_.dump();
  EXPECT_EQ(names(), hostile);
  EXPECT_FALSE(conn_->table_exists("t' OR '1'='1"));
}

TEST_P(Connection_Engines, UpdatesCountMatchedRowsAndEmptyReadsLeaveTargetsAlone) {
  ASSERT_TRUE(insert("a"));
  ASSERT_TRUE(insert("b"));
  // Rows that already hold the value still count.
  Update_SQL u;
  u.table("t").set("size", Binding_Value(1));
  long long affected = -1;
  ASSERT_TRUE(conn_->execute(u, &affected));
  EXPECT_EQ(affected, 2);

  // No row: a null row; a NULL read leaves the target alone and tests false.
  SQL none("SELECT * FROM t WHERE id > 9"), null_sum("SELECT SUM(size) FROM t WHERE id > 9");
  Value row = 5;
  Legacy_Cursor one(conn_, none, Legacy_Cursor::ROW);
  ASSERT_TRUE(one.fetch(row));
  EXPECT_TRUE(row.is_null());
  Legacy_Cursor sum(conn_, null_sum, Legacy_Cursor::SCALAR);
  ASSERT_TRUE(sum.fetch());
  long long total = 42;
  EXPECT_FALSE(sum >> total);
  EXPECT_EQ(total, 42);
}

TEST_P(Connection_Engines, FailuresReportFalseLogAndLeaveTheSessionUsable) {
  SQL bad("SELECT missing FROM nowhere");
  Value rows = 1;
  Legacy_Cursor c(conn_, bad, Legacy_Cursor::ROWS);
  EXPECT_FALSE(c.fetch(rows));
  EXPECT_EQ(rows, 1);
  EXPECT_TRUE(log_.contains("nowhere"));
  Legacy_Cursor no_conn(Connection_Ptr(), bad, Legacy_Cursor::ROWS);
  EXPECT_FALSE(no_conn.fetch(rows));

  // A text of several statements (results among them) fails when a later
  // one fails.
  EXPECT_FALSE(conn_->execute(std::string(
      "INSERT INTO t (name) VALUES ('a;b'); SELECT * FROM t; INSERT INTO missing VALUES (1);")));
  EXPECT_TRUE(log_.contains("execution failed"));
  EXPECT_EQ(names(), std::vector<std::string>{"a;b"});
}

TEST_P(Connection_Engines, RollbackAndSavepointsUndoOnlyTheirPart) {
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

TEST_P(Connection_Engines, ForeignKeyChecksCanBeSwitchedOff) {
  ASSERT_TRUE(
      conn_->execute(std::string("CREATE TABLE child (id int PRIMARY KEY, parent bigint, "
                                 "FOREIGN KEY (parent) REFERENCES t (id));")));
  ASSERT_TRUE(conn_->set_foreign_keys(true));
  EXPECT_FALSE(conn_->execute(std::string("INSERT INTO child VALUES (1, 42);")));
  ASSERT_TRUE(conn_->set_foreign_keys(false));
  EXPECT_TRUE(conn_->execute(std::string("INSERT INTO child VALUES (1, 42);")));
  ASSERT_TRUE(conn_->set_foreign_keys(true));
  EXPECT_FALSE(conn_->execute(std::string("INSERT INTO child VALUES (2, 43);")));
}

TEST_P(Connection_Engines, KeptStatementsFollowColumnsAddedToTheirTable) {
  ASSERT_TRUE(insert("a"));
  SQL all("SELECT * FROM t WHERE name = :name");
  all.bind("name", Binding_Value(std::string("a")));
  Value row;
  {
    Legacy_Cursor c(conn_, all, Legacy_Cursor::ROW);
    ASSERT_TRUE(c.fetch(row)) << log_.dump();
  }
  EXPECT_EQ(row.count("extra"), 0u);
  EXPECT_GT(conn_->cached_statement_count(), 0u);

  ASSERT_TRUE(conn_->execute(std::string("ALTER TABLE t ADD COLUMN extra integer DEFAULT 7;")));
  Legacy_Cursor c(conn_, all, Legacy_Cursor::ROW);
  ASSERT_TRUE(c.fetch(row)) << log_.dump();
  EXPECT_EQ(row["name"], "a");
  EXPECT_EQ(row["extra"], 7);
  // The kept insert writes the new column's default too.
  ASSERT_TRUE(insert("b"));
  EXPECT_EQ(scalar("SELECT SUM(extra) FROM t"), 14);
}

TEST_P(Connection_Engines, KeptStatementsFollowATableDroppedAndCreatedAgain) {
  ASSERT_TRUE(insert("old"));
  EXPECT_EQ(names(), std::vector<std::string>{"old"});
  ASSERT_TRUE(conn_->execute(std::string("DROP TABLE t;")));
  // Gone: the kept statement fails like a new one, and the session goes on.
  SQL q("SELECT name FROM t ORDER BY id");
  Value rows;
  Legacy_Cursor gone(conn_, q, Legacy_Cursor::ROWS);
  EXPECT_FALSE(gone.fetch(rows));

  ASSERT_TRUE(conn_->execute(
      std::string("CREATE TABLE t (name text, id integer primary key, note text);"
                  "INSERT INTO t (name, id, note) VALUES ('new', 2, 'n'), ('newer', 1, 'm');")));
  EXPECT_EQ(names(), (std::vector<std::string>{"newer", "new"}));
}

TEST_P(Connection_Engines, OneTextRunsTwiceAtOnceAndAfterAFailure) {
  ASSERT_TRUE(insert("a", 1));
  ASSERT_TRUE(insert("b", 2));
  SQL q("SELECT name, size FROM t ORDER BY id");
  Legacy_Cursor outer(conn_, q, Legacy_Cursor::STREAM);
  ASSERT_TRUE(outer.fetch()) << log_.dump();
  std::vector<std::string> seen;
  while (!outer.eof()) {
    std::string name;
    long long size = 0;
    outer >> name >> size;
    Value inner_rows;
    Legacy_Cursor inner(conn_, q, Legacy_Cursor::ROWS);
    ASSERT_TRUE(inner.fetch(inner_rows)) << log_.dump();
    EXPECT_EQ(inner_rows.size(), 2u);
    seen.push_back(name);
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"a", "b"}));

  // A statement that failed once runs again with other values.
  ASSERT_TRUE(conn_->execute(std::string("CREATE UNIQUE INDEX t_name ON t (name);")));
  EXPECT_FALSE(insert("a"));
  EXPECT_TRUE(insert("c")) << log_.dump();
  EXPECT_EQ(names(), (std::vector<std::string>{"a", "b", "c"}));
}

TEST_P(Connection_Engines, KeepsABoundedNumberOfStatements) {
  for (int i = 0; i < 200; ++i)
    EXPECT_EQ(scalar("SELECT " + std::to_string(i)), i);
  EXPECT_GT(conn_->cached_statement_count(), 0u);
  EXPECT_LE(conn_->cached_statement_count(), 64u);
}

SCAT_INSTANTIATE_ENGINES(Connection_Engines);

TEST(Connection_Pool_Test, EachThreadLeasesItsOwnAndNeverInsideATransaction) {
  Temp_Dir dir;
  Database db;
  db.name("p").path(dir.file("p.db"));
  Connection_Pool pool(db);
  Connection_Ptr a = pool.acquire();
  ASSERT_TRUE(a);
  EXPECT_EQ(pool.acquire().get(), a.get());
  database::sql::Connection* other = nullptr;
  std::thread t([&] { other = pool.acquire().get(); });
  t.join();
  EXPECT_NE(other, a.get());
  EXPECT_EQ(pool.idle_count(), 1u);  // the other thread's went back

  ASSERT_TRUE(a->execute(std::string("CREATE TABLE x (a int);")));
  ASSERT_TRUE(a->begin());
  ASSERT_TRUE(a->execute(std::string("INSERT INTO x VALUES (1);")));
  a.reset();
  Connection_Ptr c = pool.acquire();
  EXPECT_EQ(c->transaction_depth(), 0);
  EXPECT_EQ(select_scalar(c, "SELECT COUNT(*) FROM x"), 0);
}

}  // namespace
