// Pools and devices set up for callers: use counts, registration with
// devices and encryption settings, one master device per pool, and the
// lookups, on each engine and on an agent.
#include <gtest/gtest.h>

#include "platform/rpc/host_manager.h"
#include "storaged/storage_catalog/storage_catalog_utils.h"
#include "tests/support/front_fixture.h"

namespace {

using Utils = Storage_Catalog_Utils;

const std::string kMaster = "dddddddddddddddddddddddddddddddd";
const std::string kSlave = "eeeeeeeeeeeeeeeeeeeeeeeeeeeeeeee";
const std::string kOther = "ffffffffffffffffffffffffffffffff";

Object device(const std::string& uuid, const std::string& pool, const char* role) {
  Object d{{"uuid", uuid}, {"url", "file:///data/" + uuid.substr(0, 4)}, {"pool_uuid", pool}};
  if (role != nullptr)
    d["extended_attrs"] = Object{{"role", role}};
  return d;
}

class Utils_Pools : public Front_Server_Test {
 protected:
  void SetUp() override {
    Front_Server_Test::SetUp();
    Host_Manager::instance()->set_key("host key");
  }

  Object stored_pool(const std::string& uuid) {
    Object pool;
    EXPECT_TRUE(Utils::get_pool(uuid, pool)) << log_.dump();
    return pool;
  }

  Array stored_devices(const std::string& pool) {
    Array devices;
    EXPECT_TRUE(Utils::get_devices(pool, devices)) << log_.dump();
    return devices;
  }

  Object request_with_devices() {
    return Object{
        {"uuid", kPoolA},
        {"name", "first"},
        {"retention_days", 7},
        {"encryption", "aes256"},
        {"key", "pool key"},
        {"iv", "pool iv"},
        {"devices", Array{device(kMaster, kPoolA, "master"), device(kSlave, kPoolA, "slave")}}};
  }
};

TEST_P(Utils_Pools, AddingAStoredPoolUpdatesItAndRaisesItsUseCount) {
  ASSERT_TRUE(Utils::add_pool(pool_record(kPoolA), true)) << log_.dump();
  EXPECT_EQ(stored_pool(kPoolA)["quoted"], 0);
  Object renamed = pool_record(kPoolA);
  renamed["name"] = "renamed";
  ASSERT_TRUE(Utils::add_pool(renamed, true)) << log_.dump();
  ASSERT_TRUE(Utils::add_pool(renamed, true)) << log_.dump();
  Object pool = stored_pool(kPoolA);
  EXPECT_EQ(pool["quoted"], 2);
  EXPECT_EQ(pool["name"], "renamed");
  ASSERT_TRUE(Utils::add_pool(pool_record(kPoolA), false));
  EXPECT_EQ(stored_pool(kPoolA)["quoted"], 2);

  EXPECT_FALSE(Utils::add_pool(Object{{"name", "no uuid"}}, false));
  EXPECT_TRUE(log_.has_prefix(LM_ERROR, "Failed to add pool: "));
  EXPECT_FALSE(Utils::add_pool(pool_record("x' OR '1'='1"), false));
  EXPECT_TRUE(log_.has("Failed to query pool(uuid: x' OR '1'='1)."));
  Object pool_out{{"kept", 1}};
  EXPECT_FALSE(Utils::get_pool(kPoolB, pool_out));
  EXPECT_EQ(pool_out, (Object{{"kept", 1}}));
}

TEST_P(Utils_Pools, RegistersANewPoolWithDevicesAndEncipheredSettings) {
  ASSERT_TRUE(Utils::add_pool_with_devices(request_with_devices())) << log_.dump();
  Object pool = stored_pool(kPoolA);
  EXPECT_EQ(pool["name"], "first");
  EXPECT_EQ(pool["retention_days"], 7);
  std::string stored = pool["extended_attrs"]["encryption"];
  EXPECT_EQ(stored.find("pool key"), std::string::npos);
  Object decoded;
  ASSERT_TRUE(Utils::get_pool(kPoolA, decoded, true)) << log_.dump();
  EXPECT_EQ(decoded["encryption"],
            (Object{{"encryption", "aes256"}, {"iv", "pool iv"}, {"key", "pool key"}}));
  EXPECT_EQ(stored_devices(kPoolA).size(), 2u);

  // Again: the pool is updated, its settings and devices stay.
  Object again{{"uuid", kPoolA}, {"name", "second"}, {"encryption", "other"}, {"key", "k2"}};
  ASSERT_TRUE(Utils::add_pool_with_devices(again)) << log_.dump();
  pool = stored_pool(kPoolA);
  EXPECT_EQ(pool["name"], "second");
  EXPECT_EQ(pool["extended_attrs"]["encryption"], stored);
  EXPECT_EQ(stored_devices(kPoolA).size(), 2u);

  // Devices that name no pool are the request's pool's, not devices of none.
  Object loose = device(kPoolC, kPoolB, "slave");
  loose.erase("pool_uuid");
  ASSERT_TRUE(Utils::add_pool_with_devices(Object{{"uuid", kPoolB}, {"devices", Array{loose}}}))
      << log_.dump();
  Array devices = stored_devices(kPoolB);
  ASSERT_EQ(devices.size(), 1u);
  EXPECT_EQ(devices[0]["pool_uuid"], kPoolB);

  // A uuid carrying more of a query string names no other pool.
  Object forged{{"uuid", kPoolB + "&uuid=" + kPoolA}, {"name", "forged"}, {"update_device", true}};
  EXPECT_FALSE(Utils::add_pool_with_devices(forged));
  EXPECT_TRUE(log_.has("Failed to query pool with " + kPoolB + "&uuid=" + kPoolA));
  EXPECT_EQ(stored_pool(kPoolA)["name"], "second");
}

TEST_P(Utils_Pools, ANewPoolWithoutUsableDevicesIsNotRegistered) {
  Object request = request_with_devices();
  request.erase("devices");
  EXPECT_FALSE(Utils::add_pool_with_devices(request));
  EXPECT_TRUE(log_.has_prefix(LM_ERROR, "Failed to add pool with devices: "));
  request["devices"] = Array{device(kMaster, kPoolA, nullptr), "not a device"};
  EXPECT_FALSE(Utils::add_pool_with_devices(request));
  EXPECT_FALSE(Utils::add_pool_with_devices(Object{{"name", "no uuid"}}));
  request["devices"] = Array{device(kMaster, kPoolA, nullptr), Object{{"url", "file:///x"}}};
  EXPECT_FALSE(Utils::add_pool_with_devices(request));
  request["devices"] = Array{device(kSlave, kPoolA, "slave"), device(kMaster, kPoolA, "spare")};
  EXPECT_FALSE(Utils::add_pool_with_devices(request));
  EXPECT_TRUE(log_.has("Failed to get device role."));
  request["devices"] = Array{device(kMaster, kPoolA, nullptr), device(kOther, kPoolA, "master")};
  EXPECT_FALSE(Utils::add_pool_with_devices(request));
  EXPECT_TRUE(log_.has("Failed to add master device which has existed."));
  request["devices"] = Array{device(kMaster, kPoolA, nullptr)};
  request["update_device"] = "yes";
  EXPECT_FALSE(Utils::add_pool_with_devices(request));
  Array rows;
  ASSERT_TRUE(front_->query_pool(Object(), 0, -1, rows, nullptr));
  EXPECT_TRUE(rows.empty());
  ASSERT_TRUE(front_->query_device(Object(), 0, -1, rows, nullptr));
  EXPECT_TRUE(rows.empty());

  // Without a host key the settings cannot be stored, nor the pool.
  Host_Manager::instance()->set_key("");
  EXPECT_FALSE(Utils::add_pool_with_devices(request_with_devices()));
  EXPECT_TRUE(log_.has("Failed to get encode key."));
  EXPECT_TRUE(log_.has("Failed to encode encryption."));
  ASSERT_TRUE(front_->query_pool(Object(), 0, -1, rows, nullptr));
  EXPECT_TRUE(rows.empty());
}

TEST_P(Utils_Pools, KeepsOneMasterDevicePerPool) {
  ASSERT_TRUE(Utils::add_pool(pool_record(kPoolA), false));
  ASSERT_TRUE(Utils::add_device_with_check(device(kMaster, kPoolA, nullptr))) << log_.dump();
  EXPECT_FALSE(Utils::add_device_with_check(device(kOther, kPoolA, "master")));
  EXPECT_TRUE(log_.has("Failed to add master device which has existed."));
  // Named by the argument rather than the record, the pool is guarded too.
  Object unnamed = device(kOther, kPoolA, "master");
  unnamed.erase("pool_uuid");
  EXPECT_FALSE(Utils::add_device_with_check(unnamed, &kPoolA));

  Object moved = device(kMaster, kPoolA, "master");
  moved["url"] = "file:///moved";
  ASSERT_TRUE(Utils::add_device_with_check(moved)) << log_.dump();
  ASSERT_TRUE(Utils::add_device_with_check(device(kSlave, kPoolA, "slave"))) << log_.dump();
  Array devices = stored_devices(kPoolA);
  ASSERT_EQ(devices.size(), 2u);
  Object master;
  ASSERT_TRUE(Utils::get_master_device(kPoolA, master));
  EXPECT_EQ(master["uuid"], kMaster);
  EXPECT_EQ(master["url"], "file:///moved");

  // A pool of slaves only: the first stands in as master.
  ASSERT_TRUE(Utils::add_device_with_check(device(kSlave.substr(0, 31) + "1", kPoolB, "slave")));
  EXPECT_FALSE(Utils::add_device_with_check(device(kOther, kPoolB, "master")));
  ASSERT_TRUE(Utils::get_master_device(kPoolB, master));
  EXPECT_EQ(master["uuid"], kSlave.substr(0, 31) + "1");
  Object none;
  EXPECT_FALSE(Utils::get_master_device(kPoolC, none));
  EXPECT_TRUE(none.empty());
}

TEST_P(Utils_Pools, DeviceRolesAndLookups) {
  EXPECT_EQ(Utils::get_device_role(device(kMaster, kPoolA, nullptr)), "master");
  EXPECT_EQ(Utils::get_device_role(device(kMaster, kPoolA, "slave")), "slave");
  Object odd = device(kOther, kPoolA, "spare");
  EXPECT_EQ(Utils::get_device_role(odd), "");
  EXPECT_TRUE(log_.has("Unknown device role: " + JSON_Dump(odd)));
  EXPECT_FALSE(Utils::add_device_with_check(odd));
  EXPECT_TRUE(log_.has("Failed to get device role."));
  Object numbered = device(kOther, kPoolA, nullptr);
  numbered["extended_attrs"] = Object{{"role", 1}};
  EXPECT_FALSE(Utils::add_device_with_check(numbered));
  EXPECT_FALSE(Utils::add_device_with_check(Object{{"url", "file:///x"}}));
  EXPECT_TRUE(log_.has_prefix(LM_ERROR, "Failed to add device with check: "));

  ASSERT_TRUE(Utils::add_device_with_check(device(kMaster, kPoolA, nullptr)));
  Object found;
  ASSERT_TRUE(Utils::get_device(kMaster, found)) << log_.dump();
  EXPECT_EQ(found["pool_uuid"], kPoolA);
  log_.clear();
  EXPECT_FALSE(Utils::get_device(kOther, found));
  EXPECT_FALSE(Utils::get_device("x' OR '1'='1", found));
  EXPECT_EQ(log_.count("Failed to query device."), 2);
  Array devices{"kept"};
  EXPECT_TRUE(Utils::get_devices(kPoolB, devices));
  EXPECT_TRUE(devices.empty());
}

TEST_P(Utils_Pools, CatalogLookupsAndRepairState) {
  ASSERT_TRUE(Utils::add_pool_with_devices(request_with_devices())) << log_.dump();
  ASSERT_TRUE(front_->add_catalog(kPoolA, catalog_record(kSetA, kPoolA)));
  Object set;
  ASSERT_TRUE(Utils::get_catalog(kPoolA, kSetA, set)) << log_.dump();
  EXPECT_EQ(set["uuid"], kSetA);
  EXPECT_FALSE(Utils::get_catalog(kPoolA, kSetB, set));
  EXPECT_FALSE(Utils::get_catalog(kPoolB, kSetA, set));

  ASSERT_TRUE(Utils::update_repair_state(kPoolA, "repairing")) << log_.dump();
  Object decoded;
  ASSERT_TRUE(Utils::get_pool(kPoolA, decoded, true));
  EXPECT_EQ(decoded["extended_attrs"]["repair_state"], "repairing");
  EXPECT_EQ(decoded["encryption"]["key"], "pool key");
  EXPECT_FALSE(Utils::update_repair_state(kPoolB, "repairing"));
  EXPECT_TRUE(log_.has("Failed to update pool " + kPoolB));
}

TEST_P(Utils_Pools, SettingsOfAnotherKeyOrAlteredTextDoNotDecode) {
  Object info{{"encryption", "aes256"}, {"key", "k"}, {"iv", "i"}};
  std::string encoded;
  ASSERT_TRUE(Utils::encode_encryption(info, encoded));
  Object out;
  ASSERT_TRUE(Utils::decode_encryption(encoded, out));
  EXPECT_EQ(out, info);

  Object untouched{{"kept", 1}};
  std::string altered = encoded;
  altered[altered.size() / 2] = altered[altered.size() / 2] == 'Q' ? 'R' : 'Q';
  EXPECT_FALSE(Utils::decode_encryption(altered, untouched));
  EXPECT_FALSE(Utils::decode_encryption("plain text", untouched));
  Host_Manager::instance()->set_key("another host");
  EXPECT_FALSE(Utils::decode_encryption(encoded, untouched));
  EXPECT_EQ(untouched, (Object{{"kept", 1}}));

  // A pool whose stored settings no longer decode cannot be read decoded.
  ASSERT_TRUE(Utils::add_pool(
      Object{{"uuid", kPoolA}, {"extended_attrs", Object{{"encryption", encoded}}}}, false));
  Object pool;
  EXPECT_FALSE(Utils::get_pool(kPoolA, pool, true));
  EXPECT_TRUE(Utils::get_pool(kPoolA, pool, false));
}

SCAT_INSTANTIATE_ENGINES(Utils_Pools);

class Utils_Agent_Pools : public Front_Test {};

TEST_F(Utils_Agent_Pools, LookupsCarryTheKeyTheFrontRoutesBy) {
  std::string dir = local_dir(kPoolA);
  open_agent({{kPoolA, dir}});
  Object attached = device_record(kMaster, kPoolA, dir);
  ASSERT_TRUE(Utils::add_device_with_check(attached, &kPoolA)) << log_.dump();
  ASSERT_TRUE(Utils::add_pool(pool_record(kPoolA), true)) << log_.dump();
  ASSERT_TRUE(Utils::add_pool(pool_record(kPoolA), true)) << log_.dump();
  Object pool;
  ASSERT_TRUE(Utils::get_pool(kPoolA, pool)) << log_.dump();
  EXPECT_EQ(pool["quoted"], 1);
  Array devices;
  ASSERT_TRUE(Utils::get_devices(kPoolA, devices)) << log_.dump();
  EXPECT_EQ(devices.size(), 1u);
  Object master;
  ASSERT_TRUE(Utils::get_master_device(kPoolA, master)) << log_.dump();
  EXPECT_EQ(master["uuid"], kMaster);
  // Re-adding updates the device in the pool's own catalog.
  attached["url"] = "file:///moved";
  ASSERT_TRUE(Utils::add_device_with_check(attached, &kPoolA)) << log_.dump();
  ASSERT_TRUE(Utils::get_master_device(kPoolA, master));
  EXPECT_EQ(master["url"], "file:///moved");
}

}  // namespace
