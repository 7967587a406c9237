// Backup-set states: a bit set with a fixed vocabulary of names that
// filters use and query results show. Free functions, re-entrant.
#ifndef STORAGED_STORAGE_CATALOG_CATALOG_STATE_H_
#define STORAGED_STORAGE_CATALOG_CATALOG_STATE_H_

#include <cstdint>
#include <string>

#include "platform/json/json.h"

enum Catalog_State : std::uint32_t {
  CST_UNKNOWN = 0,
  CST_ONLINE = 1,
  CST_OFFLINE = 2,
  CST_NEARLINE = 4,
  CST_EXPIRED = 8,
  CST_REPLICATED = 16,
  CST_WARMUP = 32
};

// The state named by the first `length` characters of `name` (an exact,
// case-sensitive match of the whole name); 0 for anything else.
Catalog_State name_to_catalog_state(const char* name, int length);

// Replaces `names` by the names of the bits set in `state`, in the order
// online, offline, nearline, expired, replicated, warmup.
void catalog_state_to_array(Catalog_State state, Array& names);

// Replaces `sql` by the condition "state & M = M" (all of the listed states
// set) or, with `exclude`, "state & M = 0" (none of them), where M ORs the
// states of the comma-separated `names`. Unknown names add nothing.
void generate_state_filter_sql(const std::string& names, bool exclude, std::string& sql);

#endif  // STORAGED_STORAGE_CATALOG_CATALOG_STATE_H_
