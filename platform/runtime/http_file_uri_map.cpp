#include "platform/runtime/http_file_uri_map.h"

HTTP_File_URI_Map* HTTP_File_URI_Map::instance() {
  static HTTP_File_URI_Map map;
  return &map;
}

void HTTP_File_URI_Map::add(const std::string& prefix, const std::string& dir) {
  std::lock_guard<std::mutex> guard(lock_);
  entries_[prefix] = dir;
}

void HTTP_File_URI_Map::remove(const std::string& prefix) {
  std::lock_guard<std::mutex> guard(lock_);
  entries_.erase(prefix);
}

void HTTP_File_URI_Map::clear() {
  std::lock_guard<std::mutex> guard(lock_);
  entries_.clear();
}

bool HTTP_File_URI_Map::find(const std::string& path, std::string& dir, std::string& rest) const {
  std::lock_guard<std::mutex> guard(lock_);
  auto it = entries_.lower_bound(path);
  if (it != entries_.end() && it->first == path) {
    dir = it->second;
    rest.clear();
    return true;
  }
  // Every prefix of `path` sorts before it, a longer prefix after a shorter
  // one: walking down, the first prefix on a boundary is the longest.
  while (it != entries_.begin()) {
    --it;
    const std::string& key = it->first;
    if (key.size() >= path.size() || path.compare(0, key.size(), key) != 0)
      continue;
    if (path[key.size()] == '/' || (!key.empty() && key.back() == '/')) {
      dir = it->second;
      rest = path.substr(key.size());
      return true;
    }
  }
  return false;
}
