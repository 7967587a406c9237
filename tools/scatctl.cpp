// scatctl: the operator's view of a storage catalog.
//
//   scatctl schema <folder>   opens (creating or upgrading) the catalog
//                             "<folder>/catalog.db" and prints its tables
//                             and their columns.
#include <cstdio>
#include <string>

#include <ace/Log_Msg.h>

#include "platform/sql/cursor.h"
#include "storaged/storage_catalog/storage_catalog_manager_database_impl.h"

using database::sql::Connection_Ptr;
using database::sql::Legacy_Cursor;
using database::sql::SQL;

namespace {

int usage() {
  std::fprintf(stderr, "usage: scatctl schema <folder>\n");
  return 2;
}

bool print_schema(const Connection_Ptr& conn) {
  SQL tables(
      "SELECT name FROM sqlite_master WHERE type='table' AND name NOT LIKE 'sqlite_%' "
      "ORDER BY name;");
  Value rows;
  Legacy_Cursor cursor(conn, tables, Legacy_Cursor::ROWS_RAW);
  if (!cursor.fetch(rows))
    return false;
  for (const Value& row : rows) {
    std::string table = row.value("name", "");
    std::printf("%s\n", table.c_str());
    SQL columns("SELECT name, type FROM pragma_table_info(:table) ORDER BY cid;");
    columns.bind("table", table);
    Value cols;
    Legacy_Cursor column_cursor(conn, columns, Legacy_Cursor::ROWS_RAW);
    if (!column_cursor.fetch(cols))
      return false;
    for (const Value& col : cols)
      std::printf("  %-22s %s\n", col.value("name", "").c_str(), col.value("type", "").c_str());
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 || std::string(argv[1]) != "schema")
    return usage();
  std::string folder = argv[2];
  Storage_Catalog_Manager_Database_Impl catalog(folder + "/catalog.db");
  if (!catalog.open()) {
    std::fprintf(stderr, "scatctl: cannot open the catalog in '%s'\n", folder.c_str());
    return 1;
  }
  Connection_Ptr conn = catalog.get_connection();
  if (!conn || !print_schema(conn)) {
    std::fprintf(stderr, "scatctl: cannot read the catalog in '%s'\n", folder.c_str());
    return 1;
  }
  return 0;
}
