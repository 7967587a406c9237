// A fresh catalog back-end for each test, on each engine: a local SQLite
// file, and the shared catalog on a MariaDB server when one is configured
// for the tests (see test_mariadb.h). Back-end tests derive from
// Catalog_Engine_Test and instantiate with SCAT_INSTANTIATE_ENGINES.
#ifndef TESTS_SUPPORT_CATALOG_FIXTURE_H_
#define TESTS_SUPPORT_CATALOG_FIXTURE_H_

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "storaged/storage_catalog/storage_catalog_manager_database_impl.h"
#include "tests/support/log_capture.h"
#include "tests/support/temp_dir.h"

enum class Engine { SQLITE, MARIADB };

std::string engine_name(const ::testing::TestParamInfo<Engine>& info);

class Catalog_Engine_Test : public ::testing::TestWithParam<Engine> {
 protected:
  void SetUp() override;
  void TearDown() override;

  // A new back-end on this test's database (not yet opened).
  std::unique_ptr<Storage_Catalog_Manager_Database_Impl> make_impl() const;

  bool is_mysql() const { return GetParam() == Engine::MARIADB; }

  Temp_Dir dir_;
  Log_Capture log_;
  std::unique_ptr<Storage_Catalog_Manager_Database_Impl> impl_;  // opened by SetUp

 private:
  std::string schema_;  // MariaDB: this test's own database
};

#define SCAT_INSTANTIATE_ENGINES(suite)                                                        \
  INSTANTIATE_TEST_SUITE_P(Engines, suite, ::testing::Values(Engine::SQLITE, Engine::MARIADB), \
                           engine_name)

#endif  // TESTS_SUPPORT_CATALOG_FIXTURE_H_
