// Device metadata by pool: the operations that first ask the catalog which
// devices a pool has.
#include <algorithm>

#include "platform/runtime/log.h"
#include "platform/sql/legacy_manager.h"
#include "storaged/storage_catalog/device_metadata_manager.h"
#include "storaged/storage_catalog/device_metadata_manager_internal.h"
#include "storaged/storage_catalog/storage_catalog_manager.h"

using database::sql::Connection_Ptr;
using database::sql::Delete_SQL;
using namespace device_metadata;

// The uuids of the pool's devices from the catalog. A device row without a
// text "uuid" fails with its reason in `json_error`, for the caller's
// message.
bool Device_Metadata_Manager::pool_devices(const char* pool, std::vector<std::string>& devices,
                                           std::string& json_error) {
  Storage_Catalog_Manager* catalog = Storage_Catalog_Manager::instance();
  Array rows;
  if (catalog == nullptr ||
      !catalog->query_device(Object{{"pool_uuid", pool}}, 0, -1, rows, nullptr)) {
    LOG_ERROR("Failed to query device with pool '%s'.", pool);
    return false;
  }
  try {
    for (const Value& row : rows) {
      if (!row.is_object())
        throw JSON_Error("device row is not an object");
      devices.push_back(object_get_str_or_throw(row.get_ref<const Object&>(), "uuid"));
    }
  } catch (const std::exception& e) {
    json_error = e.what();
    return false;
  }
  return true;
}

Device_Metadata_Manager::Type Device_Metadata_Manager::check(const char* path, const char* pool,
                                                             std::vector<std::string>* devices,
                                                             const char* grouping) {
  VRT_CHECK_NOT_NULL(path, TYPE_NONE);
  VRT_CHECK_NOT_NULL(pool, TYPE_NONE);
  std::string normalised;
  validate_path(path, normalised);
  return check_normalised(normalised, pool, devices, grouping);
}

Device_Metadata_Manager::Type Device_Metadata_Manager::check_normalised(
    const std::string& normalised, const char* pool, std::vector<std::string>* devices,
    const char* grouping) {
  std::vector<std::string> device_uuids;
  std::string json_error;
  if (!pool_devices(pool, device_uuids, json_error)) {
    if (!json_error.empty())
      LOG_ERROR("Failed to get device uuid: %s.", json_error.c_str());
    return TYPE_NONE;
  }
  return check_normalised(normalised, device_uuids, devices, grouping);
}

bool Device_Metadata_Manager::get_devices_with_files(const std::vector<std::string>& paths,
                                                     const char* pool,
                                                     std::vector<std::string>& devices,
                                                     const char* grouping) {
  VRT_CHECK_NOT_EMPTY_STR(pool, false);
  std::vector<std::string> device_uuids;
  std::string json_error;
  if (!pool_devices(pool, device_uuids, json_error)) {
    if (!json_error.empty())
      LOG_ERROR("Failed to get device info: %s", json_error.c_str());
    return false;
  }
  for (const std::string& path : paths)
    check(path.c_str(), device_uuids, &devices, grouping);
  std::sort(devices.begin(), devices.end());
  devices.erase(std::unique(devices.begin(), devices.end()), devices.end());
  return true;
}

bool Device_Metadata_Manager::remove(const char* pool, const char* path, const char* grouping) {
  VRT_CHECK_NOT_NULL(pool, false);
  VRT_CHECK_NOT_NULL(path, false);
  std::string normalised;
  validate_path(path, normalised);
  std::vector<std::string> devices;
  Type type = check_normalised(normalised, pool, &devices, grouping);
  if (type == TYPE_NONE)
    return false;
  Connection_Ptr conn = connection();
  if (!conn)
    return false;
  if (type == TYPE_DIR) {
    for (const std::string& device : devices) {
      Delete_SQL remove;
      remove.table(kDirTable);
      remove.where().and_filter()->add_sql("device_uuid=:uuid AND path=:path");
      remove.bind_uuid("uuid", device);
      remove.bind("path", normalised);
      if (!conn->execute(remove)) {
        LOG_ERROR("Failed to remove dir row.");
        return false;
      }
    }
    return true;
  }
  Delete_SQL remove;
  remove.table(kFileTable);
  database::sql::Filter_SQL* filter = remove.where().and_filter();
  VRT_CHECK_NOT_NULL(filter, false);
  filter->add_key_uuid_eq_item("pool_uuid", pool);
  filter->add_kv_item("path", Value(normalised));
  if (has_text(grouping))
    filter->add_kv_item("grouping", Value(grouping));
  if (!conn->execute(remove)) {
    LOG_ERROR("Failed to remove file row.");
    return false;
  }
  return true;
}
