#include "storaged/storage_catalog/pool_url_info.h"

#include <algorithm>
#include <sstream>
#include <stdexcept>

#include "platform/common/mtf_params.h"
#include "platform/runtime/host_id.h"
#include "platform/runtime/http_file_uri_map.h"
#include "platform/runtime/log.h"
#include "storaged/storage_catalog/catalog_settings.h"
#include "storaged/storage_catalog/storage_catalog_utils.h"

#ifdef _WIN32
const char Pool_URL_Info::kPathSeparator = '\\';
#else
const char Pool_URL_Info::kPathSeparator = '/';
#endif

namespace {

// What follows the first `count` characters of a dedup or tape URL path:
// those characters name the peer's own layout.
std::string path_after(const std::string& path, std::size_t count) {
  if (path.size() < count)
    throw std::runtime_error("URL path '" + path + "' is shorter than " + std::to_string(count) +
                             " characters");
  return path.substr(count);
}

// `dir` and `rest` joined by exactly one "/".
std::string join_path(const std::string& dir, const std::string& rest) {
  if (dir.empty() || rest.empty() || dir.back() == '/' || rest.front() == '/')
    return dir + rest;
  return dir + "/" + rest;
}

}  // namespace

Pool_URL_Info::Pool_URL_Info(const std::string& pool_uuid) : pool_uuid_(pool_uuid) {}

bool Pool_URL_Info::init() {
  try {
    Object device;
    if (!Storage_Catalog_Utils::get_master_device(pool_uuid_, device))
      return false;
    url_ = object_get_str_or_throw(device, "url");
    const Object* attrs = object_get_object(device, "extended_attrs");
    const std::string* external =
        attrs == nullptr ? nullptr : object_get_str(*attrs, "external_uuid");
    if (external != nullptr)
      external_uuid_ = *external;
    if (!URI_Parser::parse(url_.c_str(), uri_)) {
      LOG_ERROR("Failed to parse url: %s", url_.c_str());
      return false;
    }
    if (!resolve_path(device))
      return false;
    std::replace(path_.begin(), path_.end(), '/', kPathSeparator);
    return true;
  } catch (const std::exception& e) {
    LOG_ERROR("Failed to get url info: %s", e.what());
    return false;
  }
}

bool Pool_URL_Info::resolve_path(const Object& device) {
  const std::string& scheme = uri_.scheme();
  if (is_scheme_of(SCHEME_FILE, scheme))
    return resolve_file_path(device);
  if (is_scheme_of(SCHEME_DEDUP, scheme)) {
    std::string dir;
    get_dedup_datadir(dir);
    if (dir.empty())
      return false;
    path_ = dir + path_after(uri_.path(true), 9);
    return true;
  }
  if (is_scheme_of(SCHEME_BTRFS, scheme)) {
    path_ = uri_.path(true);
    return true;
  }
  if (is_scheme_of(SCHEME_MTF, scheme)) {
    std::string dir = MTF_Params::instance().data_dir();
    if (dir.empty()) {
      // Without the tape folder the path would name a folder relative to
      // wherever the daemon runs.
      LOG_ERROR("Failed to get MTF data directory.");
      return false;
    }
    path_ = dir + path_after(uri_.path(true), 7);
    return true;
  }
  if (is_scheme_of(SCHEME_OBJECT_STORAGE, scheme) || is_scheme_of(SCHEME_KXT, scheme) ||
      is_scheme_of(SCHEME_LANFREE, scheme))
    return true;
  return resolve_http_path();
}

bool Pool_URL_Info::resolve_file_path(const Object& device) {
  const Object& attrs = object_get_object_or_throw(device, "extended_attrs");
  const Object& hosts = object_get_object_or_throw(attrs, "attached_hosts");
  std::string host_id = Host_ID::instance().c_str();
  if (host_id.empty()) {
    LOG_ERROR("Failed to get host id");
    return false;
  }
  path_ = object_get_str_or_throw(hosts, host_id);
  if (path_.empty()) {
    LOG_ERROR("Failed to host(%s) path info.", host_id.c_str());
    return false;
  }
  url_ = (path_.front() == '/' ? "file://" : "file:///") + path_;
  return true;
}

bool Pool_URL_Info::resolve_http_path() {
  std::string uri_path = uri_.path(true);
  std::string dir, rest;
  if (!HTTP_File_URI_Map::instance()->find(uri_path, dir, rest)) {
    LOG_ERROR("Failed to find entry for %s.", uri_path.c_str());
    return false;
  }
  path_ = join_path(dir, rest);
  return true;
}

void Pool_URL_Info::update(const URI& uri) {
  uri_ = uri;
  std::ostringstream text;
  uri_.build(text);
  url_ = text.str();
}
