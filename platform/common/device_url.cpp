#include "platform/common/device_url.h"

bool adjust_device_url_by_backupd_device(Object& device, const Object& backupd_device) {
  const std::string* url = object_get_str(backupd_device, "url");
  if (url == nullptr || url->empty())
    return false;
  const std::string* current = object_get_str(device, "url");
  if (current != nullptr && *current == *url)
    return false;
  device["url"] = *url;
  return true;
}
