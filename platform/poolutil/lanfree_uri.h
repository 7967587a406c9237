// The path of a LAN-free device URL: "/<target>/<initiator>/<lun>", then
// optionally "/<volume>"; the LUN is a decimal number.
#ifndef PLATFORM_POOLUTIL_LANFREE_URI_H_
#define PLATFORM_POOLUTIL_LANFREE_URI_H_

#include <string>

// Splits `path` into the outputs given (any may be null). False, with the
// outputs untouched, when the path is not of that form.
bool parse_lanfree_uri(const std::string& path, std::string* target, std::string* initiator,
                       std::string* lun, std::string* volume);

#endif  // PLATFORM_POOLUTIL_LANFREE_URI_H_
