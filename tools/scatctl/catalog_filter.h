// The backup-set filter of `set list`: the request keys the library's
// callers use ("states", "not_states", "type", "GE_backup_time", ...) and
// the command's own options, turned into the filter the catalog query
// takes. Keys nobody knows are refused rather than ignored, so a typo
// never lists every set.
#ifndef TOOLS_SCATCTL_CATALOG_FILTER_H_
#define TOOLS_SCATCTL_CATALOG_FILTER_H_

#include "platform/json/json.h"
#include "tools/scatctl/command_args.h"

namespace scatctl {

// The request the options and --where give together (options win).
Object set_request(const Command_Args& args);

// The catalog query's filter for `request`: "states" and "not_states" stay
// as they are, "type" filters "backup_type", a key "GE_<column>",
// "LT_<column>", "LK_<column>" or "BA_<column>" (a [low, high] pair)
// compares that column, and every other key must be a filterable column.
// Raises a usage Failure for anything else.
Object catalog_filter(const Object& request);

}  // namespace scatctl

#endif  // TOOLS_SCATCTL_CATALOG_FILTER_H_
