// Pools and devices through scatctl.
#include <filesystem>

#include "tests/tools/scatctl_fixture.h"

namespace {

using Scatctl_Pools = Scatctl_Test;

TEST_P(Scatctl_Pools, AddListShowAndUpdatePools) {
  Value added = json({"pool", "add",
                      "{\"uuid\":\"AABBCCDD-0000-1111-2222-333344445555\","
                      "\"name\":\"disk\",\"retention_days\":7}"});
  EXPECT_EQ(added["uuid"], "aabbccdd000011112222333344445555");
  std::string other = add_pool("tape");
  EXPECT_EQ(other.size(), 32u);
  EXPECT_TRUE(fails_with(run({"pool", "add", "{\"uuid\":\"aabbccdd000011112222333344445555\"}"}), 1,
                         "already exists"));

  Value page = json({"pool", "list", "--limit", "1", "--offset", "1"});
  EXPECT_EQ(page["total"], 2);
  EXPECT_EQ(page["rows"].size(), 1u);
  EXPECT_EQ(json({"pool", "list", "--where", "{\"name\":\"tape\"}"})["rows"][0]["uuid"], other);

  Value updated = json({"pool", "update", other, "{\"retention_days\":30}"});
  EXPECT_EQ(updated["retention_days"], 30);
  Value shown = json({"pool", "show", other});
  EXPECT_EQ(shown["name"], "tape");
  EXPECT_EQ(shown["backup_sets"], 0);
  EXPECT_TRUE(fails_with(run({"pool", "update", "00000000000000000000000000000000", "{}"}), 1,
                         "no pool 00000000000000000000000000000000"));
}

TEST_P(Scatctl_Pools, AddListShowAndUpdateDevices) {
  std::string pool = add_pool("disk");
  EXPECT_TRUE(fails_with(run({"device", "add", "{\"url\":\"file:///a\"}"}), 2, "pool_uuid"));
  EXPECT_TRUE(
      fails_with(run({"device", "add", "{\"pool_uuid\":\"11111111111111111111111111111111\"}"}), 1,
                 "no pool"));
  Value device = json({"device", "add", "-"}, "{\"pool_uuid\":\"" + pool +
                                                  "\",\"url\":\"file:///srv/a\","
                                                  "\"extended_attrs\":{\"role\":\"master\"}}");
  std::string uuid = device.value("uuid", "");
  EXPECT_EQ(json({"device", "list", "--pool", pool})["rows"][0]["url"], "file:///srv/a");
  Value updated = json({"device", "update", uuid, "{\"url\":\"file:///srv/b\"}"});
  EXPECT_EQ(updated["url"], "file:///srv/b");
  EXPECT_EQ(json({"device", "show", uuid})["extended_attrs"]["role"], "master");
  EXPECT_EQ(json({"pool", "show", pool})["devices"].size(), 1u);
}

TEST_P(Scatctl_Pools, UsageIsMeasuredFromThePoolsStorage) {
  scatctl_.set_env("STORAGED_HOST_UUID", kScatctlHost);
  std::string pool = json({"pool", "add", "{\"name\":\"disk\",\"state\":\"normal\"}"})["uuid"];
  std::filesystem::create_directories(dir_.file("pool"));
  write_file(dir_.file("pool/full.dat"), std::string(8192, 'x'));
  json({"device", "add", file_device(pool, dir_.file("pool"))});
  json({"set", "add", pool, "{\"size\":8192,\"state\":\"online\",\"files\":[\"full.dat\"]}"});

  EXPECT_EQ(json({"pool", "usage", pool})["physical_size"], 0);
  Value measured = json({"pool", "resync", pool});
  EXPECT_GE(measured["physical_size"].get<long long>(), 8192) << measured;
  EXPECT_EQ(measured["catalog_size"], 8192);
  EXPECT_EQ(json({"pool", "usage", pool})["physical_size"], measured["physical_size"]);
  EXPECT_TRUE(
      fails_with(run({"pool", "resync", "44444444444444444444444444444444"}), 1, "no pool"));
}

SCAT_INSTANTIATE_ENGINES(Scatctl_Pools);

}  // namespace
