// The agent descriptor of a backup set, as the host's pool utilities split
// it: "backup.<module>[.<kind>]" (as in "backup.mssql.database") or
// "<module>[.<kind>]" (as in "file.agent", or "backupd"). A plain value.
#ifndef PLATFORM_POOLUTIL_CATALOG_AGENT_H_
#define PLATFORM_POOLUTIL_CATALOG_AGENT_H_

#include <string>

struct Catalog_Agent {
  // Splits `agent` into the three fields below, lower-cased. False, with
  // the fields untouched, for an empty text, an empty segment, "backup"
  // alone, or a segment holding anything but letters, digits, '_' and '-'.
  bool parse(const std::string& agent);

  std::string category;  // "backup", or empty for the short form
  std::string module;    // "mssql", "file", "vmware", ...
  std::string kind;      // the rest after the module, dots kept; may be empty
};

#endif  // PLATFORM_POOLUTIL_CATALOG_AGENT_H_
