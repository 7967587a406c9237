// Sessions that lose their server (the back-end's restart test covers the
// plain case over the socket), on a server of the test's own so that the
// other test processes keep theirs.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

#include "platform/sql/cursor.h"
#include "platform/sql/transaction.h"
#include "tests/support/log_capture.h"
#include "tests/support/sql_rows.h"
#include "tests/support/test_mariadb.h"

using namespace database;
using namespace database::sql;

namespace {

class Mariadb_Restart : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test_mariadb::configured())
      GTEST_SKIP() << "no MariaDB server configured";
    ASSERT_TRUE(server_.start());
    Connection_Ptr admin = open_connection(server_.database(""));
    ASSERT_TRUE(admin) << log_.dump();
    ASSERT_TRUE(admin->execute(
        std::string("CREATE DATABASE IF NOT EXISTS restart; CREATE TABLE IF NOT EXISTS restart.t "
                    "(id bigint NOT NULL AUTO_INCREMENT PRIMARY KEY, name text) ENGINE=InnoDB;")));
    conn_ = open_connection(server_.database("restart"));
    ASSERT_TRUE(conn_) << log_.dump();
  }

  bool insert(const std::string& name) {
    Insert_SQL i;
    i.table("t").value("name", Binding_Value(name));
    return conn_->execute(i);
  }

  long long count() { return select_scalar(conn_, "SELECT COUNT(*) FROM t"); }

  // The rows once a killed session's last statement has ended: the server
  // finishes it after the client already saw the session close. Gives up
  // after about 5 s with what it counted last.
  long long count_once_settled(long long expected) {
    long long n = count();
    for (int i = 0; i < 100 && n < expected; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      n = count();
    }
    return n;
  }

  void restart() {
    ASSERT_TRUE(server_.stop());
    ASSERT_TRUE(server_.start());
  }

  // Runs `statement` (on conn_, waiting for a lock another session holds)
  // and kills conn_'s session while the statement waits, as a server lost
  // after it received a statement would. Returns what `statement` did.
  bool killed_while_running(const std::function<bool()>& statement) {
    Connection_Ptr holder = open_connection(server_.database("restart"));
    long long id = select_scalar(conn_, "SELECT CONNECTION_ID()");
    if (!holder || !holder->execute(std::string("SELECT GET_LOCK('held', 60)")) || id <= 0) {
      ADD_FAILURE() << log_.dump();
      return false;
    }
    bool done = false;
    std::thread runner([&] { done = statement(); });
    SQL waiting(
        "SELECT COUNT(*) FROM information_schema.PROCESSLIST WHERE ID = :id AND STATE = "
        "'User lock'");
    waiting.bind("id", id);
    long long seen = 0;
    for (int i = 0; i < 6000 && seen == 0; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      Legacy_Cursor poll(holder, waiting, Legacy_Cursor::SCALAR);
      EXPECT_TRUE(poll.fetch() && (poll >> seen)) << log_.dump();
    }
    EXPECT_EQ(seen, 1) << "the statement never waited for the lock";
    EXPECT_TRUE(holder->execute("KILL CONNECTION " + std::to_string(id)));
    // Were the statement sent again, it would now run to its end.
    EXPECT_TRUE(holder->execute(std::string("SELECT RELEASE_LOCK('held')")));
    runner.join();
    return done;
  }

  Log_Capture log_;
  test_mariadb::Private_Server server_;
  Connection_Ptr conn_;
};

TEST_F(Mariadb_Restart, ASessionOverTcpReconnectsAfterARestart) {
  // Over TCP a write to a closed session still goes out; only the answer is
  // lost. The closed session must be noticed before the statement is sent.
  conn_ = open_connection(server_.tcp_database("restart"));
  ASSERT_TRUE(conn_) << log_.dump();
  ASSERT_TRUE(insert("before")) << log_.dump();
  restart();
  EXPECT_TRUE(conn_->execute(std::string("DELETE FROM t WHERE name = 'before';"))) << log_.dump();
  // While the server is down statements fail rather than hang.
  ASSERT_TRUE(server_.stop());
  EXPECT_FALSE(insert("nobody hears this"));
  EXPECT_TRUE(log_.contains("execution failed"));
  ASSERT_TRUE(server_.start());
  EXPECT_TRUE(insert("after")) << log_.dump();
  EXPECT_EQ(count(), 1);
  EXPECT_TRUE(log_.contains("reconnected to the server."));
}

TEST_F(Mariadb_Restart, ATransactionCutByTheRestartFailsAndLeavesNothingHalfWritten) {
  ASSERT_TRUE(insert("committed")) << log_.dump();
  {
    Transaction transaction(conn_);
    ASSERT_TRUE(transaction.begin());
    ASSERT_TRUE(insert("first half"));
    restart();
    EXPECT_FALSE(insert("second half"));
    EXPECT_TRUE(log_.contains("rolled back"));
    EXPECT_FALSE(transaction.commit());
  }
  EXPECT_EQ(conn_->transaction_depth(), 0);
  // The rollback ended the lost transaction; the connection works again.
  EXPECT_TRUE(insert("later"));
  EXPECT_EQ(count(), 2) << log_.dump();
}

TEST_F(Mariadb_Restart, AStatementLostAfterItWasSentIsNotSentAgain) {
  SQL prepared("INSERT INTO t (name) SELECT IF(GET_LOCK('held', 60), :name, :name)");
  prepared.bind("name", Binding_Value(std::string("prepared")));
  EXPECT_FALSE(killed_while_running([&] { return conn_->execute(prepared); }));
  EXPECT_TRUE(log_.contains("it was not sent again"));
  // The server ran it to its end (the lock wait gave up) and committed it
  // before the session closed: it must not run twice. The next statement
  // opens a new session.
  EXPECT_EQ(count_once_settled(1), 1) << log_.dump();

  EXPECT_FALSE(killed_while_running([&] {
    return conn_->execute(
        std::string("INSERT INTO t (name) SELECT IF(GET_LOCK('held', 60), 'text', 'text')"));
  }));
  EXPECT_EQ(count_once_settled(2), 2) << log_.dump();
}

TEST_F(Mariadb_Restart, KeptStatementsArePreparedAgainInTheNewSession) {
  ASSERT_TRUE(insert("before")) << log_.dump();
  EXPECT_EQ(count(), 1);
  EXPECT_GT(conn_->cached_statement_count(), 0u);
  restart();
  // The server forgot the statements with the session; the same texts run
  // in the new one.
  EXPECT_TRUE(insert("after")) << log_.dump();
  EXPECT_EQ(count(), 2) << log_.dump();
  EXPECT_TRUE(log_.contains("reconnected to the server."));
  // A session killed while idle is found out the same way.
  Connection_Ptr admin = open_connection(server_.database("restart"));
  long long id = select_scalar(conn_, "SELECT CONNECTION_ID()");
  ASSERT_TRUE(admin && id > 0) << log_.dump();
  ASSERT_TRUE(admin->execute("KILL CONNECTION " + std::to_string(id)));
  EXPECT_TRUE(insert("later")) << log_.dump();
  EXPECT_EQ(count(), 3) << log_.dump();
}

}  // namespace
