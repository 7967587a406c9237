#include "platform/poolutil/cd_modules.h"

#include "platform/poolutil/catalog_agent.h"

bool is_cd_modules(const Object& catalog, const std::string* agent) {
  if (agent == nullptr)
    agent = object_get_str(catalog, "agent");
  Catalog_Agent parsed;
  if (agent == nullptr || !parsed.parse(*agent))
    return false;
  return parsed.module == "cdp" || parsed.module == "cdm";
}
