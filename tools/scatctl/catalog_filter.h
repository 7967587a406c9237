// The backup-set filter of `set list`: the request keys the library's
// callers use ("states", "not_states", "type", "GE_backup_time", ...),
// given with --where or the command's own options, turned into a catalog
// filter by Storage_Catalog_Utils::parse_params. Keys that name no column
// are refused before that, so a typo never lists every set.
#ifndef TOOLS_SCATCTL_CATALOG_FILTER_H_
#define TOOLS_SCATCTL_CATALOG_FILTER_H_

#include "platform/json/json.h"
#include "tools/scatctl/command_args.h"

namespace scatctl {

class Session;

// The request the options and --where give together (options win).
Object set_request(const Command_Args& args);

// Raises a usage Failure for a request key that is neither a paging key,
// "states", "not_states", "type", nor a column of the catalog table (bare
// or after "GE_", "LT_", "BA_" or "LK_").
void check_request_keys(const Object& request);

// The catalog filter and paging of `request`, as the library parses them.
// Raises a usage Failure naming the library's reason when it refuses.
void parse_request(Session& session, const Object& request, Object& filter, Object& paging);

}  // namespace scatctl

#endif  // TOOLS_SCATCTL_CATALOG_FILTER_H_
