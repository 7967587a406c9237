#include "platform/poolutil/device_url.h"

void adjust_device_url_by_backupd_device(Object& device, const Object& backupd_device) {
  const std::string* url = object_get_str(backupd_device, "url");
  if (url != nullptr && !url->empty())
    device["url"] = *url;
}
