// Helpers shared by the front's operation files; not part of the library's
// interface.
#ifndef STORAGED_STORAGE_CATALOG_STORAGE_CATALOG_MANAGER_INTERNAL_H_
#define STORAGED_STORAGE_CATALOG_STORAGE_CATALOG_MANAGER_INTERNAL_H_

#include "storaged/storage_catalog/guarded.h"

namespace scat_front {

// What an agent host answers for the operations only the central catalog
// serves.
constexpr char kNoReplicate[] = "Do not support replicate in local pool";
constexpr char kNoMergeBackup[] = "Do not support merge backup in local pool";
constexpr char kNoDisasterRestore[] = "Do not support disaster restore in local pool";
constexpr char kNoOldCatalog[] = "Do not have old catalog in local pool";

using scat_internal::guarded;

}  // namespace scat_front

#endif  // STORAGED_STORAGE_CATALOG_STORAGE_CATALOG_MANAGER_INTERNAL_H_
