#include "tests/support/test_mariadb.h"

#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/sql/legacy_manager.h"
#include "platform/sql/metadata.h"

namespace test_mariadb {

namespace {

const char kSharedName[] = "storage_catalog";

std::string env_or(const char* name, const char* fallback) {
  const char* v = std::getenv(name);
  return v != nullptr && *v != '\0' ? v : fallback;
}

}  // namespace

bool configured() {
  return std::getenv("SCAT_TEST_MARIADB_SOCKET") != nullptr;
}

database::Database server(const std::string& schema) {
  database::Database db;
  db.name("scat_test")
      .type(database::Database::MYSQL)
      .socket(env_or("SCAT_TEST_MARIADB_SOCKET", ""))
      .user(env_or("SCAT_TEST_MARIADB_USER", "root"))
      .password(env_or("SCAT_TEST_MARIADB_PASSWORD", ""))
      .schema(schema);
  return db;
}

bool admin(const std::string& text) {
  database::sql::Connection_Ptr conn = database::sql::open_connection(server(""));
  return conn && conn->execute(text);
}

bool create_schema(std::string& schema) {
  // Test processes run side by side: the process id keeps their databases
  // apart, the counter the tests of one process.
  static std::atomic<int> counter{0};
  schema = "scat_test_" + std::to_string(::getpid()) + "_" + std::to_string(++counter);
  if (!admin("DROP DATABASE IF EXISTS `" + schema + "`; CREATE DATABASE `" + schema +
             "` CHARACTER SET utf8mb4;"))
    return false;
  database::Database db = server(schema);
  db.name(kSharedName);
  database::Manager::instance()->configure(kSharedName, db);
  database::sql::Legacy_Manager::instance()->close(kSharedName);
  return true;
}

void drop_schema(const std::string& schema) {
  database::sql::Legacy_Manager::instance()->close(kSharedName);
  database::Manager::instance()->unconfigure(kSharedName);
  admin("DROP DATABASE IF EXISTS `" + schema + "`;");
}

Private_Server::Private_Server() {
  std::error_code ignored;
  std::string base = std::filesystem::is_directory("/dev/shm", ignored)
                         ? std::string("/dev/shm")
                         : std::filesystem::temp_directory_path().string();
  std::string pattern = base + "/scat-mariadb-XXXXXX";
  if (mkdtemp(&pattern[0]) != nullptr)
    dir_ = pattern;
}

Private_Server::~Private_Server() {
  if (dir_.empty())
    return;
  stop();
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
}

bool Private_Server::run(const char* command) {
  if (dir_.empty())
    return false;
  std::string line =
      std::string("sh '") + SCAT_MARIADB_SERVER_SCRIPT + "' " + command + " '" + dir_ + "'";
  return std::system(line.c_str()) == 0;
}

bool Private_Server::start() {
  return run("start");
}

bool Private_Server::stop() {
  return run("stop");
}

database::Database Private_Server::database(const std::string& schema) const {
  database::Database db = server(schema);
  db.name("scat_private").socket(dir_ + "/mysqld.sock");
  return db;
}

database::Database Private_Server::tcp_database(const std::string& schema) const {
  unsigned port = 0;
  std::ifstream(dir_ + "/port") >> port;
  database::Database db = database(schema);
  db.socket("").host("127.0.0.1").port(port);
  return db;
}

}  // namespace test_mariadb
