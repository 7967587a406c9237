// Replicate jobs: lookups, removal, the backup sets a warm-up needs, and the
// "replicated" and "warmupable" marks checked against what the target pools
// really hold.
#include <algorithm>

#include "platform/common/query_string.h"
#include "platform/poolutil/cd_modules.h"
#include "platform/runtime/log.h"
#include "storaged/storage_catalog/storage_catalog_utils.h"
#include "storaged/storage_catalog/storage_catalog_utils_internal.h"
#include "storaged/storage_catalog/target_pool_utils.h"

using scat_utils::front;
using scat_utils::query_value;
using target_pool_utils::Target_Copy;
using target_pool_utils::Target_State;

namespace {

// The first job `filter` selects.
bool find_job(const Object& filter, Object& job) {
  Storage_Catalog_Manager* manager = front();
  Array rows;
  if (manager == nullptr || !manager->query_replicate_job(filter, 0, -1, rows, nullptr) ||
      rows.empty())
    return false;
  try {
    job = rows[0].get<Object>();
    return true;
  } catch (const std::exception& e) {
    LOG_ERROR("Failed to get replicate job object: %s", e.what());
    return false;
  }
}

// The first job the query string selects; its values are text, so it only
// serves text and uuid columns.
bool find_job(const std::string& query, Object& job) {
  Object filter;
  return common::parse_query_string(query, filter) && find_job(filter, job);
}

bool is_full(const Value& catalog) {
  const std::string* type = object_get_str(catalog.get_ref<const Object&>(), "backup_type");
  return type != nullptr && (*type == "full" || *type == "FULL");
}

// The uuid of each entry of `rows` (objects) appended to `uuids`.
void append_uuids(const Array& rows, Array& uuids) {
  for (const Value& row : rows)
    uuids.push_back(object_get_str_or_throw(row.get_ref<const Object&>(), "uuid"));
}

// Removes "replicated" from an answer entry's state names.
void drop_replicated(Object& entry) {
  Array& states = object_get_array_or_throw(entry, "state");
  states.erase(std::remove(states.begin(), states.end(), Value("replicated")), states.end());
}

bool has_state(const Object& entry, const char* name) {
  const Array* states = object_get_array(entry, "state");
  return states != nullptr &&
         std::find(states->begin(), states->end(), Value(name)) != states->end();
}

// The pools whose sets are checked in their target pools: every request
// entry's unless it says "check_replicate": false.
std::vector<std::string> checked_pools(const Array& requests) {
  std::vector<std::string> pools;
  for (const Value& request : requests) {
    if (!request.is_object())
      continue;
    const Object& fields = request.get_ref<const Object&>();
    bool check = true;
    object_get(fields, "check_replicate", check);
    if (check)
      pools.push_back(object_get_str_or_throw(fields, "pool_uuid"));
  }
  return pools;
}

}  // namespace

bool Storage_Catalog_Utils::get_replicate_job(const std::string& source_uuid,
                                              const std::string& target_uuid,
                                              const std::string& catalog_uuid,
                                              const std::string& type, Object& job) {
  return find_job("catalog_uuid=" + query_value(catalog_uuid) + "&source_pool_uuid=" +
                      query_value(source_uuid) + "&target_pool_uuid=" + query_value(target_uuid) +
                      "&type=" + query_value(type),
                  job);
}

bool Storage_Catalog_Utils::get_replicate_job_with_id(long long id, Object& job) {
  return find_job(Object{{"id", id}}, job);
}

bool Storage_Catalog_Utils::get_replicate_job_with_uuid(const std::string& catalog_uuid,
                                                        Object& job) {
  return find_job("catalog_uuid=" + query_value(catalog_uuid), job);
}

bool Storage_Catalog_Utils::get_replicate_job_info(
    const std::map<std::string, std::string>& conditions, long long offset, long long limit,
    Array& jobs, long long* total) {
  Storage_Catalog_Manager* manager = front();
  if (manager == nullptr ||
      !manager->get_replicate_job_info(conditions, offset, limit, jobs, total)) {
    LOG_ERROR("Failed to get replicate job info.");
    return false;
  }
  try {
    std::vector<Target_Copy> copies;
    std::vector<Object*> warmupable;
    for (Value& job : jobs) {
      Object& fields = job.get_ref<Object&>();
      const std::string& catalog = object_get_str_or_throw(fields, "catalog_uuid");
      if (object_get_str_or_throw(fields, "type") != "replicate")
        continue;
      if (!object_get_bool_or_throw(fields, "warmupable"))
        continue;
      copies.push_back(Target_Copy{catalog, object_get_str_or_throw(fields, "target_pool_uuid")});
      warmupable.push_back(&fields);
    }
    std::vector<Target_State> states;
    if (copies.empty() || !target_pool_utils::get_target_states(copies, states))
      return true;
    for (std::size_t i = 0; i < copies.size(); ++i)
      if (!target_pool_utils::is_online_in_target(states, copies[i].catalog_uuid))
        (*warmupable[i])["warmupable"] = false;
    return true;
  } catch (const std::exception& e) {
    LOG_ERROR("Failed to get request data: %s", e.what());
    return false;
  }
}

bool Storage_Catalog_Utils::remove_replicate_jobs(const Array& ids) {
  try {
    // Every id is read first, so that a bad one removes nothing.
    std::vector<long long> checked;
    for (const Value& id : ids) {
      if (!id.is_number_integer())
        throw JSON_Error("Job id " + JSON_Dump(id) + " is not an integer");
      checked.push_back(id.get<long long>());
    }
    Storage_Catalog_Manager* manager = front();
    if (manager == nullptr)
      return false;
    for (long long id : checked) {
      Object job;
      if (get_replicate_job_with_id(id, job) &&
          object_get_str_or_throw(job, "type") == "replicate") {
        const std::string& pool = object_get_str_or_throw(job, "source_pool_uuid");
        const std::string& catalog = object_get_str_or_throw(job, "catalog_uuid");
        if (!manager->unset_state(pool, catalog, CST_REPLICATED))
          LOG_ERROR("Failed to unset replicated state of catalog '%s'.", catalog.c_str());
      }
      if (!manager->remove_replicate_job(id))
        return false;
    }
    return true;
  } catch (const std::exception& e) {
    LOG_ERROR("Failed to remove replicate jobs: %s.", e.what());
    return false;
  }
}

bool Storage_Catalog_Utils::get_catalogs_for_warmup(const std::string& pool_uuid,
                                                    const std::string& catalog_uuid, Array& uuids,
                                                    Object* catalog) {
  try {
    Object found;
    if (!get_catalog(pool_uuid, catalog_uuid, found) || found.empty())
      return false;
    Storage_Catalog_Manager* manager = front();
    const std::string& incarnation = object_get_str_or_throw(found, "incarnation");
    Array chain;
    if (manager == nullptr || !manager->get_catalogs_with_incarnation(pool_uuid, catalog_uuid,
                                                                      incarnation, chain, false)) {
      LOG_ERROR("Failed to get catalogs with incarnation '%s'", incarnation.c_str());
      return false;
    }
    const std::string* type = object_get_str(found, "backup_type");
    Array picked;
    if (is_cd_modules(found, nullptr) && type != nullptr && (*type == "DIFF" || *type == "diff")) {
      auto full = std::find_if(chain.begin(), chain.end(), is_full);
      if (full != chain.end())
        append_uuids(Array{*full}, picked);
      picked.push_back(catalog_uuid);
    } else {
      append_uuids(chain, picked);
    }
    uuids.insert(uuids.end(), picked.begin(), picked.end());
    if (catalog != nullptr)
      *catalog = std::move(found);
    return true;
  } catch (const std::exception& e) {
    LOG_ERROR("Failed to get uuids for warmup: %s", e.what());
    return false;
  }
}

bool Storage_Catalog_Utils::get_incarnation_info(const Array& requests, Array& info) {
  Storage_Catalog_Manager* manager = front();
  Value answer;
  if (manager == nullptr || !manager->get_incarnation_info(requests, answer) ||
      !answer.is_array()) {
    LOG_ERROR("Failed to get incarnation info.");
    return false;
  }
  Array entries;
  std::vector<Target_Copy> copies;
  std::vector<std::size_t> replicated;
  try {
    std::vector<std::string> pools = checked_pools(requests);
    entries = answer.get<Array>();
    for (std::size_t i = 0; i < entries.size(); ++i) {
      const Object& entry = entries[i].get_ref<const Object&>();
      const std::string& pool = object_get_str_or_throw(entry, "pool_uuid");
      if (std::find(pools.begin(), pools.end(), pool) == pools.end() ||
          !has_state(entry, "replicated"))
        continue;
      copies.push_back(Target_Copy{object_get_str_or_throw(entry, "uuid"),
                                   object_get_str_or_throw(entry, "target_pool_uuid")});
      replicated.push_back(i);
    }
  } catch (const std::exception& e) {
    LOG_ERROR("Failed to get request data: %s", e.what());
    return false;
  }
  try {
    std::vector<Target_State> states;
    if (!copies.empty() && target_pool_utils::get_target_states(copies, states)) {
      for (std::size_t i = 0; i < copies.size(); ++i)
        if (!target_pool_utils::is_online_in_target(states, copies[i].catalog_uuid))
          drop_replicated(entries[replicated[i]].get_ref<Object&>());
    }
    info = std::move(entries);
    return true;
  } catch (const std::exception& e) {
    LOG_ERROR("Failed to generate target pool incarnation info: %s", e.what());
    return false;
  }
}
