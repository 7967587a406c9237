#include "platform/poolutil/catalog_agent.h"

#include <vector>

#include "platform/common/module_name.h"

bool Catalog_Agent::parse(const std::string& agent) {
  std::vector<std::string> segments;
  if (agent.empty() || !common::split_agent_segments(agent, segments))
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
