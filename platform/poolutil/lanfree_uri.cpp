#include "platform/poolutil/lanfree_uri.h"

#include <vector>

bool parse_lanfree_uri(const std::string& path, std::string* target, std::string* initiator,
                       std::string* lun, std::string* volume) {
  if (path.empty() || path[0] != '/')
    return false;
  std::vector<std::string> parts;
  std::string::size_type start = 1;
  for (;;) {
    std::string::size_type slash = path.find('/', start);
    parts.push_back(path.substr(start, slash == std::string::npos ? slash : slash - start));
    if (slash == std::string::npos)
      break;
    start = slash + 1;
  }
  if (parts.size() < 3 || parts.size() > 4)
    return false;
  for (const std::string& part : parts)
    if (part.empty())
      return false;
  if (parts[2].find_first_not_of("0123456789") != std::string::npos)
    return false;
  if (target != nullptr)
    *target = parts[0];
  if (initiator != nullptr)
    *initiator = parts[1];
  if (lun != nullptr)
    *lun = parts[2];
  if (volume != nullptr)
    *volume = parts.size() == 4 ? parts[3] : std::string();
  return true;
}
