// The SQL catalog back-end.
//
// One instance serves the shared catalog database (empty path: the named
// connection "storage_catalog") or one local pool's SQLite file (the path
// of its "catalog.db"). Each operation takes its own connection for its
// duration, so operations may run concurrently from several threads; the
// set of known catalog tables is guarded by its own lock.
#ifndef STORAGED_STORAGE_CATALOG_STORAGE_CATALOG_MANAGER_DATABASE_IMPL_H_
#define STORAGED_STORAGE_CATALOG_STORAGE_CATALOG_MANAGER_DATABASE_IMPL_H_

#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "platform/sql/connection_pool.h"
#include "storaged/storage_catalog/storage_catalog_manager_impl.h"

class Storage_Catalog_Manager_Database_Impl : public Storage_Catalog_Manager_Impl {
 public:
  // `path` is a local pool's SQLite file, or empty for the shared database.
  explicit Storage_Catalog_Manager_Database_Impl(const std::string& path);
  ~Storage_Catalog_Manager_Database_Impl() override;

  // Creates the catalog table of every pool that lacks one and adds the
  // columns older databases lack. False, with a log line, on any failure;
  // tables already upgraded stay upgraded.
  bool open() override;
  // Closes the local file's idle connections (others close when their
  // operation ends). The back-end stays usable.
  void close() override;
  // The shared connection, or a connection to the local file.
  database::sql::Connection_Ptr get_connection() override;

  bool is_local() const { return is_local_; }
  const std::string& path() const { return path_; }

  // Whether `name` is a catalog table this back-end created or found. An
  // empty name is logged as a violated precondition.
  bool is_known_table(const std::string& name) const;

  // Catalog table names are pool uuids: 32 lower-case hexadecimal
  // characters, nothing else ever reaches SQL text as a table name.
  static bool is_catalog_table_name(const std::string& name);

  // The connection's temporary tables of the incarnation and retention
  // queries, created when missing. They live as long as the connection.
  static bool create_exclude_incarnation(const database::sql::Connection_Ptr& conn);
  static bool create_incarnation_info(const database::sql::Connection_Ptr& conn);

 protected:
  // Adds `pool_uuid` to the known tables and creates its catalog table from
  // the template unless it exists.
  bool create_catalog_table(const database::sql::Connection_Ptr& conn,
                            const std::string& pool_uuid);
  bool upgrade_common_tables(const database::sql::Connection_Ptr& conn);
  bool upgrade_catalog_table(const database::sql::Connection_Ptr& conn,
                             const std::string& pool_uuid);

 private:
  bool load_pool_uuids(const database::sql::Connection_Ptr& conn, std::vector<std::string>& uuids);
  bool add_missing_columns(const database::sql::Connection_Ptr& conn, const std::string& table,
                           const std::vector<std::string>& columns, const std::string& type);

  mutable std::mutex tables_lock_;
  std::set<std::string> known_tables_;  // guarded by tables_lock_

  const bool is_local_;
  const std::string path_;

  std::mutex pool_lock_;
  std::unique_ptr<database::Connection_Pool> pool_;  // guarded by pool_lock_; local only
};

#endif  // STORAGED_STORAGE_CATALOG_STORAGE_CATALOG_MANAGER_DATABASE_IMPL_H_
