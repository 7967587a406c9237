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
  return std::getenv("SCAT_TEST_MARIADB_SOCKET") != nullptr || on_cluster();
}

bool on_cluster() {
  return std::getenv("SCAT_TEST_MARIADB_HOSTS") != nullptr;
}

database::Database server(const std::string& schema) {
  database::Database db;
  db.name("scat_test")
      .type(database::Database::MYSQL)
      .user(env_or("SCAT_TEST_MARIADB_USER", "root"))
      .password(env_or("SCAT_TEST_MARIADB_PASSWORD", ""))
      .schema(schema);
  std::vector<database::Database::Server> servers;
  if (on_cluster() &&
      database::Database::parse_servers(env_or("SCAT_TEST_MARIADB_HOSTS", ""), servers))
    db.servers(servers);
  else
    db.socket(env_or("SCAT_TEST_MARIADB_SOCKET", ""));
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

namespace cluster {

namespace {

bool run(const std::string& command, int n) {
  std::string line = std::string("sh '") + SCAT_GALERA_CLUSTER_SCRIPT + "' " + command + " " +
                     std::to_string(n) + " '" + env_or("SCAT_TEST_GALERA_DIR", "") + "'";
  return std::system(line.c_str()) == 0;
}

}  // namespace

bool available() {
  return std::getenv("SCAT_TEST_GALERA_DIR") != nullptr && on_cluster();
}

bool kill_node(int n) {
  return run("kill", n);
}

bool restart_node(int n) {
  return run("restart", n);
}

database::Database node(int n, const std::string& schema) {
  database::Database db = server(schema);
  std::vector<database::Database::Server> one;
  if (n >= 1 && static_cast<std::size_t>(n) <= db.servers().size())
    one.push_back(db.servers()[n - 1]);
  return db.servers(one).name("scat_node_" + std::to_string(n));
}

}  // namespace cluster

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
  db.name("scat_private").servers({}).socket(dir_ + "/mysqld.sock");
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
