// Reading and writing a database behind the library's back, for tests that
// check what it stored or set up what it must meet.
#ifndef TESTS_SUPPORT_SQL_ROWS_H_
#define TESTS_SUPPORT_SQL_ROWS_H_

#include <string>

#include "platform/json/json.h"
#include "platform/sql/connection.h"
#include "tests/support/catalog_fixture.h"
#include "tests/support/log_capture.h"
#include "tests/support/temp_dir.h"

// Every row `text` selects, as stored (JSON columns as text); the test
// fails when the read fails.
Array select_rows(const database::sql::Connection_Ptr& conn, const std::string& text);
// The first column of the first row `text` selects; -1 when there is none.
long long select_scalar(const database::sql::Connection_Ptr& conn, const std::string& text);

// The usage row of `pool`; empty when there is none.
Object usage_row(const database::sql::Connection_Ptr& conn, const std::string& pool);
// Overwrites columns of the usage row of `pool`.
void set_usage(const database::sql::Connection_Ptr& conn, const std::string& pool,
               const Object& values);

// Points "device_metadata" at a database of this test's own: an SQLite file
// in `dir`, or the MariaDB schema "storage_catalog" already names.
void configure_device_metadata(Engine engine, const Temp_Dir& dir);
// Closes the manager and forgets the database again.
void unconfigure_device_metadata();

// A "device_metadata" database of each test's own: an SQLite file, or a
// fresh MariaDB schema (skipped without a server).
class Device_Metadata_Engine_Test : public ::testing::TestWithParam<Engine> {
 protected:
  void SetUp() override;
  void TearDown() override;

  Temp_Dir dir_;
  Log_Capture log_;

 private:
  std::string schema_;
};

#endif  // TESTS_SUPPORT_SQL_ROWS_H_
