// Helpers shared by the usage calculators.
#ifndef STORAGED_STORAGE_CATALOG_POOL_USAGE_CALCULATOR_INTERNAL_H_
#define STORAGED_STORAGE_CATALOG_POOL_USAGE_CALCULATOR_INTERNAL_H_

#include <string>
#include <utility>
#include <vector>

#include "platform/json/json.h"

// `segment` fit to be one segment of a request path: every byte other than
// letters, digits and "-._~" percent-encoded.
std::string url_path_escape(const std::string& segment);

// The last segment of a URL path split on '/'. Empty when the path ends
// with '/' or the segment would name a folder outside its parent ("." or
// "..", or a Windows separator inside).
std::string last_path_segment(const std::string& uri_path);

// GET `path` with the query parameters `query` from the backup daemon the
// catalog front talks to, waiting at most `timeout` seconds. True when the
// daemon answered with success and JSON, which goes to `answer`; a failure
// is logged by the client.
bool get_from_backup_daemon(const std::string& path,
                            const std::vector<std::pair<std::string, std::string>>& query,
                            int timeout, Value& answer);

// "size" and "free_size" of the disk holding `dir` into `out`. False, with
// `out` untouched, when the disk cannot be examined.
bool write_disk_space(const std::string& dir, Object& out);

#endif  // STORAGED_STORAGE_CATALOG_POOL_USAGE_CALCULATOR_INTERNAL_H_
