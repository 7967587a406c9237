// The tables of a named database, in both dialects.
//
// Plain tables are created (when missing) whenever a connection to the
// database opens. Template tables are created by the application under a
// name of its choosing (one table per pool, say). Creation texts contain
// "{{table}}" where the table's name goes. Safe for concurrent reads once
// built.
#ifndef PLATFORM_SQL_METADATA_H_
#define PLATFORM_SQL_METADATA_H_

#include <map>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "platform/sql/connection.h"

namespace database {

class Metadata {
 public:
  // `mysql` and `sqlite` may hold several statements separated by ';'.
  void add_table(const std::string& name, bool is_template, const std::string& mysql,
                 const std::string& sqlite);

  // Writes the creation SQL of `name` (a template: under `new_name`) in the
  // dialect of database type `type`. False for an unknown name, or a
  // new name that is not a plain identifier.
  bool table_sql(const std::string& name, const std::string& new_name, int type,
                 std::ostream& out) const;

  // Creates every plain table that does not exist yet.
  bool create_tables(sql::Connection& conn) const;

  std::vector<std::string> table_names() const;

 private:
  struct Table {
    std::string name;
    bool is_template;
    std::string mysql;
    std::string sqlite;
  };
  std::vector<Table> tables_;
};

// Process-wide registry of metadata and of where each named database lives.
class Manager {
 public:
  static Manager* instance();

  void register_metadata(const std::string& name, std::shared_ptr<const Metadata> metadata);
  // Null for a name nobody registered.
  const Metadata* get_metadata(const std::string& name) const;

  // Where the named database lives; replaces the default below.
  void configure(const std::string& name, const Database& db);
  void unconfigure(const std::string& name);

  // The configured database, else the default: the environment variable
  // STORAGED_DB_ENGINE "mariadb" selects the server named by
  // STORAGED_DB_HOST (127.0.0.1), STORAGED_DB_PORT (3306), STORAGED_DB_SOCKET,
  // STORAGED_DB_USER, STORAGED_DB_PASSWORD and STORAGED_DB_NAME (storaged),
  // or the servers STORAGED_DB_HOSTS lists ("host:port,host:port,...": the
  // nodes of a Galera cluster), which win over host, port and socket;
  // otherwise it is the SQLite file "<name>.db" in STORAGED_DB_DIR
  // (default "/var/lib/storaged"). The metadata registered under the name is
  // attached.
  Database database(const std::string& name) const;

 private:
  mutable std::mutex lock_;
  std::map<std::string, std::shared_ptr<const Metadata>> metadata_;
  std::map<std::string, Database> configured_;
};

}  // namespace database

#endif  // PLATFORM_SQL_METADATA_H_
