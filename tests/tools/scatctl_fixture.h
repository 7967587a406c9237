// A catalog for each scatctl test, on each engine: an SQLite file named
// with --catalog, or a MariaDB database of the test's own named through the
// STORAGED_DB_* variables. The catalog is made with `scatctl init`; state
// the library keeps elsewhere (queues, jobs) goes to the test's folder.
#ifndef TESTS_TOOLS_SCATCTL_FIXTURE_H_
#define TESTS_TOOLS_SCATCTL_FIXTURE_H_

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/json/json.h"
#include "tests/support/catalog_fixture.h"
#include "tests/support/temp_dir.h"
#include "tests/tools/scatctl_runner.h"

// The environment of a scatctl run that touches nothing of the host's.
void isolate(Scatctl_Runner& runner, const Temp_Dir& dir);

// The host uuid tests give scatctl when a pool's folder is on this host.
extern const char kScatctlHost[];
// A file pool's master device whose folder on kScatctlHost is `dir`, as
// the JSON text `device add` takes.
std::string file_device(const std::string& pool, const std::string& dir);

// scatctl in that environment, with no catalog made for it.
class Scatctl_Plain_Test : public ::testing::Test {
 protected:
  void SetUp() override { isolate(scatctl_, dir_); }

  Temp_Dir dir_;
  Scatctl_Runner scatctl_;
};

class Scatctl_Test : public ::testing::TestWithParam<Engine> {
 protected:
  void SetUp() override;
  void TearDown() override;

  // scatctl with the catalog option (SQLite) in front of `args`.
  Scatctl_Result run(std::vector<std::string> args, const std::string& input = "");
  // The same with --json; the test fails unless the run succeeds with
  // JSON on standard output.
  Value json(std::vector<std::string> args, const std::string& input = "");

  // A pool made with `pool add`; its uuid.
  std::string add_pool(const std::string& name, int retention_days = 0);
  // A backup set made with `set add`; its uuid.
  std::string add_set(const std::string& pool, Object record);

  // "YYYY-MM-DD HH:MM:SS" `days` days ago, UTC.
  static std::string days_ago(int days);

  Temp_Dir dir_;
  Scatctl_Runner scatctl_;
  std::vector<std::string> catalog_args_;

 private:
  std::string schema_;
};

// A failed run: the status, and one line on standard error beginning
// "scatctl: ".
::testing::AssertionResult fails_with(const Scatctl_Result& r, int status,
                                      const std::string& fragment);

#endif  // TESTS_TOOLS_SCATCTL_FIXTURE_H_
