#include <gtest/gtest.h>

#include <thread>

#include "platform/sql/connection_pool.h"
#include "platform/sql/cursor.h"
#include "platform/sql/legacy_manager.h"
#include "platform/sql/metadata.h"
#include "platform/sql/transaction.h"
#include "tests/support/log_capture.h"
#include "tests/support/temp_dir.h"

using namespace database;
using namespace database::sql;

namespace {

const std::string kUuid = "00112233445566778899aabbccddeeff";

class Sqlite : public ::testing::Test {
 protected:
  void SetUp() override {
    db_.name("test").type(Database::SQLITE).path(dir_.file("test.db"));
    conn_ = open_connection(db_);
    ASSERT_TRUE(conn_);
    ASSERT_TRUE(conn_->execute(std::string(
        "CREATE TABLE t (id INTEGER PRIMARY KEY AUTOINCREMENT, uuid binary(16), name text, "
        "size bigint, extended_attrs text);")));
  }

  long long count(const Connection_Ptr& conn) {
    SQL q("SELECT COUNT(*) FROM t");
    Legacy_Cursor c(conn, q, Legacy_Cursor::SCALAR);
    long long n = -1;
    EXPECT_TRUE(c.fetch());
    c >> n;
    return n;
  }

  bool insert(const Connection_Ptr& conn, const std::string& name) {
    Insert_SQL i;
    i.table("t").value("name", Binding_Value(name)).value_uuid("uuid", kUuid);
    return conn->execute(i);
  }

  Temp_Dir dir_;
  Database db_;
  Connection_Ptr conn_;
  Log_Capture log_;
};

TEST_F(Sqlite, RoundTripsUuidsAsLowerCaseHexAndKeepsHostileTextIntact) {
  std::string hostile = "x'); DROP TABLE t; --";
  ASSERT_TRUE(insert(conn_, hostile));
  EXPECT_EQ(conn_->last_insert_id(), 1);
  Select_SQL s;
  s.table("t");
  Value row;
  Legacy_Cursor c(conn_, s, Legacy_Cursor::ROW);
  ASSERT_TRUE(c.fetch(row));
  EXPECT_EQ(row["uuid"], kUuid);
  EXPECT_EQ(row["name"], hostile);
  EXPECT_TRUE(row["size"].is_null());
  EXPECT_TRUE(conn_->table_exists("t"));
}

TEST_F(Sqlite, CursorModes) {
  insert(conn_, "a");
  insert(conn_, "b");
  Select_SQL s;
  s.table("t").select("name, id").order_by("id");
  Value rows;
  Legacy_Cursor all(conn_, s, Legacy_Cursor::ROWS);
  ASSERT_TRUE(all.fetch(rows));
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[1]["name"], "b");

  Legacy_Cursor stream(conn_, s, Legacy_Cursor::STREAM);
  ASSERT_TRUE(stream.fetch());
  std::vector<std::string> names;
  while (!stream.eof()) {
    std::string name;
    long long id = 0;
    stream >> name >> id;
    if (!stream)
      break;
    names.push_back(name + std::to_string(id));
  }
  EXPECT_EQ(names, (std::vector<std::string>{"a1", "b2"}));

  Select_SQL none;
  none.table("t").where().and_filter()->add_kv_item("name", Value("zz"));
  Value row = 5;
  Legacy_Cursor one(conn_, none, Legacy_Cursor::ROW);
  ASSERT_TRUE(one.fetch(row));
  EXPECT_TRUE(row.is_null());

  SQL sum("SELECT SUM(size) FROM t");
  Legacy_Cursor scalar(conn_, sum, Legacy_Cursor::SCALAR);
  ASSERT_TRUE(scalar.fetch());
  long long total = 42;
  scalar >> total;
  EXPECT_FALSE(scalar);  // NULL sum
  EXPECT_EQ(total, 42);
}

TEST_F(Sqlite, FailedQueriesReportFalseAndLog) {
  SQL bad("SELECT missing FROM nowhere");
  Value rows = 1;
  Legacy_Cursor c(conn_, bad, Legacy_Cursor::ROWS);
  EXPECT_FALSE(c.fetch(rows));
  EXPECT_EQ(rows, 1);
  EXPECT_TRUE(log_.contains("no such table: nowhere"));
  Connection_Ptr none;
  Legacy_Cursor no_conn(none, bad, Legacy_Cursor::ROWS);
  EXPECT_FALSE(no_conn.fetch(rows));
}

TEST_F(Sqlite, TransactionRollsBackUnlessCommitted) {
  {
    Transaction tx(conn_);
    ASSERT_TRUE(tx.begin(false));
    insert(conn_, "lost");
  }
  EXPECT_EQ(count(conn_), 0);
  {
    Transaction outer(conn_);
    ASSERT_TRUE(outer.begin(false));
    insert(conn_, "kept");
    {
      Transaction inner(conn_);
      ASSERT_TRUE(inner.begin(false));
      insert(conn_, "inner lost");
    }
    EXPECT_EQ(count(conn_), 1);
    EXPECT_TRUE(outer.commit());
  }
  EXPECT_EQ(count(conn_), 1);
  EXPECT_EQ(conn_->transaction_depth(), 0);
}

TEST_F(Sqlite, ChangesAreDurableAcrossConnections) {
  insert(conn_, "a");
  conn_.reset();
  Connection_Ptr again = open_connection(db_);
  ASSERT_TRUE(again);
  EXPECT_EQ(count(again), 1);
}

TEST(SqliteOpen, RefusesAFileThatIsNotADatabaseWithoutTouchingIt) {
  Temp_Dir dir;
  Log_Capture log;
  std::string garbage(4096, 'x');
  write_file(dir.file("bad.db"), garbage);
  Database db;
  db.name("bad").path(dir.file("bad.db"));
  EXPECT_FALSE(open_connection(db));
  EXPECT_TRUE(log.contains("Failed to open SQLite file"));
  EXPECT_EQ(read_file(dir.file("bad.db")), garbage);

  db.path(dir.file("missing/folder/x.db"));
  EXPECT_FALSE(open_connection(db));
}

TEST(SqliteOpen, MetadataTablesAreCreatedOnOpen) {
  Temp_Dir dir;
  auto metadata = std::make_shared<Metadata>();
  metadata->add_table("plain", false, "", "CREATE TABLE IF NOT EXISTS `{{table}}` (a int);");
  metadata->add_table("tmpl", true, "", "CREATE TABLE IF NOT EXISTS `{{table}}` (b int);");
  Database db;
  db.name("m").path(dir.file("m.db")).metadata(metadata.get());
  Connection_Ptr conn = open_connection(db);
  ASSERT_TRUE(conn);
  EXPECT_TRUE(conn->table_exists("plain"));
  EXPECT_FALSE(conn->table_exists("tmpl"));
  std::ostringstream sql;
  EXPECT_TRUE(metadata->table_sql("tmpl", "abc", Database::SQLITE, sql));
  EXPECT_EQ(sql.str(), "CREATE TABLE IF NOT EXISTS `abc` (b int);");
  std::ostringstream refused;
  EXPECT_FALSE(metadata->table_sql("tmpl", "a`b", Database::SQLITE, refused));
  EXPECT_FALSE(metadata->table_sql("unknown", "abc", Database::SQLITE, refused));
}

TEST(ConnectionPool, SameThreadSharesOtherThreadsDoNot) {
  Temp_Dir dir;
  Database db;
  db.name("p").path(dir.file("p.db"));
  Connection_Pool pool(db);
  Connection_Ptr a = pool.acquire();
  Connection_Ptr b = pool.acquire();
  ASSERT_TRUE(a);
  EXPECT_EQ(a.get(), b.get());
  database::sql::Connection* other = nullptr;
  std::thread t([&] { other = pool.acquire().get(); });
  t.join();
  EXPECT_NE(other, a.get());
  EXPECT_EQ(pool.idle_count(), 1u);  // the other thread's went back
  database::sql::Connection* first = a.get();
  a.reset();
  b.reset();
  EXPECT_EQ(pool.idle_count(), 2u);
  Connection_Ptr again = pool.acquire();
  EXPECT_TRUE(again.get() == first || again.get() == other);
}

TEST(ConnectionPool, ConnectionsOutliveTheirPool) {
  Temp_Dir dir;
  Database db;
  db.name("p").path(dir.file("p.db"));
  Connection_Ptr kept;
  {
    Connection_Pool pool(db);
    kept = pool.acquire();
  }
  EXPECT_TRUE(kept->execute(std::string("CREATE TABLE x (a int);")));
}

TEST(ConnectionPool, ALeaseIsNeverHandedOnInsideATransaction) {
  Temp_Dir dir;
  Database db;
  db.name("p").path(dir.file("p.db"));
  Connection_Pool pool(db);
  {
    Connection_Ptr c = pool.acquire();
    c->execute(std::string("CREATE TABLE x (a int);"));
    ASSERT_TRUE(c->begin());
    c->execute(std::string("INSERT INTO x VALUES (1);"));
  }
  Connection_Ptr c = pool.acquire();
  EXPECT_EQ(c->transaction_depth(), 0);
  SQL q("SELECT COUNT(*) FROM x");
  Legacy_Cursor cur(c, q, Legacy_Cursor::SCALAR);
  ASSERT_TRUE(cur.fetch());
  long long n = -1;
  cur >> n;
  EXPECT_EQ(n, 0);
}

TEST(LegacyManager, NamedConnectionsFollowConfiguration) {
  Temp_Dir dir;
  Database db;
  db.name("named").path(dir.file("sub/dir/named.db"));
  Manager::instance()->configure("named", db);
  Connection_Ptr c = Legacy_Manager::instance()->get_connection_r("named");
  ASSERT_TRUE(c);
  EXPECT_EQ(c->db()->path(), dir.file("sub/dir/named.db"));
  c.reset();
  Legacy_Manager::instance()->close("named");
  Manager::instance()->unconfigure("named");
}

}  // namespace
