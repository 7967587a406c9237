// Keeps exceptions inside the library's exported operations: JSON access
// raises them for missing or mistyped members, and no caller may see one.
#ifndef STORAGED_STORAGE_CATALOG_GUARDED_H_
#define STORAGED_STORAGE_CATALOG_GUARDED_H_

#include <exception>

#include "platform/runtime/log.h"

namespace scat_internal {

// Runs `call` (returning bool); an exception it raises is logged as
// "<failure>: '<text>'" and gives false.
template <typename Call>
bool guarded(const char* failure, Call call) {
  try {
    return call();
  } catch (const std::exception& e) {
    LOG_ERROR("%s: '%s'", failure, e.what());
  } catch (...) {
    LOG_ERROR("%s: '%s'", failure, "unknown exception");
  }
  return false;
}

}  // namespace scat_internal

#endif  // STORAGED_STORAGE_CATALOG_GUARDED_H_
