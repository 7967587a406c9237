// Design note: a connection is either live (mysql_ set, broken_ false),
// broken (the server went away: the handle is dead and the session, with
// its transaction and temporary tables, is gone) or closed (mysql_ null
// after a failed reconnect). A live connection whose server closed the
// session while it was idle is found broken before the next statement is
// sent. Any statement on a broken or closed connection outside a
// transaction reconnects first; inside one it fails, except the rollback
// that ends it, which succeeds because the server already undid the work.
// A statement is sent again at most once, and only when it cannot have
// reached the server or surely did not run: it failed while being
// prepared, sending it failed (CR_SERVER_GONE_ERROR), a cluster node
// refused it for being outside the primary component (1047), or it lost a
// conflict and was rolled back (1213). A statement lost after it was sent
// may have run and even committed, so it fails and its caller decides.
//
// Several servers (Database::servers, the nodes of a Galera cluster): a
// session opens on the first one that is ready, starting from its current
// one, or from the next after it when the current one was lost or left the
// primary component. Inside a transaction such failures fail the
// statement and mark the transaction as one to run again whole
// (Connection::transaction_may_rerun); a COMMIT lost after it was sent
// does not, since it may have taken effect.
#include "platform/sql/mariadb_connection.h"

#include <errmsg.h>
#include <mysql.h>
#include <mysqld_error.h>

#include <poll.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "platform/runtime/log.h"
#include "platform/sql/statement_cache.h"

namespace database {
namespace sql {

const char Mariadb_Connection::kSessionSetup[] =
    "SET time_zone='+00:00', "
    "sql_mode='STRICT_TRANS_TABLES,ERROR_FOR_DIVISION_BY_ZERO,NO_ENGINE_SUBSTITUTION'";

namespace {

bool is_server_gone(unsigned code) {
  return code == CR_SERVER_GONE_ERROR || code == CR_SERVER_LOST || code == ER_CONNECTION_KILLED;
}

// Whether the server has closed an idle session: nothing is due from it
// between statements, so anything to read (its farewell or the end of the
// stream) means the session is over.
bool session_closed(MYSQL* mysql) {
  my_socket fd = mysql_get_socket(mysql);
  if (fd == MARIADB_INVALID_SOCKET)
    return true;
  pollfd p{};
  p.fd = fd;
  p.events = POLLIN | POLLRDHUP;
  return ::poll(&p, 1, 0) > 0;
}

// Failures of a statement the server cannot have run, or rolled back
// whole: sending it failed, the node refused it for being outside the
// cluster's primary component, or it lost a conflict.
bool surely_not_run(unsigned code) {
  return code == CR_SERVER_GONE_ERROR || code == ER_UNKNOWN_COM_ERROR || code == ER_LOCK_DEADLOCK;
}

// Statements that end a transaction without keeping anything.
bool is_undo(const std::string& text) {
  return text.compare(0, 8, "ROLLBACK") == 0 || text.compare(0, 17, "RELEASE SAVEPOINT") == 0;
}

void close_statement(MYSQL_STMT* stmt) {
  mysql_stmt_close(stmt);
}

// Errors of a kept statement that a freshly prepared one does not have:
// the server forgot it, or the tables it reads changed shape.
bool is_stale_statement(unsigned code) {
  return code == ER_UNKNOWN_STMT_HANDLER || code == ER_NEED_REPREPARE ||
         code == CR_NEW_STMT_METADATA;
}

// Values bound to a statement's parameters; the binds point into it.
struct Parameters {
  std::vector<MYSQL_BIND> binds;
  std::vector<long long> integers;
  std::vector<double> reals;

  explicit Parameters(const std::vector<Binding_Value>& values)
      : binds(values.size()), integers(values.size()), reals(values.size()) {
    for (std::size_t i = 0; i < values.size(); ++i) {
      const Binding_Value& v = values[i];
      MYSQL_BIND& b = binds[i];
      switch (v.kind()) {
        case Binding_Value::INTEGER:
          integers[i] = v.integer();
          b.buffer_type = MYSQL_TYPE_LONGLONG;
          b.buffer = &integers[i];
          break;
        case Binding_Value::REAL:
          reals[i] = v.real();
          b.buffer_type = MYSQL_TYPE_DOUBLE;
          b.buffer = &reals[i];
          break;
        case Binding_Value::TEXT:
        case Binding_Value::BLOB:
          b.buffer_type = v.kind() == Binding_Value::TEXT ? MYSQL_TYPE_STRING : MYSQL_TYPE_BLOB;
          b.buffer = const_cast<char*>(v.text().data());
          b.buffer_length = v.text().size();
          break;
        default:
          b.buffer_type = MYSQL_TYPE_NULL;
      }
    }
  }
};

enum Column_Form { AS_INTEGER, AS_REAL, AS_DECIMAL, AS_TIME, AS_TEXT, AS_BLOB };

Column_Form form_of(const MYSQL_FIELD& field) {
  switch (field.type) {
    case MYSQL_TYPE_TINY:
    case MYSQL_TYPE_SHORT:
    case MYSQL_TYPE_LONG:
    case MYSQL_TYPE_INT24:
    case MYSQL_TYPE_LONGLONG:
    case MYSQL_TYPE_YEAR:
      return AS_INTEGER;
    case MYSQL_TYPE_FLOAT:
    case MYSQL_TYPE_DOUBLE:
      return AS_REAL;
    case MYSQL_TYPE_DECIMAL:
    case MYSQL_TYPE_NEWDECIMAL:
      return AS_DECIMAL;
    case MYSQL_TYPE_DATE:
    case MYSQL_TYPE_TIME:
    case MYSQL_TYPE_DATETIME:
    case MYSQL_TYPE_TIMESTAMP:
      return AS_TIME;
    default:
      // Character set 63 is "binary": uuids and other byte strings.
      return field.charsetnr == 63 ? AS_BLOB : AS_TEXT;
  }
}

// Where one column of the current row is fetched to.
struct Column_Buffer {
  Column_Form form = AS_TEXT;
  enum_field_types type = MYSQL_TYPE_NULL;
  long long integer = 0;
  double real = 0;
  MYSQL_TIME time{};
  std::string bytes;
  unsigned long length = 0;
  my_bool is_null = 0;
  my_bool truncated = 0;
};

void bind_column(const MYSQL_FIELD& field, Column_Buffer& c, MYSQL_BIND& b) {
  c.form = form_of(field);
  c.type = field.type;
  b.length = &c.length;
  b.is_null = &c.is_null;
  b.error = &c.truncated;
  switch (c.form) {
    case AS_INTEGER:
      b.buffer_type = MYSQL_TYPE_LONGLONG;
      b.buffer = &c.integer;
      b.is_unsigned = (field.flags & UNSIGNED_FLAG) != 0;
      break;
    case AS_REAL:
      b.buffer_type = MYSQL_TYPE_DOUBLE;
      b.buffer = &c.real;
      break;
    case AS_TIME:
      b.buffer_type = field.type;
      b.buffer = &c.time;
      break;
    default:
      // max_length is known once the result is stored; longer values are
      // fetched again whole.
      c.bytes.resize(field.max_length + 1);
      b.buffer_type = c.form == AS_BLOB ? MYSQL_TYPE_BLOB : MYSQL_TYPE_STRING;
      b.buffer = &c.bytes[0];
      b.buffer_length = c.bytes.size();
  }
}

// By the column's type: the wire form of a datetime at midnight carries
// no time part.
std::string time_text(enum_field_types type, const MYSQL_TIME& t) {
  char text[64];
  if (type == MYSQL_TYPE_DATE) {
    std::snprintf(text, sizeof text, "%04u-%02u-%02u", t.year, t.month, t.day);
  } else if (type == MYSQL_TYPE_TIME) {
    std::snprintf(text, sizeof text, "%s%02u:%02u:%02u", t.neg ? "-" : "", t.hour, t.minute,
                  t.second);
  } else {
    std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", t.year, t.month, t.day,
                  t.hour, t.minute, t.second);
  }
  std::string out(text);
  if (t.second_part != 0) {
    std::snprintf(text, sizeof text, ".%06lu", t.second_part);
    out += text;
  }
  return out;
}

// Sums and other exact numbers: whole ones as integers, like SQLite gives
// them, others as reals.
Binding_Value decimal_value(const std::string& text) {
  char* end = nullptr;
  long long n = std::strtoll(text.c_str(), &end, 10);
  if (!text.empty() && *end == '\0')
    return Binding_Value(n);
  double d = std::strtod(text.c_str(), &end);
  if (!text.empty() && *end == '\0')
    return Binding_Value(d);
  return Binding_Value(text);
}

Binding_Value column_value(const Column_Buffer& c) {
  if (c.is_null)
    return Binding_Value();
  switch (c.form) {
    case AS_INTEGER:
      return Binding_Value(c.integer);
    case AS_REAL:
      return Binding_Value(c.real);
    case AS_TIME:
      return Binding_Value(time_text(c.type, c.time));
    case AS_DECIMAL:
      return decimal_value(c.bytes.substr(0, c.length));
    case AS_BLOB:
      return Binding_Value::blob(c.bytes.substr(0, c.length));
    default:
      return Binding_Value(c.bytes.substr(0, c.length));
  }
}

// Fetches the columns that did not fit their buffer again, whole.
bool refetch_truncated(MYSQL_STMT* stmt, std::vector<Column_Buffer>& columns,
                       std::vector<MYSQL_BIND>& binds) {
  for (std::size_t i = 0; i < columns.size(); ++i) {
    Column_Buffer& c = columns[i];
    if (!c.truncated || c.bytes.empty())
      continue;
    c.bytes.resize(c.length + 1);
    binds[i].buffer = &c.bytes[0];
    binds[i].buffer_length = c.bytes.size();
    if (mysql_stmt_fetch_column(stmt, &binds[i], static_cast<unsigned>(i), 0) != 0)
      return false;
  }
  return true;
}

// Reads every row of an executed statement that returns a result.
bool read_rows(MYSQL_STMT* stmt, MYSQL_RES* metadata, Mariadb_Connection::Result& result) {
  my_bool update_max_length = 1;
  mysql_stmt_attr_set(stmt, STMT_ATTR_UPDATE_MAX_LENGTH, &update_max_length);
  if (mysql_stmt_store_result(stmt) != 0)
    return false;
  unsigned n = mysql_num_fields(metadata);
  MYSQL_FIELD* fields = mysql_fetch_fields(metadata);
  std::vector<Column_Buffer> columns(n);
  std::vector<MYSQL_BIND> binds(n);
  for (unsigned i = 0; i < n; ++i) {
    result.names.emplace_back(fields[i].name, fields[i].name_length);
    bind_column(fields[i], columns[i], binds[i]);
  }
  if (n > 0 && mysql_stmt_bind_result(stmt, binds.data()) != 0)
    return false;
  for (;;) {
    int rc = mysql_stmt_fetch(stmt);
    if (rc == MYSQL_NO_DATA)
      return true;
    if (rc == 1 || (rc == MYSQL_DATA_TRUNCATED && !refetch_truncated(stmt, columns, binds)))
      return false;
    std::vector<Binding_Value> row;
    row.reserve(n);
    for (const Column_Buffer& c : columns)
      row.push_back(column_value(c));
    result.rows.push_back(std::move(row));
  }
}

void library_init() {
  static std::once_flag once;
  std::call_once(once, [] { mysql_library_init(0, nullptr, nullptr); });
}

}  // namespace

// The rows of one statement, run when first stepped.
class Mariadb_Statement : public Statement {
 public:
  Mariadb_Statement(Mariadb_Connection* conn, std::string text, std::vector<Binding_Value> values)
      : conn_(conn), text_(std::move(text)), values_(std::move(values)) {}

  int step() override {
    if (!ran_) {
      ran_ = true;
      if (!conn_->run(text_, values_, result_)) {
        error_ = conn_->error();
        return -1;
      }
    }
    if (next_ >= result_.rows.size())
      return 0;
    ++next_;
    return 1;
  }

  int column_count() const override { return static_cast<int>(result_.names.size()); }

  std::string column_name(int i) const override {
    return i >= 0 && i < column_count() ? result_.names[i] : std::string();
  }

  Binding_Value column(int i) const override {
    if (next_ == 0 || i < 0 || i >= column_count())
      return Binding_Value();
    return result_.rows[next_ - 1][i];
  }

  const std::string& error() const override { return error_; }

 private:
  Mariadb_Connection* conn_;
  std::string text_;
  std::vector<Binding_Value> values_;
  bool ran_ = false;
  Mariadb_Connection::Result result_;
  std::size_t next_ = 0;
  std::string error_;
};

Mariadb_Connection::Mariadb_Connection(const Database& db)
    : Connection(db), statements_(kCachedStatements, close_statement) {}

Mariadb_Connection::~Mariadb_Connection() {
  disconnect();
}

Connection_Ptr Mariadb_Connection::open(const Database& db) {
  library_init();
  Mariadb_Connection* conn = new Mariadb_Connection(db);
  Connection_Ptr ptr(conn);
  if (!conn->connect()) {
    LOG_ERROR("Failed to connect to the MariaDB server of database '%s' (%s): %s",
              db.name().c_str(), db.describe().c_str(), conn->error().c_str());
    return Connection_Ptr();
  }
  return ptr;
}

void Mariadb_Connection::disconnect() {
  if (mysql_ == nullptr)
    return;
  // Closing the session first detaches its statements, which are then
  // freed without talking to a server that may be gone.
  mysql_close(mysql_);
  mysql_ = nullptr;
  statements_.clear();
}

std::size_t Mariadb_Connection::cached_statement_count() const {
  return statements_.size();
}

namespace {

// The first row's second column of `text` (SHOW VARIABLES or SHOW STATUS
// form); false when there is no such row or the query fails.
bool show_value(MYSQL* m, const char* text, std::string& value) {
  if (mysql_query(m, text) != 0)
    return false;
  MYSQL_RES* rows = mysql_store_result(m);
  if (rows == nullptr)
    return false;
  MYSQL_ROW row = mysql_fetch_row(rows);
  bool found = row != nullptr && mysql_num_fields(rows) >= 2 && row[1] != nullptr;
  if (found)
    value = row[1];
  mysql_free_result(rows);
  return found;
}

// A plain server is always ready. A Galera node is ready only while it is
// in the primary component and synced; its sessions then wait for the
// writes the cluster has committed before they read, so a caller reads its
// own writes even after its session moved to another node.
bool prepare_session(MYSQL* m, std::string& why) {
  std::string value;
  if (!show_value(m, "SHOW VARIABLES LIKE 'wsrep_on'", value) || value != "ON")
    return true;
  if (!show_value(m, "SHOW STATUS LIKE 'wsrep_ready'", value) || value != "ON") {
    why = "the cluster node is not ready";
    return false;
  }
  if (show_value(m, "SHOW VARIABLES LIKE 'wsrep_sync_wait'", value) &&
      mysql_query(m, "SET SESSION wsrep_sync_wait=1") != 0) {
    why = mysql_error(m);
    return false;
  }
  return true;
}

}  // namespace

MYSQL* Mariadb_Connection::connect_to(const char* host, unsigned port, const char* socket) {
  MYSQL* m = mysql_init(nullptr);
  if (m == nullptr) {
    set_error("out of memory");
    return nullptr;
  }
  unsigned connect_timeout = kConnectTimeout, read_timeout = kReadTimeout,
           write_timeout = kWriteTimeout;
  my_bool no = 0;
  mysql_optionsv(m, MYSQL_OPT_CONNECT_TIMEOUT, &connect_timeout);
  mysql_optionsv(m, MYSQL_OPT_READ_TIMEOUT, &read_timeout);
  mysql_optionsv(m, MYSQL_OPT_WRITE_TIMEOUT, &write_timeout);
  mysql_optionsv(m, MYSQL_OPT_RECONNECT, &no);
  mysql_optionsv(m, MYSQL_SET_CHARSET_NAME, "utf8mb4");
  mysql_optionsv(m, MYSQL_INIT_COMMAND, kSessionSetup);
  const Database& d = *db();
  const char* schema = d.schema().empty() ? nullptr : d.schema().c_str();
  std::string why;
  if (mysql_real_connect(m, host, d.user().c_str(), d.password().c_str(), schema, port, socket,
                         CLIENT_MULTI_STATEMENTS | CLIENT_FOUND_ROWS) == nullptr) {
    why = mysql_error(m);
  } else if (prepare_session(m, why)) {
    return m;
  }
  set_error(why);
  mysql_close(m);
  return nullptr;
}

bool Mariadb_Connection::connect() {
  disconnect();
  const Database& d = *db();
  const std::vector<Database::Server>& servers = d.servers();
  if (servers.empty()) {
    // A socket, when given, wins: "localhost" makes the library use it.
    const char* host = d.socket().empty() ? d.host().c_str() : "localhost";
    const char* socket = d.socket().empty() ? nullptr : d.socket().c_str();
    mysql_ = connect_to(host, d.port(), socket);
  } else {
    // A lost session leaves its server to the last; the others are tried
    // in their configured order after it.
    std::string failures;
    std::size_t first = broken_ ? server_ + 1 : server_;
    for (std::size_t i = 0; i < servers.size() && mysql_ == nullptr; ++i) {
      std::size_t at = (first + i) % servers.size();
      const Database::Server& s = servers[at];
      mysql_ = connect_to(s.host.c_str(), s.port, nullptr);
      if (mysql_ != nullptr)
        server_ = at;
      else
        failures +=
            (failures.empty() ? "" : "; ") + s.host + ":" + std::to_string(s.port) + ": " + error();
    }
    if (mysql_ == nullptr)
      set_error(failures);
  }
  if (mysql_ == nullptr)
    return false;
  broken_ = false;
  return true;
}

// Whether a statement may be sent now, reconnecting a lost session that no
// transaction depends on.
bool Mariadb_Connection::usable() {
  if (!broken_ && mysql_ != nullptr) {
    if (!session_closed(mysql_))
      return true;
    broken_ = true;
  }
  if (transaction_depth() > 0) {
    set_error("the connection to the server was lost in this transaction, which was rolled back");
    return false;
  }
  if (!connect())
    return false;
  LOG_INFO("Database '%s' (%s): reconnected to the server.", db()->name().c_str(),
           server_address().c_str());
  return true;
}

std::string Mariadb_Connection::server_address() const {
  const Database& d = *db();
  if (d.servers().empty())
    return d.describe();
  const Database::Server& s = d.servers()[server_ % d.servers().size()];
  return d.user() + "@" + s.host + ":" + std::to_string(s.port) + "/" + d.schema();
}

template <class Attempt>
bool Mariadb_Connection::with_reconnect(bool commits, Attempt attempt) {
  for (int round = 0; round < 2; ++round) {
    if (!usable())
      return false;
    unsigned code = 0;
    bool may_retry = true;
    if (attempt(code, may_retry))
      return true;
    const bool in_transaction = transaction_depth() > 0;
    if (code == ER_LOCK_DEADLOCK) {
      // The server rolled the whole transaction (or the lone statement)
      // back: nothing of it stays.
      if (in_transaction) {
        note_may_rerun();
        return false;
      }
      if (!may_retry)
        return false;
      continue;
    }
    if (code == ER_UNKNOWN_COM_ERROR) {
      // The node left the cluster's primary component and refused the
      // statement before running it; another node takes the session.
      broken_ = true;
      if (in_transaction) {
        note_may_rerun();
        set_error(error() + " (the node left the cluster; the transaction was rolled back)");
        return false;
      }
      if (!may_retry)
        return false;
      continue;
    }
    if (!is_server_gone(code))
      return false;
    broken_ = true;
    if (in_transaction) {
      // Until COMMIT is sent, the server keeps nothing of a lost session.
      if (!commits || may_retry)
        note_may_rerun();
      set_error(error() + (commits && !may_retry
                               ? " (the commit may have taken effect)"
                               : " (the transaction was rolled back by the server)"));
      return false;
    }
    if (!may_retry) {
      set_error(error() + " (the statement may have run; it was not sent again)");
      return false;
    }
  }
  return false;
}

void Mariadb_Connection::note_write(long long affected, long long insert_id) {
  changes_ = affected;
  // Like SQLite, the last generated id stays until another one replaces it.
  if (insert_id != 0)
    last_insert_id_ = insert_id;
}

bool Mariadb_Connection::run(const std::string& text, const std::vector<Binding_Value>& values,
                             Result& result) {
  return with_reconnect(false, [&](unsigned& code, bool& may_retry) {
    result = Result();
    return run_once(text, values, result, code, may_retry);
  });
}

bool Mariadb_Connection::run_once(const std::string& text, const std::vector<Binding_Value>& values,
                                  Result& result, unsigned& code, bool& may_retry) {
  MYSQL_STMT* stmt = statements_.take(text);
  if (stmt != nullptr) {
    if (run_prepared(stmt, values, result, code, may_retry)) {
      statements_.put(text, stmt);
      return true;
    }
    mysql_stmt_close(stmt);
    if (!is_stale_statement(code))
      return false;
    result = Result();
    may_retry = true;
  }
  stmt = mysql_stmt_init(mysql_);
  if (stmt == nullptr) {
    code = mysql_errno(mysql_);
    set_error(mysql_error(mysql_));
    return false;
  }
  if (mysql_stmt_prepare(stmt, text.data(), text.size()) != 0) {
    code = mysql_stmt_errno(stmt);
    set_error(mysql_stmt_error(stmt));
    mysql_stmt_close(stmt);
    return false;
  }
  bool ok = run_prepared(stmt, values, result, code, may_retry);
  if (ok)
    statements_.put(text, stmt);
  else
    mysql_stmt_close(stmt);
  return ok;
}

bool Mariadb_Connection::run_prepared(MYSQL_STMT* stmt, const std::vector<Binding_Value>& values,
                                      Result& result, unsigned& code, bool& may_retry) {
  auto fail = [&]() {
    code = mysql_stmt_errno(stmt);
    set_error(mysql_stmt_error(stmt));
    return false;
  };
  if (mysql_stmt_param_count(stmt) != values.size()) {
    set_error("the statement has " + std::to_string(mysql_stmt_param_count(stmt)) +
              " parameters, " + std::to_string(values.size()) + " values were bound");
    return false;
  }
  Parameters parameters(values);
  if (!values.empty() && mysql_stmt_bind_param(stmt, parameters.binds.data()) != 0)
    return fail();
  // From here on the server may have run the statement, unless sending it
  // failed.
  if (mysql_stmt_execute(stmt) != 0) {
    fail();
    may_retry = surely_not_run(code);
    return false;
  }
  may_retry = false;
  MYSQL_RES* metadata = mysql_stmt_result_metadata(stmt);
  if (metadata == nullptr) {
    if (mysql_stmt_errno(stmt) != 0)
      return fail();
    note_write(static_cast<long long>(mysql_stmt_affected_rows(stmt)),
               static_cast<long long>(mysql_stmt_insert_id(stmt)));
    return true;
  }
  bool ok = read_rows(stmt, metadata, result);
  mysql_free_result(metadata);
  // Drops the rows on this side only: resetting would cost a round trip.
  mysql_stmt_free_result(stmt);
  return ok || fail();
}

bool Mariadb_Connection::execute(const std::string& text) {
  bool undo = transaction_depth() > 0 && is_undo(text);
  // The server dropped the transaction with the session: nothing to undo.
  if (undo && broken_)
    return true;
  bool commits = transaction_depth() == 1 && text.compare(0, 6, "COMMIT") == 0;
  bool ok = with_reconnect(commits, [&](unsigned& code, bool& may_retry) {
    return execute_once(text, code, may_retry);
  });
  if (ok || (undo && broken_))
    return true;
  log_failure("execution failed", text);
  return false;
}

bool Mariadb_Connection::execute_once(const std::string& text, unsigned& code, bool& may_retry) {
  if (mysql_real_query(mysql_, text.data(), text.size()) != 0) {
    code = mysql_errno(mysql_);
    set_error(mysql_error(mysql_));
    // Its first statement failed: nothing of the text ran if that one
    // surely did not.
    may_retry = surely_not_run(code);
    return false;
  }
  may_retry = false;
  for (;;) {
    MYSQL_RES* rows = mysql_store_result(mysql_);
    if (rows != nullptr) {
      mysql_free_result(rows);
    } else if (mysql_field_count(mysql_) != 0) {
      break;
    } else {
      note_write(static_cast<long long>(mysql_affected_rows(mysql_)),
                 static_cast<long long>(mysql_insert_id(mysql_)));
    }
    int status = mysql_next_result(mysql_);
    if (status < 0)
      return true;
    if (status > 0)
      break;
  }
  code = mysql_errno(mysql_);
  set_error(mysql_error(mysql_));
  return false;
}

std::unique_ptr<Statement> Mariadb_Connection::prepare_positional(
    const std::string& text, std::vector<Binding_Value> values) {
  return std::unique_ptr<Statement>(new Mariadb_Statement(this, text, std::move(values)));
}

long long Mariadb_Connection::last_insert_id() {
  return last_insert_id_;
}

bool Mariadb_Connection::table_exists(const std::string& name) {
  Result result;
  return run("SELECT 1 FROM information_schema.TABLES WHERE TABLE_SCHEMA = DATABASE() AND "
             "TABLE_NAME = ?",
             {Binding_Value(name)}, result) &&
         !result.rows.empty();
}

bool Mariadb_Connection::set_foreign_keys(bool enabled) {
  return execute(std::string(enabled ? "SET FOREIGN_KEY_CHECKS=1;" : "SET FOREIGN_KEY_CHECKS=0;"));
}

}  // namespace sql
}  // namespace database
