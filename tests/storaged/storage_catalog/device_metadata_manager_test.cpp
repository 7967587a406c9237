#include "storaged/storage_catalog/device_metadata_manager.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <set>
#include <thread>
#include <utility>

#include "platform/job/job_manager.h"
#include "platform/rpc/host_manager.h"
#include "platform/sql/cursor.h"
#include "platform/sql/legacy_manager.h"
#include "platform/sql/metadata.h"
#include "storaged/storage_catalog/storage_catalog_manager.h"
#include "tests/support/catalog_fixture.h"
#include "tests/support/log_capture.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_mariadb.h"

using database::sql::Connection_Ptr;
using database::sql::Legacy_Cursor;
using database::sql::Legacy_Manager;
using database::sql::SQL;

namespace {

const char kPool[] = "11111111111111111111111111111111";
const char kOtherPool[] = "22222222222222222222222222222222";
const char kDev1[] = "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa";
const char kDev2[] = "bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb";
const char kDev3[] = "cccccccccccccccccccccccccccccccc";

using Devices = std::vector<std::string>;

std::string normalised(const char* path) {
  std::string out = "stale";
  Device_Metadata_Manager::validate_path(path, out);
  return out;
}

TEST(Device_Metadata_Path, IsTrimmedAndDoubledSlashesHalved) {
  EXPECT_EQ(normalised(" /a//b/"), "a/b");
  EXPECT_EQ(normalised("/"), ".");
  EXPECT_EQ(normalised(""), ".");
  EXPECT_EQ(normalised(nullptr), ".");
  EXPECT_EQ(normalised("a///b"), "a//b");
  EXPECT_EQ(normalised("\t x/y \t"), "x/y");
  EXPECT_EQ(Device_Metadata_Manager::type_to_str(Device_Metadata_Manager::TYPE_DIR), "dir");
  EXPECT_EQ(Device_Metadata_Manager::type_to_str(Device_Metadata_Manager::TYPE_FILE), "file");
  EXPECT_EQ(Device_Metadata_Manager::type_to_str(Device_Metadata_Manager::TYPE_NONE), "");
}

// The "device_metadata" database of each test: an SQLite file of its own,
// or a fresh MariaDB schema when a server is configured.
class Device_Metadata : public ::testing::TestWithParam<Engine> {
 protected:
  void SetUp() override {
    database::Database db;
    if (GetParam() == Engine::MARIADB) {
      if (!test_mariadb::configured())
        GTEST_SKIP() << "no MariaDB server configured";
      ASSERT_TRUE(test_mariadb::create_schema(schema_));
      db = database::Manager::instance()->database("storage_catalog");
      db.name("device_metadata").metadata(nullptr);
    } else {
      db.name("device_metadata")
          .type(database::Database::SQLITE)
          .path(dir_.file("device_metadata.db"));
    }
    database::Manager::instance()->configure("device_metadata", db);
    Legacy_Manager::instance()->close("device_metadata");
    manager_ = Device_Metadata_Manager::instance();
    ASSERT_NE(manager_, nullptr);
  }

  void TearDown() override {
    Device_Metadata_Manager::close_instance();
    Legacy_Manager::instance()->close("device_metadata");
    database::Manager::instance()->unconfigure("device_metadata");
    if (!schema_.empty())
      test_mariadb::drop_schema(schema_);
  }

  // Rows in insertion order, uuids as text.
  Value rows(const std::string& select) {
    Connection_Ptr conn = Legacy_Manager::instance()->get_connection_r("device_metadata");
    SQL query(select);
    Value out;
    Legacy_Cursor cursor(conn, query, Legacy_Cursor::ROWS_RAW, 0);
    EXPECT_TRUE(cursor.fetch(out)) << log_.dump();
    return out;
  }
  Value dir_rows() {
    return rows(
        "SELECT LOWER(HEX(device_uuid)) AS device, path, parent FROM device_metadata_dir "
        "ORDER BY id");
  }
  Value file_rows() {
    return rows(
        "SELECT LOWER(HEX(pool_uuid)) AS pool, LOWER(HEX(device_uuid)) AS device, path, parent, "
        "size, `grouping` FROM device_metadata_file ORDER BY id");
  }

  Temp_Dir dir_;
  Log_Capture log_;
  Device_Metadata_Manager* manager_ = nullptr;

 private:
  std::string schema_;
};

TEST_P(Device_Metadata, DeepFileRecordsItsAncestorDirectoriesFirst) {
  ASSERT_TRUE(manager_->add_file(kPool, kDev1, "/x/y/z", nullptr, 10)) << log_.dump();
  Value dirs = dir_rows();
  ASSERT_EQ(dirs.size(), 3u);
  EXPECT_EQ(dirs[0]["path"], ".");
  EXPECT_TRUE(dirs[0]["parent"].is_null());
  EXPECT_EQ(dirs[1]["path"], "x");
  EXPECT_EQ(dirs[1]["parent"], ".");
  EXPECT_EQ(dirs[2]["path"], "x/y");
  EXPECT_EQ(dirs[2]["parent"], "x");
  for (const Value& d : dirs)
    EXPECT_EQ(d["device"], kDev1);
  Value files = file_rows();
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0]["pool"], kPool);
  EXPECT_EQ(files[0]["path"], "x/y/z");
  EXPECT_EQ(files[0]["parent"], "x/y");
  EXPECT_EQ(files[0]["size"], 10);
  EXPECT_EQ(files[0]["grouping"], "");
  EXPECT_TRUE(manager_->is_in_device("x/y", kDev1));
  EXPECT_FALSE(manager_->is_in_device("x/y", kDev2));
}

TEST_P(Device_Metadata, AddingAFileTwiceKeepsTheFirstRecord) {
  ASSERT_TRUE(manager_->add_file(kPool, kDev1, "a/f", "g1", 5));
  ASSERT_TRUE(manager_->add_file(kPool, kDev2, "/a/f/", "g1", 99));
  Value files = file_rows();
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0]["size"], 5);
  EXPECT_EQ(files[0]["device"], kDev1);
  EXPECT_EQ(files[0]["grouping"], "g1");
  // The same name in another group is another file.
  ASSERT_TRUE(manager_->add_file(kPool, kDev1, "a/f", "g2", 6));
  EXPECT_EQ(file_rows().size(), 2u);
  EXPECT_EQ(dir_rows().size(), 2u);
}

TEST_P(Device_Metadata, UpdateFileSetsTheSizeOfARecordedFile) {
  ASSERT_TRUE(manager_->add_file(kPool, kDev1, "a/f", nullptr, -1));
  EXPECT_TRUE(manager_->update_file(kPool, kDev1, " /a/f/", nullptr, 42)) << log_.dump();
  EXPECT_EQ(file_rows()[0]["size"], 42);

  EXPECT_FALSE(manager_->update_file(kPool, kDev1, "a/none", nullptr, 1));
  EXPECT_TRUE(log_.has("File 'a/none' is not in pool '" + std::string(kPool) + "', device '" +
                       kDev1 + "'."));
  EXPECT_FALSE(manager_->update_file(kOtherPool, kDev1, "a/f", nullptr, 1));
}

TEST_P(Device_Metadata, UpdateFileRefusesAnotherDeviceOfThePool) {
  ASSERT_TRUE(manager_->add_file(kPool, kDev1, "a/f", nullptr, 5));
  EXPECT_FALSE(manager_->update_file(kPool, kDev2, "a/f", nullptr, 42));
  EXPECT_TRUE(
      log_.has("File 'a/f' is not in pool '" + std::string(kPool) + "', device '" + kDev2 + "'."));
  EXPECT_EQ(file_rows()[0]["size"], 5);
  // The same size again still finds its row; the device may be upper case.
  std::string upper(kDev1);
  std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
  EXPECT_TRUE(manager_->update_file(kPool, upper.c_str(), "a/f", nullptr, 5)) << log_.dump();
}

TEST_P(Device_Metadata, RunsOfSlashesAreNormalisedOnce) {
  ASSERT_TRUE(manager_->add_file(kPool, kDev1, "x////y/z", nullptr, 1)) << log_.dump();
  Value files = file_rows();
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0]["path"], "x//y/z");
  EXPECT_EQ(files[0]["parent"], "x//y");
  ASSERT_TRUE(manager_->add_dir(kDev2, "/p////q/"));
  std::vector<std::pair<std::string, std::string>> dirs;
  for (const Value& d : dir_rows())
    dirs.emplace_back(d["device"].get<std::string>(), d["path"].get<std::string>());
  EXPECT_EQ(dirs, (std::vector<std::pair<std::string, std::string>>{{kDev1, "."},
                                                                    {kDev1, "x"},
                                                                    {kDev1, "x//y"},
                                                                    {kDev2, "."},
                                                                    {kDev2, "p"},
                                                                    {kDev2, "p//q"}}));
  EXPECT_EQ(manager_->check("x////y", Devices{kDev1}, nullptr, nullptr),
            Device_Metadata_Manager::TYPE_DIR);
  EXPECT_EQ(manager_->check("x////y/z", Devices{kDev1}, nullptr, nullptr),
            Device_Metadata_Manager::TYPE_FILE);
}

TEST_P(Device_Metadata, PoolLookupsFailWhenTheCatalogHasNoBackEnd) {
  Devices found;
  EXPECT_EQ(manager_->check("a", kPool, &found, nullptr), Device_Metadata_Manager::TYPE_NONE);
  EXPECT_FALSE(manager_->get_devices_with_files({"a"}, kPool, found, nullptr));
  EXPECT_FALSE(manager_->remove(kPool, "a", nullptr));
  EXPECT_EQ(log_.count("Failed to query device with pool '" + std::string(kPool) + "'."), 3)
      << log_.dump();
  EXPECT_TRUE(found.empty());
  Storage_Catalog_Manager::close_instance();
}

TEST_P(Device_Metadata, PathOnTwoDevicesOfAPoolIsOnNoSingleDevice) {
  ASSERT_TRUE(manager_->add_file(kPool, kDev1, "a/f", "g1", 1));
  ASSERT_TRUE(manager_->add_file(kPool, kDev2, "a/f", "g2", 1));
  EXPECT_EQ(manager_->is_in_pool("a/f", kPool, nullptr), "");
  EXPECT_EQ(manager_->is_in_pool("a/f", kPool, "g2"), kDev2);
  EXPECT_EQ(manager_->is_in_pool("a/f", kOtherPool, nullptr), "");
  EXPECT_EQ(manager_->is_in_pool("a/f", "not-a-uuid", nullptr), "");
  EXPECT_TRUE(log_.has("Failed to get file 'a/f' in pool 'not-a-uuid'."));
}

TEST_P(Device_Metadata, UsedSizeIgnoresFilesOfUnknownSize) {
  ASSERT_TRUE(manager_->add_file(kPool, kDev1, "f1", nullptr, 100));
  ASSERT_TRUE(manager_->add_file(kPool, kDev1, "f2", nullptr, -1));
  ASSERT_TRUE(manager_->add_file(kPool, kDev1, "f3", nullptr, 23));
  ASSERT_TRUE(manager_->add_file(kPool, kDev2, "f4", nullptr, 1000));
  EXPECT_EQ(manager_->get_device_used_size(kDev1), 123);
  EXPECT_EQ(manager_->get_device_used_size(kDev3), 0);
  long long size = 0;
  long long files = 0;
  EXPECT_TRUE(manager_->get_device_usage(kDev1, size, files));
  EXPECT_EQ(size, 123);
  EXPECT_EQ(files, 2);
  EXPECT_FALSE(manager_->get_device_usage(kDev3, size, files));
  EXPECT_EQ(manager_->get_device_used_size("zz"), -1);
}

TEST_P(Device_Metadata, ListsFilesOfAPoolOrDevicePageByPage) {
  for (int i = 0; i < 5; ++i)
    ASSERT_TRUE(manager_->add_file(kPool, i < 3 ? kDev1 : kDev2,
                                   ("d/f" + std::to_string(i)).c_str(), nullptr, i == 1 ? -1 : i));
  ASSERT_TRUE(manager_->add_file(kOtherPool, kDev3, "d/f9", nullptr, 9));

  std::vector<Device_Metadata_Manager::File_Entry> files;
  long long total = 0;
  ASSERT_TRUE(manager_->get_files_with_pool(kPool, 0, 2, files, &total)) << log_.dump();
  ASSERT_TRUE(manager_->get_files_with_pool(kPool, 2, 2, files, nullptr));
  ASSERT_TRUE(manager_->get_files_with_pool(kPool, 4, 2, files, nullptr));
  EXPECT_EQ(total, 5);
  ASSERT_EQ(files.size(), 5u);
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(files[i].path, "d/f" + std::to_string(i));
    EXPECT_EQ(files[i].pool_uuid, kPool);
  }
  EXPECT_EQ(files[3].device_uuid, kDev2);

  files.clear();
  ASSERT_TRUE(manager_->get_files_with_device(kDev1, 0, -1, files, &total, false));
  EXPECT_EQ(total, 3);
  EXPECT_EQ(files.size(), 3u);
  files.clear();
  ASSERT_TRUE(manager_->get_files_with_device(kDev1, 0, -1, files, &total, true));
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(total, 1);
  EXPECT_EQ(files[0].path, "d/f1");
  EXPECT_EQ(files[0].size, -1);
}

TEST_P(Device_Metadata, CheckTellsDirectoriesFromFilesOnTheGivenDevices) {
  ASSERT_TRUE(manager_->add_file(kPool, kDev1, "d/e/f", nullptr, 1));
  ASSERT_TRUE(manager_->add_file(kOtherPool, kDev2, "d/e/f", nullptr, 1));
  ASSERT_TRUE(manager_->add_dir(kDev3, "d"));
  Devices all{kDev1, kDev2, kDev3};
  std::vector<std::string> found;
  EXPECT_EQ(manager_->check("/d/e/", all, &found, nullptr), Device_Metadata_Manager::TYPE_DIR);
  std::sort(found.begin(), found.end());
  EXPECT_EQ(found, (std::vector<std::string>{kDev1, kDev2}));
  found.clear();
  EXPECT_EQ(manager_->check("d/e/f", Devices{kDev2, kDev3}, &found, nullptr),
            Device_Metadata_Manager::TYPE_FILE);
  EXPECT_EQ(found, std::vector<std::string>{kDev2});
  EXPECT_EQ(manager_->check("d/e/f", all, nullptr, "other"), Device_Metadata_Manager::TYPE_NONE);
  EXPECT_EQ(manager_->check("d/e/g", all, nullptr, nullptr), Device_Metadata_Manager::TYPE_NONE);
  EXPECT_EQ(manager_->check("d", Devices(), nullptr, nullptr), Device_Metadata_Manager::TYPE_NONE);
  // The root is there when a directory hangs below it.
  EXPECT_EQ(manager_->check("/", Devices{kDev3}, nullptr, nullptr),
            Device_Metadata_Manager::TYPE_DIR);
}

TEST_P(Device_Metadata, ConcurrentAdditionsRecordEachDirectoryOnce) {
  // The threads also race to make the manager.
  Device_Metadata_Manager::close_instance();
  std::vector<Device_Metadata_Manager*> seen(8);
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&seen, t] {
      seen[t] = Device_Metadata_Manager::instance();
      for (int i = 0; i < 6; ++i) {
        std::string path =
            "shared/d" + std::to_string(i % 3) + "/t" + std::to_string(t) + "-" + std::to_string(i);
        EXPECT_TRUE(seen[t]->add_file(kPool, kDev1, path.c_str(), nullptr, 1));
      }
    });
  }
  for (std::thread& t : threads)
    t.join();
  EXPECT_EQ(std::count(seen.begin(), seen.end(), seen[0]), 8);
  EXPECT_EQ(file_rows().size(), 48u);
  Value dirs = dir_rows();
  std::set<std::string> unique;
  for (const Value& d : dirs)
    unique.insert(d["path"].get<std::string>());
  EXPECT_EQ(unique.size(), dirs.size());
  EXPECT_EQ(unique, (std::set<std::string>{".", "shared", "shared/d0", "shared/d1", "shared/d2"}));
}

TEST_P(Device_Metadata, NullArgumentsAreRefusedWithTheirName) {
  EXPECT_FALSE(manager_->add_file(nullptr, kDev1, "f", nullptr, 1));
  EXPECT_TRUE(log_.has_prefix(LM_EMERGENCY, "Unexpected error in "));
  EXPECT_TRUE(log_.contains(", pool is NULL:\n"));
  EXPECT_FALSE(manager_->add_file(kPool, nullptr, "f", nullptr, 1));
  EXPECT_TRUE(log_.contains(", device is NULL:\n"));
  EXPECT_FALSE(manager_->add_dir(kDev1, nullptr));
  EXPECT_TRUE(log_.contains(", dir is NULL:\n"));
  EXPECT_EQ(manager_->check(nullptr, Devices{kDev1}, nullptr, nullptr),
            Device_Metadata_Manager::TYPE_NONE);
  EXPECT_TRUE(log_.contains(", path is NULL:\n"));
  EXPECT_EQ(manager_->get_device_used_size(nullptr), -1);
  EXPECT_TRUE(log_.contains(", device_uuid is NULL:\n"));
  EXPECT_TRUE(file_rows().empty());
}

TEST_P(Device_Metadata, MalformedUuidsAreRefusedNotStored) {
  EXPECT_FALSE(
      manager_->add_file(kPool, "x'; DROP TABLE device_metadata_file; --", "f", nullptr, 1));
  EXPECT_FALSE(manager_->add_file("short", kDev1, "f", nullptr, 1));
  EXPECT_TRUE(log_.has("Failed to execute device file insert sql."));
  EXPECT_TRUE(file_rows().empty());
}

SCAT_INSTANTIATE_ENGINES(Device_Metadata);

// A storage host whose catalog (beside the device metadata) knows pool
// kPool with devices kDev1 to kDev3.
class Device_Metadata_By_Pool : public Device_Metadata {
 protected:
  void SetUp() override {
    Device_Metadata::SetUp();
    if (IsSkipped() || HasFatalFailure())
      return;
    if (GetParam() == Engine::SQLITE) {
      database::Database db;
      db.name("storage_catalog").type(database::Database::SQLITE).path(dir_.file("catalog.db"));
      database::Manager::instance()->configure("storage_catalog", db);
    }
    Legacy_Manager::instance()->close("storage_catalog");
    Job_Manager::configure(dir_.file("jobs"));
    Job_Manager::close_instance();
    Host_Manager::instance()->set_role(Host_Manager::ROLE_SERVER);
    Storage_Catalog_Manager* catalog = Storage_Catalog_Manager::instance();
    catalog->init("", 0, false);
    ASSERT_TRUE(catalog->open()) << log_.dump();
    ASSERT_TRUE(catalog->add_pool(Object{{"uuid", kPool}, {"name", "p"}})) << log_.dump();
    for (const char* device : {kDev1, kDev2, kDev3})
      ASSERT_TRUE(
          catalog->add_device(Object{{"uuid", device}, {"pool_uuid", kPool}, {"url", "/d"}}))
          << log_.dump();
  }

  void TearDown() override {
    if (Storage_Catalog_Manager* catalog = Storage_Catalog_Manager::instance())
      catalog->close();
    Storage_Catalog_Manager::close_instance();
    Job_Manager::close_instance();
    Job_Manager::configure("");
    Host_Manager::instance()->reset();
    Legacy_Manager::instance()->close("storage_catalog");
    if (GetParam() == Engine::SQLITE)
      database::Manager::instance()->unconfigure("storage_catalog");
    Device_Metadata::TearDown();
  }
};

TEST_P(Device_Metadata_By_Pool, DevicesWithFilesAreSortedAndUnique) {
  ASSERT_TRUE(manager_->add_file(kPool, kDev3, "a/f1", nullptr, 1));
  ASSERT_TRUE(manager_->add_file(kPool, kDev1, "a/f2", nullptr, 1));
  ASSERT_TRUE(manager_->add_file(kPool, kDev3, "b/f3", nullptr, 1));
  ASSERT_TRUE(manager_->add_file(kOtherPool, kDev2, "c/f4", nullptr, 1));
  Devices devices{kDev3};
  ASSERT_TRUE(manager_->get_devices_with_files({"a/f1", "/a/f2", "b/f3", "a", "none"}, kPool,
                                               devices, nullptr))
      << log_.dump();
  EXPECT_EQ(devices, (Devices{kDev1, kDev3}));

  devices.clear();
  EXPECT_FALSE(manager_->get_devices_with_files({"a/f1"}, "", devices, nullptr));
  EXPECT_TRUE(log_.contains(", pool is NULL or \"\":\n"));
}

TEST_P(Device_Metadata_By_Pool, CheckAsksTheCatalogForThePoolsDevices) {
  ASSERT_TRUE(manager_->add_file(kPool, kDev2, "a/f", nullptr, 1));
  Devices found;
  EXPECT_EQ(manager_->check("a/f", kPool, &found, nullptr), Device_Metadata_Manager::TYPE_FILE);
  EXPECT_EQ(found, Devices{kDev2});
  // A pool the catalog does not know has no devices.
  EXPECT_EQ(manager_->check("a/f", kOtherPool, nullptr, nullptr),
            Device_Metadata_Manager::TYPE_NONE);
}

TEST_P(Device_Metadata_By_Pool, RemoveForgetsAFileOrADirectoryRow) {
  ASSERT_TRUE(manager_->add_file(kPool, kDev1, "a/b/f", "g", 1));
  ASSERT_TRUE(manager_->add_file(kPool, kDev2, "a/x", nullptr, 1));
  EXPECT_FALSE(manager_->remove(kPool, "a/b/f", "other"));
  EXPECT_TRUE(manager_->remove(kPool, "/a/b/f", "g")) << log_.dump();
  EXPECT_EQ(file_rows().size(), 1u);
  EXPECT_FALSE(manager_->remove(kPool, "a/b/f", nullptr));

  // "a" is a directory on both devices; the rows below it stay.
  EXPECT_TRUE(manager_->remove(kPool, "a", nullptr));
  Value dirs = dir_rows();
  std::multiset<std::string> paths;
  for (const Value& d : dirs)
    paths.insert(d["path"].get<std::string>());
  EXPECT_EQ(paths, (std::multiset<std::string>{".", ".", "a/b"}));
  EXPECT_EQ(file_rows().size(), 1u);
}

TEST_P(Device_Metadata_By_Pool, RemoveFindsPathsWithRunsOfSlashes) {
  ASSERT_TRUE(manager_->add_file(kPool, kDev1, "x////y/z", nullptr, 1));
  EXPECT_TRUE(manager_->remove(kPool, "x////y/z", nullptr)) << log_.dump();
  EXPECT_TRUE(file_rows().empty());
  EXPECT_TRUE(manager_->remove(kPool, "x////y", nullptr));
  for (const Value& d : dir_rows())
    EXPECT_NE(d["path"], "x//y");
}

SCAT_INSTANTIATE_ENGINES(Device_Metadata_By_Pool);

}  // namespace
