#include "storaged/storage_catalog/pool_usage_calculator.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <new>

#include "platform/rpc/host_manager.h"
#include "platform/rpc/http_request.h"
#include "platform/rpc/json_restful_client.h"
#include "platform/runtime/file_system.h"
#include "platform/runtime/log.h"
#include "storaged/storage_catalog/dedup_pool_usage_calculator.h"
#include "storaged/storage_catalog/http_pool_usage_calculator.h"
#include "storaged/storage_catalog/pool_usage_calculator_internal.h"
#include "storaged/storage_catalog/scsi_pool_usage_calculator.h"
#include "storaged/storage_catalog/sdfs_pool_usage_calculator.h"
#include "storaged/storage_catalog/storage_catalog_manager.h"
#include "storaged/storage_catalog/url_scheme_family.h"

Pool_Usage_Calculator::Pool_Usage_Calculator(const Array& devices) : devices_(devices) {}

Pool_Usage_Calculator::~Pool_Usage_Calculator() = default;

bool Pool_Usage_Calculator::get_space(Object&) {
  return false;
}

void Pool_Usage_Calculator::set_external_id(const std::string& external_id) {
  external_id_ = external_id;
  flags_ |= EXTERNAL;
}

void Pool_Usage_Calculator::set_request_timeout(int seconds) {
  request_timeout_ = seconds > 0 ? seconds : 1;
}

std::string device_external_id(const Object& device) {
  const Object* attrs = object_get_object(device, "extended_attrs");
  const std::string* id = attrs != nullptr ? object_get_str(*attrs, "external_uuid") : nullptr;
  return id != nullptr ? *id : std::string();
}

std::string last_path_segment(const std::string& uri_path) {
  std::string::size_type cut = uri_path.rfind('/');
  std::string segment = cut == std::string::npos ? uri_path : uri_path.substr(cut + 1);
  if (segment == "." || segment == ".." || segment.find('\\') != std::string::npos)
    return std::string();
  return segment;
}

std::string url_path_escape(const std::string& segment) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : segment) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
        c == '.' || c == '_' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

bool get_from_backup_daemon(const std::string& path,
                            const std::vector<std::pair<std::string, std::string>>& query,
                            int timeout, Value& answer) {
  Storage_Catalog_Manager* front = Storage_Catalog_Manager::instance();
  if (front == nullptr)
    return false;
  Common_JSON_RESTful_Client client(front->host(), front->port(), front->ssl(),
                                    Host_Manager::instance()->on_backupd(), false);
  client.set_timeouts(std::min(3, timeout), timeout, timeout);
  HTTP_Request request(HTTP_METHOD_GET, path);
  for (const auto& parameter : query)
    request.query_string().append(parameter.first, parameter.second);
  return client.get(request, answer);
}

namespace {

long long bytes(std::uint64_t units, std::uint32_t unit_size) {
  const std::uint64_t max = static_cast<std::uint64_t>(std::numeric_limits<long long>::max());
  if (unit_size != 0 && units > max / unit_size)
    return std::numeric_limits<long long>::max();
  return static_cast<long long>(units * unit_size);
}

}  // namespace

bool write_disk_space(const std::string& dir, Object& out) {
  FS_Stat stat;
  if (!get_disk_free_space(dir, stat))
    return false;
  out["size"] = bytes(stat.total_units, stat.unit_size);
  out["free_size"] = bytes(stat.free_units, stat.unit_size);
  return true;
}

namespace {

Pool_Usage_Calculator* new_calculator(const std::string& url, const std::string& pool_uuid,
                                      const Array& devices, bool multidevice) {
  if (is_url_of(SCHEME_DEDUP, url))
    return new (std::nothrow) Dedup_Pool_Usage_Calculator(devices);
  if (is_url_of(SCHEME_BTRFS, url) || is_url_of(SCHEME_LANFREE, url))
    return new (std::nothrow) SCSI_Pool_Usage_Calculator(pool_uuid, devices);
  if (is_url_of(SCHEME_KXT, url))
    return new (std::nothrow) KXT_Pool_Usage_Calculator(devices);
  if (is_url_of(SCHEME_SDFS, url))
    return new (std::nothrow) SDFS_Pool_Usage_Calculator(devices);
  return new (std::nothrow) HTTP_Pool_Usage_Calculator(devices, multidevice);
}

}  // namespace

Pool_Usage_Calculator_Ptr make_usage_calculator(const std::string& pool_uuid, const Array& devices,
                                                const Object& master_device, bool multidevice) {
  const std::string* url = object_get_str(master_device, "url");
  if (url == nullptr) {
    LOG_ERROR("Failed to make usage calculator of pool '%s': its master device has no url.",
              pool_uuid.c_str());
    return nullptr;
  }
  Pool_Usage_Calculator_Ptr calculator;
  try {
    calculator.reset(new_calculator(*url, pool_uuid, devices, multidevice));
  } catch (const std::bad_alloc&) {
  }
  if (!calculator) {
    LOG_ERROR("Failed to make usage calculator of pool '%s': out of memory.", pool_uuid.c_str());
    return nullptr;
  }
  calculator->set_url(*url);
  std::string external_id = device_external_id(master_device);
  if (!external_id.empty())
    calculator->set_external_id(external_id);
  return calculator;
}
