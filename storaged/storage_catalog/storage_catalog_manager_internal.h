// Helpers shared by the front's operation files; not part of the library's
// interface.
#ifndef STORAGED_STORAGE_CATALOG_STORAGE_CATALOG_MANAGER_INTERNAL_H_
#define STORAGED_STORAGE_CATALOG_STORAGE_CATALOG_MANAGER_INTERNAL_H_

#include <exception>

#include "platform/runtime/log.h"

namespace scat_front {

// What an agent host answers for the operations only the central catalog
// serves.
constexpr char kNoReplicate[] = "Do not support replicate in local pool";
constexpr char kNoMergeBackup[] = "Do not support merge backup in local pool";
constexpr char kNoDisasterRestore[] = "Do not support disaster restore in local pool";
constexpr char kNoOldCatalog[] = "Do not have old catalog in local pool";

// Runs `call`; an exception, which must not reach the caller, is logged and
// reported as false.
template <typename Call>
bool guarded(const char* operation, Call call) {
  try {
    return call();
  } catch (const std::exception& e) {
    LOG_ERROR("Failed to %s: %s", operation, e.what());
    return false;
  }
}

}  // namespace scat_front

#endif  // STORAGED_STORAGE_CATALOG_STORAGE_CATALOG_MANAGER_INTERNAL_H_
