// Helpers shared by the sources of Storage_Catalog_Utils.
#ifndef STORAGED_STORAGE_CATALOG_STORAGE_CATALOG_UTILS_INTERNAL_H_
#define STORAGED_STORAGE_CATALOG_STORAGE_CATALOG_UTILS_INTERNAL_H_

#include <string>

#include "platform/json/json.h"
#include "platform/runtime/uri.h"
#include "storaged/storage_catalog/storage_catalog_manager.h"

namespace scat_utils {

// The catalog front; null, logged, when it cannot be had.
Storage_Catalog_Manager* front();

// `key` when the front runs on an agent, where lookups must carry the
// plain member it routes by; null elsewhere.
const char* routing_key(const char* key);

// The number the host's JSON library gives a value's type in messages:
// object 0, array 1, string 2, bool 3, integer 4, real 5, null 6.
int json_type_code(const Value& value);

// `text` as one query-string value: every character other than a letter or
// digit escaped, so that no "&" or "=" of a caller's text starts a pair.
std::string query_value(const std::string& text);

// Dedup figures, shared by the summaries and the space information.

// Hundredths of a percent saved: 0 without data or when more is stored
// than the data holds.
long long dedup_rate(long long data_size, long long stored_size);
// The device's "url" (required) when it is a dedup URL that parses.
bool parse_dedup_url(const Object& device, URI& uri);
// GET "/kx/r/dedup/stat/<name>" of the dedup service at host:port: its
// "data_size" and "storage_size" into the outputs given (either may be
// null). False, logged, when it does not answer; throws for an answer
// without the two sizes.
bool query_dedup_stat(const std::string& host, unsigned port, bool secure,
                      const std::string& access_key, const std::string& name, long long* data_size,
                      long long* stored_size);

}  // namespace scat_utils

#endif  // STORAGED_STORAGE_CATALOG_STORAGE_CATALOG_UTILS_INTERNAL_H_
