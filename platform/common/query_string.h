// Query strings as the daemon's REST layer reads them (libcommon's parser):
// "a=1&b=x%20y" into a JSON object of string members. Re-entrant.
#ifndef PLATFORM_COMMON_QUERY_STRING_H_
#define PLATFORM_COMMON_QUERY_STRING_H_

#include <string>

#include "platform/json/json.h"

namespace common {

// Adds one string member per "name=value" pair of `text` to `out` ("+" is a
// blank, "%XX" a byte; a pair without "=" has the empty value; a later
// pair of the same name wins). False, with `out` untouched, for an empty
// name or a malformed escape.
bool parse_query_string(const std::string& text, Object& out);

}  // namespace common

#endif  // PLATFORM_COMMON_QUERY_STRING_H_
