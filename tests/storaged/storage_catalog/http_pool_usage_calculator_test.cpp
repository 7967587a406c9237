#include "storaged/storage_catalog/http_pool_usage_calculator.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform/common/mtf_params.h"
#include "platform/runtime/file_system.h"
#include "platform/runtime/host_id.h"
#include "platform/runtime/http_file_uri_map.h"
#include "storaged/storage_catalog/device_metadata_manager.h"
#include "tests/support/catalog_fixture.h"
#include "tests/support/log_capture.h"
#include "tests/support/sql_rows.h"
#include "tests/support/temp_dir.h"

namespace {

const char kHost[] = "0123456789abcdef0123456789abcdef";
const char kPool[] = "11111111111111111111111111111111";
const char kDevA[] = "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa";
const char kDevB[] = "bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb";
const char kDevC[] = "cccccccccccccccccccccccccccccccc";
const char kDevD[] = "dddddddddddddddddddddddddddddddd";

Object device(const std::string& uuid, const std::string& url, const Object& attrs) {
  return Object{{"uuid", uuid}, {"pool_uuid", kPool}, {"url", url}, {"extended_attrs", attrs}};
}

// A file pool's device whose folder on this host is `dir`.
Object file_device(const std::string& dir) {
  return device(kDevA, "file:///pool", Object{{"attached_hosts", Object{{kHost, dir}}}});
}

long long total_bytes(const std::string& dir) {
  FS_Stat stat;
  EXPECT_TRUE(get_disk_free_space(dir, stat));
  return static_cast<long long>(stat.total_units * stat.unit_size);
}

class File_Calculator : public ::testing::Test {
 protected:
  void SetUp() override {
    Host_ID::instance().set(kHost);
    pool_dir_ = dir_.file("pool");
  }
  void TearDown() override {
    HTTP_File_URI_Map::instance()->clear();
    MTF_Params::instance().set_data_dir("");
  }

  // The usage of a single-device pool in `dir`; `ok` tells calculate's
  // result.
  Object usage_of(const Object& dev, bool* ok = nullptr) {
    HTTP_Pool_Usage_Calculator calculator(Array{dev}, false);
    Object usage;
    bool done = calculator.calculate(usage);
    if (ok != nullptr)
      *ok = done;
    else
      EXPECT_TRUE(done) << log_.dump();
    return usage;
  }

  Temp_Dir dir_;
  Log_Capture log_;
  std::string pool_dir_;
};

TEST_F(File_Calculator, MissingFolderReportsZerosAndTheSpaceOfItsParent) {
  Object usage = usage_of(file_device(pool_dir_));
  EXPECT_EQ(usage.at("files"), 0);
  EXPECT_EQ(usage.at("file_size"), 0);
  EXPECT_EQ(usage.at("used_size"), 0);
  EXPECT_EQ(usage.at("size"), total_bytes(dir_.path()));
  EXPECT_GT(usage.at("free_size").get<long long>(), 0);

  HTTP_Pool_Usage_Calculator calculator(Array{file_device(pool_dir_)}, false);
  EXPECT_EQ(calculator.flags(), Pool_Usage_Calculator::COUNTS_FILES);
  Object space;
  ASSERT_TRUE(calculator.get_space(space));
  EXPECT_EQ(space.at("size"), total_bytes(dir_.path()));
  EXPECT_EQ(space.count("files"), 0u);
}

TEST_F(File_Calculator, EmptyFolderReportsZerosAndItsOwnSpace) {
  ASSERT_EQ(mkdir(pool_dir_.c_str(), 0755), 0);
  Object usage = usage_of(file_device(pool_dir_));
  EXPECT_EQ(usage.at("files"), 0);
  EXPECT_EQ(usage.at("used_size"), 0);
  EXPECT_EQ(usage.at("size"), total_bytes(pool_dir_));
  EXPECT_LE(usage.at("free_size").get<long long>(), usage.at("size").get<long long>());
}

TEST_F(File_Calculator, CountsLengthsAndTheBytesFilesOccupy) {
  ASSERT_EQ(mkdir(pool_dir_.c_str(), 0755), 0);
  ASSERT_EQ(mkdir((pool_dir_ + "/sub").c_str(), 0755), 0);
  write_file(pool_dir_ + "/sub/dense", std::string(8192, 'x'));
  // 64 MiB long, with one block written at its start.
  int fd = open((pool_dir_ + "/sparse").c_str(), O_CREAT | O_WRONLY, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, std::string(4096, 'y').data(), 4096), 4096);
  ASSERT_EQ(ftruncate(fd, 64 << 20), 0);
  fsync(fd);
  close(fd);
  // A second name of the dense file occupies nothing more.
  ASSERT_EQ(link((pool_dir_ + "/sub/dense").c_str(), (pool_dir_ + "/again").c_str()), 0);

  Object usage = usage_of(file_device(pool_dir_));
  EXPECT_EQ(usage.at("files"), 3);
  EXPECT_EQ(usage.at("file_size"), 8192 + (64 << 20) + 8192);
  long long used = usage.at("used_size");
  EXPECT_GE(used, 8192 + 4096);
  EXPECT_LT(used, 1 << 20) << "the sparse file's hole counted as used";
}

TEST_F(File_Calculator, NeverFollowsLinksOutOfThePoolOrRoundALoop) {
  ASSERT_EQ(mkdir(pool_dir_.c_str(), 0755), 0);
  ASSERT_EQ(mkdir((pool_dir_ + "/sub").c_str(), 0755), 0);
  write_file(pool_dir_ + "/sub/f", std::string(100, 'x'));
  ASSERT_EQ(symlink("..", (pool_dir_ + "/sub/loop").c_str()), 0);
  write_file(dir_.file("outside"), std::string(5000, 'x'));
  ASSERT_EQ(symlink(dir_.file("outside").c_str(), (pool_dir_ + "/out").c_str()), 0);
  ASSERT_EQ(symlink(dir_.path().c_str(), (pool_dir_ + "/up").c_str()), 0);

  Object usage = usage_of(file_device(pool_dir_));
  EXPECT_EQ(usage.at("files"), 1);
  EXPECT_EQ(usage.at("file_size"), 100);
}

TEST_F(File_Calculator, CountsWhatIsReadableAndFailsOnlyForAnUnreadablePoolFolder) {
  chmod(dir_.path().c_str(), 0755);
  ASSERT_EQ(mkdir(pool_dir_.c_str(), 0755), 0);
  write_file(pool_dir_ + "/f", std::string(10, 'x'));
  ASSERT_EQ(mkdir((pool_dir_ + "/closed").c_str(), 0755), 0);
  write_file(pool_dir_ + "/closed/g", std::string(20, 'x'));
  chmod((pool_dir_ + "/closed").c_str(), 0);
  {
    Unprivileged_Files user;
    Object usage = usage_of(file_device(pool_dir_));
    EXPECT_EQ(usage.at("files"), 1);
    EXPECT_EQ(usage.at("file_size"), 10);
    EXPECT_TRUE(log_.contains("Failed to open directory '" + pool_dir_ + "\\closed'"))
        << log_.dump();
  }
  chmod(pool_dir_.c_str(), 0);
  bool ok = true;
  {
    Unprivileged_Files user;
    usage_of(file_device(pool_dir_), &ok);
  }
  chmod(pool_dir_.c_str(), 0755);
  chmod((pool_dir_ + "/closed").c_str(), 0755);
  EXPECT_FALSE(ok);
  EXPECT_TRUE(log_.has("Failed to calculate disk usage of path '" + pool_dir_ + "'."));
}

TEST_F(File_Calculator, FindsTapeAndServedFoldersByTheUrlsLastSegment) {
  ASSERT_EQ(mkdir(pool_dir_.c_str(), 0755), 0);
  write_file(pool_dir_ + "/f", std::string(10, 'x'));
  MTF_Params::instance().set_data_dir(dir_.path());
  HTTP_File_URI_Map::instance()->add("/served", dir_.path());

  for (const char* url :
       {"mtf://host/tapes/pool", "https://host/served/pool", "realtime://host/served/x/pool"}) {
    Object dev = device(kDevA, url, Object());
    EXPECT_EQ(HTTP_Pool_Usage_Calculator::local_directory(dev), dir_.path() + "\\pool") << url;
    EXPECT_EQ(usage_of(dev).at("file_size"), 10) << url;
  }
  // Other schemes keep no data in local folders.
  EXPECT_EQ(HTTP_Pool_Usage_Calculator::local_directory(device(kDevA, "s3://bucket/pool", {})), "");
  EXPECT_TRUE(log_.has("No local folder for url 's3://bucket/pool' of device '" +
                       std::string(kDevA) + "'."))
      << log_.dump();
}

TEST_F(File_Calculator, RefusesDevicesThatNameNoFolderOfTheirOwn) {
  HTTP_File_URI_Map::instance()->add("/served", dir_.path());
  struct Case {
    Object device;
    std::string message;
  } cases[] = {
      {device(kDevA, "http://host/served/..", {}),
       "Invalid uri path '/served/..' of device '" + std::string(kDevA) + "'."},
      {device(kDevA, "http://host/served/", {}),
       "Invalid uri path '/served/' of device '" + std::string(kDevA) + "'."},
      {device(kDevA, "http://host/other/pool", {}), "Failed to find entry for /other/pool."},
      {Object{{"uuid", kDevA}, {"pool_uuid", kPool}, {"url", "file:///pool"}},
       "No 'extended_attrs' in file pool '" + std::string(kPool) + "' device '" + kDevA + "'."},
      {device(kDevA, "no url", {}), "Failed to parse url 'no url' of pool '" + std::string(kPool) +
                                        "', device '" + kDevA + "'."},
  };
  for (const Case& c : cases) {
    log_.clear();
    bool ok = true;
    usage_of(c.device, &ok);
    EXPECT_FALSE(ok) << c.message;
    EXPECT_TRUE(log_.has(c.message)) << log_.dump();
  }
  log_.clear();
  EXPECT_EQ(HTTP_Pool_Usage_Calculator::local_directory(Object{{"uuid", kDevA}, {"url", "x"}}), "");
  EXPECT_TRUE(log_.contains("Invalid device data, ")) << log_.dump();

  HTTP_Pool_Usage_Calculator none(Array{}, false);
  Object usage;
  EXPECT_FALSE(none.calculate(usage));
  EXPECT_FALSE(none.get_space(usage));
  EXPECT_TRUE(usage.empty());
}

// A pool over several devices, measured from the device metadata of each
// device, on each engine.
class Multidevice_Calculator : public Device_Metadata_Engine_Test {
 protected:
  void add_file(const char* dev, const std::string& path, long long size) {
    ASSERT_TRUE(Device_Metadata_Manager::instance()->add_file(kPool, dev, path.c_str(), "", size))
        << log_.dump();
  }
};

TEST_P(Multidevice_Calculator, ReportsEachKnownDeviceAndThePoolTotals) {
  add_file(kDevA, "x/one", 15);
  add_file(kDevA, "x/two", 25);
  add_file(kDevA, "x/unknown", -1);
  add_file(kDevA, "x/corrupt", -7);
  add_file(kDevB, "big", 500);
  add_file(kDevD, "d", 5);
  Array devices{device(kDevA, "http://h/a", Object{{"size", 100}}),
                device(kDevB, "http://h/b", Object{{"size", 300}}),
                // No files recorded: unknown to the device metadata.
                device(kDevC, "http://h/c", Object{{"size", 50}}),
                device(kDevD, "http://h/d", Object{{"size", -5}}), Value("not a device")};
  HTTP_Pool_Usage_Calculator calculator(devices, true);
  EXPECT_EQ(calculator.flags(), Pool_Usage_Calculator::MULTIDEVICE | Pool_Usage_Calculator::LIVE);

  Object usage;
  ASSERT_TRUE(calculator.calculate(usage)) << log_.dump();
  Array expected{
      Object{{"uuid", kDevA}, {"size", 100}, {"used_size", 40}, {"free_size", 60}, {"files", 2}},
      Object{{"uuid", kDevB}, {"size", 300}, {"used_size", 500}, {"free_size", 0}, {"files", 1}}};
  EXPECT_EQ(Value(usage.at("devices")), Value(expected));
  EXPECT_EQ(usage.at("size"), 400);
  EXPECT_EQ(usage.at("used_size"), 540);
  EXPECT_TRUE(log_.has("Invalid size -5 of device '" + std::string(kDevD) + "'.")) << log_.dump();
  // A negative size other than "unknown" counts as no size at all.
  EXPECT_EQ(Device_Metadata_Manager::instance()->get_device_used_size(kDevA), 40);

  Object space;
  EXPECT_TRUE(calculator.get_space(space));
  EXPECT_TRUE(space.empty());
}

SCAT_INSTANTIATE_ENGINES(Multidevice_Calculator);

}  // namespace
