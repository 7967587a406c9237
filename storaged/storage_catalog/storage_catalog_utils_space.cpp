// Space information of pools and devices: free and total space of the local
// folder that holds the data, the dedup service's figures for dedup
// storage, and the catalog's sizes; which devices hold given backup sets,
// and which devices belong to this server's own pools.
#include <set>

#include "platform/common/mtf_params.h"
#include "platform/poolutil/storaged_space.h"
#include "platform/rpc/http_request.h"
#include "platform/rpc/http_session.h"
#include "platform/runtime/file_system.h"
#include "platform/runtime/http_file_uri_map.h"
#include "platform/runtime/log.h"
#include "storaged/storage_catalog/catalog_settings.h"
#include "storaged/storage_catalog/device_metadata_manager.h"
#include "storaged/storage_catalog/pool_url_info.h"
#include "storaged/storage_catalog/storage_catalog_utils.h"
#include "storaged/storage_catalog/storage_catalog_utils_internal.h"
#include "storaged/storage_catalog/url_scheme_family.h"

using scat_utils::front;

namespace {

const long long kFilePage = 10000;

// The folder the host's HTTP service serves "/kx/data" from.
bool kx_data_dir(std::string& dir) {
  std::string rest;
  if (!HTTP_File_URI_Map::instance()->find("/kx/data", dir, rest)) {
    VRT_LOG_UNEXPECTED("entry", VRT_IS_NULL);
    return false;
  }
  return true;
}

// The pool's data folder into `dir` (left empty when the pool has none on
// this host). False, logged, when the host serves no "/kx/data".
bool pool_data_dir(const Pool_URL_Info& url_info, std::string& dir) {
  const std::string& scheme = url_info.uri().scheme();
  if (!url_info.path().empty() && is_directory(url_info.path()))
    dir = url_info.path();
  else if (is_scheme_of(SCHEME_DEDUP, scheme))
    get_dedup_datadir(dir);
  else if (is_scheme_of(SCHEME_MTF, scheme))
    dir = MTF_Params::instance().data_dir();
  else if (url_info.external_uuid().empty())
    return kx_data_dir(dir);
  return true;
}

// "size" and "free_size" of the file system holding `dir`.
bool read_disk_space(const std::string& dir, Object& info) {
  FS_Stat stat;
  if (!get_disk_free_space(dir, stat)) {
    LOG_ERROR("Failed to get disk free space of dir(%s).", dir.c_str());
    return false;
  }
  info["size"] = static_cast<long long>(stat.unit_size * stat.total_units);
  info["free_size"] = static_cast<long long>(stat.unit_size * stat.free_units);
  return true;
}

bool is_multidevice(const Object& pool) {
  const Object* attrs = object_get_object(pool, "extended_attrs");
  bool multidevice = false;
  if (attrs != nullptr)
    object_get(*attrs, "multidevice", multidevice);
  return multidevice;
}

bool single_device_space(const Object& pool, const Pool_URL_Info& url_info, bool dedup,
                         const std::string& access_key, Object& info) {
  std::string dir;
  if (!pool_data_dir(url_info, dir) || (!dir.empty() && !read_disk_space(dir, info)))
    return false;
  long long used = 0;
  if (dedup) {
    long long data = 0;
    if (!Storage_Catalog_Utils::get_dedup_summary(pool, access_key, &data, nullptr, &used))
      return false;
    Value& attrs = info["extended_attrs"];
    if (!attrs.is_object())
      attrs = Object();
    attrs["dedup_rate"] = scat_utils::dedup_rate(data, used);
    attrs["data_size"] = data;
    attrs["used_size"] = used;
    // Null when the pool has no folder here: the figures are unknown.
    attrs["disk_size"] = info["size"];
    attrs["disk_free_size"] = info["free_size"];
  } else {
    Storage_Catalog_Manager* manager = front();
    if (manager == nullptr || !manager->get_pool_size(url_info.pool_uuid(), used, true))
      return false;
  }
  info["used_size"] = used;
  return true;
}

// Devices of a dedup pool spread over several dedup services. A device
// that names no dedup service is left out.
bool dedup_devices_space(const std::string& pool_uuid, const std::string& access_key,
                         Object& info) {
  Array devices;
  if (!Storage_Catalog_Utils::get_devices(pool_uuid, devices))
    return false;
  Array& entries = (info["devices"] = Array()).get_ref<Array&>();
  long long data_sum = 0, stored_sum = 0;
  for (const Value& device : devices) {
    const Object& fields = device.get_ref<const Object&>();
    const std::string& uuid = object_get_str_or_throw(fields, "uuid");
    URI uri;
    if (!scat_utils::parse_dedup_url(fields, uri)) {
      LOG_WARNING("Skipped device '%s' of dedup pool '%s': its url is not a dedup url.",
                  uuid.c_str(), pool_uuid.c_str());
      continue;
    }
    long long data = 0, stored = 0;
    if (!scat_utils::query_dedup_stat(uri.host(false), uri.port(), uri.is_ssl(), access_key,
                                      pool_uuid, &data, &stored))
      return false;
    entries.push_back(Object{{"uuid", uuid},
                             {"size", data},
                             {"used_size", stored},
                             {"data_size", data},
                             {"dedup_rate", scat_utils::dedup_rate(data, stored)}});
    data_sum += data;
    stored_sum += stored;
  }
  info["size"] = data_sum;
  info["data_size"] = data_sum;
  info["used_size"] = stored_sum;
  info["dedup_rate"] = scat_utils::dedup_rate(data_sum, stored_sum);
  return true;
}

// The summed size of the backup sets with files of unknown size on the
// device, which the device's file records do not count. -1, logged, when
// the files or their backup sets cannot be read.
long long catalog_size_on_device(const std::string& pool_uuid, const std::string& device_uuid) {
  Device_Metadata_Manager* metadata = Device_Metadata_Manager::instance();
  Storage_Catalog_Manager* manager = front();
  if (metadata == nullptr || manager == nullptr)
    return -1;
  // One set across pages: a backup set with files on several pages counts
  // once.
  std::set<std::string> uuids;
  long long total = 0;
  for (long long offset = 0; offset == 0 || offset < total; offset += kFilePage) {
    std::vector<Device_Metadata_Manager::File_Entry> files;
    if (!metadata->get_files_with_device(device_uuid.c_str(), offset, kFilePage, files,
                                         offset == 0 ? &total : nullptr, true)) {
      LOG_ERROR("Failed to get files with device '%s'.", device_uuid.c_str());
      return -1;
    }
    Array names;
    for (const auto& file : files)
      names.push_back(file.path);
    if (!names.empty() && !manager->get_uuids_with_files(pool_uuid, names, uuids)) {
      LOG_ERROR("Failed to get catalog uuids.");
      return -1;
    }
  }
  long long size = 0;
  for (const std::string& uuid : uuids) {
    Object catalog;
    if (!Storage_Catalog_Utils::get_catalog(pool_uuid, uuid, catalog))
      continue;
    auto it = catalog.find("size");
    if (it != catalog.end() && it->second.is_number_integer())
      size += it->second.get<long long>();
  }
  return size;
}

// Whether the storage host behind a web device URL answers for its path.
bool is_reachable(const URI& uri, const std::string& access_key) {
  HTTP_Session_Ptr session =
      HTTP_Session_Factory::create(uri.host(false), static_cast<std::uint16_t>(uri.port()),
                                   uri.is_ssl(), nullptr, 3, nullptr, false, 120, 120, 0, 0);
  if (!session)
    return false;
  std::string path = uri.path(false);
  HTTP_Request request(HTTP_METHOD_HEAD, path.empty() ? "/" : path);
  request.headers().set(HTTP_HEADER_ACCESS_KEY, access_key);
  HTTP_Response response;
  return session->send(request, std::string(), response) && response.status() >= 200 &&
         response.status() < 300;
}

Object device_space(const std::string& pool_uuid, const Object& device,
                    const std::string& access_key, bool with_disk_space) {
  const std::string& uuid = object_get_str_or_throw(device, "uuid");
  // A part that cannot be read counts as nothing, never as less.
  long long recorded =
      Device_Metadata_Manager::instance() == nullptr
          ? -1
          : Device_Metadata_Manager::instance()->get_device_used_size(uuid.c_str());
  long long unrecorded = catalog_size_on_device(pool_uuid, uuid);
  long long used = (recorded > 0 ? recorded : 0) + (unrecorded > 0 ? unrecorded : 0);
  long long size =
      object_get_int64_or_throw(object_get_object_or_throw(device, "extended_attrs"), "size");
  Object entry{{"uuid", uuid}, {"size", size}, {"used_size", used}, {"free_size", size - used}};
  const std::string* url = object_get_str(device, "url");
  if (url == nullptr || !is_url_of(SCHEME_HTTP, *url))
    return entry;
  URI uri;
  bool online = URI_Parser::parse(url->c_str(), uri) && is_reachable(uri, access_key);
  entry["online"] = online;
  if (with_disk_space && online) {
    Object disk_space;
    get_storaged_space_info(uri.host(false), static_cast<std::uint16_t>(uri.port()), uri.is_ssl(),
                            access_key, disk_space);
    entry["disk_space"] = disk_space;
  }
  return entry;
}

bool devices_space(const std::string& pool_uuid, const std::string& access_key,
                   bool with_disk_space, Object& info) {
  Array devices;
  if (!Storage_Catalog_Utils::get_devices(pool_uuid, devices))
    return false;
  Array& entries = (info["devices"] = Array()).get_ref<Array&>();
  long long size_sum = 0, used_sum = 0;
  for (const Value& device : devices) {
    Object entry =
        device_space(pool_uuid, device.get_ref<const Object&>(), access_key, with_disk_space);
    size_sum += entry.at("size").get<long long>();
    used_sum += entry.at("used_size").get<long long>();
    entries.push_back(std::move(entry));
  }
  info["size"] = size_sum;
  info["used_size"] = used_sum;
  return true;
}

}  // namespace

bool Storage_Catalog_Utils::get_pool_space_info(const std::string& pool_uuid,
                                                const std::string& access_key, Object& info,
                                                bool with_disk_space) {
  try {
    Object pool;
    Pool_URL_Info url_info(pool_uuid);
    if (!get_pool(pool_uuid, pool, true) || !url_info.init())
      return false;
    bool dedup = is_scheme_of(SCHEME_DEDUP, url_info.uri().scheme());
    if (!is_multidevice(pool))
      return single_device_space(pool, url_info, dedup, access_key, info);
    if (dedup)
      return dedup_devices_space(pool_uuid, access_key, info);
    return devices_space(pool_uuid, access_key, with_disk_space, info);
  } catch (const std::exception& e) {
    LOG_ERROR("Failed to get space info of pool '%s': %s.", pool_uuid.c_str(), e.what());
    return false;
  }
}

bool Storage_Catalog_Utils::get_device_space_info(const std::string& device_uuid,
                                                  const std::string& access_key, Object& info) {
  Object device;
  if (!get_device(device_uuid, device)) {
    LOG_ERROR("Failed to get device by uuid(%s).", device_uuid.c_str());
    return false;
  }
  return get_device_space_info(device, access_key, info);
}

bool Storage_Catalog_Utils::get_device_space_info(const Object& device,
                                                  const std::string& access_key, Object& info) {
  const std::string* pool_uuid = object_get_str(device, "pool_uuid");
  VRT_CHECK_NOT_NULL(pool_uuid, false);
  const std::string* url = object_get_str(device, "url");
  VRT_CHECK_NOT_NULL(url, false);
  bool dedup = is_url_of(SCHEME_DEDUP, *url);
  std::string dir;
  const Object* attrs = object_get_object(device, "extended_attrs");
  if (dedup)
    get_dedup_datadir(dir);
  else if ((attrs == nullptr || attrs->count("external_uuid") == 0) && !kx_data_dir(dir))
    return false;
  if (!dir.empty() && !read_disk_space(dir, info))
    return false;
  long long used = 0;
  if (dedup) {
    long long data = 0;
    if (!get_local_dedup_summary(device, access_key, &data, nullptr, &used))
      return false;
    info["data_size"] = data;
    info["dedup_rate"] = scat_utils::dedup_rate(data, used);
  } else {
    Storage_Catalog_Manager* manager = front();
    if (manager == nullptr || !manager->get_pool_size(*pool_uuid, used, true))
      return false;
  }
  info["used_size"] = used;
  return true;
}

bool Storage_Catalog_Utils::is_catalog_on_device(const std::vector<std::string>& device_uuids,
                                                 const Array& catalogs) {
  Device_Metadata_Manager* metadata = Device_Metadata_Manager::instance();
  if (metadata == nullptr)
    return false;
  try {
    for (const Value& catalog : catalogs) {
      for (const Value& file :
           object_get_array_or_throw(catalog.get_ref<const Object&>(), "files")) {
        std::vector<std::string> found;
        const std::string& name = file.get_ref<const std::string&>();
        if (metadata->check(name.c_str(), device_uuids, &found, nullptr) ==
                Device_Metadata_Manager::TYPE_FILE &&
            !found.empty())
          return true;
      }
    }
    return false;
  } catch (const std::exception& e) {
    LOG_ERROR("Error catalogs type: %s.", e.what());
    return false;
  }
}

bool Storage_Catalog_Utils::get_own_devices(Array& devices) {
  devices.clear();
  Storage_Catalog_Manager* manager = front();
  Array rows;
  if (manager == nullptr || !manager->query_device(Object(), 0, -1, rows, nullptr))
    return false;
  for (Value& row : rows) {
    try {
      const std::string& pool = object_get_str_or_throw(row.get_ref<const Object&>(), "pool_uuid");
      if (manager->is_replicate_pool(pool))
        continue;
    } catch (const std::exception& e) {
      LOG_ERROR("Exception catch on check whether device is belongs to replicate pool, error=%s",
                e.what());
    }
    devices.push_back(std::move(row));
  }
  return true;
}
