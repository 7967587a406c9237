// What the target pools of replicates really hold: the backup daemon is
// asked for the states of backup sets as each target pool sees them, so
// that "replicated" and "warmupable" marks are trusted only for copies that
// are still online there. Free functions; any thread may call them.
#ifndef STORAGED_STORAGE_CATALOG_TARGET_POOL_UTILS_H_
#define STORAGED_STORAGE_CATALOG_TARGET_POOL_UTILS_H_

#include <string>
#include <utility>
#include <vector>

#include "platform/json/json.h"

namespace target_pool_utils {

// A backup set and the target pool holding its copy.
struct Target_Copy {
  std::string catalog_uuid;
  std::string target_pool_uuid;
};

// A backup set and its state names in the target pool.
using Target_State = std::pair<std::string, std::vector<std::string>>;

// The body asked of the daemon: one entry per target pool, in order of
// first appearance, listing its backup sets in the order given.
Array build_target_state_request(const std::vector<Target_Copy>& copies);

// Asks the daemon for the state of each copy, one entry per copy in order.
// False when the daemon does not answer with an array (silently: the
// client logs) or leaves a copy out (logged); `states` is then untouched.
bool get_target_states(const std::vector<Target_Copy>& copies, std::vector<Target_State>& states);

// Whether `states` reports the backup set online; false when it is not
// listed.
bool is_online_in_target(const std::vector<Target_State>& states, const std::string& catalog_uuid);

}  // namespace target_pool_utils

#endif  // STORAGED_STORAGE_CATALOG_TARGET_POOL_UTILS_H_
