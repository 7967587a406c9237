#include "tools/scatctl/catalog_location.h"

#include <sqlite3.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "platform/sql/legacy_manager.h"
#include "platform/sql/metadata.h"
#include "tools/scatctl/failure.h"
#include "tools/scatctl/log_sink.h"

namespace scatctl {

namespace fs = std::filesystem;

namespace {

const char kCatalogName[] = "storage_catalog";
// Every catalog has it from its first open on.
const char kPoolTable[] = "storage_catalog_storage_pool";

// The catalog file in `dir`: an agent pool's "catalog.db" or a server's
// "storage_catalog.db".
std::string catalog_file_in(const std::string& dir) {
  std::error_code error;
  for (const char* name : {"catalog.db", "storage_catalog.db"}) {
    fs::path file = fs::path(dir) / name;
    if (fs::is_regular_file(file, error))
      return file.string();
  }
  throw usage_error("'" + dir +
                    "' is a folder without a catalog (catalog.db or "
                    "storage_catalog.db)");
}

// Whether the SQLite file at `path` holds the catalog's tables, opened read
// only so that nothing (not even the journal mode) changes.
bool sqlite_has_catalog(const std::string& path) {
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  std::string error;
  bool found = false;
  if (rc == SQLITE_OK) {
    sqlite3_stmt* stmt = nullptr;
    rc = sqlite3_prepare_v2(db, "SELECT 1 FROM sqlite_master WHERE type='table' AND name=?1", -1,
                            &stmt, nullptr);
    if (rc == SQLITE_OK)
      rc = sqlite3_bind_text(stmt, 1, kPoolTable, -1, SQLITE_STATIC);
    if (rc == SQLITE_OK) {
      rc = sqlite3_step(stmt);
      found = rc == SQLITE_ROW;
      if (rc == SQLITE_ROW || rc == SQLITE_DONE)
        rc = SQLITE_OK;
    }
    sqlite3_finalize(stmt);
  }
  if (rc != SQLITE_OK)
    error = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
  sqlite3_close_v2(db);
  if (!error.empty())
    throw Failure("'" + path + "' is not a storage catalog: " + error);
  return found;
}

bool mariadb_has_catalog(const database::Database& where) {
  // Without the metadata the connection creates no table on opening.
  database::Database db = where;
  db.metadata(nullptr);
  Log_Sink::instance().clear();
  database::sql::Connection_Ptr conn =
      database::sql::Legacy_Manager::instance()->create_connection(db);
  if (!conn) {
    std::string reason = Log_Sink::instance().last_error();
    throw Failure("cannot reach the MariaDB catalog " + db.describe() +
                  (reason.empty() ? "" : ": " + reason));
  }
  return conn->table_exists(kPoolTable);
}

}  // namespace

std::string Catalog_Location::describe() const {
  return is_sqlite() ? "SQLite file " + db.path() : "MariaDB catalog " + db.describe();
}

Catalog_Location locate_catalog(const std::string& catalog_option) {
  Catalog_Location where;
  if (catalog_option.empty()) {
    where.db = database::Manager::instance()->database(kCatalogName);
    return where;
  }
  std::error_code error;
  std::string file =
      fs::is_directory(catalog_option, error) ? catalog_file_in(catalog_option) : catalog_option;
  where.db.name(kCatalogName).type(database::Database::SQLITE).path(file);
  return where;
}

bool catalog_exists(const Catalog_Location& where) {
  if (!where.is_sqlite())
    return mariadb_has_catalog(where.db);
  std::error_code error;
  const std::string& path = where.db.path();
  if (!fs::exists(path, error))
    return false;
  if (!fs::is_regular_file(path, error))
    throw Failure("'" + path + "' is not a storage catalog: not a file");
  if (!sqlite_has_catalog(path))
    throw Failure("'" + path + "' is not a storage catalog: it has no " + kPoolTable + " table");
  return true;
}

}  // namespace scatctl
