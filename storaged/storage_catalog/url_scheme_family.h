// The families of storage URL schemes that decide how a pool's data is
// reached. Each family is a fixed list of schemes, most in a plain and a
// secure form (the name followed by "s").
//
// Two tests exist and both are used: the whole-URL test is an exact scheme
// match on the URL text ("dedup://..."), the scheme-name test compares a
// parsed scheme with each member name over the member's length only, so
// "s3" also accepts "s3v4s", "file" accepts "files" and "ws" accepts
// "wss". Free functions, re-entrant.
#ifndef STORAGED_STORAGE_CATALOG_URL_SCHEME_FAMILY_H_
#define STORAGED_STORAGE_CATALOG_URL_SCHEME_FAMILY_H_

#include <string>

enum URL_Scheme_Family {
  SCHEME_DEDUP,           // dedup, ws (and secure forms)
  SCHEME_KXT,             // the tape manager
  SCHEME_MTF,             // tape data kept in local files
  SCHEME_FILE,            // a local folder
  SCHEME_HTTP,            // files served over HTTP
  SCHEME_SDFS,            // sdfs
  SCHEME_BTRFS,           // btrfs, vmcopy
  SCHEME_LANFREE,         // lanfree
  SCHEME_REALTIME,        // realtime
  SCHEME_OBJECT_STORAGE,  // s3, oss, blob, ... (scheme-name test only)
};

// Whether `url` starts with one of the family's members written with their
// "://". The object-storage family has no whole-URL members: always false.
bool is_url_of(URL_Scheme_Family family, const std::string& url);

// Whether `scheme` (as a parsed URI gives it, without "://") starts with
// one of the family's member names.
bool is_scheme_of(URL_Scheme_Family family, const std::string& scheme);

#endif  // STORAGED_STORAGE_CATALOG_URL_SCHEME_FAMILY_H_
