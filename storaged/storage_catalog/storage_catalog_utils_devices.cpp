// Devices: lookups, the master and slave roles, and adding a device while
// keeping one master per pool.
#include "platform/runtime/log.h"
#include "platform/sql/filter_builder.h"
#include "storaged/storage_catalog/storage_catalog_utils.h"
#include "storaged/storage_catalog/storage_catalog_utils_internal.h"

using scat_utils::front;
using scat_utils::routing_key;

namespace {

// The devices matching `filter`, logged on failure.
bool query_devices(const Object& filter, Array& rows) {
  Storage_Catalog_Manager* manager = front();
  if (manager == nullptr || !manager->query_device(filter, 0, -1, rows, nullptr)) {
    LOG_ERROR("Failed to query device.");
    return false;
  }
  return true;
}

// Refuses a master device for a pool whose master is another device.
bool check_single_master(const std::string& pool_uuid, const std::string& device_uuid) {
  Object master;
  if (!Storage_Catalog_Utils::get_master_device(pool_uuid, master))
    return true;
  const std::string* master_uuid = object_get_str(master, "uuid");
  if (master_uuid != nullptr && *master_uuid == device_uuid)
    return true;
  LOG_ERROR("Failed to add master device which has existed.");
  return false;
}

}  // namespace

bool Storage_Catalog_Utils::get_device(const std::string& uuid, Object& device) {
  Object filter = database::sql::generate_eq_item("uuid", uuid);
  Array rows;
  if (filter.empty() || !query_devices(filter, rows))
    return false;
  if (rows.size() != 1 || !rows[0].is_object()) {
    LOG_ERROR("Failed to query device.");
    return false;
  }
  device = rows[0].get<Object>();
  return true;
}

bool Storage_Catalog_Utils::get_devices(const std::string& pool_uuid, Array& devices) {
  Object filter, paging;
  if (!parse_params(Object{{"pool_uuid", pool_uuid}}, filter, paging, routing_key("pool_uuid"))) {
    LOG_ERROR("Failed to parse params.");
    return false;
  }
  Array rows;
  if (!query_devices(filter, rows))
    return false;
  devices.swap(rows);
  return true;
}

std::string Storage_Catalog_Utils::get_device_role(const Object& device) {
  const Object* attrs = object_get_object(device, "extended_attrs");
  if (attrs == nullptr || attrs->count("role") == 0)
    return "master";
  const Value& role = attrs->at("role");
  if (role == "master" || role == "slave")
    return role.get<std::string>();
  LOG_ERROR("Unknown device role: %s", JSON_Dump(device).c_str());
  return std::string();
}

bool Storage_Catalog_Utils::get_master_device_with_check(const Object& conditions, Object& device) {
  Object filter, paging;
  Array rows;
  if (!parse_params(conditions, filter, paging, routing_key("pool_uuid"))) {
    LOG_ERROR("Failed to parse params.");
    return false;
  }
  if (!query_devices(filter, rows))
    return false;
  for (const Value& row : rows) {
    if (!row.is_object()) {
      LOG_ERROR("Error data type: %d", scat_utils::json_type_code(row));
      return false;
    }
    if (get_device_role(row.get_ref<const Object&>()) == "master") {
      device = row.get<Object>();
      return !device.empty();
    }
  }
  if (!rows.empty() && rows[0].is_object())
    device = rows[0].get<Object>();
  return !device.empty();
}

bool Storage_Catalog_Utils::get_master_device(const std::string& pool_uuid, Object& device) {
  return get_master_device_with_check(Object{{"pool_uuid", pool_uuid}}, device);
}

bool Storage_Catalog_Utils::add_device_with_check(const Object& device,
                                                  const std::string* pool_uuid) {
  try {
    const std::string& uuid = object_get_str_or_throw(device, "uuid");
    Object conditions{{"uuid", uuid}};
    const char* extra_key = nullptr;
    if (pool_uuid != nullptr && routing_key("pool_uuid") != nullptr) {
      conditions["pool_uuid"] = *pool_uuid;
      extra_key = "pool_uuid";
    }
    Object filter, paging;
    if (!parse_params(conditions, filter, paging, extra_key)) {
      LOG_ERROR("Failed to parse params.");
      return false;
    }
    std::string role = get_device_role(device);
    if (role.empty()) {
      LOG_ERROR("Failed to get device role.");
      return false;
    }
    // A device that does not name its pool belongs to the one given.
    const std::string* pool = object_get_str(device, "pool_uuid");
    if (pool == nullptr)
      pool = pool_uuid;
    if (role == "master" && pool != nullptr && !check_single_master(*pool, uuid))
      return false;
    Storage_Catalog_Manager* manager = front();
    Array rows;
    if (manager == nullptr || !query_devices(filter, rows))
      return false;
    if (rows.size() == 1) {
      if (!manager->update_device(uuid, device)) {
        LOG_ERROR("Failed to update device for replicate.");
        return false;
      }
      return true;
    }
    if (!manager->add_device(device, pool_uuid)) {
      LOG_ERROR("Failed to add device.");
      return false;
    }
    return true;
  } catch (const std::exception& e) {
    LOG_ERROR("Failed to add device with check: %s", e.what());
    return false;
  }
}
