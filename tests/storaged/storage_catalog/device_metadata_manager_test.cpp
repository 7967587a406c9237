#include "storaged/storage_catalog/device_metadata_manager.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <tuple>
#include <thread>

#include "platform/job/job_manager.h"
#include "platform/rpc/host_manager.h"
#include "platform/sql/legacy_manager.h"
#include "platform/sql/metadata.h"
#include "storaged/storage_catalog/storage_catalog_manager.h"
#include "tests/support/sql_rows.h"

using database::sql::Legacy_Manager;

namespace {

const char kPool[] = "11111111111111111111111111111111";
const char kOtherPool[] = "22222222222222222222222222222222";
const char kDev1[] = "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa";
const char kDev2[] = "bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb";
const char kDev3[] = "cccccccccccccccccccccccccccccccc";

using Devices = std::vector<std::string>;
using Rows = std::vector<std::string>;
const auto DIR = Device_Metadata_Manager::TYPE_DIR;
const auto FILE_ = Device_Metadata_Manager::TYPE_FILE;
const auto NONE = Device_Metadata_Manager::TYPE_NONE;

TEST(Device_Metadata_Path, IsTrimmedAndDoubledSlashesHalvedOnce) {
  const std::pair<const char*, const char*> cases[] = {{" /a//b/", "a/b"}, {"/", "."},
                                                       {"", "."},          {nullptr, "."},
                                                       {"a///b", "a//b"},  {"\t x/y \t", "x/y"}};
  for (const auto& c : cases) {
    std::string out = "stale";
    Device_Metadata_Manager::validate_path(c.first, out);
    EXPECT_EQ(out, c.second) << (c.first != nullptr ? c.first : "null");
  }
}

// The "device_metadata" database of each test: an SQLite file of its own,
// or a fresh MariaDB schema when a server is configured.
class Device_Metadata : public Device_Metadata_Engine_Test {
 protected:
  void SetUp() override {
    Device_Metadata_Engine_Test::SetUp();
    if (IsSkipped() || HasFatalFailure())
      return;
    manager_ = Device_Metadata_Manager::instance();
    ASSERT_NE(manager_, nullptr);
  }

  void TearDown() override {
    if (catalog_opened_) {
      Storage_Catalog_Manager::instance()->close();
      Storage_Catalog_Manager::close_instance();
      Job_Manager::close_instance();
      Job_Manager::configure("");
      Host_Manager::instance()->reset();
      Legacy_Manager::instance()->close("storage_catalog");
      if (GetParam() == Engine::SQLITE)
        database::Manager::instance()->unconfigure("storage_catalog");
    }
    Device_Metadata_Engine_Test::TearDown();
  }

  // Opens this host's catalog (beside the device metadata), knowing pool
  // kPool with devices kDev1 to kDev3.
  void open_catalog() {
    catalog_opened_ = true;
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

  // The rows in insertion order, one text each, devices and pools by their
  // first letter: "a x/y x" is directory x/y of kDev1 with parent x. The
  // columns are named c1, c2... in their order.
  Rows rows(const std::string& select) {
    Rows text;
    for (const Value& row :
         select_rows(Legacy_Manager::instance()->get_connection_r("device_metadata"), select)) {
      std::string line;
      for (const auto& column : row.items()) {
        const Value& v = column.value();
        std::string shown = v.is_null() ? "-" : v.is_string() ? v.get<std::string>() : v.dump();
        line += (line.empty() ? "" : " ") + (shown.empty() ? "''" : shown);
      }
      text.push_back(line);
    }
    return text;
  }
  Rows dir_rows() {
    return rows(
        "SELECT SUBSTR(LOWER(HEX(device_uuid)), 1, 1) c1, path c2, parent c3 FROM "
        "device_metadata_dir ORDER BY id");
  }
  Rows file_rows() {
    return rows(
        "SELECT SUBSTR(LOWER(HEX(pool_uuid)), 1, 1) c1, SUBSTR(LOWER(HEX(device_uuid)), 1, 1) c2, "
        "path c3, parent c4, size c5, `grouping` c6 FROM device_metadata_file ORDER BY id");
  }

  Device_Metadata_Manager* manager_ = nullptr;

 private:
  bool catalog_opened_ = false;
};

TEST_P(Device_Metadata, AFileIsRecordedOnceAfterItsAncestorDirectories) {
  ASSERT_TRUE(manager_->add_file(kPool, kDev1, "/x/y/z", nullptr, 10)) << log_.dump();
  // Again, elsewhere and bigger: the first record stays.
  ASSERT_TRUE(manager_->add_file(kPool, kDev2, "x/y/z/", "", 99));
  // The same name in a group is another file.
  ASSERT_TRUE(manager_->add_file(kPool, kDev1, "x/y/z", "g", 6));
  EXPECT_EQ(dir_rows(), (Rows{"a . -", "a x .", "a x/y x"}));
  EXPECT_EQ(file_rows(), (Rows{"1 a x/y/z x/y 10 ''", "1 a x/y/z x/y 6 g"}));
}

TEST_P(Device_Metadata, RunsOfSlashesAreNormalisedOnce) {
  ASSERT_TRUE(manager_->add_file(kPool, kDev1, "x////y/z", nullptr, 1)) << log_.dump();
  EXPECT_EQ(file_rows(), Rows{"1 a x//y/z x//y 1 ''"});
  EXPECT_EQ(dir_rows(), (Rows{"a . -", "a x .", "a x//y x"}));
  EXPECT_EQ(manager_->check("x////y", Devices{kDev1}, nullptr, nullptr), DIR);
  EXPECT_EQ(manager_->check("x////y/z", Devices{kDev1}, nullptr, nullptr), FILE_);
}

TEST_P(Device_Metadata, UpdateFileSetsTheSizeOnlyOnTheDeviceHoldingTheFile) {
  ASSERT_TRUE(manager_->add_file(kPool, kDev1, "a/f", nullptr, -1));
  EXPECT_TRUE(manager_->update_file(kPool, kDev1, " /a/f/", nullptr, 42)) << log_.dump();
  EXPECT_FALSE(manager_->update_file(kPool, kDev1, "a/none", nullptr, 1));
  EXPECT_TRUE(log_.has("File 'a/none' is not in pool '" + std::string(kPool) + "', device '" +
                       kDev1 + "'."));
  EXPECT_FALSE(manager_->update_file(kOtherPool, kDev1, "a/f", nullptr, 1));
  EXPECT_FALSE(manager_->update_file(kPool, kDev2, "a/f", nullptr, 1));
  EXPECT_EQ(file_rows(), Rows{"1 a a/f a 42 ''"});
  // The same size again still finds its row; the device may be upper case.
  std::string upper(kDev1);
  std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
  EXPECT_TRUE(manager_->update_file(kPool, upper.c_str(), "a/f", nullptr, 42)) << log_.dump();
}

TEST_P(Device_Metadata, APathOnTwoDevicesOfAPoolIsOnNoSingleDevice) {
  ASSERT_TRUE(manager_->add_file(kPool, kDev1, "a/f", "g1", 1));
  ASSERT_TRUE(manager_->add_file(kPool, kDev2, "a/f", "g2", 1));
  EXPECT_EQ(manager_->is_in_pool("a/f", kPool, nullptr), "");
  EXPECT_EQ(manager_->is_in_pool("a/f", kPool, "g2"), kDev2);
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
  EXPECT_EQ(manager_->get_device_used_size("zz"), -1);  // a failed query is no empty device
  long long size = 0;
  long long files = 0;
  EXPECT_TRUE(manager_->get_device_usage(kDev1, size, files));
  EXPECT_EQ(std::make_pair(size, files), std::make_pair(123LL, 2LL));
  EXPECT_FALSE(manager_->get_device_usage(kDev3, size, files));
}

TEST_P(Device_Metadata, ListsFilesOfAPoolOrDevicePageByPage) {
  for (int i = 0; i < 5; ++i)
    ASSERT_TRUE(manager_->add_file(kPool, i < 3 ? kDev1 : kDev2,
                                   ("d/f" + std::to_string(i)).c_str(), "g", i == 1 ? -1 : i));
  ASSERT_TRUE(manager_->add_file(kOtherPool, kDev3, "d/f9", nullptr, 9));
  std::vector<Device_Metadata_Manager::File_Entry> files;
  long long pool_total = 0, device_total = 0, unknown_total = 0;
  for (long long offset : {0, 2, 4})  // pages follow one another: none skipped or repeated
    ASSERT_TRUE(
        manager_->get_files_with_pool(kPool, offset, 2, files, offset ? nullptr : &pool_total));
  ASSERT_TRUE(manager_->get_files_with_device(kDev1, 0, -1, files, &device_total, false));
  ASSERT_TRUE(manager_->get_files_with_device(kDev1, 0, -1, files, &unknown_total, true));
  Rows listed;
  for (const auto& f : files)
    listed.push_back(f.pool_uuid.substr(0, 1) + " " + f.device_uuid.substr(0, 1) + " " + f.path +
                     " " + f.grouping + " " + std::to_string(f.size));
  EXPECT_EQ(listed,
            (Rows{"1 a d/f0 g 0", "1 a d/f1 g -1", "1 a d/f2 g 2", "1 b d/f3 g 3", "1 b d/f4 g 4",
                  "1 a d/f0 g 0", "1 a d/f1 g -1", "1 a d/f2 g 2", "1 a d/f1 g -1"}));
  EXPECT_EQ(std::make_tuple(pool_total, device_total, unknown_total), std::make_tuple(5, 3, 1));
}

TEST_P(Device_Metadata, CheckTellsDirectoriesFromFilesOnTheGivenDevices) {
  ASSERT_TRUE(manager_->add_file(kPool, kDev1, "d/e/f", nullptr, 1));
  ASSERT_TRUE(manager_->add_file(kOtherPool, kDev2, "d/e/f", nullptr, 1));
  ASSERT_TRUE(manager_->add_dir(kDev3, "d"));
  Devices all{kDev1, kDev2, kDev3};
  Devices found;
  EXPECT_EQ(manager_->check("/d/e/", all, &found, nullptr), DIR);
  std::sort(found.begin(), found.end());
  EXPECT_EQ(found, (Devices{kDev1, kDev2}));
  found.clear();
  EXPECT_EQ(manager_->check("d/e/f", Devices{kDev2, kDev3}, &found, nullptr), FILE_);
  EXPECT_EQ(found, Devices{kDev2});
  EXPECT_EQ(manager_->check("d/e/f", all, nullptr, "other"), NONE);
  // The root is there when a directory hangs below it.
  EXPECT_EQ(manager_->check("/", Devices{kDev3}, nullptr, nullptr), DIR);
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
  Rows dirs = dir_rows();
  std::sort(dirs.begin(), dirs.end());
  EXPECT_EQ(dirs, (Rows{"a . -", "a shared .", "a shared/d0 shared", "a shared/d1 shared",
                        "a shared/d2 shared"}));
}

TEST_P(Device_Metadata, BadArgumentsAreRefusedByNameAndStoreNothing) {
  EXPECT_FALSE(manager_->add_file(nullptr, kDev1, "f", nullptr, 1));
  EXPECT_FALSE(manager_->add_file(kPool, nullptr, "f", nullptr, 1));
  EXPECT_FALSE(manager_->add_dir(kDev1, nullptr));
  EXPECT_EQ(manager_->check(nullptr, Devices{kDev1}, nullptr, nullptr), NONE);
  EXPECT_EQ(manager_->get_device_used_size(nullptr), -1);
  EXPECT_TRUE(log_.has_prefix(LM_EMERGENCY, "Unexpected error in "));
  for (const char* name : {"pool", "device", "dir", "path", "device_uuid"})
    EXPECT_TRUE(log_.contains(std::string(", ") + name + " is NULL:\n")) << name;

  EXPECT_FALSE(
      manager_->add_file(kPool, "x'; DROP TABLE device_metadata_file; --", "f", nullptr, 1));
  EXPECT_FALSE(manager_->add_file("short", kDev1, "f", nullptr, 1));
  EXPECT_TRUE(log_.has("Failed to execute device file insert sql."));
  EXPECT_TRUE(file_rows().empty());
}

TEST_P(Device_Metadata, PoolLookupsFailWhenTheCatalogHasNoBackEnd) {
  Devices found;
  EXPECT_EQ(manager_->check("a", kPool, &found, nullptr), NONE);
  EXPECT_FALSE(manager_->remove(kPool, "a", nullptr));
  EXPECT_EQ(log_.count("Failed to query device with pool '" + std::string(kPool) + "'."), 2);
  EXPECT_TRUE(found.empty());
  Storage_Catalog_Manager::close_instance();
}

TEST_P(Device_Metadata, DevicesHoldingFilesComeFromThePoolsDevicesSortedAndUnique) {
  ASSERT_NO_FATAL_FAILURE(open_catalog());
  ASSERT_TRUE(manager_->add_file(kPool, kDev3, "a/f1", nullptr, 1));
  ASSERT_TRUE(manager_->add_file(kPool, kDev1, "a/f2", nullptr, 1));
  ASSERT_TRUE(manager_->add_file(kPool, kDev3, "b/f3", nullptr, 1));
  ASSERT_TRUE(manager_->add_file(kOtherPool, kDev2, "c/f4", nullptr, 1));
  Devices devices{kDev3};
  ASSERT_TRUE(manager_->get_devices_with_files({"a/f1", "/a/f2", "b/f3", "a", "none"}, kPool,
                                               devices, nullptr))
      << log_.dump();
  EXPECT_EQ(devices, (Devices{kDev1, kDev3}));
  Devices found;
  EXPECT_EQ(manager_->check("b/f3", kPool, &found, nullptr), FILE_);
  EXPECT_EQ(found, Devices{kDev3});
  EXPECT_EQ(manager_->check("b/f3", kOtherPool, nullptr, nullptr), NONE);
  EXPECT_FALSE(manager_->get_devices_with_files({"a/f1"}, "", devices, nullptr));
  EXPECT_TRUE(log_.contains(", pool is NULL or \"\":\n"));
}

TEST_P(Device_Metadata, RemoveForgetsAFileOrADirectoryRowButNothingBelowIt) {
  ASSERT_NO_FATAL_FAILURE(open_catalog());
  ASSERT_TRUE(manager_->add_file(kPool, kDev1, "a/b/f", "g", 1));
  ASSERT_TRUE(manager_->add_file(kPool, kDev2, "a/x", nullptr, 1));
  ASSERT_TRUE(manager_->add_file(kPool, kDev1, "x////y/z", nullptr, 1));
  EXPECT_FALSE(manager_->remove(kPool, "a/b/f", "other"));
  EXPECT_TRUE(manager_->remove(kPool, "/a/b/f", "g")) << log_.dump();
  EXPECT_FALSE(manager_->remove(kPool, "a/b/f", nullptr));
  EXPECT_TRUE(manager_->remove(kPool, "x////y/z", nullptr));
  EXPECT_EQ(file_rows(), Rows{"1 b a/x a 1 ''"});
  // "a" is a directory on both devices; the rows below it stay.
  EXPECT_TRUE(manager_->remove(kPool, "a", nullptr));
  EXPECT_TRUE(manager_->remove(kPool, "x////y", nullptr));
  EXPECT_EQ(dir_rows(), (Rows{"a . -", "a a/b a", "b . -", "a x ."}));
}

SCAT_INSTANTIATE_ENGINES(Device_Metadata);

}  // namespace
