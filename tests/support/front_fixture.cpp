#include "tests/support/front_fixture.h"

#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "platform/job/job_manager.h"
#include "platform/queue/queue_manager.h"
#include "platform/rpc/http_options.h"
#include "platform/rpc/json_rpc.h"
#include "platform/sql/legacy_manager.h"
#include "platform/sql/metadata.h"
#include "tests/support/test_mariadb.h"

const char Front_Test::kHostUuid[] = "0123456789abcdef0123456789abcdef";
const char Front_Test::kAccessKey[] = "test-access-key";
const std::string Front_Test::kPoolA = "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa";
const std::string Front_Test::kPoolB = "bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb";
const std::string Front_Test::kPoolC = "cccccccccccccccccccccccccccccccc";
const std::string Front_Test::kSetA = "11111111111111111111111111111111";
const std::string Front_Test::kSetB = "22222222222222222222222222222222";

void Front_Test::SetUp() {
  Queue_Manager::instance()->set_directory(dir_.file("queue"));
  Job_Manager::configure(dir_.file("jobs"));
  Host_Manager* host = Host_Manager::instance();
  host->reset();
  host->set_uuid(kHostUuid);
  host->set_access_key(kAccessKey);
  Global_JSON_RPC_Channel::set(nullptr);
  front_ = Storage_Catalog_Manager::instance();
  ASSERT_NE(front_, nullptr);
}

void Front_Test::TearDown() {
  Storage_Catalog_Manager::close_instance();
  database::sql::Legacy_Manager::instance()->close("storage_catalog");
  database::Manager::instance()->unconfigure("storage_catalog");
  if (!schema_.empty())
    test_mariadb::drop_schema(schema_);
  Queue_Manager::instance()->close_all();
  Job_Manager::close_instance();
  Host_Manager::instance()->reset();
  HTTP_Options::instance()->reset();
  Global_JSON_RPC_Channel::reset();
}

void Front_Test::open_server(Engine engine) {
  Host_Manager::instance()->set_role(Host_Manager::ROLE_SERVER);
  if (engine == Engine::MARIADB) {
    if (!test_mariadb::configured())
      GTEST_SKIP() << "no MariaDB server configured";
    ASSERT_TRUE(test_mariadb::create_schema(schema_)) << log_.dump();
  } else {
    database::Database db;
    db.name("storage_catalog").type(database::Database::SQLITE).path(dir_.file("shared.db"));
    database::Manager::instance()->configure("storage_catalog", db);
  }
  front_->init(daemon_.host(), daemon_.port(), false);
  ASSERT_TRUE(front_->open()) << log_.dump();
}

void Front_Test::init_agent() {
  Host_Manager::instance()->set_role(Host_Manager::ROLE_AGENT);
  auto channel = std::make_shared<JSON_RPC_Channel>();
  channel->host = daemon_.host();
  channel->port = daemon_.port();
  Global_JSON_RPC_Channel::set(channel);
  front_->init(daemon_.host(), daemon_.port(), false);
}

void Front_Test::open_agent(const std::map<std::string, Value>& pools) {
  Array rows;
  for (const auto& pool : pools) {
    Object attrs{{"attached_hosts", Object{{kHostUuid, pool.second}}}};
    rows.push_back(Object{{"pool_uuid", pool.first}, {"extended_attrs", attrs}});
  }
  daemon_.reply("GET", "/kx/r/v2/storages", 200, JSON_Dump(Object{{"rows", rows}}));
  init_agent();
  ASSERT_TRUE(front_->open()) << log_.dump();
}

void Front_Test::add_pool_with_master(const std::string& pool_uuid, const std::string& url) {
  ASSERT_TRUE(front_->add_pool(pool_record(pool_uuid))) << log_.dump();
  Object device{{"uuid", "d" + pool_uuid.substr(1)},
                {"url", url},
                {"pool_uuid", pool_uuid},
                {"extended_attrs", Object{{"role", "master"}}}};
  ASSERT_TRUE(front_->add_device(device, nullptr)) << log_.dump();
}

std::string Front_Test::local_dir(const std::string& pool_uuid) {
  std::string dir = Storage_Catalog_Manager::gen_local_pool_path(pool_uuid, dir_.path(), true);
  EXPECT_TRUE(exists(dir)) << dir;
  return dir;
}

void Front_Test::add_pools_and_sets() {
  ASSERT_TRUE(front_->add_pool(pool_record(kPoolA))) << log_.dump();
  ASSERT_TRUE(front_->add_pool(pool_record(kPoolB))) << log_.dump();
  ASSERT_TRUE(front_->add_catalog(kPoolA, catalog_record(kSetA, kPoolA))) << log_.dump();
  ASSERT_TRUE(front_->add_catalog(kPoolB, catalog_record(kSetB, kPoolB))) << log_.dump();
}

long long Front_Test::catalog_count(const std::string& pool_uuid) {
  Array rows;
  long long total = -1;
  if (!front_->query_catalog(pool_uuid, Object(), "id", true, 0, -1, rows, &total, false, false))
    return -1;
  EXPECT_EQ(static_cast<long long>(rows.size()), total);
  return total;
}

std::string Front_Test::uuid_of(int n) {
  char text[33];
  std::snprintf(text, sizeof text, "%032x", n);
  return text;
}

bool Front_Test::exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

Object Front_Test::pool_record(const std::string& uuid, const std::string& state) {
  return Object{{"uuid", uuid}, {"name", "pool-" + uuid.substr(0, 4)}, {"state", state}};
}

Object Front_Test::device_record(const std::string& device_uuid, const std::string& pool_uuid,
                                 const std::string& dir) {
  Object attrs{{"attached_hosts", Object{{kHostUuid, dir}}}};
  return Object{{"uuid", device_uuid},
                {"url", "file://" + dir},
                {"pool_uuid", pool_uuid},
                {"extended_attrs", attrs}};
}

Object Front_Test::catalog_record(const std::string& uuid, const std::string& pool_uuid) {
  return Object{{"uuid", uuid},
                {"pool_uuid", pool_uuid},
                {"incarnation", uuid},
                {"agent", "backupd"},
                {"backup_type", "full"},
                {"backup_time", "2026-01-01 00:00:00"},
                {"files", Array{"/data/" + uuid}},
                {"size", 100},
                {"name", "set"},
                {"state", 1}};
}

bool Front_Test::wait_until(const std::function<bool()>& done) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline)
      return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}
