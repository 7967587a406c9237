#include "platform/runtime/rm_rf.h"

#include <filesystem>
#include <system_error>

#include "platform/runtime/log.h"

int rm_rf(const std::string& path) {
  if (path.empty())
    return -1;
  std::error_code error;
  std::filesystem::remove_all(path, error);
  if (!error)
    return 0;
  LOG_ERROR("Failed to remove '%s': %s", path.c_str(), error.message().c_str());
  return -1;
}
