// The calculator factory and the calculators that ask a service, against a
// test daemon on 127.0.0.1 standing in for the backup daemon and for this
// host's own HTTP service.
#include <gtest/gtest.h>

#include <string>

#include "platform/rpc/host_manager.h"
#include "platform/rpc/http_options.h"
#include "platform/runtime/http_file_uri_map.h"
#include "storaged/storage_catalog/dedup_pool_usage_calculator.h"
#include "storaged/storage_catalog/http_pool_usage_calculator.h"
#include "storaged/storage_catalog/scsi_pool_usage_calculator.h"
#include "storaged/storage_catalog/sdfs_pool_usage_calculator.h"
#include "storaged/storage_catalog/storage_catalog_manager.h"
#include "tests/support/log_capture.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_daemon.h"

namespace {

const char kAccessKey[] = "test-access-key";
const std::string kPool = "11111111111111111111111111111111";
const std::string kDevA = "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa";
const std::string kDevB = "bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb";
const std::string kDevC = "cccccccccccccccccccccccccccccccc";

Object device(const std::string& uuid, const std::string& url, const Object& attrs = Object()) {
  Object row{{"uuid", uuid}, {"pool_uuid", kPool}, {"url", url}};
  if (!attrs.empty())
    row["extended_attrs"] = attrs;
  return row;
}

class Remote_Calculator : public ::testing::Test {
 protected:
  void SetUp() override {
    Host_Manager::instance()->reset();
    Host_Manager::instance()->set_role(Host_Manager::ROLE_SERVER);
    Host_Manager::instance()->set_access_key(kAccessKey);
    HTTP_Options::instance()->set_local_listen_address(daemon_.host(), daemon_.port(), false);
    Storage_Catalog_Manager::instance()->init(daemon_.host(), daemon_.port(), false);
  }
  void TearDown() override {
    Storage_Catalog_Manager::close_instance();
    Host_Manager::instance()->reset();
    HTTP_Options::instance()->reset();
    HTTP_File_URI_Map::instance()->clear();
  }

  // Runs `calculator`; `usage` gets what it wrote.
  bool run(Pool_Usage_Calculator& calculator, Object& usage) {
    usage.clear();
    return calculator.calculate(usage);
  }

  Temp_Dir dir_;
  Log_Capture log_;
  Test_Daemon daemon_;
};

// --- Factory

TEST_F(Remote_Calculator, FactoryPicksTheCalculatorOfTheMasterUrlsScheme) {
  struct Case {
    const char* url;
    bool multidevice;
    std::uint32_t flags;
  } cases[] = {
      {"dedup://h/p", false, 0x12},  {"wss://h/p", false, 0x12},    {"btrfs://h/p", false, 0x2},
      {"vmcopys://h/p", false, 0x2}, {"lanfree://h/p", false, 0x2}, {"kxt://h/p", false, 0x2},
      {"sdfs://h/p", false, 0x10},   {"s3://bucket/p", false, 0x8}, {"mtf://h/p", false, 0x8},
      {"http://h/p", true, 0x3},     {"unknown://h/p", false, 0x8},
  };
  for (const Case& c : cases) {
    Object master = device(kDevA, c.url);
    Pool_Usage_Calculator_Ptr calculator =
        make_usage_calculator(kPool, Array{master}, master, c.multidevice);
    ASSERT_TRUE(calculator) << c.url;
    EXPECT_EQ(calculator->flags(), c.flags) << c.url;
    EXPECT_EQ(calculator->url(), c.url);
    EXPECT_EQ(calculator->devices().size(), 1u);
  }
  Object master = device(kDevA, "lanfree://h/p");
  auto scsi = make_usage_calculator(kPool, Array{master}, master, false);
  ASSERT_NE(dynamic_cast<SCSI_Pool_Usage_Calculator*>(scsi.get()), nullptr);
  EXPECT_EQ(static_cast<SCSI_Pool_Usage_Calculator&>(*scsi).pool_uuid(), kPool);
  master = device(kDevA, "sdfs://h/p");
  EXPECT_NE(dynamic_cast<SDFS_Pool_Usage_Calculator*>(
                make_usage_calculator(kPool, Array{master}, master, false).get()),
            nullptr);
  master = device(kDevA, "kxt://h/p");
  EXPECT_NE(dynamic_cast<KXT_Pool_Usage_Calculator*>(
                make_usage_calculator(kPool, Array{master}, master, false).get()),
            nullptr);
}

TEST_F(Remote_Calculator, FactoryMarksExternalStorageAndRefusesAMasterWithoutUrl) {
  Object master = device(kDevA, "dedup://h/p", Object{{"external_uuid", "ext-1"}});
  auto calculator = make_usage_calculator(kPool, Array{master}, master, false);
  ASSERT_TRUE(calculator);
  EXPECT_EQ(calculator->external_id(), "ext-1");
  EXPECT_EQ(calculator->flags(), 0x12u | Pool_Usage_Calculator::EXTERNAL);

  Object no_url{{"uuid", kDevA}, {"url", 7}};
  EXPECT_FALSE(make_usage_calculator(kPool, Array{no_url}, no_url, false));
  EXPECT_TRUE(log_.contains("Failed to make usage calculator of pool")) << log_.dump();
}

TEST_F(Remote_Calculator, ObjectStorageCalculatorMeasuresNothing) {
  S3_Pool_Usage_Calculator calculator(Array{device(kDevA, "s3://b/p")});
  Object usage;
  EXPECT_FALSE(calculator.calculate(usage));
  EXPECT_FALSE(calculator.get_space(usage));
  EXPECT_EQ(calculator.flags(), 0u);
}

// --- Dedup

// The pool folder "pool 1" goes escaped on the wire; the daemon sees it decoded.
const char kGstat[] = "/kx/r/dedup/gstat/pool 1";

TEST_F(Remote_Calculator, DedupReportsEachDeviceWithItsNodesFigures) {
  daemon_.reply("GET", kGstat, 200, R"({"primary_storage_size": 7,
    "nodes": [{"id": 1, "data_size": 1000, "storage_size": 250, "total_size": 5000,
               "free_size": 4000, "db_size": 10, "capacity": 9000, "state": "ok"},
              {"id": 2, "data_size": 100, "storage_size": 300},
              {"id": 3, "data_size": 0, "storage_size": 0},
              {"id": 2, "total_size": 800}]})");
  Dedup_Pool_Usage_Calculator calculator(
      Array{device(kDevA, "dedup://h/dedup/pool 1"), device(kDevB, "x", {{"node_id", 2}}),
            device(kDevC, "x", {{"node_id", 9}}), Value(3), Object{{"url", "x"}}});
  Object usage;
  ASSERT_TRUE(run(calculator, usage)) << log_.dump();

  Array expected{Object{{"data_size", 1000},
                        {"db_size", 10},
                        {"size", 5000},
                        {"free_size", 4000},
                        {"used_size", 250},
                        {"capacity", 9000},
                        {"uuid", kDevA},
                        {"dedup_rate", 7500}},
                 Object{{"data_size", 100},
                        {"db_size", 0},
                        {"size", 800},
                        {"free_size", 0},
                        {"used_size", 300},
                        {"capacity", 0},
                        {"uuid", kDevB},
                        {"dedup_rate", 0}}};
  EXPECT_EQ(Value(usage.at("devices")), Value(expected));
  EXPECT_EQ(usage.at("primary_size"), 7);
  EXPECT_EQ(usage.at("size"), 550);
  EXPECT_EQ(usage.at("data_size"), 1100);
  EXPECT_EQ(usage.at("dedup_rate"), 5000);

  auto requests = daemon_.requests_to(kGstat);
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].headers["X-Access-Key"], kAccessKey);
}

TEST_F(Remote_Calculator, DedupWithoutNodeIdsOrPrimarySizeUsesNodeOneAndNull) {
  daemon_.reply("GET", kGstat, 200,
                R"({"nodes": [{"id": 1, "data_size": 0, "storage_size": 40}]})");
  Dedup_Pool_Usage_Calculator calculator(
      Array{device(kDevA, "dedups://h/d/pool 1"), device(kDevB, "x", {{"role", "slave"}})});
  Object usage;
  ASSERT_TRUE(run(calculator, usage)) << log_.dump();
  ASSERT_EQ(usage.at("devices").size(), 2u);
  EXPECT_EQ(usage.at("devices")[1]["uuid"], kDevB);
  EXPECT_EQ(usage.at("devices")[1]["dedup_rate"], 0);
  EXPECT_TRUE(usage.at("primary_size").is_null());
  // Two devices on one node: each is counted.
  EXPECT_EQ(usage.at("size"), 80);
  EXPECT_EQ(usage.at("dedup_rate"), 0);
}

TEST_F(Remote_Calculator, DedupRateIsExactForPetabytes) {
  EXPECT_EQ(Dedup_Pool_Usage_Calculator::dedup_rate(0, 0), 0);
  EXPECT_EQ(Dedup_Pool_Usage_Calculator::dedup_rate(100, 300), 0);
  EXPECT_EQ(Dedup_Pool_Usage_Calculator::dedup_rate(400, 300), 2500);
  const std::uint64_t petabytes = 4000000000000000000ull;
  EXPECT_EQ(Dedup_Pool_Usage_Calculator::dedup_rate(petabytes, 0), 10000);
  EXPECT_EQ(Dedup_Pool_Usage_Calculator::dedup_rate(petabytes, petabytes / 4), 7500);
}

TEST_F(Remote_Calculator, DedupFailsLoggedForAnEngineDownSlowOrTalkingNonsense) {
  Dedup_Pool_Usage_Calculator calculator(Array{device(kDevA, "dedup://h/dedup/pool 1")});
  calculator.set_request_timeout(1);
  Object usage;
  const char* nonsense[] = {"[1, 2]",
                            R"({"primary_storage_size": 1})",
                            R"({"nodes": [{"id": 1, "data_size": "big"}]})",
                            R"({"nodes": [{"id": -1}]})",
                            R"({"nodes": [7]})",
                            R"({"nodes": []})"};
  for (const char* answer : nonsense) {
    daemon_.reply("GET", kGstat, 200, answer);
    log_.clear();
    EXPECT_FALSE(run(calculator, usage)) << answer;
    EXPECT_TRUE(log_.contains("Failed to read dedup pool status of 'pool 1'")) << log_.dump();
    EXPECT_EQ(Value(usage.at("devices")), Value(Array())) << answer;
  }
  daemon_.reply("GET", kGstat, 404, "");
  EXPECT_FALSE(run(calculator, usage));
  EXPECT_TRUE(log_.has("Failed to query dedup pool status of 'pool 1'")) << log_.dump();

  daemon_.hang("GET", kGstat);
  log_.clear();
  EXPECT_FALSE(run(calculator, usage));
  EXPECT_TRUE(log_.has("Failed to query dedup pool status of 'pool 1'")) << log_.dump();

  HTTP_Options::instance()->set_local_listen_address("127.0.0.1", 1, false);
  EXPECT_FALSE(run(calculator, usage));

  // Nor is the engine asked about a pool that is no dedup pool, or about a
  // folder outside its own.
  std::size_t asked = daemon_.requests().size();
  Dedup_Pool_Usage_Calculator other(Array{device(kDevA, "http://h/dedup/pool")});
  EXPECT_FALSE(run(other, usage));
  Dedup_Pool_Usage_Calculator escaping(Array{device(kDevA, "dedup://h/dedup/..")});
  EXPECT_FALSE(run(escaping, usage));
  EXPECT_TRUE(log_.has("Invalid dedup pool url 'dedup://h/dedup/..'.")) << log_.dump();
  EXPECT_EQ(daemon_.requests().size(), asked);
}

// --- Tape manager

TEST_F(Remote_Calculator, TapeManagerReportsTheDaemonsAnswerAsTheFirstDevice) {
  daemon_.reply("GET", "/kx/r/tapemgr/pool/usage", 200,
                R"({"size": 1000, "used_size": 300, "tapes": 4})");
  KXT_Pool_Usage_Calculator calculator(Array{device(kDevA, "kxt://h/p"), device(kDevB, "x")});
  Object usage;
  ASSERT_TRUE(run(calculator, usage)) << log_.dump();
  EXPECT_EQ(usage.at("size"), 1000);
  EXPECT_EQ(usage.at("used_size"), 300);
  Array expected{Object{{"size", 1000}, {"used_size", 300}, {"tapes", 4}, {"uuid", kDevA}}};
  EXPECT_EQ(Value(usage.at("devices")), Value(expected));
  auto requests = daemon_.requests_to("/kx/r/tapemgr/pool/usage");
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].query, "uuid=" + kPool);

  daemon_.reply("GET", "/kx/r/tapemgr/pool/usage", 200, R"({"tapes": 4})");
  ASSERT_TRUE(run(calculator, usage));
  EXPECT_TRUE(usage.at("size").is_null());
  EXPECT_TRUE(usage.at("used_size").is_null());
}

TEST_F(Remote_Calculator, TapeManagerFailsForBadDevicesAndNonsense) {
  Object usage;
  KXT_Pool_Usage_Calculator no_pool(Array{Object{{"uuid", kDevA}}});
  EXPECT_FALSE(run(no_pool, usage));
  KXT_Pool_Usage_Calculator calculator(Array{device(kDevA, "kxt://h/p")});
  for (const char* answer : {"[]", R"({"size": "lots"})", R"({"size": -4})"}) {
    daemon_.reply("GET", "/kx/r/tapemgr/pool/usage", 200, answer);
    log_.clear();
    EXPECT_FALSE(run(calculator, usage)) << answer;
    EXPECT_TRUE(log_.contains("Failed to read tape pool usage")) << log_.dump();
  }
  daemon_.hang("GET", "/kx/r/tapemgr/pool/usage");
  calculator.set_request_timeout(1);
  EXPECT_FALSE(run(calculator, usage));
  Storage_Catalog_Manager::instance()->init("127.0.0.1", 1, false);
  EXPECT_FALSE(run(calculator, usage));
}

// --- SCSI (btrfs/vmcopy and LAN-free)

class SCSI_Calculator : public Remote_Calculator {
 protected:
  void SetUp() override {
    Remote_Calculator::SetUp();
    daemon_.reply("GET", "/kx/r/scsi/pools/" + kPool, 200,
                  R"({"total_size": 1000, "used_size": 400})");
    daemon_.reply("GET", "/kx/r/scsi/pools/" + kPool + "/luns", 200,
                  R"([{"lun_id": "3", "max_size": 200, "size": 250},
                      {"lun_id": "4", "max_size": 100, "size": 10}, "junk", {"lun_id": 3}])");
  }
};

TEST_F(SCSI_Calculator, BtrfsDevicesGetThePoolsFigures) {
  SCSI_Pool_Usage_Calculator calculator(
      kPool, Array{device(kDevA, "btrfs://h/p"), device(kDevB, "vmcopy://h/q"), Value(1)});
  Object usage;
  ASSERT_TRUE(run(calculator, usage)) << log_.dump();
  EXPECT_EQ(usage.at("size"), 1000);
  EXPECT_EQ(usage.at("used_size"), 400);
  Array expected{Object{{"uuid", kDevA}, {"size", 1000}, {"used_size", 400}, {"free_size", 600}},
                 Object{{"uuid", kDevB}, {"size", 1000}, {"used_size", 400}, {"free_size", 600}}};
  EXPECT_EQ(Value(usage.at("devices")), Value(expected));
  EXPECT_TRUE(daemon_.requests_to("/kx/r/scsi/pools/" + kPool + "/luns").empty());
  EXPECT_EQ(daemon_.requests_to("/kx/r/scsi/pools/" + kPool)[0].headers["X-Access-Key"],
            kAccessKey);

  SCSI_Pool_Usage_Calculator no_devices(kPool, Array());
  ASSERT_TRUE(run(no_devices, usage));
  EXPECT_EQ(usage.count("devices"), 0u);
}

TEST_F(SCSI_Calculator, LanFreeDevicesGetTheFiguresOfTheirLun) {
  SCSI_Pool_Usage_Calculator calculator(
      kPool, Array{device(kDevA, "lanfree://h/target/init/3"), device(kDevB, "btrfs://h/p"),
                   device(kDevC, "lanfrees://h/target/init/5/vol"),
                   device("dddddddddddddddddddddddddddddddd", "lanfree://h/no-lun")});
  Object usage;
  ASSERT_TRUE(run(calculator, usage)) << log_.dump();
  // LUN 5 is not listed: its device is left out.
  Array expected{Object{{"uuid", kDevB}, {"size", 1000}, {"used_size", 400}, {"free_size", 600}},
                 Object{{"uuid", kDevA}, {"size", 200}, {"used_size", 250}, {"free_size", 0}}};
  EXPECT_EQ(Value(usage.at("devices")), Value(expected));
  EXPECT_TRUE(
      log_.has("Invalid lanfree url 'lanfree://h/no-lun' of device "
               "'dddddddddddddddddddddddddddddddd'."))
      << log_.dump();
}

TEST_F(SCSI_Calculator, FailsWhenTheServiceCannotTellTheFigures) {
  SCSI_Pool_Usage_Calculator calculator(kPool, Array{device(kDevA, "lanfree://h/t/i/3")});
  Object usage;
  daemon_.reply("GET", "/kx/r/scsi/pools/" + kPool + "/luns", 500, "");
  EXPECT_FALSE(run(calculator, usage));
  EXPECT_TRUE(log_.has("Failed to list scsi pool luns.")) << log_.dump();

  for (const char* info :
       {R"({"total_size": 1000})", R"({"total_size": -1, "used_size": 0})", "[]"}) {
    daemon_.reply("GET", "/kx/r/scsi/pools/" + kPool, 200, info);
    EXPECT_FALSE(run(calculator, usage)) << info;
    EXPECT_EQ(usage.count("size"), 0u) << info;
  }
  HTTP_Options::instance()->set_local_listen_address("127.0.0.1", 1, false);
  EXPECT_FALSE(run(calculator, usage));
}

// --- Sdfs

TEST_F(Remote_Calculator, SdfsReportsTheFirstStoragesUsedBytes) {
  SDFS_Pool_Usage_Calculator calculator(Array{device(kDevA, "sdfs://h/sdfs/p")});
  Object usage;
  // The daemon lists no storage by default.
  EXPECT_FALSE(run(calculator, usage));
  EXPECT_TRUE(log_.contains("no storage listed")) << log_.dump();

  daemon_.reply("GET", "/kx/r/v2/storages", 200, R"({"rows": [{"used_bytes": 123}, {}]})");
  ASSERT_TRUE(run(calculator, usage)) << log_.dump();
  EXPECT_EQ(usage, (Object{{"used_size", 123}}));
  auto requests = daemon_.requests_to("/kx/r/v2/storages");
  ASSERT_FALSE(requests.empty());
  EXPECT_EQ(requests.back().query, "uuid=" + kDevA + "&scope=all");

  daemon_.reply("GET", "/kx/r/v2/storages", 200, R"({"rows": [{"name": "s"}]})");
  ASSERT_TRUE(run(calculator, usage));
  EXPECT_TRUE(usage.at("used_size").is_null());

  for (const char* answer :
       {R"({"rows": ["x"]})", R"({"rows": {}})", "[]", R"({"rows": [{"used_bytes": "1"}]})"}) {
    daemon_.reply("GET", "/kx/r/v2/storages", 200, answer);
    EXPECT_FALSE(run(calculator, usage)) << answer;
  }
  SDFS_Pool_Usage_Calculator no_uuid(Array{Object{{"pool_uuid", kPool}}});
  EXPECT_FALSE(run(no_uuid, usage));
}

TEST_F(Remote_Calculator, SdfsSpaceIsTheDiskOfTheServedFolder) {
  HTTP_File_URI_Map::instance()->add("/sdfs", dir_.path());
  SDFS_Pool_Usage_Calculator calculator(Array{device(kDevA, "sdfs://h/sdfs/p")});
  Object space;
  ASSERT_TRUE(calculator.get_space(space)) << log_.dump();
  EXPECT_GT(space.at("size").get<long long>(), 0);
  EXPECT_LE(space.at("free_size").get<long long>(), space.at("size").get<long long>());

  SDFS_Pool_Usage_Calculator unserved(Array{device(kDevA, "sdfs://h/other/p")});
  EXPECT_FALSE(unserved.get_space(space));
  EXPECT_TRUE(log_.has("Failed to find uri entry for /other/p.")) << log_.dump();
  SDFS_Pool_Usage_Calculator bad(Array{device(kDevA, "not a url")});
  EXPECT_FALSE(bad.get_space(space));
  EXPECT_TRUE(log_.has("Failed to parse url 'not a url'.")) << log_.dump();
}

}  // namespace
