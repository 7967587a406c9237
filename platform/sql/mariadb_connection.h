// A connection to a MariaDB (or MySQL) server: the shared catalog's engine.
//
// Every statement is prepared with its values bound and its rows are read
// whole before the next one runs, so several cursors may stay open on one
// connection. Prepared statements are kept by their text and run again
// without preparing them anew (one round trip instead of three). Not safe for concurrent use, like
// every Connection.
//
// Losing the server: outside a transaction, a statement that finds the
// session gone before it reaches the server reconnects once and is sent
// again; one lost after it was sent fails (it may have run). With several
// servers (a Galera cluster) the new session goes to the next one that is
// ready; a statement a node refused because it left the cluster, or lost
// to a conflict, is sent again once. Inside a
// transaction it fails, and so does every later statement of that
// transaction until it is rolled back (the server has already dropped it,
// so the rollback itself succeeds); the next statement after that
// reconnects.
#ifndef PLATFORM_SQL_MARIADB_CONNECTION_H_
#define PLATFORM_SQL_MARIADB_CONNECTION_H_

#include <string>
#include <vector>

#include "platform/sql/connection.h"
#include "platform/sql/statement_cache.h"

struct st_mysql;
struct st_mysql_stmt;

namespace database {
namespace sql {

class Mariadb_Connection : public Connection {
 public:
  // Connects to the server `db` names. Empty handle, with a logged reason,
  // when the server does not answer or refuses the account.
  static Connection_Ptr open(const Database& db);

  using Connection::execute;
  bool execute(const std::string& text) override;
  long long last_insert_id() override;
  // False also when the question cannot be asked (error() tells).
  bool table_exists(const std::string& name) override;
  bool set_foreign_keys(bool enabled) override;
  std::size_t cached_statement_count() const override;

  // Prepared statements kept per session (statement_cache.h); a reconnect
  // starts with none.
  static const std::size_t kCachedStatements = 64;

  // Seconds before a dead or unreachable server fails a call instead of
  // holding its caller.
  static const unsigned kConnectTimeout = 10;
  static const unsigned kReadTimeout = 120;
  static const unsigned kWriteTimeout = 60;

  // Session settings of every connection: times are UTC as in the SQLite
  // dialect, and values that do not fit their column are refused rather
  // than truncated.
  static const char kSessionSetup[];

  // A statement's column names and every row it returned.
  struct Result {
    std::vector<std::string> names;
    std::vector<std::vector<Binding_Value>> rows;
  };
  // Runs `text` with its positional values; false with error() set.
  bool run(const std::string& text, const std::vector<Binding_Value>& values, Result& result);

 protected:
  std::unique_ptr<Statement> prepare_positional(const std::string& text,
                                                std::vector<Binding_Value> values) override;
  long long changes() override { return changes_; }
  const char* begin_text() const override { return "START TRANSACTION"; }

 private:
  explicit Mariadb_Connection(const Database& db);
  ~Mariadb_Connection() override;

  // Connects to the configured server, or to the first of several that
  // is ready (see Database::servers).
  bool connect();
  st_mysql* connect_to(const char* host, unsigned port, const char* socket);
  void disconnect();
  bool usable();
  // The server of the current session, for messages.
  std::string server_address() const;
  // Runs `attempt` (which reports the server's error code and whether the
  // statement cannot have reached the server), reconnecting and sending it
  // again once when so. `commits`: the statement is the outermost COMMIT.
  template <class Attempt>
  bool with_reconnect(bool commits, Attempt attempt);
  bool run_once(const std::string& text, const std::vector<Binding_Value>& values, Result& result,
                unsigned& code, bool& may_retry);
  bool execute_once(const std::string& text, unsigned& code, bool& may_retry);
  bool run_prepared(st_mysql_stmt* stmt, const std::vector<Binding_Value>& values, Result& result,
                    unsigned& code, bool& may_retry);
  void note_write(long long affected, long long insert_id);

  st_mysql* mysql_ = nullptr;
  Statement_Cache<st_mysql_stmt*> statements_;
  bool broken_ = false;     // the server went away; the session is lost
  std::size_t server_ = 0;  // of db()->servers(): the current session's
  long long last_insert_id_ = 0;
  long long changes_ = 0;
};

}  // namespace sql
}  // namespace database

#endif  // PLATFORM_SQL_MARIADB_CONNECTION_H_
