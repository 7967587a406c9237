// The disk space a storage host reports for the folders it keeps data in,
// asked of its storage service over HTTP. Re-entrant.
#ifndef PLATFORM_POOLUTIL_STORAGED_SPACE_H_
#define PLATFORM_POOLUTIL_STORAGED_SPACE_H_

#include <cstdint>
#include <string>

#include "platform/json/json.h"

// GET "/kx/r/storaged/space" of the service at host:port (TLS when
// `secure`) with `access_key` in the access-key header; the answer object
// goes to `info`. False, logged, when the service does not answer with a
// JSON object; `info` is then untouched.
bool get_storaged_space_info(const std::string& host, std::uint16_t port, bool secure,
                             const std::string& access_key, Object& info);

#endif  // PLATFORM_POOLUTIL_STORAGED_SPACE_H_
