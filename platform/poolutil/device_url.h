// Device records as the backup daemon describes them to a storage host.
// Re-entrant.
#ifndef PLATFORM_POOLUTIL_DEVICE_URL_H_
#define PLATFORM_POOLUTIL_DEVICE_URL_H_

#include "platform/json/json.h"

// Corrects `device` in place from the daemon's record of the same device:
// a non-empty string "url" in `backupd_device` replaces the device's "url"; anything
// else leaves the device as it was.
void adjust_device_url_by_backupd_device(Object& device, const Object& backupd_device);

#endif  // PLATFORM_POOLUTIL_DEVICE_URL_H_
