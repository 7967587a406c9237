#include "storaged/storage_catalog/replicate_job_base_on_getter.h"

#include <map>
#include <set>

#include "platform/runtime/log.h"
#include "storaged/storage_catalog/catalog_dependence_resolver.h"
#include "storaged/storage_catalog/storage_catalog_manager.h"
#include "storaged/storage_catalog/storage_catalog_utils.h"

bool Replicate_Job_Base_On_Getter::get(Catalog_Dependence_Resolver& resolver,
                                       const std::string& source_pool_uuid,
                                       const std::string& target_pool_uuid,
                                       const std::string& catalog_uuid, const std::string& type,
                                       Array& jobs) {
  std::set<std::string> uuids;
  if (type == "warmup") {
    uuids.insert(catalog_uuid);
  } else {
    Catalog_Dependence_Group group;
    if (!resolver.get_dependence_catalogs(catalog_uuid, true, group, false))
      return false;
    for (const Value& member : group.catalogs) {
      if (!member.is_object())
        continue;
      const std::string* uuid = object_get_str(member.get_ref<const Object&>(), "uuid");
      if (uuid != nullptr)
        uuids.insert(*uuid);
    }
  }
  Storage_Catalog_Manager* manager = Storage_Catalog_Manager::instance();
  if (manager == nullptr)
    return false;
  for (const std::string& uuid : uuids) {
    std::map<std::string, std::string> conditions{{"source_pool_uuid", source_pool_uuid},
                                                  {"target_pool_uuid", target_pool_uuid},
                                                  {"type", type},
                                                  {"catalog_uuid", uuid}};
    Array found;
    if (manager->get_replicate_job_info(conditions, 0, -1, found, nullptr) && !found.empty())
      jobs.push_back(std::move(found[0]));
  }
  return true;
}

bool Replicate_Job_Base_On_Getter::get(const std::string& source_pool_uuid,
                                       const std::string& target_pool_uuid,
                                       const std::string& catalog_uuid, const std::string& type,
                                       Array& jobs) {
  Catalog_Dependence_Resolver resolver(source_pool_uuid);
  return get(resolver, source_pool_uuid, target_pool_uuid, catalog_uuid, type, jobs);
}

bool Replicate_Job_Base_On_Getter::get(const Array& jobs, Array& base_on) {
  try {
    for (const Value& job : jobs) {
      const Object& fields = job.get_ref<const Object&>();
      if (!get(object_get_str_or_throw(fields, "source_pool_uuid"),
               object_get_str_or_throw(fields, "target_pool_uuid"),
               object_get_str_or_throw(fields, "catalog_uuid"),
               object_get_str_or_throw(fields, "type"), base_on))
        return false;
    }
    return Storage_Catalog_Utils::erase_repeated_obj(base_on);
  } catch (const std::exception& e) {
    LOG_ERROR("Failed to get replicate jobs base on: %s.", e.what());
    return false;
  }
}
