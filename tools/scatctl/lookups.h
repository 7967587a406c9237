// Lookups several commands share, each through the front: a pool, a device
// or a backup set by uuid, raising a Failure that names what is missing.
#ifndef TOOLS_SCATCTL_LOOKUPS_H_
#define TOOLS_SCATCTL_LOOKUPS_H_

#include <string>

#include "platform/json/json.h"

namespace scatctl {

class Session;

// The pool record, or none (`found` false).
bool find_pool(Session& session, const std::string& pool_uuid, Object& pool);
// The pool record; a Failure when the catalog has no such pool.
Object require_pool(Session& session, const std::string& pool_uuid);
bool find_device(Session& session, const std::string& device_uuid, Object& device);
Object require_device(Session& session, const std::string& device_uuid);
// The backup set with its state names and restorability (`detail`) or as
// stored.
bool find_set(Session& session, const std::string& pool_uuid, const std::string& set_uuid,
              bool detail, Object& set);
Object require_set(Session& session, const std::string& pool_uuid, const std::string& set_uuid,
                   bool detail);

// Every row of a pool's catalog (as stored), oldest first.
Array all_sets(Session& session, const std::string& pool_uuid);

}  // namespace scatctl

#endif  // TOOLS_SCATCTL_LOOKUPS_H_
