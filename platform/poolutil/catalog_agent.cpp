#include "platform/poolutil/catalog_agent.h"

#include <cctype>
#include <vector>

namespace {

bool split_segments(const std::string& text, std::vector<std::string>& segments) {
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

}  // namespace

bool Catalog_Agent::parse(const std::string& agent) {
  std::vector<std::string> segments;
  if (agent.empty() || !split_segments(agent, segments))
    return false;
  std::size_t first = 0;
  std::string parsed_category;
  if (segments[0] == "backup") {
    if (segments.size() < 2)
      return false;
    parsed_category = segments[0];
    first = 1;
  }
  std::string parsed_kind;
  for (std::size_t i = first + 1; i < segments.size(); ++i)
    parsed_kind += (parsed_kind.empty() ? "" : ".") + segments[i];
  category = parsed_category;
  module = segments[first];
  kind = parsed_kind;
  return true;
}
