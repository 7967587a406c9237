// Pools and devices through scatctl.
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

SCAT_INSTANTIATE_ENGINES(Scatctl_Pools);

}  // namespace
