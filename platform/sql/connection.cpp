#include "platform/sql/connection.h"

#include <cstdlib>
#include <unordered_map>

#include "platform/runtime/log.h"
#include "platform/sql/connection_pool.h"
#include "platform/sql/mariadb_connection.h"
#include "platform/sql/metadata.h"
#include "platform/sql/sqlite_connection.h"

namespace database {

std::string Database::describe() const {
  if (type_ != MYSQL)
    return path_;
  std::string where = socket_.empty() ? host_ + ":" + std::to_string(port_) : socket_;
  if (!servers_.empty()) {
    where.clear();
    for (const Server& s : servers_)
      where += (where.empty() ? "" : ",") + s.host + ":" + std::to_string(s.port);
  }
  return user_ + "@" + where + "/" + schema_;
}

bool Database::parse_servers(const std::string& text, std::vector<Server>& out) {
  std::vector<Server> servers;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t comma = text.find(',', start);
    std::string item =
        text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    Server server;
    std::size_t colon = item.rfind(':');
    server.host = item.substr(0, colon);
    if (colon != std::string::npos) {
      std::string port = item.substr(colon + 1);
      char* end = nullptr;
      unsigned long n = std::strtoul(port.c_str(), &end, 10);
      if (port.empty() || *end != '\0' || n == 0 || n > 65535)
        return false;
      server.port = static_cast<unsigned>(n);
    }
    if (server.host.empty() || server.host.find_first_of(" \t/") != std::string::npos)
      return false;
    servers.push_back(server);
    if (comma == std::string::npos)
      break;
    start = comma + 1;
  }
  if (servers.empty())
    return false;
  out = servers;
  return true;
}

void Connection::intrusive_add_ref(Connection* c) {
  if (c != nullptr)
    ++c->refcount_;
}

void Connection::intrusive_remove_ref(Connection* c) {
  if (c == nullptr || --c->refcount_ != 0)
    return;
  std::shared_ptr<Connection_Home> home = c->home_;
  if (home)
    home->give_back(c);
  else
    delete c;
}

namespace sql {

namespace {

// The bindings of a statement's parameters by name. A long list (a large
// IN list) is indexed: searched once per mark, it would cost the square
// of its length.
class Binding_Index {
 public:
  static const std::size_t kNone = static_cast<std::size_t>(-1);

  explicit Binding_Index(const Bindings& bindings) : bindings_(bindings) {
    if (bindings.size() <= kLinear)
      return;
    index_.reserve(bindings.size());
    for (std::size_t i = 0; i < bindings.size(); ++i)
      index_.emplace(bindings[i].first, i);  // the first of a name wins, as in the search
  }

  // The position of the binding named `name`; kNone when there is none.
  std::size_t find(const std::string& name) const {
    if (bindings_.size() > kLinear) {
      auto found = index_.find(name);
      return found != index_.end() ? found->second : kNone;
    }
    for (std::size_t i = 0; i < bindings_.size(); ++i)
      if (bindings_[i].first == name)
        return i;
    return kNone;
  }

 private:
  static const std::size_t kLinear = 16;
  const Bindings& bindings_;
  std::unordered_map<std::string, std::size_t> index_;
};

bool starts_quote_or_mark(char c) {
  return c == '\'' || c == '"' || c == '`' || c == ':';
}

// to_positional, giving for each mark the position of its binding.
bool positional_order(const std::string& text, const Bindings& bindings, std::string& out,
                      std::vector<std::size_t>& order, std::string& error) {
  out.clear();
  order.clear();
  out.reserve(text.size());
  order.reserve(bindings.size());
  const Binding_Index index(bindings);
  std::size_t i = 0;
  const std::size_t n = text.size();
  while (i < n) {
    char c = text[i];
    if (c == '\'' || c == '"' || c == '`') {
      // Copy a quoted literal or name whole; a doubled quote stays inside.
      std::size_t j = i + 1;
      while (j < n) {
        if (text[j] == c) {
          if (j + 1 < n && text[j + 1] == c) {
            j += 2;
            continue;
          }
          break;
        }
        if (text[j] == '\\' && c != '`' && j + 1 < n)
          ++j;
        ++j;
      }
      j = j < n ? j + 1 : n;
      out.append(text, i, j - i);
      i = j;
      continue;
    }
    if (c == ':' && i + 1 < n && is_name_start(text[i + 1]) && (i == 0 || text[i - 1] != ':')) {
      std::size_t j = i + 1;
      while (j < n && is_name_char(text[j]))
        ++j;
      std::string name = text.substr(i + 1, j - i - 1);
      std::size_t at = index.find(name);
      if (at == Binding_Index::kNone) {
        error = "no value bound to :" + name;
        return false;
      }
      order.push_back(at);
      out.push_back('?');
      i = j;
      continue;
    }
    if (c == ':') {
      out.push_back(c);
      ++i;
      continue;
    }
    // Plain text up to the next quote or colon, in one piece.
    std::size_t j = i + 1;
    while (j < n && !starts_quote_or_mark(text[j]))
      ++j;
    out.append(text, i, j - i);
    i = j;
  }
  return true;
}

// The positional forms of the statements a thread prepared lately. A
// statement run again (an insert for every record added) renders to the
// same text with the same names bound, and its form is taken from here
// instead of being worked out anew. Texts longer than kLongest are not
// kept, and the forms are dropped whole when there are kForms of them.
class Positional_Forms {
 public:
  // The form of `text` for bindings of the names of `bindings`; null when
  // there is none.
  const std::pair<std::string, std::vector<std::size_t>>* find(const std::string& text,
                                                               const Bindings& bindings) const {
    auto found = forms_.find(text);
    if (found == forms_.end() || found->second.names.size() != bindings.size())
      return nullptr;
    for (std::size_t i = 0; i < bindings.size(); ++i)
      if (found->second.names[i] != bindings[i].first)
        return nullptr;
    return &found->second.form;
  }

  void keep(const std::string& text, const Bindings& bindings, const std::string& positional,
            const std::vector<std::size_t>& order) {
    if (text.size() > kLongest)
      return;
    if (forms_.size() >= kForms)
      forms_.clear();
    Entry& entry = forms_[text];
    entry.names.clear();
    for (const auto& b : bindings)
      entry.names.push_back(b.first);
    entry.form = {positional, order};
  }

 private:
  static const std::size_t kLongest = 2048;
  static const std::size_t kForms = 64;
  struct Entry {
    std::vector<std::string> names;
    std::pair<std::string, std::vector<std::size_t>> form;
  };
  std::unordered_map<std::string, Entry> forms_;
};

thread_local Positional_Forms t_forms;

}  // namespace

bool to_positional(const std::string& text, const Bindings& bindings, std::string& out,
                   std::vector<Binding_Value>& values, std::string& error) {
  std::vector<std::size_t> order;
  values.clear();
  if (!positional_order(text, bindings, out, order, error))
    return false;
  values.reserve(order.size());
  for (std::size_t at : order)
    values.push_back(bindings[at].second);
  return true;
}

void Connection::log_failure(const std::string& what, const std::string& text) {
  LOG_ERROR("Database '%s' (%s): %s: %s [%s]", db_.name().c_str(), db_.describe().c_str(),
            what.c_str(), error_.c_str(), text.c_str());
}

std::unique_ptr<Statement> Connection::prepare(const SQL& statement) {
  Render_Context ctx(dialect());
  if (!statement.render(ctx)) {
    set_error(ctx.error());
    log_failure("invalid statement", ctx.text());
    return nullptr;
  }
  const Bindings& bindings = ctx.bindings();
  std::string text;
  std::vector<std::size_t> made;
  const std::vector<std::size_t>* order = &made;
  if (const auto* form = t_forms.find(ctx.text(), bindings)) {
    text = form->first;
    order = &form->second;
  } else {
    std::string error;
    if (!positional_order(ctx.text(), bindings, text, made, error)) {
      set_error(error);
      log_failure("invalid statement", ctx.text());
      return nullptr;
    }
    t_forms.keep(ctx.text(), bindings, text, made);
  }
  std::vector<Binding_Value> values;
  values.reserve(order->size());
  for (std::size_t at : *order)
    values.push_back(bindings[at].second);
  std::unique_ptr<Statement> s = prepare_positional(text, std::move(values));
  if (!s)
    log_failure("prepare failed", ctx.text());
  return s;
}

bool Connection::execute(const SQL& statement, long long* affected) {
  std::unique_ptr<Statement> s = prepare(statement);
  if (!s)
    return false;
  int rc;
  while ((rc = s->step()) == 1) {
  }
  if (rc < 0) {
    set_error(s->error());
    log_failure("execution failed", statement.str(dialect()));
    return false;
  }
  if (affected != nullptr)
    *affected = changes();
  return true;
}

bool Connection::begin() {
  if (depth_ == 0)
    may_rerun_ = false;
  std::string text =
      depth_ == 0 ? std::string(begin_text()) : "SAVEPOINT sp" + std::to_string(depth_);
  if (!execute(text))
    return false;
  ++depth_;
  return true;
}

bool Connection::commit() {
  if (depth_ == 0)
    return false;
  std::string text = depth_ == 1 ? "COMMIT" : "RELEASE SAVEPOINT sp" + std::to_string(depth_ - 1);
  if (!execute(text))
    return false;
  --depth_;
  return true;
}

bool Connection::rollback() {
  if (depth_ == 0)
    return false;
  bool ok;
  if (depth_ == 1) {
    ok = execute(std::string("ROLLBACK"));
  } else {
    std::string sp = "sp" + std::to_string(depth_ - 1);
    ok = execute("ROLLBACK TO SAVEPOINT " + sp) && execute("RELEASE SAVEPOINT " + sp);
  }
  // Whatever the engine answered, this level is over.
  --depth_;
  return ok;
}

Connection_Ptr open_connection(const Database& db) {
  Connection_Ptr conn;
  if (db.type() == Database::MYSQL)
    conn = Mariadb_Connection::open(db);
  else
    conn = Sqlite_Connection::open(db);
  if (!conn)
    return conn;
  if (db.metadata() != nullptr && !db.metadata()->create_tables(*conn)) {
    LOG_ERROR("Database '%s' (%s): failed to create tables: %s", db.name().c_str(),
              db.describe().c_str(), conn->error().c_str());
    return Connection_Ptr();
  }
  return conn;
}

}  // namespace sql
}  // namespace database
