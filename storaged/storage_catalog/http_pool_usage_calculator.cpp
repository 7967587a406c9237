#include "storaged/storage_catalog/http_pool_usage_calculator.h"

#include <sys/stat.h>

#include <cstdint>
#include <limits>
#include <unordered_set>

#include "platform/common/mtf_params.h"
#include "platform/runtime/file_system.h"
#include "platform/runtime/host_id.h"
#include "platform/runtime/http_file_uri_map.h"
#include "platform/runtime/log.h"
#include "platform/runtime/uri.h"
#include "storaged/storage_catalog/device_metadata_manager.h"
#include "storaged/storage_catalog/pool_usage_calculator_internal.h"
#include "storaged/storage_catalog/url_scheme_family.h"
#include "vrt/directory_iterator.h"

namespace {

struct Tree_Usage {
  long long files = 0;
  long long file_size = 0;
  long long used_size = 0;
};

// The directory holding `path`, at its last '\' or '/'; a root stays itself.
std::string parent_directory(const std::string& path) {
  std::string::size_type end = path.find_last_not_of("\\/");
  if (end == std::string::npos)
    return path;
  std::string::size_type cut = path.find_last_of("\\/", end);
  if (cut == std::string::npos)
    return ".";
  std::string::size_type keep = path.find_last_not_of("\\/", cut);
  if (keep == std::string::npos)
    return path.substr(0, 1);
  if (keep == 1 && path[1] == ':')
    return path.substr(0, 3);  // the root of a drive, "D:\"
  return path.substr(0, keep + 1);
}

// Files, their lengths and the bytes they occupy below `dir`. A file with
// several names counts once towards the bytes occupied, as it takes its
// space once.
bool walk(const std::string& dir, Tree_Usage& usage) {
  vrt::Directory_Iterator tree('\\');
  if (!tree.open(dir))
    return false;
  std::unordered_set<vrt::File_Identity, vrt::File_Identity_Hash> linked;
  std::string path;
  Directory_Entry entry;
  while (tree.next(path, entry)) {
    const struct stat& status = entry.status;
    if (!S_ISREG(status.st_mode))
      continue;
    ++usage.files;
    usage.file_size += status.st_size;
    if (status.st_nlink > 1 &&
        !linked.insert(vrt::File_Identity{status.st_dev, status.st_ino}).second)
      continue;
    long long occupied = static_cast<long long>(status.st_blocks) * 512;
    if (occupied >= 1)
      usage.used_size += occupied;
  }
  return !tree.failed();
}

// The device's directory below a mapped URL path: the mapped folder and
// the URL path's last segment.
std::string mapped_directory(const std::string& base, const URI& uri, const std::string& device) {
  std::string uri_path = uri.path(true);
  std::string segment = last_path_segment(uri_path);
  if (segment.empty()) {
    LOG_ERROR("Invalid uri path '%s' of device '%s'.", uri_path.c_str(), device.c_str());
    return std::string();
  }
  return base + "\\" + segment;
}

// The "size" a device row gives itself: 0 when it names none. False,
// logged, for a size that is not a non-negative integer.
bool device_size(const Object& device, const std::string& uuid, long long& size) {
  size = 0;
  const Object* attrs = object_get_object(device, "extended_attrs");
  auto it = attrs != nullptr ? attrs->find("size") : Object::const_iterator();
  if (attrs == nullptr || it == attrs->end())
    return true;
  if (it->second.is_number_unsigned() &&
      it->second.get<std::uint64_t>() <=
          static_cast<std::uint64_t>(std::numeric_limits<long long>::max())) {
    size = it->second.get<long long>();
    return true;
  }
  if (it->second.is_number_integer() && it->second.get<long long>() >= 0) {
    size = it->second.get<long long>();
    return true;
  }
  LOG_ERROR("Invalid size %s of device '%s'.", JSON_Dump(it->second).c_str(), uuid.c_str());
  return false;
}

}  // namespace

HTTP_Pool_Usage_Calculator::HTTP_Pool_Usage_Calculator(const Array& devices, bool multidevice)
    : Pool_Usage_Calculator(devices) {
  flags_ = multidevice ? (MULTIDEVICE | LIVE) : COUNTS_FILES;
}

std::string HTTP_Pool_Usage_Calculator::local_directory(const Object& device) {
  std::string uuid, pool_uuid, url;
  try {
    uuid = object_get_str_or_throw(device, "uuid");
    pool_uuid = object_get_str_or_throw(device, "pool_uuid");
    url = object_get_str_or_throw(device, "url");
  } catch (const std::exception& e) {
    LOG_ERROR("Invalid device data, %s.", e.what());
    return std::string();
  }
  const Object* attrs = object_get_object(device, "extended_attrs");
  URI uri;
  if (!URI_Parser::parse(url.c_str(), uri)) {
    LOG_ERROR("Failed to parse url '%s' of pool '%s', device '%s'.", url.c_str(), pool_uuid.c_str(),
              uuid.c_str());
    return std::string();
  }
  if (is_url_of(SCHEME_FILE, url)) {
    if (attrs == nullptr) {
      LOG_ERROR("No 'extended_attrs' in file pool '%s' device '%s'.", pool_uuid.c_str(),
                uuid.c_str());
      return std::string();
    }
    const Object* hosts = object_get_object(*attrs, "attached_hosts");
    const std::string* dir =
        hosts != nullptr ? object_get_str(*hosts, Host_ID::instance().c_str()) : nullptr;
    if (dir == nullptr || dir->empty()) {
      LOG_ERROR("No directory of this host in file pool '%s' device '%s'.", pool_uuid.c_str(),
                uuid.c_str());
      return std::string();
    }
    return *dir;
  }
  if (is_url_of(SCHEME_MTF, url))
    return mapped_directory(MTF_Params::instance().data_dir(), uri, uuid);
  if (is_url_of(SCHEME_HTTP, url) || is_url_of(SCHEME_REALTIME, url)) {
    std::string uri_path = uri.path(true);
    std::string base, rest;
    if (!HTTP_File_URI_Map::instance()->find(uri_path, base, rest)) {
      LOG_ERROR("Failed to find entry for %s.", uri_path.c_str());
      return std::string();
    }
    return mapped_directory(base, uri, uuid);
  }
  LOG_ERROR("No local folder for url '%s' of device '%s'.", url.c_str(), uuid.c_str());
  return std::string();
}

bool HTTP_Pool_Usage_Calculator::calculate(Object& usage) {
  return has_flag(MULTIDEVICE) ? calculate_multiple(usage) : calculate_single(usage);
}

std::string HTTP_Pool_Usage_Calculator::first_directory() const {
  if (devices_.empty() || !devices_[0].is_object())
    return std::string();
  return local_directory(devices_[0].get_ref<const Object&>());
}

bool HTTP_Pool_Usage_Calculator::calculate_single(Object& usage) {
  std::string dir = first_directory();
  if (dir.empty())
    return false;
  bool exists = is_directory(dir);
  Tree_Usage tree;
  if (exists && !walk(dir, tree)) {
    LOG_ERROR("Failed to calculate disk usage of path '%s'.", dir.c_str());
    return false;
  }
  usage["files"] = tree.files;
  usage["file_size"] = tree.file_size;
  usage["used_size"] = tree.used_size;
  write_disk_space(exists ? dir : parent_directory(dir), usage);
  return true;
}

bool HTTP_Pool_Usage_Calculator::calculate_multiple(Object& usage) {
  Array reported;
  long long pool_size = 0;
  long long pool_used = 0;
  Device_Metadata_Manager* metadata = Device_Metadata_Manager::instance();
  for (const Value& value : devices_) {
    const Object* device = value.is_object() ? &value.get_ref<const Object&>() : nullptr;
    const std::string* uuid = device != nullptr ? object_get_str(*device, "uuid") : nullptr;
    long long used = 0;
    long long files = 0;
    long long size = 0;
    if (uuid == nullptr || metadata == nullptr || !metadata->get_device_usage(*uuid, used, files) ||
        !device_size(*device, *uuid, size))
      continue;
    reported.push_back(Object{{"uuid", *uuid},
                              {"size", size},
                              {"used_size", used},
                              {"free_size", size > used ? size - used : 0},
                              {"files", files}});
    pool_size += size;
    pool_used += used;
  }
  usage["devices"] = std::move(reported);
  usage["size"] = pool_size;
  usage["used_size"] = pool_used;
  return true;
}

bool HTTP_Pool_Usage_Calculator::get_space(Object& out) {
  if (has_flag(MULTIDEVICE))
    return true;
  std::string dir = first_directory();
  if (dir.empty())
    return false;
  return write_disk_space(is_directory(dir) ? dir : parent_directory(dir), out);
}

S3_Pool_Usage_Calculator::S3_Pool_Usage_Calculator(const Array& devices)
    : Pool_Usage_Calculator(devices) {}

bool S3_Pool_Usage_Calculator::calculate(Object&) {
  return false;
}
