// Space information of pools and devices, dedup summaries and device
// ownership: through real catalogs and device records on both engines, the
// local file system, and a test daemon standing in for the dedup and
// storage services. The deduplication engine's folder is "/tmp" here.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/rpc/http_options.h"
#include "platform/runtime/http_file_uri_map.h"
#include "storaged/storage_catalog/device_metadata_manager.h"
#include "storaged/storage_catalog/storage_catalog_utils.h"
#include "tests/support/front_fixture.h"
#include "tests/support/sql_rows.h"

namespace {

const char kKey[] = "caller-key";
const std::string& kPool = Front_Test::kPoolA;

class Space : public Front_Server_Test {
 protected:
  void SetUp() override {
    Front_Server_Test::SetUp();
    if (IsSkipped() || HasFatalFailure())
      return;
    configure_device_metadata(GetParam(), dir_);
    HTTP_File_URI_Map::instance()->add("/kx/data", dir_.path());
    HTTP_Options::instance()->set_local_listen_address(daemon_.host(), daemon_.port(), false);
  }

  void TearDown() override {
    unconfigure_device_metadata();
    HTTP_File_URI_Map::instance()->clear();
    Front_Test::TearDown();
  }

  std::string daemon_url(const std::string& scheme, const std::string& path) {
    return scheme + "://" + daemon_.host() + ":" + std::to_string(daemon_.port()) + path;
  }

  void add_pool(const std::string& pool, bool multidevice) {
    Object record = pool_record(pool);
    record["extended_attrs"] = Object{{"multidevice", multidevice}};
    ASSERT_TRUE(front_->add_pool(record)) << log_.dump();
  }

  void add_device(int n, const std::string& pool, const std::string& url, Object attrs) {
    Object device{{"uuid", uuid_of(n)}, {"url", url}, {"pool_uuid", pool}};
    if (!attrs.count("role"))
      attrs["role"] = n == 1 ? "master" : "slave";
    device["extended_attrs"] = attrs;
    ASSERT_TRUE(front_->add_device(device, nullptr)) << log_.dump();
  }

  void add_set(int n, const std::string& pool, long long size, const std::string& file) {
    Object set = catalog_record(uuid_of(0x100 + n), pool);
    set["size"] = size;
    set["files"] = Array{file};
    ASSERT_TRUE(front_->add_catalog(pool, set)) << log_.dump();
  }

  void dedup_stat(const std::string& name, long long data, long long stored) {
    daemon_.reply("GET", "/kx/r/dedup/stat/" + name, 200,
                  JSON_Dump(Object{{"data_size", data}, {"storage_size", stored}}));
  }

  Object pool_space(bool with_disk_space = false) {
    Object info;
    EXPECT_TRUE(Storage_Catalog_Utils::get_pool_space_info(kPool, kKey, info, with_disk_space))
        << log_.dump();
    return info;
  }
};

TEST_P(Space, DedupPoolReportsTheServiceFiguresAndItsRate) {
  add_pool(kPool, false);
  add_device(1, kPool, daemon_url("dedup", "/ddp/vol1/dpool"), Object{{"dedup_chunk_size", 4096}});
  dedup_stat("dpool", 1000, 250);
  Object info = pool_space();
  ASSERT_TRUE(info.count("size"));
  EXPECT_GT(info.at("size").get<long long>(), 0);
  EXPECT_EQ(info.at("used_size"), 250);
  const Object& attrs = info.at("extended_attrs").get_ref<const Object&>();
  EXPECT_EQ(attrs.at("dedup_rate"), 7500);
  EXPECT_EQ(attrs.at("data_size"), 1000);
  EXPECT_EQ(attrs.at("used_size"), 250);
  EXPECT_EQ(attrs.at("disk_size"), info.at("size"));
  EXPECT_EQ(attrs.at("disk_free_size"), info.at("free_size"));
  auto asked = daemon_.requests_to("/kx/r/dedup/stat/dpool");
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(asked[0].headers.at("X-Access-Key"), kKey);

  dedup_stat("dpool", 0, 0);
  EXPECT_EQ(pool_space().at("extended_attrs").at("dedup_rate"), 0);
  dedup_stat("dpool", 1000, 1500);
  EXPECT_EQ(pool_space().at("extended_attrs").at("dedup_rate"), 0);
  // Sizes of a petabyte pool.
  dedup_stat("dpool", 4000000000000000LL, 1000000000000000LL);
  EXPECT_EQ(pool_space().at("extended_attrs").at("dedup_rate"), 7500);

  Object pool;
  ASSERT_TRUE(Storage_Catalog_Utils::get_pool(kPool, pool));
  long long data = -1, chunk = -1, stored = -1;
  ASSERT_TRUE(Storage_Catalog_Utils::get_dedup_summary(pool, kKey, &data, &chunk, &stored));
  EXPECT_EQ(chunk, 4096);

  Object info_failed;
  daemon_.reply("GET", "/kx/r/dedup/stat/dpool", 500, "{}");
  EXPECT_FALSE(Storage_Catalog_Utils::get_pool_space_info(kPool, kKey, info_failed, false));
  EXPECT_TRUE(log_.has("Failed to query dedup pool status"));
  daemon_.reply("GET", "/kx/r/dedup/stat/dpool", 200, "{\"data_size\": 5}");
  EXPECT_FALSE(Storage_Catalog_Utils::get_pool_space_info(kPool, kKey, info_failed, false));
  EXPECT_TRUE(log_.contains("Failed to get device with pool '" + kPool + "': ")) << log_.dump();
}

TEST_P(Space, PoolsTakeTheirFolderOrTheServedDataFolder) {
  add_pool(kPool, false);
  add_device(1, kPool, "s3://bucket/pool", Object{{"external_uuid", uuid_of(77)}});
  add_set(1, kPool, 100, "/data/a");
  add_set(2, kPool, 250, "/data/b");
  // External storage has no folder here: only the catalog's figure.
  Object info = pool_space();
  EXPECT_EQ(info, (Object{{"used_size", 350}}));

  add_pool(kPoolB, false);
  add_device(2, kPoolB, "s3://bucket/other", Object{{"role", "master"}});
  Object served;
  ASSERT_TRUE(Storage_Catalog_Utils::get_pool_space_info(kPoolB, kKey, served, false))
      << log_.dump();
  EXPECT_GT(served.at("size").get<long long>(), 0);
  EXPECT_EQ(served.at("used_size"), 0);
  HTTP_File_URI_Map::instance()->clear();
  EXPECT_FALSE(Storage_Catalog_Utils::get_pool_space_info(kPoolB, kKey, served, false));
  EXPECT_TRUE(log_.has_prefix(LM_EMERGENCY, "Unexpected error in ")) << log_.dump();
  EXPECT_TRUE(log_.contains("entry is NULL"));
  Object unknown;
  EXPECT_FALSE(Storage_Catalog_Utils::get_pool_space_info(kPoolC, kKey, unknown, false));
}

TEST_P(Space, MultiDeviceDedupPoolSumsItsDedupDevices) {
  add_pool(kPool, true);
  add_device(1, kPool, daemon_url("dedup", "/ddp/vol1/x"), Object());
  add_device(2, kPool, daemon_url("http", "/kx/data/y"), Object());
  add_device(3, kPool, daemon_url("dedups", "/ddp/vol2/z"), Object());
  dedup_stat(kPool, 1000, 250);
  // The secure device's service is not reached: its figures are missing.
  Object info;
  EXPECT_FALSE(Storage_Catalog_Utils::get_pool_space_info(kPool, kKey, info, false));
  ASSERT_TRUE(front_->remove_device(uuid_of(3), nullptr)) << log_.dump();
  add_device(3, kPool, daemon_url("ws", "/ddp/vol2/z"), Object());
  info = pool_space();
  EXPECT_TRUE(log_.contains("Skipped device '" + uuid_of(2) + "'")) << log_.dump();
  ASSERT_EQ(info.at("devices").size(), 2u);
  EXPECT_EQ(info.at("devices")[1], Value(Object{{"uuid", uuid_of(3)},
                                                {"size", 1000},
                                                {"used_size", 250},
                                                {"data_size", 1000},
                                                {"dedup_rate", 7500}}));
  EXPECT_EQ(info.at("size"), 2000);
  EXPECT_EQ(info.at("data_size"), 2000);
  EXPECT_EQ(info.at("used_size"), 500);
  EXPECT_EQ(info.at("dedup_rate"), 7500);
}

TEST_P(Space, MultiDeviceDevicesReportTheirUseAndReachability) {
  add_pool(kPool, true);
  add_device(1, kPool, daemon_url("http", "/kx/data/m"), Object{{"size", 1000}});
  add_device(2, kPool, "s3://bucket/s", Object{{"size", 500}});
  add_device(3, kPool, "http://127.0.0.1:1/kx/data/gone", Object{{"size", 10}});
  Device_Metadata_Manager* metadata = Device_Metadata_Manager::instance();
  ASSERT_TRUE(metadata->add_file(kPool.c_str(), uuid_of(1).c_str(), "m/f1", nullptr, 300));
  // A file of unknown size counts by its backup set's size, once.
  ASSERT_TRUE(metadata->add_file(kPool.c_str(), uuid_of(2).c_str(), "s/f2", nullptr, -1));
  ASSERT_TRUE(metadata->add_file(kPool.c_str(), uuid_of(2).c_str(), "s/f3", nullptr, -1));
  Object set = catalog_record(uuid_of(0x101), kPool);
  set["size"] = 120;
  set["files"] = Array{"/data/s/f2", "/data/s/f3"};
  ASSERT_TRUE(front_->add_catalog(kPool, set));
  daemon_.reply("HEAD", "/kx/data/m", 200, "");
  daemon_.reply("GET", "/kx/r/storaged/space", 200, "{\"total\": 5}");

  Object info = pool_space(true);
  const Value& devices = info.at("devices");
  ASSERT_EQ(devices.size(), 3u);
  EXPECT_EQ(devices[0], Value(Object{{"uuid", uuid_of(1)},
                                     {"size", 1000},
                                     {"used_size", 300},
                                     {"free_size", 700},
                                     {"online", true},
                                     {"disk_space", Object{{"total", 5}}}}));
  EXPECT_EQ(
      devices[1],
      Value(Object{{"uuid", uuid_of(2)}, {"size", 500}, {"used_size", 120}, {"free_size", 380}}));
  EXPECT_EQ(devices[2].at("online"), false);
  EXPECT_EQ(devices[2].count("disk_space"), 0u);
  EXPECT_EQ(info.at("size"), 1510);
  EXPECT_EQ(info.at("used_size"), 420);
  EXPECT_EQ(daemon_.requests_to("/kx/data/m").at(0).headers.at("X-Access-Key"), kKey);

  // Without the file records the use cannot be read: it counts as none.
  unconfigure_device_metadata();
  info = pool_space();
  EXPECT_EQ(
      info.at("devices")[1],
      Value(Object{{"uuid", uuid_of(2)}, {"size", 500}, {"used_size", 0}, {"free_size", 500}}));
}

TEST_P(Space, DeviceSpaceOfALocalDedupDeviceOrAPoolDevice) {
  add_pool(kPool, false);
  add_device(1, kPool, daemon_url("dedup", "/ddp/vol1/local"), Object{{"dedup_chunk_size", 8192}});
  dedup_stat("local", 400, 100);
  Object info;
  ASSERT_TRUE(Storage_Catalog_Utils::get_device_space_info(uuid_of(1), kKey, info)) << log_.dump();
  EXPECT_GT(info.at("size").get<long long>(), 0);
  EXPECT_EQ(info.at("data_size"), 400);
  EXPECT_EQ(info.at("dedup_rate"), 7500);
  EXPECT_EQ(info.at("used_size"), 100);

  // Asking for no sizes asks the service nothing.
  Object device;
  ASSERT_TRUE(Storage_Catalog_Utils::get_device(uuid_of(1), device));
  long long chunk = 0;
  std::size_t asked = daemon_.requests_to("/kx/r/dedup/stat/local").size();
  EXPECT_TRUE(
      Storage_Catalog_Utils::get_local_dedup_summary(device, kKey, nullptr, &chunk, nullptr));
  EXPECT_EQ(chunk, 8192);
  EXPECT_EQ(daemon_.requests_to("/kx/r/dedup/stat/local").size(), asked);

  add_set(1, kPool, 70, "/data/a");
  Object external{{"uuid", uuid_of(2)},
                  {"pool_uuid", kPool},
                  {"url", "s3://bucket/x"},
                  {"extended_attrs", Object{{"external_uuid", uuid_of(9)}}}};
  Object figures;
  ASSERT_TRUE(Storage_Catalog_Utils::get_device_space_info(external, kKey, figures));
  EXPECT_EQ(figures, (Object{{"used_size", 70}}));

  external.erase("url");
  EXPECT_FALSE(Storage_Catalog_Utils::get_device_space_info(external, kKey, figures));
  EXPECT_TRUE(log_.contains("url is NULL")) << log_.dump();
  EXPECT_FALSE(Storage_Catalog_Utils::get_device_space_info(uuid_of(5), kKey, figures));
  EXPECT_TRUE(log_.has("Failed to get device by uuid(" + uuid_of(5) + ")."));
}

TEST_P(Space, CatalogsOnDevicesByTheirFileRecords) {
  add_pool(kPool, true);
  Device_Metadata_Manager* metadata = Device_Metadata_Manager::instance();
  ASSERT_TRUE(metadata->add_file(kPool.c_str(), uuid_of(1).c_str(), "a/f1", nullptr, 10));
  Array catalogs{Object{{"files", Array{"b/none"}}}, Object{{"files", Array{"a/f1"}}}};
  EXPECT_TRUE(Storage_Catalog_Utils::is_catalog_on_device({uuid_of(1)}, catalogs));
  EXPECT_FALSE(Storage_Catalog_Utils::is_catalog_on_device({uuid_of(2)}, catalogs));
  // A directory is not a file of the catalog.
  EXPECT_FALSE(Storage_Catalog_Utils::is_catalog_on_device({uuid_of(1)},
                                                           Array{Object{{"files", Array{"a"}}}}));
  EXPECT_FALSE(Storage_Catalog_Utils::is_catalog_on_device({uuid_of(1)}, Array{Object()}));
  EXPECT_TRUE(log_.contains("Error catalogs type: ")) << log_.dump();
}

TEST_P(Space, OwnDevicesLeaveReplicatePoolsOut) {
  add_pool(kPool, false);
  add_device(1, kPool, "s3://bucket/a", Object());
  ASSERT_TRUE(
      front_->get_connection(kPool)->execute("UPDATE storage_catalog_storage_pool SET on_host=0"));
  Array devices{"stale"};
  ASSERT_TRUE(Storage_Catalog_Utils::get_own_devices(devices)) << log_.dump();
  EXPECT_TRUE(devices.empty());

  add_pool(kPoolB, false);
  add_device(2, kPoolB, "s3://bucket/b", Object());
  ASSERT_TRUE(Storage_Catalog_Utils::get_own_devices(devices));
  ASSERT_EQ(devices.size(), 1u);
  EXPECT_EQ(devices[0].at("uuid"), uuid_of(2));
}

SCAT_INSTANTIATE_ENGINES(Space);

}  // namespace
