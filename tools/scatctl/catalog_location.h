// Where the catalog scatctl works on lives, and the checks made before the
// library may touch it: a read must never create a catalog, and a file or
// schema that is not a catalog must never be written to.
//
// An SQLite file named by --catalog (or found in the folder it names) wins;
// otherwise the database layer's own settings decide: the SQLite file
// "storage_catalog.db" in STORAGED_DB_DIR, or the MariaDB schema the
// STORAGED_DB_* variables name when STORAGED_DB_ENGINE is "mariadb".
#ifndef TOOLS_SCATCTL_CATALOG_LOCATION_H_
#define TOOLS_SCATCTL_CATALOG_LOCATION_H_

#include <string>

#include "platform/sql/connection.h"

namespace scatctl {

struct Catalog_Location {
  // The database as the named connection "storage_catalog" will reach it.
  database::Database db;
  bool is_sqlite() const { return db.type() != database::Database::MYSQL; }
  // "SQLite file <path>" or "MariaDB catalog <user@host:port/schema>".
  std::string describe() const;
};

// Raises a usage Failure when --catalog names a folder that holds no
// catalog file.
Catalog_Location locate_catalog(const std::string& catalog_option);

// Whether a catalog exists at `where`, read only. False when there is
// nothing there yet (no file; a MariaDB schema without the catalog's
// tables). Raises a Failure when something is there that is not a catalog
// (a file that is not an SQLite database, an SQLite database without the
// catalog's tables) or the server cannot be reached.
bool catalog_exists(const Catalog_Location& where);

}  // namespace scatctl

#endif  // TOOLS_SCATCTL_CATALOG_LOCATION_H_
