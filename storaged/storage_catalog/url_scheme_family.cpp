#include "storaged/storage_catalog/url_scheme_family.h"

#include <cstring>

namespace {

// Member names per family, null-terminated, in the order of the enum.
const char* const kDedup[] = {"dedup", "dedups", "ws", "wss", nullptr};
const char* const kKxt[] = {"kxt", "kxts", nullptr};
const char* const kMtf[] = {"mtf", "mtfs", nullptr};
const char* const kFile[] = {"file", nullptr};
const char* const kHttp[] = {"http", "https", nullptr};
const char* const kSdfs[] = {"sdfs", "sdfss", nullptr};
const char* const kBtrfs[] = {"btrfs", "vmcopy", "btrfss", "vmcopys", nullptr};
const char* const kLanfree[] = {"lanfree", "lanfrees", nullptr};
const char* const kRealtime[] = {"realtime", "realtimes", nullptr};
const char* const kObjectStorage[] = {"s3",    "s3s",    "s3v4", "s3v4s", "oss",  "osss", "obs",
                                      "obss",  "kss",    "ksss", "cos",   "coss", "scs",  "scss",
                                      "ufile", "ufiles", "blob", "blobs", "hbr",  "hbrs", nullptr};

const char* const* members_of(URL_Scheme_Family family) {
  switch (family) {
    case SCHEME_DEDUP:
      return kDedup;
    case SCHEME_KXT:
      return kKxt;
    case SCHEME_MTF:
      return kMtf;
    case SCHEME_FILE:
      return kFile;
    case SCHEME_HTTP:
      return kHttp;
    case SCHEME_SDFS:
      return kSdfs;
    case SCHEME_BTRFS:
      return kBtrfs;
    case SCHEME_LANFREE:
      return kLanfree;
    case SCHEME_REALTIME:
      return kRealtime;
    case SCHEME_OBJECT_STORAGE:
      return kObjectStorage;
  }
  return nullptr;
}

}  // namespace

bool is_url_of(URL_Scheme_Family family, const std::string& url) {
  if (family == SCHEME_OBJECT_STORAGE)
    return false;
  for (const char* const* m = members_of(family); m != nullptr && *m != nullptr; ++m) {
    std::size_t n = std::strlen(*m);
    if (url.compare(0, n, *m) == 0 && url.compare(n, 3, "://") == 0)
      return true;
  }
  return false;
}

bool is_scheme_of(URL_Scheme_Family family, const std::string& scheme) {
  for (const char* const* m = members_of(family); m != nullptr && *m != nullptr; ++m)
    if (scheme.compare(0, std::strlen(*m), *m) == 0)
      return true;
  return false;
}
