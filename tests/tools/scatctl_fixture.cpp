#include "tests/tools/scatctl_fixture.h"

#include <cstdlib>
#include <ctime>

#include "tests/support/test_mariadb.h"

const char kScatctlHost[] = "0123456789abcdef0123456789abcdef";

std::string file_device(const std::string& pool, const std::string& dir) {
  Object attrs{{"role", "master"}, {"attached_hosts", Object{{kScatctlHost, dir}}}};
  return JSON_Dump(
      Object{{"pool_uuid", pool}, {"url", "file://" + dir}, {"extended_attrs", attrs}});
}

void isolate(Scatctl_Runner& runner, const Temp_Dir& dir) {
  runner.set_env("STORAGED_DB_ENGINE", "");
  runner.set_env("STORAGED_DB_DIR", dir.file("db"));
  runner.set_env("STORAGED_QUEUE_DIR", dir.file("queue"));
  runner.set_env("STORAGED_JOB_DIR", dir.file("jobs"));
  runner.set_env("STORAGED_HOST_ROLE", "");
}

void Scatctl_Test::SetUp() {
  isolate(scatctl_, dir_);
  if (GetParam() == Engine::MARIADB) {
    if (!test_mariadb::configured())
      GTEST_SKIP() << "no MariaDB server configured";
    ASSERT_TRUE(test_mariadb::create_schema(schema_));
    database::Database db = test_mariadb::server(schema_);
    scatctl_.set_env("STORAGED_DB_ENGINE", "mariadb");
    scatctl_.set_env("STORAGED_DB_SOCKET", db.socket());
    std::string hosts;
    for (const database::Database::Server& s : db.servers())
      hosts += (hosts.empty() ? "" : ",") + s.host + ":" + std::to_string(s.port);
    scatctl_.set_env("STORAGED_DB_HOSTS", hosts);
    scatctl_.set_env("STORAGED_DB_USER", db.user());
    scatctl_.set_env("STORAGED_DB_PASSWORD", db.password());
    scatctl_.set_env("STORAGED_DB_NAME", schema_);
  } else {
    catalog_args_ = {"--catalog", dir_.file("catalog.db")};
  }
  Value made = json({"init"});
  ASSERT_EQ(made.value("created", false), true) << made;
}

void Scatctl_Test::TearDown() {
  if (!schema_.empty())
    test_mariadb::drop_schema(schema_);
}

Scatctl_Result Scatctl_Test::run(std::vector<std::string> args, const std::string& input) {
  args.insert(args.begin(), catalog_args_.begin(), catalog_args_.end());
  return scatctl_.run(args, input);
}

Value Scatctl_Test::json(std::vector<std::string> args, const std::string& input) {
  args.push_back("--json");
  Scatctl_Result r = run(args, input);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  Value value;
  EXPECT_TRUE(loads_json(r.out, value)) << r.out;
  return value;
}

std::string Scatctl_Test::add_pool(const std::string& name, int retention_days) {
  Object pool{{"name", name}, {"retention_days", retention_days}};
  return json({"pool", "add", JSON_Dump(pool)}).value("uuid", "");
}

std::string Scatctl_Test::add_set(const std::string& pool, Object record) {
  return json({"set", "add", pool, "-"}, JSON_Dump(record)).value("uuid", "");
}

std::string Scatctl_Test::days_ago(int days) {
  std::time_t then = std::time(nullptr) - static_cast<std::time_t>(days) * 86400;
  std::tm parts;
  gmtime_r(&then, &parts);
  char text[64];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
  return text;
}

::testing::AssertionResult fails_with(const Scatctl_Result& r, int status,
                                      const std::string& fragment) {
  std::string err = r.err;
  bool one_line = !err.empty() && err.find('\n') == err.size() - 1;
  if (r.status != status || !one_line || err.compare(0, 9, "scatctl: ") != 0 ||
      err.find(fragment) == std::string::npos)
    return ::testing::AssertionFailure() << "status " << r.status << ", stderr: " << err
                                         << "(wanted " << status << " and '" << fragment << "')";
  return ::testing::AssertionSuccess();
}
