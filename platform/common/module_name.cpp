#include "platform/common/module_name.h"

#include <cctype>
#include <vector>

namespace common {

bool split_agent_segments(const std::string& text, std::vector<std::string>& segments) {
  std::string segment;
  for (std::size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == '.') {
      if (segment.empty())
        return false;
      segments.push_back(segment);
      segment.clear();
      continue;
    }
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (!std::isalnum(c) && c != '_' && c != '-')
      return false;
    segment.push_back(static_cast<char>(std::tolower(c)));
  }
  return true;
}

bool parse_module_name(const std::string& agent, std::string& module) {
  std::vector<std::string> segments;
  if (agent.empty() || !split_agent_segments(agent, segments))
    return false;
  if (segments[0] == "backup") {
    if (segments.size() < 2)
      return false;
    module = segments[1];
    return true;
  }
  module = segments[0];
  return true;
}

}  // namespace common
