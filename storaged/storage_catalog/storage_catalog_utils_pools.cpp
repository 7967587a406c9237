// Pools and backup sets: lookups, registration with devices and encryption
// settings, the use count and the repair state.
#include "platform/common/query_string.h"
#include "platform/runtime/log.h"
#include "storaged/storage_catalog/storage_catalog_utils.h"
#include "storaged/storage_catalog/storage_catalog_utils_internal.h"

using scat_utils::front;
using scat_utils::query_value;
using scat_utils::routing_key;

namespace {

// The pools whose uuid is `uuid`; false, with `rows` untouched, when the
// lookup fails.
bool find_pools(Storage_Catalog_Manager& manager, const std::string& uuid, Array& rows,
                bool& parsed) {
  Object filter, paging;
  parsed = Storage_Catalog_Utils::parse_params(Object{{"uuid", uuid}}, filter, paging,
                                               routing_key("uuid"));
  return parsed && manager.query_pool(filter, 0, -1, rows, nullptr);
}

long long stored_quoted(const Value& row) {
  const Value* quoted = nullptr;
  if (row.is_object()) {
    auto it = row.find("quoted");
    if (it != row.end())
      quoted = &*it;
  }
  return quoted != nullptr && quoted->is_number_integer() ? quoted->get<long long>() : 0;
}

// Devices are checked before anything is written, so that a list that
// cannot be added whole does not leave a pool registered with part of it.
// Throws for a malformed entry; null, logged, for a device without a known
// role or a second master.
const Array* checked_devices(const Object& request, bool required, bool& usable) {
  usable = true;
  const Array* devices = required ? &object_get_array_or_throw(request, "devices")
                                  : object_get_array(request, "devices");
  if (devices == nullptr)
    return nullptr;
  int masters = 0;
  for (const Value& device : *devices) {
    if (!device.is_object())
      throw JSON_Error("Array 'devices' holds " + std::string(json_type_name(device)) +
                       ", not an object");
    const Object& fields = device.get_ref<const Object&>();
    object_get_str_or_throw(fields, "uuid");
    std::string role = Storage_Catalog_Utils::get_device_role(fields);
    if (role.empty()) {
      LOG_ERROR("Failed to get device role.");
      usable = false;
      return nullptr;
    }
    if (role == "master" && ++masters > 1) {
      LOG_ERROR("Failed to add master device which has existed.");
      usable = false;
      return nullptr;
    }
  }
  return devices;
}

// Adds or updates the devices of pool `pool_uuid`. A device that names no
// pool is stored as this pool's, rather than as a device of no pool.
bool add_devices(const Array* devices, const std::string& pool_uuid) {
  if (devices == nullptr)
    return true;
  for (const Value& device : *devices) {
    Object record = device.get<Object>();
    if (record.count("pool_uuid") == 0)
      record["pool_uuid"] = pool_uuid;
    if (!Storage_Catalog_Utils::add_device_with_check(record))
      return false;
  }
  return true;
}

// Enciphers the request's encryption settings into the record.
bool store_encryption(const Object& request, Object& record) {
  const std::string* scheme = object_get_str(request, "encryption");
  if (scheme == nullptr || scheme->empty())
    return true;
  Object info;
  update_json_partial(request, info, "encryption", "key", "iv");
  std::string encoded;
  if (!Storage_Catalog_Utils::encode_encryption(info, encoded)) {
    LOG_ERROR("Failed to encode encryption.");
    return false;
  }
  Value& attrs = record["extended_attrs"];
  if (attrs.is_null())
    attrs = Object();
  if (!attrs.is_object())
    throw JSON_Error("Value of 'extended_attrs' is not an object");
  attrs["encryption"] = encoded;
  return true;
}

}  // namespace

bool Storage_Catalog_Utils::get_pool(const std::string& uuid, Object& pool, bool decode) {
  try {
    Storage_Catalog_Manager* manager = front();
    Array rows;
    bool parsed = false;
    if (manager == nullptr || !find_pools(*manager, uuid, rows, parsed) || rows.empty() ||
        !rows[0].is_object())
      return false;
    pool = rows[0].get<Object>();
    if (!decode)
      return true;
    const Object& attrs = object_get_object_or_throw(pool, "extended_attrs");
    const std::string* encoded = object_get_str(attrs, "encryption");
    if (encoded == nullptr)
      return true;
    Object info;
    if (!decode_encryption(*encoded, info))
      return false;
    pool["encryption"] = std::move(info);
    return true;
  } catch (const std::exception& e) {
    LOG_ERROR("Failed to get pool object: %s", e.what());
    return false;
  }
}

bool Storage_Catalog_Utils::get_catalog(const std::string& pool_uuid, const std::string& uuid,
                                        Object& catalog) {
  try {
    Storage_Catalog_Manager* manager = front();
    Array rows;
    if (manager == nullptr ||
        !manager->query_catalog(pool_uuid, Object{{"uuid", uuid}}, std::string(), false, 0, -1,
                                rows, nullptr, false, false))
      return false;
    if (rows.empty() || !rows[0].is_object())
      return false;
    catalog = rows[0].get<Object>();
    return true;
  } catch (const std::exception& e) {
    LOG_ERROR("Failed to get catalog object: %s", e.what());
    return false;
  }
}

bool Storage_Catalog_Utils::add_pool(const Object& pool, bool increase_quoted) {
  try {
    const std::string& uuid = object_get_str_or_throw(pool, "uuid");
    Storage_Catalog_Manager* manager = front();
    if (manager == nullptr)
      return false;
    Array rows;
    bool parsed = false;
    if (!find_pools(*manager, uuid, rows, parsed)) {
      if (!parsed)
        LOG_ERROR("Failed to parse params for adding pool(uuid: %s).", uuid.c_str());
      else
        LOG_ERROR("Failed to query pool(uuid: %s).", uuid.c_str());
      return false;
    }
    if (rows.size() == 1) {
      Object values = pool;
      if (increase_quoted)
        values["quoted"] = stored_quoted(rows[0]) + 1;
      if (!manager->update_pool(uuid, values)) {
        LOG_ERROR("Failed to update pool.");
        return false;
      }
      return true;
    }
    if (!manager->add_pool(pool)) {
      LOG_ERROR("Failed to add pool.");
      return false;
    }
    return true;
  } catch (const std::exception& e) {
    LOG_ERROR("Failed to add pool: %s", e.what());
    return false;
  }
}

bool Storage_Catalog_Utils::add_pool_with_devices(const Object& request) {
  try {
    const std::string& uuid = object_get_str_or_throw(request, "uuid");
    Object record{{"uuid", uuid}};
    update_json_partial(request, record, "name", "high_water_mark", "retention_days",
                        "extended_attrs");
    Storage_Catalog_Manager* manager = front();
    if (manager == nullptr)
      return false;
    Object filter;
    Array rows;
    if (!common::parse_query_string("uuid=" + query_value(uuid), filter) ||
        !manager->query_pool(filter, 0, -1, rows, nullptr)) {
      LOG_ERROR("Failed to query pool with %s", uuid.c_str());
      return false;
    }
    bool update_device = false;
    object_get(request, "update_device", update_device);
    bool is_new = rows.size() != 1 && !update_device;
    bool usable = true;
    const Array* devices = checked_devices(request, is_new, usable);
    if (!usable)
      return false;
    if (is_new) {
      if (!store_encryption(request, record) || !add_pool(record, false))
        return false;
      return add_devices(devices, uuid);
    }
    if (!manager->update_pool(uuid, record)) {
      LOG_ERROR("Failed to update pool %s", uuid.c_str());
      return false;
    }
    return add_devices(devices, uuid);
  } catch (const std::exception& e) {
    LOG_ERROR("Failed to add pool with devices: %s", e.what());
    return false;
  }
}

bool Storage_Catalog_Utils::update_repair_state(const std::string& pool_uuid,
                                                const std::string& state) {
  Storage_Catalog_Manager* manager = front();
  Object values{{"extended_attrs", Object{{"repair_state", state}}}};
  if (manager == nullptr || !manager->update_pool(pool_uuid, values)) {
    LOG_ERROR("Failed to update pool %s", pool_uuid.c_str());
    return false;
  }
  return true;
}
