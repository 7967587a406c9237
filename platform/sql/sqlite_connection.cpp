#include "platform/sql/sqlite_connection.h"

#include "platform/runtime/log.h"
#include "platform/sql/statement_cache.h"

namespace database {
namespace sql {

namespace {

void finalize(sqlite3_stmt* stmt) {
  sqlite3_finalize(stmt);
}

}  // namespace

// The connection's idle statements. Statements still running when the
// connection closes find it closed and finalize themselves.
struct Sqlite_Connection::Statements {
  Statement_Cache<sqlite3_stmt*> cache{kCachedStatements, finalize};
  bool open = true;
};

namespace {

int bind_value(sqlite3_stmt* stmt, int index, const Binding_Value& v) {
  switch (v.kind()) {
    case Binding_Value::INTEGER:
      return sqlite3_bind_int64(stmt, index, v.integer());
    case Binding_Value::REAL:
      return sqlite3_bind_double(stmt, index, v.real());
    case Binding_Value::TEXT:
      return sqlite3_bind_text(stmt, index, v.text().data(), static_cast<int>(v.text().size()),
                               SQLITE_STATIC);
    case Binding_Value::BLOB:
      return sqlite3_bind_blob(stmt, index, v.text().data(), static_cast<int>(v.text().size()),
                               SQLITE_STATIC);
    default:
      return sqlite3_bind_null(stmt, index);
  }
}

class Sqlite_Statement : public Statement {
 public:
  Sqlite_Statement(sqlite3* db, sqlite3_stmt* stmt, std::string text,
                   std::shared_ptr<Sqlite_Connection::Statements> home,
                   std::vector<Binding_Value> values)
      : db_(db),
        stmt_(stmt),
        text_(std::move(text)),
        home_(std::move(home)),
        values_(std::move(values)) {}

  // Binds the values without copying them: they live as long as the
  // statement, which clears its bindings before it ends.
  bool bind() {
    for (std::size_t i = 0; i < values_.size(); ++i) {
      if (bind_value(stmt_, static_cast<int>(i + 1), values_[i]) != SQLITE_OK) {
        failed_ = true;
        return false;
      }
    }
    return true;
  }

  ~Sqlite_Statement() override {
    // One that failed is not trusted again.
    if (!failed_ && home_->open && sqlite3_reset(stmt_) == SQLITE_OK &&
        sqlite3_clear_bindings(stmt_) == SQLITE_OK)
      home_->cache.put(text_, stmt_);
    else
      sqlite3_finalize(stmt_);
  }

  int step() override {
    if (done_)
      return 0;
    int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW)
      return 1;
    done_ = true;
    if (rc == SQLITE_DONE)
      return 0;
    failed_ = true;
    error_ = sqlite3_errmsg(db_);
    return -1;
  }

  int column_count() const override { return sqlite3_column_count(stmt_); }

  std::string column_name(int i) const override {
    const char* name = sqlite3_column_name(stmt_, i);
    return name == nullptr ? std::string() : std::string(name);
  }

  Binding_Value column(int i) const override {
    switch (sqlite3_column_type(stmt_, i)) {
      case SQLITE_INTEGER:
        return Binding_Value(static_cast<long long>(sqlite3_column_int64(stmt_, i)));
      case SQLITE_FLOAT:
        return Binding_Value(sqlite3_column_double(stmt_, i));
      case SQLITE_TEXT: {
        const unsigned char* text = sqlite3_column_text(stmt_, i);
        int size = sqlite3_column_bytes(stmt_, i);
        return Binding_Value(std::string(reinterpret_cast<const char*>(text), size));
      }
      case SQLITE_BLOB: {
        const void* data = sqlite3_column_blob(stmt_, i);
        int size = sqlite3_column_bytes(stmt_, i);
        return Binding_Value::blob(
            data == nullptr ? std::string() : std::string(static_cast<const char*>(data), size));
      }
      default:
        return Binding_Value();
    }
  }

  const std::string& error() const override { return error_; }

 private:
  sqlite3* db_;
  sqlite3_stmt* stmt_;
  std::string text_;
  std::shared_ptr<Sqlite_Connection::Statements> home_;
  std::vector<Binding_Value> values_;
  bool done_ = false;
  bool failed_ = false;
  std::string error_;
};

}  // namespace

Sqlite_Connection::Sqlite_Connection(const Database& db, sqlite3* handle)
    : Connection(db), db_(handle), statements_(std::make_shared<Statements>()) {}

Sqlite_Connection::~Sqlite_Connection() {
  statements_->cache.clear();
  statements_->open = false;
  // Waits for statements still running, if any, to be finalized.
  sqlite3_close_v2(db_);
}

std::size_t Sqlite_Connection::cached_statement_count() const {
  return statements_->cache.size();
}

Connection_Ptr Sqlite_Connection::open(const Database& db) {
  sqlite3* handle = nullptr;
  int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX;
  int rc = sqlite3_open_v2(db.path().c_str(), &handle, flags, nullptr);
  if (rc != SQLITE_OK) {
    LOG_ERROR("Failed to open SQLite file '%s': %s", db.path().c_str(),
              handle != nullptr ? sqlite3_errmsg(handle) : sqlite3_errstr(rc));
    sqlite3_close_v2(handle);
    return Connection_Ptr();
  }
  sqlite3_extended_result_codes(handle, 1);
  // Before the first read: another connection may be writing the file.
  sqlite3_busy_timeout(handle, kBusyTimeoutMs);
  Sqlite_Connection* conn = new Sqlite_Connection(db, handle);
  Connection_Ptr ptr(conn);
  // Reading the schema first fails on a file that is not a database, before
  // anything could be written to it.
  std::string sync = db.synchronous() == "NORMAL" ? "NORMAL" : "FULL";
  if (!conn->execute("SELECT COUNT(*) FROM sqlite_master;") ||
      !conn->execute(std::string("PRAGMA journal_mode=WAL;")) ||
      !conn->execute("PRAGMA synchronous=" + sync + ";")) {
    LOG_ERROR("Failed to open SQLite file '%s': %s", db.path().c_str(), conn->error().c_str());
    return Connection_Ptr();
  }
  return ptr;
}

bool Sqlite_Connection::execute(const std::string& text) {
  char* message = nullptr;
  int rc = sqlite3_exec(db_, text.c_str(), nullptr, nullptr, &message);
  if (rc == SQLITE_OK)
    return true;
  set_error(message != nullptr ? message : sqlite3_errstr(rc));
  sqlite3_free(message);
  log_failure("execution failed", text);
  return false;
}

std::unique_ptr<Statement> Sqlite_Connection::prepare_positional(
    const std::string& text, std::vector<Binding_Value> values) {
  // A kept statement is prepared anew by SQLite itself when the schema
  // changed since it was prepared.
  sqlite3_stmt* stmt = statements_->cache.take(text);
  if (stmt == nullptr) {
    int rc = sqlite3_prepare_v2(db_, text.c_str(), static_cast<int>(text.size()), &stmt, nullptr);
    if (rc != SQLITE_OK || stmt == nullptr) {
      set_error(rc != SQLITE_OK ? sqlite3_errmsg(db_) : "empty statement");
      sqlite3_finalize(stmt);
      return nullptr;
    }
  }
  std::unique_ptr<Sqlite_Statement> s(
      new Sqlite_Statement(db_, stmt, text, statements_, std::move(values)));
  if (!s->bind()) {
    set_error(sqlite3_errmsg(db_));
    return nullptr;
  }
  return s;
}

long long Sqlite_Connection::changes() {
  return sqlite3_changes64(db_);
}

long long Sqlite_Connection::last_insert_id() {
  return sqlite3_last_insert_rowid(db_);
}

bool Sqlite_Connection::table_exists(const std::string& name) {
  SQL check("SELECT 1 FROM sqlite_master WHERE type='table' AND name=:name;");
  check.bind("name", name);
  std::unique_ptr<Statement> s = prepare(check);
  return s && s->step() == 1;
}

bool Sqlite_Connection::set_foreign_keys(bool enabled) {
  return execute(std::string(enabled ? "PRAGMA foreign_keys=ON;" : "PRAGMA foreign_keys=OFF;"));
}

}  // namespace sql
}  // namespace database
