// URL query strings as the host's common library reads them into request
// objects. Re-entrant.
#ifndef PLATFORM_COMMON_QUERY_STRING_H_
#define PLATFORM_COMMON_QUERY_STRING_H_

#include <string>

#include "platform/json/json.h"

namespace common {

// Adds each "key=value" pair of `query` ("a=1&b=x%20y") to `out` as a
// string member: "%XX" escapes become their byte and "+" a blank; a later
// pair replaces an earlier one of the same key; a pair without "=" has an
// empty value; empty pairs ("a=1&&b=2") are skipped. False, with `out`
// untouched, for an empty key or a malformed escape.
bool parse_query_string(const std::string& query, Object& out);

}  // namespace common

#endif  // PLATFORM_COMMON_QUERY_STRING_H_
