// Merge backup state, catalogs selected by caller conditions, and the
// removal of repeated job entries.
#include <set>
#include <vector>

#include "platform/runtime/log.h"
#include "storaged/storage_catalog/storage_catalog_manager.h"
#include "storaged/storage_catalog/storage_catalog_utils.h"

bool Storage_Catalog_Utils::check_merge_backup_state(const std::string& pool_uuid,
                                                     const std::string& minor_resource_id,
                                                     Object& out) {
  Object filter{
      {"pool_uuid", pool_uuid}, {"minor_resource_id", minor_resource_id}, {"state", "running"}};
  Array jobs;
  if (!Storage_Catalog_Manager::instance()->query_merge_backup_job(filter, 0, -1, jobs, nullptr)) {
    LOG_ERROR("Failed to query merge backup job with filter '%s'.", JSON_Dump(filter).c_str());
    return false;
  }
  out["is_running"] = !jobs.empty();
  return true;
}

bool Storage_Catalog_Utils::get_running_merge_backup_jobs(Array& jobs) {
  Storage_Catalog_Manager* front = Storage_Catalog_Manager::instance();
  // Local pools take no merge backups (the front refuses the query there),
  // so an agent has none running.
  if (front->on_agent())
    return true;
  Object filter{{"state", Array{"pending", "running"}}};
  if (!front->query_merge_backup_job(filter, 0, -1, jobs, nullptr)) {
    LOG_ERROR("Failed to get running merge backup jobs with filter '%s'.",
              JSON_Dump(filter).c_str());
    return false;
  }
  return true;
}

bool Storage_Catalog_Utils::get_catalogs_with_conditions(const std::string& pool_uuid,
                                                         const Array& resource_uuids,
                                                         const Object& conditions, Object& result,
                                                         bool detail, bool online_only) {
  Object filter, paging;
  if (!parse_params2(conditions, filter, paging, nullptr)) {
    LOG_ERROR("Internal error: parse params error.");
    return false;
  }
  if (!resource_uuids.empty())
    filter["resource_uuid"] = resource_uuids;
  result.clear();
  result["rows"] = Array();
  result["total"] = 0LL;
  try {
    const std::string& sort = object_get_str_or_throw(paging, "sort");
    bool ascending = object_get_str_or_throw(paging, "order") == "asc";
    long long offset = object_get_int64_or_throw(paging, "offset");
    long long limit = object_get_int64_or_throw(paging, "limit");
    Array& rows = result["rows"].get_ref<Array&>();
    long long total = 0;
    if (!Storage_Catalog_Manager::instance()->query_catalog(
            pool_uuid, filter, sort, ascending, offset, limit, rows, &total, detail, online_only)) {
      LOG_ERROR("Failed to query catalog");
      return false;
    }
    result["total"] = total;
    return true;
  } catch (const std::exception& e) {
    LOG_ERROR("Failed to query catalog: %s", e.what());
    return false;
  }
}

bool Storage_Catalog_Utils::erase_repeated_obj(Array& jobs) {
  try {
    // Every id is read before anything moves, so a bad entry leaves the
    // array as it was.
    std::vector<long long> ids;
    ids.reserve(jobs.size());
    for (const Value& job : jobs)
      ids.push_back(object_get_int64_or_throw(job.get_ref<const Object&>(), "id"));
    std::set<long long> seen;
    Array kept;
    for (std::size_t i = 0; i < jobs.size(); ++i) {
      if (seen.insert(ids[i]).second)
        kept.push_back(std::move(jobs[i]));
    }
    jobs = std::move(kept);
    return true;
  } catch (const std::exception& e) {
    LOG_ERROR("Failed to erase repeat obj: %s.", e.what());
    return false;
  }
}
