#include "platform/runtime/path_conf.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "platform/runtime/log.h"

namespace {

bool is_directory(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// mkdir -p: every missing component, each with `mode`.
bool make_directories(const std::string& path, mode_t mode, std::string& reason) {
  for (std::size_t cut = path.find('/', 1);; cut = path.find('/', cut + 1)) {
    std::string part = path.substr(0, cut);
    if (!part.empty() && !is_directory(part) && ::mkdir(part.c_str(), mode) != 0 &&
        errno != EEXIST) {
      reason = std::strerror(errno);
      return false;
    }
    if (cut == std::string::npos)
      break;
  }
  if (!is_directory(path)) {
    reason = "not a directory";
    return false;
  }
  return true;
}

}  // namespace

Path_Conf::Path_Conf(const std::string& dir, const std::string& name, bool create,
                     std::string* error, mode_t mode) {
  path_ = dir;
  if (!path_.empty() && path_.back() != '/' && !name.empty())
    path_ += '/';
  path_ += name;
  if (!create)
    return;
  std::string reason;
  ok_ = make_directories(path_, mode, reason);
  if (ok_)
    return;
  LOG_ERROR("Failed to create directory '%s': %s", path_.c_str(), reason.c_str());
  if (error != nullptr)
    *error = reason;
}
