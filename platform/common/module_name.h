// Module names of backup agents. An agent text names the module that wrote
// a backup set: "backup.<module>" or "backup.<module>.<kind>" (as in
// "backup.file" or "backup.vmware.vm"), or "<module>" possibly followed by
// ".<kind>" (as in "file.agent", or "backupd" for the backup daemon's own
// sets). Free functions, re-entrant.
#ifndef PLATFORM_COMMON_MODULE_NAME_H_
#define PLATFORM_COMMON_MODULE_NAME_H_

#include <string>
#include <vector>

namespace common {

// Writes the module that `agent` names into `module`: the second
// dot-separated segment after a leading "backup" segment, else the first
// segment, in lower case. False, with `module` untouched, for an empty
// text, an empty segment (a leading, trailing or doubled dot), a text that
// is "backup" alone, or any character other than letters, digits, '_' and
// '-' in a segment.
bool parse_module_name(const std::string& agent, std::string& module);

// Appends the dot-separated segments of `text`, in lower case, to
// `segments`. False for an empty segment or a character other than letters,
// digits, '_' and '-'; `segments` may then hold the segments read so far.
bool split_agent_segments(const std::string& text, std::vector<std::string>& segments);

}  // namespace common

#endif  // PLATFORM_COMMON_MODULE_NAME_H_
