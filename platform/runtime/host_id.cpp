#include "platform/runtime/host_id.h"

#include <cstdlib>

Host_ID& Host_ID::instance() {
  static Host_ID id;
  return id;
}

Host_ID::Host_ID() {
  const char* v = std::getenv("STORAGED_HOST_UUID");
  if (v != nullptr)
    id_ = v;
}
