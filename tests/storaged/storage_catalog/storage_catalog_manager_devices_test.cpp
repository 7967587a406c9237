// The device and pool operations of the front: on an agent they open, drop
// and delete local catalogs; pool queries without a pool merge all of them.
#include "storaged/storage_catalog/storage_catalog_manager.h"

#include <gtest/gtest.h>

#include "tests/support/front_fixture.h"

namespace {

const std::string kDevice = "dddddddddddddddddddddddddddddddd";
const std::string kOtherHost = "99999999999999999999999999999999";

using database::sql::Select_SQL;

class Front_Devices : public Front_Test {
 protected:
  Array devices_of(const std::string& pool_uuid) {
    Array rows;
    EXPECT_TRUE(front_->query_device(Object{{"pool_uuid", pool_uuid}}, 0, -1, rows, nullptr))
        << log_.dump();
    return rows;
  }

  static Object detached(Object device) {
    device["extended_attrs"]["attached_hosts"] = Object{{kOtherHost, "/elsewhere"}};
    return device;
  }
};

TEST_F(Front_Devices, AddingADeviceOpensThePoolsLocalCatalog) {
  open_agent({});
  std::string dir = local_dir(kPoolA);
  ASSERT_TRUE(front_->add_device(device_record(kDevice, kPoolA, dir))) << log_.dump();
  EXPECT_TRUE(exists(dir + "/catalog.db"));
  EXPECT_EQ(devices_of(kPoolA).size(), 1u);
  ASSERT_TRUE(front_->add_pool(pool_record(kPoolA))) << log_.dump();

  // An explicit pool wins over the record's.
  ASSERT_TRUE(front_->add_device(device_record(uuid_of(1), kPoolC, local_dir(kPoolB)), &kPoolB))
      << log_.dump();
  EXPECT_NE(front_->get_impl(kPoolB), nullptr);
  EXPECT_EQ(front_->get_impl(kPoolC, false), nullptr);
}

TEST_F(Front_Devices, BadDeviceRecordsChangeNothing) {
  std::string dir = local_dir(kPoolA);
  open_agent({{kPoolA, dir}});
  ASSERT_TRUE(front_->add_device(device_record(kDevice, kPoolA, dir)));
  std::string missing = dir_.file("gone");
  Object mistyped = device_record(kDevice, kPoolA, dir);
  mistyped["extended_attrs"]["attached_hosts"][kHostUuid] = 7;
  mistyped["url"] = "file:///moved";
  Object no_pool = device_record(kPoolC, kPoolC, dir);
  no_pool.erase("pool_uuid");

  EXPECT_FALSE(front_->add_device(detached(device_record(kPoolC, kPoolC, dir))));
  EXPECT_TRUE(log_.has_prefix(LM_ERROR, "Failed add device of pool " + kPoolC + ", "));
  EXPECT_FALSE(front_->add_device(no_pool));
  EXPECT_TRUE(log_.has_prefix(LM_ERROR, "Failed add device of pool , "));
  EXPECT_FALSE(front_->add_device(device_record(kPoolC, kPoolC, missing)));
  EXPECT_TRUE(log_.has("Failed add device of pool " + kPoolC + ", Failed to insert pool " + kPoolC +
                       " to storage catalog manager map"));
  EXPECT_FALSE(front_->update_device(kDevice, mistyped));
  EXPECT_TRUE(log_.has_prefix(LM_ERROR, "Failed update device " + kDevice + ", "));
  EXPECT_FALSE(front_->update_device(kDevice, device_record(kDevice, kPoolA, missing)));
  EXPECT_TRUE(log_.has("Failed update device " + kDevice +
                       ", Failed to get storage catalog manager by local pool " + kPoolA));
  EXPECT_FALSE(front_->update_device(kDevice, device_record(kDevice, kPoolC, dir)));
  EXPECT_TRUE(log_.has("Failed to update device " + kDevice + " of pool " + kPoolC));
  EXPECT_FALSE(front_->remove_device(kDevice, nullptr));
  EXPECT_TRUE(log_.has("Failed remove device " + kDevice + ", Expect device info of local pool"));

  EXPECT_EQ(front_->get_impl(kPoolC, false), nullptr);
  Array rows = devices_of(kPoolA);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0]["url"], "file://" + dir);
}

TEST_F(Front_Devices, DetachingDropsTheLocalCatalogAndRemovingDeletesIt) {
  std::string dir = local_dir(kPoolA);
  open_agent({{kPoolA, dir}});
  Object device = device_record(kDevice, kPoolA, dir);
  ASSERT_TRUE(front_->add_device(device));
  device["url"] = "file:///moved";
  ASSERT_TRUE(front_->update_device(kDevice, device)) << log_.dump();
  EXPECT_NE(front_->get_impl(kPoolA), nullptr);
  ASSERT_TRUE(front_->update_device(kDevice, detached(device))) << log_.dump();
  EXPECT_EQ(front_->get_impl(kPoolA, false), nullptr);
  EXPECT_TRUE(exists(dir + "/catalog.db"));

  Object again = device_record(uuid_of(1), kPoolA, dir);
  ASSERT_TRUE(front_->add_device(again)) << log_.dump();
  ASSERT_TRUE(front_->remove_device(uuid_of(1), &again)) << log_.dump();
  EXPECT_FALSE(exists(dir));
  EXPECT_EQ(front_->get_impl(kPoolA, false), nullptr);
}

TEST_F(Front_Devices, ServerHostKeepsDevicesInTheSharedCatalog) {
  open_server();
  std::string dir = local_dir(kPoolA);
  Object device = device_record(kDevice, kPoolA, dir);
  ASSERT_TRUE(front_->add_device(device)) << log_.dump();
  EXPECT_EQ(devices_of(kPoolA).size(), 1u);
  ASSERT_TRUE(front_->update_device(kDevice, detached(device))) << log_.dump();
  ASSERT_TRUE(front_->remove_device(kDevice, nullptr)) << log_.dump();
  EXPECT_TRUE(devices_of(kPoolA).empty());
  EXPECT_TRUE(exists(dir));
}

// Both forms; the statement form takes its pool from the statement's filter.
TEST_F(Front_Devices, PoolAndDeviceQueriesWithoutPoolMergeEveryLocalCatalog) {
  open_agent({{kPoolA, local_dir(kPoolA)}, {kPoolB, local_dir(kPoolB)}});
  add_pools_and_sets();
  Array rows;
  long long total = 10;  // only added to
  ASSERT_TRUE(front_->query_pool(Object(), 0, 1, rows, &total)) << log_.dump();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0]["uuid"], kPoolA);
  EXPECT_EQ(rows[1]["uuid"], kPoolB);
  EXPECT_EQ(total, 12);
  Select_SQL pools;
  pools.table("storage_catalog_storage_pool").limit(1);
  rows.clear();
  total = 0;
  ASSERT_TRUE(front_->query_pool(pools, rows, &total)) << log_.dump();
  EXPECT_EQ(rows.size(), 2u);
  EXPECT_EQ(total, 2);

  ASSERT_TRUE(front_->add_device(device_record(kDevice, kPoolA, local_dir(kPoolA))));
  Select_SQL devices;
  devices.table("storage_catalog_device");
  Select_SQL without_pool = devices;
  devices.where().and_filter()->add_key_uuid_eq_item("pool_uuid", kPoolA);
  rows.clear();
  ASSERT_TRUE(front_->query_device(devices, rows, &total)) << log_.dump();
  EXPECT_EQ(rows.at(0)["uuid"], kDevice);
  EXPECT_EQ(total, 1);
  // Without a pool there is no catalog to ask, and nothing to say.
  log_.clear();
  EXPECT_FALSE(front_->query_device(without_pool, rows, &total));
  EXPECT_TRUE(log_.lines().empty()) << log_.dump();
}

}  // namespace
