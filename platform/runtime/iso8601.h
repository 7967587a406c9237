// ISO 8601 times as the host's runtime converts them. Re-entrant.
#ifndef PLATFORM_RUNTIME_ISO8601_H_
#define PLATFORM_RUNTIME_ISO8601_H_

#include <string>

// Seconds since 1970-01-01 UTC of `text`, written
//   YYYY-MM-DD("T"|" ")hh:mm:ss[.fraction]["Z" | ("+"|"-")hh[:]mm]
// (the catalog's SQL datetimes are the blank-separated form). A time
// without a zone is UTC; the fraction is dropped. False, with `seconds`
// untouched, for any other text or a field out of range.
bool iso8601_to_posix_time(const std::string& text, long long& seconds);

#endif  // PLATFORM_RUNTIME_ISO8601_H_
