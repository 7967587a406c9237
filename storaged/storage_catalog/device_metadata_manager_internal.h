// What the device metadata manager's source files share; not part of the
// library's interface.
#ifndef STORAGED_STORAGE_CATALOG_DEVICE_METADATA_MANAGER_INTERNAL_H_
#define STORAGED_STORAGE_CATALOG_DEVICE_METADATA_MANAGER_INTERNAL_H_

#include "platform/json/json.h"
#include "platform/sql/connection.h"
#include "platform/sql/sql.h"

namespace device_metadata {

inline constexpr char kDatabase[] = "device_metadata";
inline constexpr char kFileTable[] = "device_metadata_file";
inline constexpr char kDirTable[] = "device_metadata_dir";

// Whether a grouping (or other optional text) is given.
inline bool has_text(const char* text) {
  return text != nullptr && *text != '\0';
}

// Every row of `select` into `rows` (an array of objects), the pool and
// device uuids as text. False, `rows` unusable, when the query fails.
bool fetch_rows(const database::sql::Connection_Ptr& conn, const database::sql::Select_SQL& select,
                Value& rows);

}  // namespace device_metadata

#endif  // STORAGED_STORAGE_CATALOG_DEVICE_METADATA_MANAGER_INTERNAL_H_
