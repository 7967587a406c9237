// Database descriptors and connections.
//
// A Connection is one session with one database. It is not safe for
// concurrent use: the pool hands each thread its own (connection_pool.h).
// Handles are ACE_Intrusive_Auto_Ptr; the last handle released closes the
// connection, or gives a pooled one back to its pool.
#ifndef PLATFORM_SQL_CONNECTION_H_
#define PLATFORM_SQL_CONNECTION_H_

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include <ace/Intrusive_Auto_Ptr.h>

#include "platform/sql/binding_value.h"
#include "platform/sql/sql.h"

namespace database {

class Metadata;

// Where a database lives and how to reach it.
class Database {
 public:
  // Engine codes of type(): 1 is a MySQL-dialect server (MariaDB), any
  // other value an SQLite file.
  enum { MYSQL = 1, SQLITE = 2 };

  Database& name(const std::string& v) {
    name_ = v;
    return *this;
  }
  const std::string& name() const { return name_; }
  Database& type(int v) {
    type_ = v;
    return *this;
  }
  int type() const { return type_; }
  // SQLite: the database file.
  Database& path(const std::string& v) {
    path_ = v;
    return *this;
  }
  const std::string& path() const { return path_; }
  // Tables to create when a connection opens (may be null).
  Database& metadata(const Metadata* v) {
    metadata_ = v;
    return *this;
  }
  const Metadata* metadata() const { return metadata_; }

  // One MariaDB server (or a Galera cluster node) to connect to.
  struct Server {
    std::string host;
    unsigned port = 3306;
  };

  // MariaDB: server address (a socket, when set, wins over host and port),
  // account and schema.
  Database& host(const std::string& v) {
    host_ = v;
    return *this;
  }
  const std::string& host() const { return host_; }
  Database& port(unsigned v) {
    port_ = v;
    return *this;
  }
  unsigned port() const { return port_; }
  Database& socket(const std::string& v) {
    socket_ = v;
    return *this;
  }
  const std::string& socket() const { return socket_; }
  Database& user(const std::string& v) {
    user_ = v;
    return *this;
  }
  const std::string& user() const { return user_; }
  Database& password(const std::string& v) {
    password_ = v;
    return *this;
  }
  const std::string& password() const { return password_; }
  Database& schema(const std::string& v) {
    schema_ = v;
    return *this;
  }
  const std::string& schema() const { return schema_; }
  // MariaDB: several servers holding the same data (the nodes of a Galera
  // cluster); when set they replace host, port and socket. A connection
  // uses the first one that is ready and moves on when it is lost.
  Database& servers(const std::vector<Server>& v) {
    servers_ = v;
    return *this;
  }
  const std::vector<Server>& servers() const { return servers_; }
  // Reads "host:port,host:port,..." (the port may be left out: 3306). False,
  // with `out` left unchanged, for an empty list or a malformed entry.
  static bool parse_servers(const std::string& text, std::vector<Server>& out);

  // SQLite: "FULL" (default) or "NORMAL" for PRAGMA synchronous.
  Database& synchronous(const std::string& v) {
    synchronous_ = v;
    return *this;
  }
  const std::string& synchronous() const { return synchronous_; }

  // For messages: the file, or user@host:port/schema.
  std::string describe() const;

 private:
  std::string name_;
  int type_ = SQLITE;
  std::string path_;
  const Metadata* metadata_ = nullptr;
  std::string host_ = "127.0.0.1";
  unsigned port_ = 3306;
  std::string socket_;
  std::string user_;
  std::string password_;
  std::string schema_;
  std::vector<Server> servers_;
  std::string synchronous_ = "FULL";
};

class Connection_Home;

// Reference counting shared by every connection kind.
class Connection {
 public:
  static void intrusive_add_ref(Connection* c);
  static void intrusive_remove_ref(Connection* c);

  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

 protected:
  Connection() = default;
  virtual ~Connection() = default;

 private:
  friend class Connection_Home;
  std::atomic<long> refcount_{0};
  // Set while the connection belongs to a pool.
  std::shared_ptr<Connection_Home> home_;
};

namespace sql {

// One execution of a prepared statement, row by row.
class Statement {
 public:
  virtual ~Statement() = default;
  // 1 when standing on a new row, 0 when there are no more rows, -1 on
  // error (see error()).
  virtual int step() = 0;
  virtual int column_count() const = 0;
  virtual std::string column_name(int i) const = 0;
  // The current row's value of column i.
  virtual Binding_Value column(int i) const = 0;
  virtual const std::string& error() const = 0;
};

class Connection : public database::Connection {
 public:
  const Database* db() const { return &db_; }
  int dialect() const { return dialect_of_type(db_.type()); }

  // Runs text without parameters; several statements separated by ';' are
  // allowed. Use only for text the code writes itself.
  virtual bool execute(const std::string& text) = 0;
  // Runs a built statement. `affected` receives the number of rows changed.
  bool execute(const SQL& statement, long long* affected = nullptr);
  // Renders, prepares and binds; null on failure, with error() set and
  // logged.
  std::unique_ptr<Statement> prepare(const SQL& statement);

  virtual long long last_insert_id() = 0;
  virtual bool table_exists(const std::string& name) = 0;
  virtual bool set_foreign_keys(bool enabled) = 0;

  // Transactions nest: an inner begin opens a savepoint. Callers use the
  // scoped database::Transaction rather than these.
  bool begin();
  bool commit();
  bool rollback();
  int transaction_depth() const { return depth_; }
  // Whether the outermost transaction, once failed, surely left nothing
  // behind and may be run again whole: it lost a conflict with a
  // transaction of another cluster node, or its node or session was lost
  // before COMMIT was sent. Cleared when the next outermost transaction
  // begins. Callers use run_in_transaction (transaction.h).
  bool transaction_may_rerun() const { return may_rerun_; }

  // Prepared statements kept for reuse right now (statement_cache.h).
  virtual std::size_t cached_statement_count() const = 0;

  // The engine's text for the last failure.
  const std::string& error() const { return error_; }

 protected:
  explicit Connection(const Database& db) : db_(db) {}

  // Takes the values: the statement may keep them while it runs.
  virtual std::unique_ptr<Statement> prepare_positional(const std::string& text,
                                                        std::vector<Binding_Value> values) = 0;
  virtual long long changes() = 0;
  virtual const char* begin_text() const = 0;

  void set_error(const std::string& error) { error_ = error; }
  void note_may_rerun() { may_rerun_ = true; }
  void log_failure(const std::string& what, const std::string& text);

 private:
  Database db_;
  std::string error_;
  int depth_ = 0;
  bool may_rerun_ = false;
};

using Connection_Ptr = ACE_Intrusive_Auto_Ptr<Connection>;

// Opens a new connection to `db` and creates the tables of its metadata
// that do not exist. Empty handle, with a logged reason, on failure.
Connection_Ptr open_connection(const Database& db);

// Rewrites ":name" parameters as positional '?' marks, collecting their
// values in order; string literals and quoted names are left alone. False,
// with `error` set, when a parameter has no value.
bool to_positional(const std::string& text, const Bindings& bindings, std::string& out,
                   std::vector<Binding_Value>& values, std::string& error);

}  // namespace sql
}  // namespace database

#endif  // PLATFORM_SQL_CONNECTION_H_
