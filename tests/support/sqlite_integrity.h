// SQLite's own check of a database file, opened apart from the library:
// "ok" for a sound file. For tests that link SQLite themselves.
#ifndef TESTS_SUPPORT_SQLITE_INTEGRITY_H_
#define TESTS_SUPPORT_SQLITE_INTEGRITY_H_

#include <sqlite3.h>

#include <string>

inline std::string sqlite_integrity(const std::string& path) {
  sqlite3* db = nullptr;
  std::string result = "cannot open";
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &statement, nullptr) == SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW)
      result = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
    sqlite3_finalize(statement);
  }
  sqlite3_close(db);
  return result;
}

#endif  // TESTS_SUPPORT_SQLITE_INTEGRITY_H_
