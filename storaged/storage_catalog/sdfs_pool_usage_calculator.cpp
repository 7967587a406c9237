#include "storaged/storage_catalog/sdfs_pool_usage_calculator.h"

#include "platform/runtime/http_file_uri_map.h"
#include "platform/runtime/log.h"
#include "platform/runtime/uri.h"
#include "storaged/storage_catalog/pool_usage_calculator_internal.h"

namespace {

const char kStoragesPath[] = "/kx/r/v2/storages";
const char kTapePoolUsagePath[] = "/kx/r/tapemgr/pool/usage";

// The first device when it is an object with "pool_uuid" and "uuid"
// strings; null otherwise.
const Object* first_device(const Array& devices) {
  if (devices.empty() || !devices[0].is_object())
    return nullptr;
  const Object& device = devices[0].get_ref<const Object&>();
  if (object_get_str(device, "pool_uuid") == nullptr || object_get_str(device, "uuid") == nullptr)
    return nullptr;
  return &device;
}

// Copies the byte count `key` of `source` into `target`, null when absent.
// False, logged, when it is there but not a byte count.
bool copy_bytes(const Object& source, const char* key, const char* target_key, const char* what,
                Object& target) {
  auto it = source.find(key);
  if (it == source.end() || it->second.is_null()) {
    target[target_key] = Value();
    return true;
  }
  if (!it->second.is_number_integer() || it->second.get<long long>() < 0) {
    LOG_ERROR("Failed to read %s: '%s' is %s.", what, key, JSON_Dump(it->second).c_str());
    return false;
  }
  target[target_key] = it->second;
  return true;
}

}  // namespace

SDFS_Pool_Usage_Calculator::SDFS_Pool_Usage_Calculator(const Array& devices)
    : Pool_Usage_Calculator(devices) {
  flags_ = PHYSICAL_IS_USED;
}

bool SDFS_Pool_Usage_Calculator::calculate(Object& usage) {
  const Object* device = first_device(devices_);
  if (device == nullptr)
    return false;
  const std::string& uuid = *object_get_str(*device, "uuid");
  Value answer;
  if (!get_from_backup_daemon(kStoragesPath, {{"uuid", uuid}, {"scope", "all"}}, request_timeout_,
                              answer))
    return false;
  const Array* rows =
      answer.is_object() ? object_get_array(answer.get_ref<const Object&>(), "rows") : nullptr;
  if (rows == nullptr || rows->empty() || !(*rows)[0].is_object()) {
    LOG_ERROR("Failed to read sdfs storage of device '%s': no storage listed.", uuid.c_str());
    return false;
  }
  Object figures;
  if (!copy_bytes((*rows)[0].get_ref<const Object&>(), "used_bytes", "used_size",
                  "sdfs storage usage", figures))
    return false;
  usage["used_size"] = figures["used_size"];
  return true;
}

bool SDFS_Pool_Usage_Calculator::get_space(Object& out) {
  const Object* device = !devices_.empty() && devices_[0].is_object()
                             ? &devices_[0].get_ref<const Object&>()
                             : nullptr;
  const std::string* url = device != nullptr ? object_get_str(*device, "url") : nullptr;
  if (url == nullptr)
    return false;
  URI uri;
  if (!URI_Parser::parse(url->c_str(), uri)) {
    LOG_ERROR("Failed to parse url '%s'.", url->c_str());
    return false;
  }
  std::string uri_path = uri.path(true);
  std::string dir, rest;
  if (!HTTP_File_URI_Map::instance()->find(uri_path, dir, rest)) {
    LOG_ERROR("Failed to find uri entry for %s.", uri_path.c_str());
    return false;
  }
  return write_disk_space(dir, out);
}

KXT_Pool_Usage_Calculator::KXT_Pool_Usage_Calculator(const Array& devices)
    : Pool_Usage_Calculator(devices) {
  flags_ = LIVE;
}

bool KXT_Pool_Usage_Calculator::calculate(Object& usage) {
  const Object* device = first_device(devices_);
  if (device == nullptr)
    return false;
  const std::string& pool_uuid = *object_get_str(*device, "pool_uuid");
  Value answer;
  if (!get_from_backup_daemon(kTapePoolUsagePath, {{"uuid", pool_uuid}}, request_timeout_, answer))
    return false;
  if (!answer.is_object()) {
    LOG_ERROR("Failed to read tape pool usage of '%s': the answer is %s.", pool_uuid.c_str(),
              json_type_name(answer));
    return false;
  }
  Object& pool = answer.get_ref<Object&>();
  Object figures;
  if (!copy_bytes(pool, "size", "size", "tape pool usage", figures) ||
      !copy_bytes(pool, "used_size", "used_size", "tape pool usage", figures))
    return false;
  usage["size"] = figures["size"];
  usage["used_size"] = figures["used_size"];
  pool["uuid"] = *object_get_str(*device, "uuid");
  usage["devices"] = Array{answer};
  return true;
}
