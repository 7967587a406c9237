// The host HTTP service's map from URL path prefixes to the local folders
// it serves them from, kept in ascending order of prefix. The service fills
// it; the catalog only looks paths up. Safe for concurrent use.
#ifndef PLATFORM_RUNTIME_HTTP_FILE_URI_MAP_H_
#define PLATFORM_RUNTIME_HTTP_FILE_URI_MAP_H_

#include <map>
#include <mutex>
#include <string>

class HTTP_File_URI_Map {
 public:
  static HTTP_File_URI_Map* instance();

  // Serves `prefix` (a URL path such as "/a/b") from the folder `dir`,
  // replacing an earlier entry of the prefix.
  void add(const std::string& prefix, const std::string& dir);
  void remove(const std::string& prefix);
  void clear();

  // The entry of the longest registered prefix of `path` that ends on a
  // path boundary: the whole path, or a prefix followed in `path` by "/",
  // or a prefix that itself ends with "/". `dir` gets its folder and `rest`
  // the part of `path` after the prefix ("" for the whole path). False,
  // with both untouched, when no entry matches.
  bool find(const std::string& path, std::string& dir, std::string& rest) const;

 private:
  HTTP_File_URI_Map() = default;

  mutable std::mutex lock_;
  std::map<std::string, std::string> entries_;  // guarded by lock_
};

#endif  // PLATFORM_RUNTIME_HTTP_FILE_URI_MAP_H_
