// The replicate jobs that a replicate job of one backup set rests on: for a
// "warmup" the job of that set alone, for a "replicate" the jobs of every
// set in its dependence group (the later sets of its chain that rest on
// it), since copying the set means copying those too. Stateless: static
// operations only, any thread may call them; results are appended to
// caller-owned arrays.
#ifndef STORAGED_STORAGE_CATALOG_REPLICATE_JOB_BASE_ON_GETTER_H_
#define STORAGED_STORAGE_CATALOG_REPLICATE_JOB_BASE_ON_GETTER_H_

#include <string>

#include "platform/json/json.h"

class Catalog_Dependence_Resolver;

class Replicate_Job_Base_On_Getter {
 public:
  // Appends, for each set in uuid order, the first job between the two
  // pools of that type. False when the dependence group cannot be
  // resolved; `jobs` keeps what was appended before.
  static bool get(Catalog_Dependence_Resolver& resolver, const std::string& source_pool_uuid,
                  const std::string& target_pool_uuid, const std::string& catalog_uuid,
                  const std::string& type, Array& jobs);
  // The same with a resolver of the source pool.
  static bool get(const std::string& source_pool_uuid, const std::string& target_pool_uuid,
                  const std::string& catalog_uuid, const std::string& type, Array& jobs);
  // The jobs each of `jobs` rests on ("source_pool_uuid",
  // "target_pool_uuid", "catalog_uuid" and "type" each), each job once.
  // False, logged, for a job without those members; stops at the first
  // job that fails.
  static bool get(const Array& jobs, Array& base_on);
};

#endif  // STORAGED_STORAGE_CATALOG_REPLICATE_JOB_BASE_ON_GETTER_H_
