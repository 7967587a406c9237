// Backup sets written by the continuous-data modules, which keep each set
// self-contained on storage instead of chaining it to earlier ones.
// Re-entrant.
#ifndef PLATFORM_POOLUTIL_CD_MODULES_H_
#define PLATFORM_POOLUTIL_CD_MODULES_H_

#include <string>

#include "platform/json/json.h"

// Whether `catalog` was written by a continuous-data module: its agent
// descriptor (`agent` when given, else the catalog's string "agent") names
// the module "cdp" or "cdm" (see Catalog_Agent). False for a catalog
// without a readable agent.
bool is_cd_modules(const Object& catalog, const std::string* agent);

#endif  // PLATFORM_POOLUTIL_CD_MODULES_H_
