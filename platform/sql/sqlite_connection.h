// A connection to an SQLite file.
//
// Files are opened in WAL mode with synchronous=FULL (configurable), so a
// committed change survives a crash or power loss, and a busy time-out, so
// concurrent writers from other connections wait instead of failing.
// Prepared statements are kept per connection and used again.
#ifndef PLATFORM_SQL_SQLITE_CONNECTION_H_
#define PLATFORM_SQL_SQLITE_CONNECTION_H_

#include <sqlite3.h>

#include "platform/sql/connection.h"

namespace database {
namespace sql {

class Sqlite_Connection : public Connection {
 public:
  // Opens `db.path()`, creating the file when missing (its folder must
  // exist). Empty handle, with a logged reason, when the file cannot be
  // opened or is not a database; the file is then left as it was.
  static Connection_Ptr open(const Database& db);

  using Connection::execute;
  bool execute(const std::string& text) override;
  long long last_insert_id() override;
  bool table_exists(const std::string& name) override;
  bool set_foreign_keys(bool enabled) override;

  std::size_t cached_statement_count() const override;

  // Milliseconds a statement waits for another connection's write lock.
  static const int kBusyTimeoutMs = 30000;
  // Prepared statements kept per connection (statement_cache.h).
  static const std::size_t kCachedStatements = 64;

  struct Statements;

 protected:
  std::unique_ptr<Statement> prepare_positional(const std::string& text,
                                                std::vector<Binding_Value> values) override;
  long long changes() override;
  const char* begin_text() const override { return "BEGIN IMMEDIATE"; }

 private:
  Sqlite_Connection(const Database& db, sqlite3* handle);
  ~Sqlite_Connection() override;

  sqlite3* db_;
  std::shared_ptr<Statements> statements_;
};

}  // namespace sql
}  // namespace database

#endif  // PLATFORM_SQL_SQLITE_CONNECTION_H_
