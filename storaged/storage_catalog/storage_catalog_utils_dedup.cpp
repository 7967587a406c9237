// Dedup summaries: how many logical bytes a dedup pool holds against the
// bytes it stores, as the dedup service behind its device reports them.
#include "platform/rpc/http_options.h"
#include "platform/rpc/json_restful_client.h"
#include "platform/runtime/log.h"
#include "platform/runtime/uri.h"
#include "storaged/storage_catalog/storage_catalog_utils.h"
#include "storaged/storage_catalog/storage_catalog_utils_internal.h"
#include "storaged/storage_catalog/url_scheme_family.h"

namespace scat_utils {

long long dedup_rate(long long data_size, long long stored_size) {
  if (data_size <= 0)
    return 0;
  long long saved = data_size - stored_size;
  if (saved < 0)
    return 0;
  // Widened: the product overflows 64 bits above about 920 TB.
  return static_cast<long long>(static_cast<__int128>(saved) * 10000 / data_size);
}

bool parse_dedup_url(const Object& device, URI& uri) {
  const std::string& url = object_get_str_or_throw(device, "url");
  return is_url_of(SCHEME_DEDUP, url) && URI_Parser::parse(url.c_str(), uri);
}

bool query_dedup_stat(const std::string& host, unsigned port, bool secure,
                      const std::string& access_key, const std::string& name, long long* data_size,
                      long long* stored_size) {
  JSON_RESTful_Client client(host, static_cast<std::uint16_t>(port), secure, true);
  client.set_header(HTTP_HEADER_ACCESS_KEY, access_key);
  Value answer;
  if (!client.get("/kx/r/dedup/stat/" + name, answer) || !answer.is_object()) {
    LOG_ERROR("Failed to query dedup pool status");
    return false;
  }
  const Object& stat = answer.get_ref<const Object&>();
  long long data = object_get_int64_or_throw(stat, "data_size");
  long long stored = object_get_int64_or_throw(stat, "storage_size");
  if (data_size != nullptr)
    *data_size = data;
  if (stored_size != nullptr)
    *stored_size = stored;
  return true;
}

}  // namespace scat_utils

namespace {

void read_chunk_size(const Object& device, long long* chunk_size) {
  if (chunk_size != nullptr)
    *chunk_size = object_get_int64_or_throw(object_get_object_or_throw(device, "extended_attrs"),
                                            "dedup_chunk_size");
}

// The last segment of the URL's path: the name the dedup service knows the
// pool by.
std::string last_segment(const URI& uri) {
  std::string path = uri.path(false);
  return path.substr(path.rfind('/') + 1);
}

}  // namespace

bool Storage_Catalog_Utils::get_dedup_summary(const Object& pool, const std::string& access_key,
                                              long long* data_size, long long* chunk_size,
                                              long long* stored_size) {
  const std::string* pool_uuid = object_get_str(pool, "uuid");
  try {
    Object device;
    if (!get_master_device(object_get_str_or_throw(pool, "uuid"), device))
      return false;
    read_chunk_size(device, chunk_size);
    URI uri;
    if (!scat_utils::parse_dedup_url(device, uri))
      return true;
    return scat_utils::query_dedup_stat(uri.host(false), uri.port(), uri.is_ssl(), access_key,
                                        last_segment(uri), data_size, stored_size);
  } catch (const std::exception& e) {
    LOG_ERROR("Failed to get device with pool '%s': %s.",
              pool_uuid == nullptr ? "" : pool_uuid->c_str(), e.what());
    return false;
  }
}

bool Storage_Catalog_Utils::get_local_dedup_summary(const Object& device,
                                                    const std::string& access_key,
                                                    long long* data_size, long long* chunk_size,
                                                    long long* stored_size) {
  const std::string* device_uuid = object_get_str(device, "uuid");
  try {
    read_chunk_size(device, chunk_size);
    if (data_size == nullptr && stored_size == nullptr)
      return true;
    URI uri;
    if (!scat_utils::parse_dedup_url(device, uri))
      return true;
    std::string host;
    std::uint16_t port = 0;
    bool secure = false;
    if (!HTTP_Options::instance()->get_local_listen_address(host, port, secure)) {
      LOG_ERROR("Failed to get local listen address.");
      return false;
    }
    return scat_utils::query_dedup_stat(host, port, secure, access_key, last_segment(uri),
                                        data_size, stored_size);
  } catch (const std::exception& e) {
    LOG_ERROR("Failed to get device with device '%s': %s.",
              device_uuid == nullptr ? "" : device_uuid->c_str(), e.what());
    return false;
  }
}
