// Where a storage pool keeps its data: the URL of its master device, that
// URL parsed, the folder on this host that holds the data (for the kinds
// whose data is on a local file system) and the external storage the
// device belongs to. One object per pool and caller, not shared between
// threads; it owns its values and holds no connection and no lock.
#ifndef STORAGED_STORAGE_CATALOG_POOL_URL_INFO_H_
#define STORAGED_STORAGE_CATALOG_POOL_URL_INFO_H_

#include <string>

#include "platform/json/json.h"
#include "platform/runtime/uri.h"
#include "storaged/storage_catalog/url_scheme_family.h"

class Pool_URL_Info {
 public:
  explicit Pool_URL_Info(const std::string& pool_uuid);

  // Reads the pool's master device and resolves the other values. False,
  // logged (except when the pool has no master device or the deduplication
  // engine's folder is unknown), when the device or its URL cannot be used;
  // values resolved before the failure keep what they got.
  bool init();
  // Replaces the parsed URI and, with it, the URL text; the folder and the
  // external storage id stay.
  void update(const URI& uri);

  const std::string& pool_uuid() const { return pool_uuid_; }
  // The master device's URL; for a pool in a local folder, "file://" and
  // that folder.
  const std::string& url() const { return url_; }
  // The URL as read from the device.
  const URI& uri() const { return uri_; }
  // The local folder of the pool's data, with this platform's separator;
  // empty for kinds whose data is not in local files.
  const std::string& path() const { return path_; }
  // Empty when the device names no external storage.
  const std::string& external_uuid() const { return external_uuid_; }

  // The separator local paths are given, in place of the "/" of URLs.
  static const char kPathSeparator;

 private:
  // The local folder of the pool's data, by the family of the URI's scheme.
  // False when there is none to find; throws for a malformed device.
  bool resolve_path(const Object& device);
  bool resolve_file_path(const Object& device);
  bool resolve_http_path();

  std::string pool_uuid_;
  std::string url_;
  URI uri_;
  std::string path_;
  std::string external_uuid_;
};

#endif  // STORAGED_STORAGE_CATALOG_POOL_URL_INFO_H_
