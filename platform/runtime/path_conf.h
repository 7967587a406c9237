// A directory path joined from a parent directory and a name, optionally
// created. A plain value; safe to use from any thread.
#ifndef PLATFORM_RUNTIME_PATH_CONF_H_
#define PLATFORM_RUNTIME_PATH_CONF_H_

#include <sys/types.h>

#include <string>

class Path_Conf {
 public:
  // Joins `dir` and `name` with one separator. With `create`, makes the
  // directory, and any missing parent, with permission bits `mode`; a
  // failure is logged and its reason goes to `error` (may be null), while
  // str() still gives the joined path.
  Path_Conf(const std::string& dir, const std::string& name, bool create = false,
            std::string* error = nullptr, mode_t mode = 0750);

  const std::string& str() const { return path_; }
  // False when creation was asked for and failed.
  bool ok() const { return ok_; }

 private:
  std::string path_;
  bool ok_ = true;
};

#endif  // PLATFORM_RUNTIME_PATH_CONF_H_
