// Opening the SQL back-end: catalog tables and the upgrade of older
// databases.
#include "storaged/storage_catalog/storage_catalog_manager_database_impl.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <set>
#include <sstream>
#include <vector>

#include "platform/runtime/log.h"
#include "platform/sql/cursor.h"
#include "platform/sql/legacy_manager.h"
#include "platform/sql/transaction.h"
#include "storaged/storage_catalog/catalog_schema.h"
#include "storaged/storage_catalog/storage_catalog_manager_database_impl_internal.h"

using database::sql::Connection_Ptr;
using database::sql::Legacy_Cursor;
using database::sql::Select_SQL;
using database::sql::SQL;
using namespace scat_db;

namespace {

const char kCatalogName[] = "storage_catalog";

// Turns foreign-key enforcement back on however open returns.
class Foreign_Keys_Off {
 public:
  explicit Foreign_Keys_Off(const Connection_Ptr& conn) : conn_(conn) {}
  ~Foreign_Keys_Off() {
    if (off_)
      conn_->set_foreign_keys(true);
  }
  bool turn_off() { return off_ = conn_->set_foreign_keys(false); }

 private:
  Connection_Ptr conn_;
  bool off_ = false;
};

// The column names of the table `table_sql` names (quoted, as SQL text
// names it), by the dialect's listing.
bool list_columns(const Connection_Ptr& conn, const std::string& table_sql,
                  std::set<std::string>& columns) {
  const bool mysql = is_mysql(conn);
  SQL list(mysql ? "SHOW COLUMNS FROM " + table_sql + ";"
                 : "PRAGMA table_info(" + table_sql + ");");
  std::vector<std::string> names;
  if (!read_column(conn, list, mysql ? "Field" : "name", names))
    return false;
  columns.insert(names.begin(), names.end());
  return true;
}

// Runs `alter`, which adds `column` to `table`. Hosts sharing one
// catalog (on a cluster, through different nodes) may upgrade it at the
// same moment: an ALTER that fails because another host's added the column
// first has still done its part.
bool add_column(const Connection_Ptr& conn, const std::string& table_sql, const std::string& alter,
                const std::string& column) {
  if (conn->execute(alter))
    return true;
  std::set<std::string> now;
  return is_mysql(conn) && list_columns(conn, table_sql, now) && now.count(column) != 0;
}

// Adds those of `columns` that the table `table_sql` names lacks, in one
// transaction, with the ALTER statement `format` (quoted table, column,
// type). A failed ALTER logs `failure` when given.
bool add_missing_columns(const Connection_Ptr& conn, const std::string& table_sql,
                         const std::set<std::string>& present,
                         const std::vector<std::string>& columns, const char* format,
                         const std::string& type, const char* failure) {
  return transact(conn, kImplSource, __LINE__, [&] {
    for (const std::string& column : columns) {
      if (present.count(column) != 0)
        continue;
      char alter[256];
      std::snprintf(alter, sizeof alter, format, table_sql.c_str(), column.c_str(), type.c_str());
      if (!add_column(conn, table_sql, alter, column)) {
        if (failure != nullptr)
          LOG_ERROR("%s", failure);
        return false;
      }
    }
    return true;
  });
}

// Adds the `columns` a shared table lacks unless its definition already
// names `last`, the column of the pair its upgrade adds last. Each column
// is still added only when missing: a database may hold one of a pair from
// an interrupted or partial upgrade.
bool upgrade_shared_table(const Connection_Ptr& conn, const char* table, const char* last,
                          const std::vector<std::string>& columns, const std::string& type) {
  // Both names are this back-end's own constants.
  const std::string table_sql = database::sql::quote_identifier(table);
  SQL check(is_mysql(conn)
                ? "SHOW COLUMNS FROM " + table_sql + " WHERE Field LIKE '%" + last + "%';"
                : "SELECT name FROM sqlite_master WHERE name='" + std::string(table) +
                      "' AND type='table' AND sql LIKE '%" + last + "%';");
  Value row;
  Legacy_Cursor cursor(conn, check, Legacy_Cursor::ROW, 0);
  if (!cursor.fetch(row))
    return false;
  std::set<std::string> present;
  return row.is_object() ||
         (list_columns(conn, table_sql, present) &&
          add_missing_columns(conn, table_sql, present, columns, "ALTER TABLE %s ADD COLUMN %s %s;",
                              type, nullptr));
}

// An index the first schema lacked. Names are per table on MySQL and per
// database on SQLite, hence two.
struct Added_Index {
  std::string table;
  std::string mysql_name;
  std::string sqlite_name;
  std::string columns;
};

// A backup set's replicate job is looked up by its catalog uuid and pools:
// without this index both engines may walk every job of the pools.
const Added_Index kAddedIndexes[] = {{kReplicateJobTable, "catalog_pools",
                                      "storage_catalog_pool_replicate_job_catalog_pools",
                                      "catalog_uuid, source_pool_uuid, target_pool_uuid"}};

bool has_mysql_index(const Connection_Ptr& conn, const Added_Index& index) {
  SQL check(
      "SELECT 1 FROM information_schema.STATISTICS WHERE TABLE_SCHEMA = DATABASE() AND "
      "TABLE_NAME = :table AND INDEX_NAME = :name;");
  check.bind("table", std::string(index.table));
  check.bind("name", std::string(index.mysql_name));
  Value row;
  Legacy_Cursor cursor(conn, check, Legacy_Cursor::ROW, 0);
  return cursor.fetch(row) && row.is_object();
}

// `known` tells that MySQL already has the index, saving the lookup.
bool add_index(const Connection_Ptr& conn, const Added_Index& index, bool known = false) {
  if (!is_mysql(conn))
    return conn->execute("CREATE INDEX IF NOT EXISTS `" + index.sqlite_name + "` ON `" +
                         index.table + "` (" + index.columns + ");");
  if (known || has_mysql_index(conn, index))
    return true;
  // Another server process opening the catalog may have just added it.
  return conn->execute("ALTER TABLE `" + index.table + "` ADD INDEX `" + index.mysql_name + "` (" +
                       index.columns + ");") ||
         has_mysql_index(conn, index);
}

// The indexes of a pool's catalog table that its first schema lacked:
// retention reads each chain's newest usable set per resource from `chain`
// alone and finds a resource's sets at a time by `resource_time`.
struct Catalog_Index {
  const char* name;
  const char* columns;
};
const Catalog_Index kCatalogIndexes[] = {
    {"chain", "incarnation, resource_uuid, minor_resource_id, agent, state, backup_time"},
    {"resource_time", "resource_uuid, backup_time"}};

// Adds the missing kCatalogIndexes to the pools' tables. On MySQL the
// present ones are listed in one query, as a catalog may hold thousands
// of pools.
bool add_catalog_indexes(const Connection_Ptr& conn, const std::vector<std::string>& pools) {
  std::set<std::string> present;  // "table index"
  if (is_mysql(conn)) {
    SQL list(
        "SELECT TABLE_NAME table_name, INDEX_NAME index_name FROM information_schema.STATISTICS "
        "WHERE TABLE_SCHEMA = DATABASE() AND INDEX_NAME IN ('chain', 'resource_time')");
    Value rows;
    Legacy_Cursor cursor(conn, list, Legacy_Cursor::ROWS, 0);
    if (!cursor.fetch(rows) || !rows.is_array())
      return false;
    for (const Value& row : rows) {
      if (row.is_object())
        present.insert(object_get_str_or_throw(row.get_ref<const Object&>(), "table_name") + " " +
                       object_get_str_or_throw(row.get_ref<const Object&>(), "index_name"));
    }
  }
  for (const std::string& pool : pools) {
    for (const Catalog_Index& index : kCatalogIndexes) {
      const std::string name = index.name;
      if (!add_index(conn, {pool, name, pool + "_" + name, index.columns},
                     present.count(pool + " " + name) != 0)) {
        LOG_ERROR("Failed to add index %s to catalog table '%s'.", index.name, pool.c_str());
        return false;
      }
    }
  }
  return true;
}

}  // namespace

Storage_Catalog_Manager_Database_Impl::Storage_Catalog_Manager_Database_Impl(
    const std::string& path)
    : is_local_(!path.empty()), path_(path) {
  register_catalog_schema();
}

Storage_Catalog_Manager_Database_Impl::~Storage_Catalog_Manager_Database_Impl() {
  close();
}

void Storage_Catalog_Manager_Database_Impl::close() {
  std::unique_ptr<database::Connection_Pool> pool;
  {
    std::lock_guard<std::mutex> guard(pool_lock_);
    pool.swap(pool_);
  }
}

Connection_Ptr Storage_Catalog_Manager_Database_Impl::get_connection() {
  if (!is_local_)
    return database::sql::Legacy_Manager::instance()->get_connection_r(kCatalogName);
  if (path_.empty())
    return Connection_Ptr();
  std::lock_guard<std::mutex> guard(pool_lock_);
  if (!pool_) {
    database::Database db;
    db.name(kCatalogName)
        .type(database::Database::SQLITE)
        .path(path_)
        .metadata(register_catalog_schema());
    pool_.reset(new database::Connection_Pool(db));
  }
  return pool_->acquire();
}

namespace {

// A Galera cluster refuses tables without a primary key, temporary ones
// too; an invisible row number gives them one without showing up in
// "SELECT *" or taking a value in an INSERT without column names.
std::string temporary_row_key(const Connection_Ptr& conn) {
  return is_mysql(conn) ? "row_id bigint not null auto_increment primary key invisible, " : "";
}

}  // namespace

bool Storage_Catalog_Manager_Database_Impl::create_exclude_incarnation(const Connection_Ptr& conn) {
  return conn->execute("CREATE TEMPORARY TABLE IF NOT EXISTS `exclude_incarnation`(" +
                       temporary_row_key(conn) + "incarnation binary(16) not null);");
}

bool Storage_Catalog_Manager_Database_Impl::create_retention_heads(const Connection_Ptr& conn) {
  // The resource columns compare as the catalog table's do.
  const char* text = is_mysql(conn) ? "varchar(256) CHARACTER SET utf8mb4" : "varchar(256)";
  return conn->execute("CREATE TEMPORARY TABLE IF NOT EXISTS `retention_heads`(" +
                       temporary_row_key(conn) +
                       "incarnation binary(16) not null, resource_uuid binary(16), "
                       "minor_resource_id " +
                       text + ", plain_time datetime, vm_time datetime, backup_time datetime);");
}

bool Storage_Catalog_Manager_Database_Impl::create_incarnation_info(const Connection_Ptr& conn) {
  return conn->execute("CREATE TEMPORARY TABLE IF NOT EXISTS `incarnation_info`(" +
                       temporary_row_key(conn) +
                       "uuid binary(16) not null, incarnation binary(16), state integer, "
                       "backup_time datetime, is_restorable boolean);");
}

bool Storage_Catalog_Manager_Database_Impl::is_known_table(const std::string& name) const {
  if (name.empty()) {
    VRT_LOG_UNEXPECTED("name", VRT_IS_EMPTY);
    return false;
  }
  std::lock_guard<std::mutex> guard(tables_lock_);
  return known_tables_.count(name) != 0;
}

bool Storage_Catalog_Manager_Database_Impl::open() {
  Connection_Ptr conn = get_connection();
  if (!conn)
    return false;
  Foreign_Keys_Off foreign_keys(conn);
  if (!foreign_keys.turn_off()) {
    LOG_ERROR("Failed to unset foreign key.");
    return false;
  }
  std::vector<std::string> pools;
  const bool created = guarded("Failed to get pool info", [&] {
    if (!load_pool_uuids(conn, pools)) {
      LOG_ERROR("Failed to get all pools");
      return false;
    }
    for (const std::string& uuid : pools) {
      if (!create_catalog_table(conn, uuid)) {
        LOG_ERROR("Failed to init db catalog schema for %s.", uuid.c_str());
        return false;
      }
    }
    return true;
  });
  if (!created)
    return false;
  return guarded("Failed to update db catalog", [&] {
    if (!upgrade_common_tables(conn)) {
      LOG_ERROR("Failed to update db common scheme.");
      return false;
    }
    for (const std::string& uuid : pools) {
      if (!upgrade_catalog_table(conn, Catalog_Table(uuid))) {
        LOG_ERROR("Failed to update pool catalog schema.");
        return false;
      }
    }
    return add_catalog_indexes(conn, pools);
  });
}

bool Storage_Catalog_Manager_Database_Impl::load_pool_uuids(const Connection_Ptr& conn,
                                                            std::vector<std::string>& uuids) {
  Select_SQL pools;
  pools.table(kPoolTable).select("uuid");
  Value rows;
  Legacy_Cursor cursor(conn, pools, Legacy_Cursor::ROWS, 0);
  if (!cursor.fetch(rows) || !rows.is_array())
    return false;
  for (const Value& row : rows) {
    if (!row.is_object())
      throw JSON_Error("pool row is not an object");
    uuids.push_back(object_get_str_or_throw(row.get_ref<const Object&>(), "uuid"));
  }
  return true;
}

bool Storage_Catalog_Manager_Database_Impl::create_catalog_table(const Connection_Ptr& conn,
                                                                 const std::string& pool_uuid) {
  if (!Catalog_Table::is_pool_uuid(pool_uuid)) {
    LOG_ERROR("Invalid catalog table name '%s': a pool uuid is 32 lower-case hex digits.",
              pool_uuid.c_str());
    return false;
  }
  {
    std::lock_guard<std::mutex> guard(tables_lock_);
    known_tables_.insert(pool_uuid);
  }
  if (conn->table_exists(pool_uuid))
    return true;
  std::ostringstream sql;
  const database::Metadata* metadata = conn->db()->metadata();
  if (metadata == nullptr ||
      !metadata->table_sql("catalog_table", pool_uuid, conn->db()->type(), sql)) {
    LOG_ERROR("Failed to get template table '%s' sql.", pool_uuid.c_str());
    return false;
  }
  if (!conn->execute(sql.str())) {
    LOG_ERROR("Failed to init catalog schema with '%s'", sql.str().c_str());
    return false;
  }
  return true;
}

bool Storage_Catalog_Manager_Database_Impl::upgrade_common_tables(const Connection_Ptr& conn) {
  return upgrade_shared_table(conn, kMergeJobTable, "synthesizer_version",
                              {"minor_resource_id", "synthesizer_version"},
                              "varchar(256) default ''") &&
         upgrade_shared_table(conn, kReplicateJobTable, "storage_size", {"size", "storage_size"},
                              "bigint") &&
         std::all_of(std::begin(kAddedIndexes), std::end(kAddedIndexes),
                     [&](const Added_Index& index) { return add_index(conn, index); });
}

bool Storage_Catalog_Manager_Database_Impl::upgrade_catalog_table(const Connection_Ptr& conn,
                                                                  const Catalog_Table& table) {
  try {
    std::set<std::string> columns;
    if (!list_columns(conn, table.sql(), columns))
      return false;
    if (columns.count("minor_resource_id") == 0 &&
        !add_missing_columns(conn, table.sql(), columns,
                             {"minor_resource_id", "minor_resource_name"},
                             "alter table %s add column %s %s;", "varchar(256)",
                             "Failed to add minor_resource_id column"))
      return false;
    if (columns.count("uid") == 0 &&
        !add_column(conn, table.sql(), "alter table " + table.sql() + " add column uid binary(16);",
                    "uid")) {
      LOG_ERROR("Failed to add uid column");
      return false;
    }
    if (columns.count("host_uuid") == 0 &&
        !add_column(conn, table.sql(),
                    "alter table " + table.sql() + " add column host_uuid binary(16);",
                    "host_uuid")) {
      LOG_ERROR("Failed to add host_uuid column");
      return false;
    }
  } catch (const std::exception& e) {
    LOG_ERROR("Failed to check table '%s' info: '%s'", table.name().c_str(), e.what());
    return false;
  }
  return true;
}
