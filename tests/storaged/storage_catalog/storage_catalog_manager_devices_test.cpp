// The device and pool operations of the front: on an agent they open, drop
// and delete local catalogs; pool queries without a pool merge all of them.
#include "storaged/storage_catalog/storage_catalog_manager.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include "tests/support/front_fixture.h"

namespace {

const std::string kPoolA = "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa";
const std::string kPoolB = "bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb";
const std::string kDevice = "dddddddddddddddddddddddddddddddd";
const std::string kOtherHost = "99999999999999999999999999999999";

bool exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

using database::sql::Select_SQL;

class Front_Devices : public Front_Test {
 protected:
  long long device_count(const std::string& pool_uuid) {
    Array rows;
    long long total = -1;
    if (!front_->query_device(Object{{"pool_uuid", pool_uuid}}, 0, -1, rows, &total))
      return -1;
    return total;
  }
};

TEST_F(Front_Devices, AddingADeviceOpensThePoolsLocalCatalog) {
  open_agent({});
  std::string dir = local_dir(kPoolA);
  ASSERT_TRUE(front_->add_device(device_record(kDevice, kPoolA, dir))) << log_.dump();
  EXPECT_TRUE(exists(dir + "/catalog.db"));
  ASSERT_NE(front_->get_impl(kPoolA), nullptr);
  EXPECT_EQ(device_count(kPoolA), 1);

  ASSERT_TRUE(front_->add_pool(pool_record(kPoolA))) << log_.dump();
  Array rows;
  EXPECT_TRUE(front_->query_pool(Object{{"uuid", kPoolA}}, 0, -1, rows, nullptr));
  EXPECT_EQ(rows.size(), 1u);
}

TEST_F(Front_Devices, AddingADeviceTakesAnExplicitPool) {
  open_agent({});
  std::string dir = local_dir(kPoolB);
  Object device = device_record(kDevice, kPoolA, dir);
  ASSERT_TRUE(front_->add_device(device, &kPoolB)) << log_.dump();
  EXPECT_NE(front_->get_impl(kPoolB), nullptr);
  EXPECT_EQ(front_->get_impl(kPoolA, false), nullptr);
}

TEST_F(Front_Devices, AddingADeviceNotAttachedHereFails) {
  open_agent({});
  Object device = device_record(kDevice, kPoolA, local_dir(kPoolA));
  device["extended_attrs"]["attached_hosts"] = Object{{kOtherHost, "/elsewhere"}};
  EXPECT_FALSE(front_->add_device(device));
  EXPECT_TRUE(log_.has_prefix(LM_ERROR, "Failed add device of pool " + kPoolA + ", "));
  EXPECT_EQ(front_->get_impl(kPoolA, false), nullptr);

  log_.clear();
  device.erase("pool_uuid");
  EXPECT_FALSE(front_->add_device(device));
  EXPECT_TRUE(log_.has_prefix(LM_ERROR, "Failed add device of pool , "));
}

TEST_F(Front_Devices, AddingADeviceInAMissingFolderFails) {
  open_agent({});
  std::string missing = dir_.file("gone");
  EXPECT_FALSE(front_->add_device(device_record(kDevice, kPoolA, missing)));
  EXPECT_TRUE(log_.has("Failed to find local pool token '" + missing + "'."));
  EXPECT_TRUE(log_.has("Failed add device of pool " + kPoolA + ", Failed to insert pool " + kPoolA +
                       " to storage catalog manager map"));
}

TEST_F(Front_Devices, UpdatingADeviceDetachedFromThisHostDropsTheCatalog) {
  std::string dir = local_dir(kPoolA);
  open_agent({{kPoolA, dir}});
  ASSERT_TRUE(front_->add_device(device_record(kDevice, kPoolA, dir)));

  Object still = device_record(kDevice, kPoolA, dir);
  still["url"] = "file:///moved";
  ASSERT_TRUE(front_->update_device(kDevice, still)) << log_.dump();
  EXPECT_NE(front_->get_impl(kPoolA), nullptr);

  Object detached = still;
  detached["extended_attrs"]["attached_hosts"] = Object{{kOtherHost, "/elsewhere"}};
  ASSERT_TRUE(front_->update_device(kDevice, detached)) << log_.dump();
  log_.clear();
  EXPECT_EQ(front_->get_impl(kPoolA), nullptr);
  EXPECT_TRUE(exists(dir + "/catalog.db"));
}

TEST_F(Front_Devices, UpdatingADeviceWithAMistypedEntryFails) {
  std::string dir = local_dir(kPoolA);
  open_agent({{kPoolA, dir}});
  ASSERT_TRUE(front_->add_device(device_record(kDevice, kPoolA, dir)));
  Object device = device_record(kDevice, kPoolA, dir);
  device["extended_attrs"]["attached_hosts"][kHostUuid] = 7;
  device["url"] = "file:///moved";
  EXPECT_FALSE(front_->update_device(kDevice, device));
  EXPECT_TRUE(log_.has_prefix(LM_ERROR, "Failed update device " + kDevice + ", ")) << log_.dump();
  EXPECT_NE(front_->get_impl(kPoolA), nullptr);
  Array rows;
  ASSERT_TRUE(front_->query_device(Object{{"pool_uuid", kPoolA}}, 0, -1, rows, nullptr));
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0]["url"], "file://" + dir);
}

TEST_F(Front_Devices, UpdatingADeviceOfAnUnknownPoolFails) {
  open_agent({});
  std::string dir = local_dir(kPoolA);
  EXPECT_FALSE(front_->update_device(kDevice, device_record(kDevice, kPoolA, dir)));
  EXPECT_TRUE(log_.has("Failed to update device " + kDevice + " of pool " + kPoolA));

  std::string missing = dir_.file("gone");
  EXPECT_FALSE(front_->update_device(kDevice, device_record(kDevice, kPoolA, missing)));
  EXPECT_TRUE(log_.has("Failed update device " + kDevice +
                       ", Failed to get storage catalog manager by local pool " + kPoolA));
}

TEST_F(Front_Devices, RemovingADeviceDeletesTheLocalPool) {
  std::string dir = local_dir(kPoolA);
  open_agent({{kPoolA, dir}});
  Object device = device_record(kDevice, kPoolA, dir);
  ASSERT_TRUE(front_->add_device(device));
  ASSERT_TRUE(front_->remove_device(kDevice, &device)) << log_.dump();
  EXPECT_FALSE(exists(dir));
  EXPECT_EQ(front_->get_impl(kPoolA, false), nullptr);
}

TEST_F(Front_Devices, RemovingADeviceKeepsAFolderThatIsNotThePools) {
  open_agent({});
  // The device names the folder that holds the pool's folder, as a wrong
  // record would.
  std::string pool_dir = local_dir(kPoolA);
  Object device = device_record(kDevice, kPoolA, dir_.path());
  ASSERT_TRUE(front_->add_device(device)) << log_.dump();
  ASSERT_TRUE(front_->remove_device(kDevice, &device)) << log_.dump();
  EXPECT_TRUE(exists(pool_dir));
  EXPECT_TRUE(exists(dir_.file("catalog.db")));
  EXPECT_TRUE(
      log_.has("Kept '" + dir_.path() + "': it is not the local folder of pool " + kPoolA + "."));
  EXPECT_EQ(front_->get_impl(kPoolA, false), nullptr);
}

TEST_F(Front_Devices, RemovingADeviceOnAnAgentNeedsItsRecord) {
  open_agent({{kPoolA, local_dir(kPoolA)}});
  EXPECT_FALSE(front_->remove_device(kDevice, nullptr));
  EXPECT_TRUE(log_.has("Failed remove device " + kDevice + ", Expect device info of local pool"));
  EXPECT_NE(front_->get_impl(kPoolA), nullptr);
}

TEST_F(Front_Devices, ServerHostKeepsDevicesInTheSharedCatalog) {
  open_server();
  std::string dir = local_dir(kPoolA);
  Object device = device_record(kDevice, kPoolA, dir);
  ASSERT_TRUE(front_->add_device(device)) << log_.dump();
  EXPECT_EQ(device_count(kPoolA), 1);
  device["extended_attrs"] = Object();
  ASSERT_TRUE(front_->update_device(kDevice, device)) << log_.dump();
  ASSERT_TRUE(front_->remove_device(kDevice, nullptr)) << log_.dump();
  EXPECT_EQ(device_count(kPoolA), 0);
  EXPECT_TRUE(exists(dir));
}

TEST_F(Front_Devices, QueriesDevicesByTheStatementsPool) {
  std::string dir = local_dir(kPoolA);
  open_agent({{kPoolA, dir}});
  ASSERT_TRUE(front_->add_device(device_record(kDevice, kPoolA, dir)));
  Select_SQL select;
  select.table("storage_catalog_device");
  select.where().and_filter()->add_key_uuid_eq_item("pool_uuid", kPoolA);
  Array rows;
  long long total = 0;
  ASSERT_TRUE(front_->query_device(select, rows, &total)) << log_.dump();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0]["uuid"], kDevice);
  EXPECT_EQ(total, 1);

  Select_SQL without;
  without.table("storage_catalog_device");
  log_.clear();
  EXPECT_FALSE(front_->query_device(without, rows, &total));
  EXPECT_TRUE(log_.lines().empty()) << log_.dump();
}

TEST_F(Front_Devices, PoolQueryWithoutPoolMergesEveryLocalCatalog) {
  open_agent({{kPoolA, local_dir(kPoolA)}, {kPoolB, local_dir(kPoolB)}});
  ASSERT_TRUE(front_->add_pool(pool_record(kPoolA)));
  ASSERT_TRUE(front_->add_pool(pool_record(kPoolB)));

  Array rows;
  long long total = 10;
  ASSERT_TRUE(front_->query_pool(Object(), 0, 1, rows, &total)) << log_.dump();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0]["uuid"], kPoolA);
  EXPECT_EQ(rows[1]["uuid"], kPoolB);
  EXPECT_EQ(total, 12);

  Select_SQL select;
  select.table("storage_catalog_storage_pool").limit(1);
  Array selected;
  long long counted = 0;
  ASSERT_TRUE(front_->query_pool(select, selected, &counted)) << log_.dump();
  EXPECT_EQ(selected.size(), 2u);
  EXPECT_EQ(counted, 2);

  Array one;
  ASSERT_TRUE(front_->query_pool(Object{{"uuid", kPoolB}}, 0, -1, one, nullptr));
  ASSERT_EQ(one.size(), 1u);
  EXPECT_EQ(one[0]["uuid"], kPoolB);
}

TEST_F(Front_Devices, PoolQueryWithoutPoolFailsOnAServerWithoutCatalog) {
  open_server();
  front_->close();
  Array rows;
  EXPECT_FALSE(front_->query_pool(Object(), 0, -1, rows, nullptr));
}

}  // namespace
