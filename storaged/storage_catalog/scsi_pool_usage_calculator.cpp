#include "storaged/storage_catalog/scsi_pool_usage_calculator.h"

#include <map>

#include "platform/poolutil/lanfree_uri.h"
#include "platform/poolutil/scsi_target_manager.h"
#include "platform/rpc/host_manager.h"
#include "platform/rpc/http_options.h"
#include "platform/runtime/log.h"
#include "platform/runtime/uri.h"
#include "storaged/storage_catalog/url_scheme_family.h"

namespace {

// A non-negative byte count `key` of `object`. False, logged with `what`
// and `whose`, when it is missing or not one.
bool read_bytes(const Object& object, const char* key, const char* what, const std::string& whose,
                long long& out) {
  auto it = object.find(key);
  if (it != object.end() && it->second.is_number_integer() && it->second.get<long long>() >= 0) {
    out = it->second.get<long long>();
    return true;
  }
  LOG_ERROR("Invalid '%s' in %s of '%s'.", key, what, whose.c_str());
  return false;
}

Object device_figures(const std::string& uuid, long long size, long long used) {
  return Object{{"uuid", uuid},
                {"size", size},
                {"used_size", used},
                {"free_size", size > used ? size - used : 0}};
}

// The LUN named by a LAN-free device's URL; empty, logged, when the URL
// names none.
std::string lanfree_lun(const std::string& url, const std::string& uuid) {
  URI uri;
  std::string lun;
  if (!URI_Parser::parse(url.c_str(), uri) ||
      !parse_lanfree_uri(uri.path(true), nullptr, nullptr, &lun, nullptr)) {
    LOG_ERROR("Invalid lanfree url '%s' of device '%s'.", url.c_str(), uuid.c_str());
    return std::string();
  }
  return lun;
}

}  // namespace

SCSI_Pool_Usage_Calculator::SCSI_Pool_Usage_Calculator(const std::string& pool_uuid,
                                                       const Array& devices)
    : Pool_Usage_Calculator(devices), pool_uuid_(pool_uuid) {
  flags_ = LIVE;
}

bool SCSI_Pool_Usage_Calculator::calculate(Object& usage) {
  std::string host;
  std::uint16_t port = 0;
  bool ssl = false;
  if (!HTTP_Options::instance()->get_local_listen_address(host, port, ssl)) {
    LOG_ERROR("Failed to get scsi pool info of '%s': no local listen address.", pool_uuid_.c_str());
    return false;
  }
  SCSI_Target_Manager manager(host, port, ssl, Host_Manager::instance()->access_key(), pool_uuid_);
  manager.set_timeout(request_timeout_);
  Object info;
  long long total = 0;
  long long used = 0;
  if (!manager.get_scsi_pool_info(info) ||
      !read_bytes(info, "total_size", "scsi pool info", pool_uuid_, total) ||
      !read_bytes(info, "used_size", "scsi pool info", pool_uuid_, used))
    return false;
  usage["size"] = total;
  usage["used_size"] = used;
  if (devices_.empty())
    return true;

  Array reported;
  std::map<std::string, std::string> device_of_lun;
  for (const Value& value : devices_) {
    const Object* device = value.is_object() ? &value.get_ref<const Object&>() : nullptr;
    const std::string* url = device != nullptr ? object_get_str(*device, "url") : nullptr;
    const std::string* uuid = device != nullptr ? object_get_str(*device, "uuid") : nullptr;
    if (url == nullptr || uuid == nullptr)
      continue;
    if (!is_url_of(SCHEME_LANFREE, *url)) {
      reported.push_back(device_figures(*uuid, total, used));
      continue;
    }
    std::string lun = lanfree_lun(*url, *uuid);
    if (!lun.empty())
      device_of_lun[lun] = *uuid;
  }
  usage["devices"] = reported;
  if (device_of_lun.empty())
    return true;

  Array luns;
  if (!manager.list_scsi_pool_luns(luns)) {
    LOG_ERROR("Failed to list scsi pool luns.");
    return false;
  }
  Array& devices = usage["devices"].get_ref<Array&>();
  for (const Value& value : luns) {
    const Object* lun = value.is_object() ? &value.get_ref<const Object&>() : nullptr;
    const std::string* id = lun != nullptr ? object_get_str(*lun, "lun_id") : nullptr;
    auto device = id != nullptr ? device_of_lun.find(*id) : device_of_lun.end();
    long long max_size = 0;
    long long size = 0;
    if (device == device_of_lun.end() ||
        !read_bytes(*lun, "max_size", "scsi lun", device->second, max_size) ||
        !read_bytes(*lun, "size", "scsi lun", device->second, size))
      continue;
    devices.push_back(device_figures(device->second, max_size, size));
  }
  return true;
}
