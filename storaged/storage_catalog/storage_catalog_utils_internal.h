// Helpers shared by the sources of Storage_Catalog_Utils.
#ifndef STORAGED_STORAGE_CATALOG_STORAGE_CATALOG_UTILS_INTERNAL_H_
#define STORAGED_STORAGE_CATALOG_STORAGE_CATALOG_UTILS_INTERNAL_H_

#include "platform/json/json.h"
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

}  // namespace scat_utils

#endif  // STORAGED_STORAGE_CATALOG_STORAGE_CATALOG_UTILS_INTERNAL_H_
