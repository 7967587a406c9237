// Device URLs corrected from the backup daemon's view of them (libpoolutil).
// An agent may know a device under an address only the daemon can resolve;
// the daemon answers with the device as the agent should use it.
// Re-entrant.
#ifndef PLATFORM_COMMON_DEVICE_URL_H_
#define PLATFORM_COMMON_DEVICE_URL_H_

#include "platform/json/json.h"

// Replaces the "url" of `device` by the string "url" of `backupd_device`;
// a daemon's entry without one leaves the device as it is. Returns whether
// the device changed.
bool adjust_device_url_by_backupd_device(Object& device, const Object& backupd_device);

#endif  // PLATFORM_COMMON_DEVICE_URL_H_
