// Reading what the user gives and writing what scatctl answers: JSON text
// from an argument or standard input, uuids in the forms people paste,
// state names, and the printing of results (indented for a person, one
// compact line for a script). Each reader raises a usage Failure naming
// the problem.
#ifndef TOOLS_SCATCTL_JSON_IO_H_
#define TOOLS_SCATCTL_JSON_IO_H_

#include <cstdio>
#include <string>

#include "platform/json/json.h"
#include "storaged/storage_catalog/catalog_state.h"

namespace scatctl {

// The JSON object in `text`, or read from standard input when `text` is
// empty or "-". `what` names the input in messages ("the pool record").
Object read_object(const std::string& text, const std::string& what);
// Any JSON value, as read_object reads it.
Value read_value(const std::string& text, const std::string& what);

// A uuid as the catalog writes it: 32 lower-case hexadecimal digits. Dashes
// and braces are dropped and letters lowered first.
std::string normalize_uuid(const std::string& text, const std::string& what);
// Normalises the member `key` of `record` when it is a string.
void normalize_uuid_member(Object& record, const std::string& key);

// The states named in `names` (comma-separated, e.g. "online,expired").
Catalog_State parse_state_names(const std::string& names);
// A record's "state" given as names (an array or a comma-separated text)
// becomes the bit set the catalog stores; a number stays as it is.
void state_names_to_bits(Object& record);
Array state_names(long long state);

// A member of a record read back from the catalog; `fallback` when it is
// absent or of another type.
std::string text_of(const Object& record, const std::string& key, const std::string& fallback = "");
long long number_of(const Object& record, const std::string& key, long long fallback = 0);

// Writes `value` followed by a line break.
void print_json(const Value& value, bool compact, std::FILE* out = stdout);

}  // namespace scatctl

#endif  // TOOLS_SCATCTL_JSON_IO_H_
