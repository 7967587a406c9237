#include "platform/sql/metadata.h"

#include <algorithm>
#include <cstdlib>

#include "platform/runtime/log.h"

namespace database {

namespace {

std::string env_or(const char* name, const std::string& fallback) {
  const char* v = std::getenv(name);
  return v != nullptr && *v != '\0' ? std::string(v) : fallback;
}

std::string replace_all(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos;
       at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

// A TCP port from the environment; the default, with a logged reason, when
// the text is not a port number.
unsigned env_port(const char* name, unsigned fallback) {
  std::string text = env_or(name, std::to_string(fallback));
  char* end = nullptr;
  unsigned long port = std::strtoul(text.c_str(), &end, 10);
  if (end == text.c_str() || *end != '\0' || port == 0 || port > 65535) {
    LOG_ERROR("Invalid %s '%s': using port %d.", name, text.c_str(), static_cast<int>(fallback));
    return fallback;
  }
  return static_cast<unsigned>(port);
}

bool is_plain_name(const std::string& name) {
  return !name.empty() && std::all_of(name.begin(), name.end(), sql::is_name_char);
}

}  // namespace

void Metadata::add_table(const std::string& name, bool is_template, const std::string& mysql,
                         const std::string& sqlite) {
  tables_.push_back(Table{name, is_template, mysql, sqlite});
}

bool Metadata::table_sql(const std::string& name, const std::string& new_name, int type,
                         std::ostream& out) const {
  for (const Table& t : tables_) {
    if (t.name != name)
      continue;
    std::string target = t.is_template ? new_name : name;
    if (!is_plain_name(target))
      return false;
    out << replace_all(type == Database::MYSQL ? t.mysql : t.sqlite, "{{table}}", target);
    return true;
  }
  return false;
}

bool Metadata::create_tables(sql::Connection& conn) const {
  for (const Table& t : tables_) {
    if (t.is_template)
      continue;
    std::string text =
        replace_all(conn.db()->type() == Database::MYSQL ? t.mysql : t.sqlite, "{{table}}", t.name);
    if (!conn.execute(text))
      return false;
  }
  return true;
}

std::vector<std::string> Metadata::table_names() const {
  std::vector<std::string> names;
  for (const Table& t : tables_)
    names.push_back(t.name);
  return names;
}

Manager* Manager::instance() {
  static Manager manager;
  return &manager;
}

void Manager::register_metadata(const std::string& name, std::shared_ptr<const Metadata> metadata) {
  std::lock_guard<std::mutex> guard(lock_);
  metadata_[name] = std::move(metadata);
}

const Metadata* Manager::get_metadata(const std::string& name) const {
  std::lock_guard<std::mutex> guard(lock_);
  auto it = metadata_.find(name);
  return it == metadata_.end() ? nullptr : it->second.get();
}

void Manager::configure(const std::string& name, const Database& db) {
  std::lock_guard<std::mutex> guard(lock_);
  configured_[name] = db;
}

void Manager::unconfigure(const std::string& name) {
  std::lock_guard<std::mutex> guard(lock_);
  configured_.erase(name);
}

Database Manager::database(const std::string& name) const {
  Database db;
  {
    std::lock_guard<std::mutex> guard(lock_);
    auto it = configured_.find(name);
    if (it != configured_.end())
      db = it->second;
  }
  if (db.name().empty()) {
    db.name(name);
    if (env_or("STORAGED_DB_ENGINE", "sqlite") == "mariadb") {
      db.type(Database::MYSQL)
          .host(env_or("STORAGED_DB_HOST", "127.0.0.1"))
          .port(env_port("STORAGED_DB_PORT", 3306))
          .socket(env_or("STORAGED_DB_SOCKET", ""))
          .user(env_or("STORAGED_DB_USER", ""))
          .password(env_or("STORAGED_DB_PASSWORD", ""))
          .schema(env_or("STORAGED_DB_NAME", "storaged"));
      std::string hosts = env_or("STORAGED_DB_HOSTS", "");
      std::vector<Database::Server> servers;
      if (!hosts.empty() && !Database::parse_servers(hosts, servers))
        LOG_ERROR("Invalid STORAGED_DB_HOSTS '%s': using STORAGED_DB_HOST.", hosts.c_str());
      db.servers(servers);
    } else {
      db.type(Database::SQLITE)
          .path(env_or("STORAGED_DB_DIR", "/var/lib/storaged") + "/" + name + ".db");
    }
  }
  if (db.metadata() == nullptr)
    db.metadata(get_metadata(name));
  return db;
}

}  // namespace database
