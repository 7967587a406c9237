#include "storaged/storage_catalog/catalog_dependence_resolver.h"

#include <exception>
#include <set>

#include "platform/poolutil/catalog_agent.h"
#include "platform/poolutil/cd_modules.h"
#include "platform/runtime/iso8601.h"
#include "platform/runtime/log.h"
#include "storaged/storage_catalog/pool_url_info.h"
#include "storaged/storage_catalog/storage_catalog_manager.h"
#include "storaged/storage_catalog/storage_catalog_utils.h"
#include "storaged/storage_catalog/url_scheme_family.h"

namespace {

const int kOnline = 1;

// Seconds of a catalog's "backup_time"; 0 when it cannot be read.
long long backup_seconds(const Object& catalog) {
  long long seconds = 0;
  const std::string* time = object_get_str(catalog, "backup_time");
  if (time != nullptr)
    iso8601_to_posix_time(*time, seconds);
  return seconds;
}

long long required_backup_seconds(const Object& catalog) {
  long long seconds = 0;
  iso8601_to_posix_time(object_get_str_or_throw(catalog, "backup_time"), seconds);
  return seconds;
}

std::string upper_ascii(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z')
      c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

bool is_mssql(const std::string& agent) {
  Catalog_Agent parsed;
  return parsed.parse(agent) && parsed.module == "mssql";
}

// The type a catalog's chain role follows: its "backup_type" upper-cased,
// except that an MSSQL database or full backup recorded under another
// type counts as "FULL".
std::string actual_backup_type(const Object& catalog) {
  std::string type = upper_ascii(object_get_str_or_throw(catalog, "backup_type"));
  const std::string* agent = object_get_str(catalog, "agent");
  if (agent == nullptr || !is_mssql(*agent) || type == "FULL")
    return type;
  const Object* attrs = object_get_object(catalog, "extended_attrs");
  const std::string* real = attrs != nullptr ? object_get_str(*attrs, "backup_type") : nullptr;
  if (real != nullptr && (*real == "database" || *real == "full"))
    return "FULL";
  return type;
}

const std::string* snapshot_id_of(const Value& catalog) {
  if (!catalog.is_object())
    return nullptr;
  const Object* attrs = object_get_object(catalog.get_ref<const Object&>(), "extended_attrs");
  return attrs != nullptr ? object_get_str(*attrs, "snapshot_id") : nullptr;
}

// MSSQL backups on snapshot storage: a database backup takes its whole
// chain, any other the catalogs of its snapshot.
bool group_mssql_merge(const Object& catalog, const Array& chain, Catalog_Dependence_Group& group) {
  const Object* attrs = object_get_object(catalog, "extended_attrs");
  if (attrs == nullptr) {
    LOG_ERROR("Missing extended_attrs in MSSQL merge backup catalog.");
    return false;
  }
  const std::string* type = object_get_str(catalog, "backup_type");
  if (type == nullptr || *type == "merge")
    type = object_get_str(*attrs, "backup_type");
  if (type == nullptr) {
    LOG_ERROR("Missing actual backup_type in MSSQL merge backup catalog.");
    return false;
  }
  if (*type == "database") {
    group.catalogs.reserve(group.catalogs.size() + chain.size());
    group.catalogs.insert(group.catalogs.end(), chain.begin(), chain.end());
    return true;
  }
  const std::string* snapshot = object_get_str(*attrs, "snapshot_id");
  if (snapshot == nullptr || snapshot->empty()) {
    LOG_ERROR("Missing snapshot_id in MSSQL merge backup catalog.");
    return false;
  }
  for (const Value& member : chain) {
    const std::string* id = snapshot_id_of(member);
    if (id != nullptr && *id == *snapshot)
      group.catalogs.push_back(member);
  }
  return true;
}

enum class Walk { APPEND, SKIP, STOP };

// What the dependents walk of a catalog of `type` does with a later,
// online catalog of `candidate` type.
Walk dependent_step(const std::string& type, const std::string& candidate) {
  if (type == "LOG")
    return candidate == "LOG" ? Walk::APPEND : Walk::STOP;
  if (type == "INCREMENTAL" || type == "CUMULATIVE") {
    if (candidate == "CUMULATIVE")
      return Walk::STOP;
    return candidate == "INCREMENTAL" ? Walk::APPEND : Walk::SKIP;
  }
  return Walk::APPEND;
}

}  // namespace

Catalog_Dependence_Resolver::Catalog_Dependence_Resolver(const std::string& pool_uuid)
    : pool_uuid_(pool_uuid) {
  Pool_URL_Info info(pool_uuid);
  if (info.init()) {
    scheme_ = info.uri().scheme();
    is_inited_ = true;
  }
}

Catalog_Dependence_Resolver::Catalog_Dependence_Resolver(const Pool_URL_Info& info)
    : is_inited_(true), pool_uuid_(info.pool_uuid()), scheme_(info.uri().scheme()) {}

bool Catalog_Dependence_Resolver::has_snapshot_scheme() const {
  return is_scheme_of(SCHEME_BTRFS, scheme_);
}

bool Catalog_Dependence_Resolver::groups_by_snapshot(const std::string& agent) const {
  return has_snapshot_scheme() && is_mssql(agent);
}

bool Catalog_Dependence_Resolver::stands_alone(const Object& catalog, const std::string& agent,
                                               const std::string& type,
                                               Catalog_Dependence_Group& group) const {
  if (!is_cd_modules(catalog, &agent) || !(has_snapshot_scheme() || type == "DIFF"))
    return false;
  group.standalone = true;
  group.catalogs.push_back(catalog);
  return true;
}

bool Catalog_Dependence_Resolver::read_chain(const std::string& uuid, const Object& catalog,
                                             Array& chain) const {
  const std::string& incarnation = object_get_str_or_throw(catalog, "incarnation");
  return Storage_Catalog_Manager::instance()->get_catalogs_with_incarnation(
      pool_uuid_, uuid, incarnation, chain, true);
}

bool Catalog_Dependence_Resolver::get_dependence_catalogs(const std::string& uuid,
                                                          Catalog_Dependence_Group& group) {
  return get_dependence_catalogs(uuid, false, group, false);
}

bool Catalog_Dependence_Resolver::get_dependence_catalogs(const std::string& uuid, bool all_states,
                                                          Catalog_Dependence_Group& group,
                                                          bool type_filter) {
  VRT_CHECK_TRUE(is_inited_, false);
  try {
    return get_dependence_catalogs_i(uuid, all_states, group, type_filter);
  } catch (const std::exception& e) {
    LOG_ERROR("Failed to get catalog '%s' dependence on pool '%s': %s.", uuid.c_str(),
              pool_uuid_.c_str(), e.what());
    return false;
  }
}

int Catalog_Dependence_Resolver::start_walk(const std::string& uuid, bool actual_type,
                                            Catalog_Dependence_Group& group, Walk_Start& start) {
  Object& catalog = start.catalog;
  if (!Storage_Catalog_Utils::get_catalog(pool_uuid_, uuid, catalog) || catalog.empty())
    return -1;
  const std::string& agent = object_get_str_or_throw(catalog, "agent");
  group.status = 0;
  start.type =
      actual_type ? actual_backup_type(catalog) : object_get_str_or_throw(catalog, "backup_type");
  if (stands_alone(catalog, agent, start.type, group))
    return 0;
  if (!read_chain(uuid, catalog, start.chain))
    return -1;
  group.standalone = false;
  if (groups_by_snapshot(agent))
    return group_mssql_merge(catalog, start.chain, group) ? 0 : -1;
  return 1;
}

bool Catalog_Dependence_Resolver::get_dependence_catalogs_i(const std::string& uuid,
                                                            bool all_states,
                                                            Catalog_Dependence_Group& group,
                                                            bool type_filter) {
  Walk_Start start;
  int begun = start_walk(uuid, false, group, start);
  if (begun <= 0)
    return begun == 0;
  const std::string& type = start.type;
  long long time = required_backup_seconds(start.catalog);
  for (const Value& member : start.chain) {
    const Object& candidate = member.get_ref<const Object&>();
    if (all_states) {
      group.catalogs.push_back(member);
      continue;
    }
    if ((object_get_int64_or_throw(candidate, "state") & kOnline) == 0)
      continue;
    if (!type_filter || backup_type_filter(type, candidate, time))
      group.catalogs.push_back(member);
  }
  return true;
}

bool Catalog_Dependence_Resolver::backup_type_filter(const std::string& type,
                                                     const Object& candidate, long long time) {
  try {
    if (backup_seconds(candidate) < time)
      return false;
    std::string actual = actual_backup_type(candidate);
    if (type == "LOG")
      return actual == "LOG";
    if (type == "CUMULATIVE")
      return actual == "CUMULATIVE";
    if (type == "INCREMENTAL")
      return actual == "INCREMENTAL" || actual == "CUMULATIVE";
    return true;
  } catch (const std::exception& e) {
    LOG_ERROR("Failed to backup type filter : '%s'", e.what());
    return false;
  }
}

bool Catalog_Dependence_Resolver::get_dependents(const std::string& uuid,
                                                 Catalog_Dependence_Group& group) {
  VRT_CHECK_TRUE(is_inited_, false);
  try {
    return get_dependents_i(uuid, group);
  } catch (const std::exception& e) {
    LOG_ERROR("Failed to get dependents catalogs of '%s' on pool '%s': %s.", uuid.c_str(),
              pool_uuid_.c_str(), e.what());
    return false;
  }
}

bool Catalog_Dependence_Resolver::get_dependents_i(const std::string& uuid,
                                                   Catalog_Dependence_Group& group) {
  Walk_Start start;
  int begun = start_walk(uuid, true, group, start);
  if (begun <= 0)
    return begun == 0;
  const std::string& type = start.type;
  long long time = required_backup_seconds(start.catalog);
  for (const Value& member : start.chain) {
    const Object& candidate = member.get_ref<const Object&>();
    long long state = 0;
    object_get(candidate, "state", state);
    if ((state & kOnline) == 0 || backup_seconds(candidate) <= time)
      continue;
    Walk step = dependent_step(type, actual_backup_type(candidate));
    if (step == Walk::STOP)
      break;
    if (step == Walk::APPEND)
      group.catalogs.push_back(member);
  }
  return true;
}

bool Catalog_Dependence_Resolver::get_group_key(const Object& catalog, std::string& key) {
  const std::string* incarnation = object_get_str(catalog, "incarnation");
  if (incarnation == nullptr)
    return false;
  key = *incarnation;
  return true;
}

bool Catalog_Dependence_Resolver::get_dependence_catalogs(
    const Array& resource_uuids, const Object& conditions, const Array& excluded,
    std::map<std::string, Catalog_Dependence_Group>& groups) {
  VRT_CHECK_TRUE(is_inited_, false);
  try {
    return resolve_conditions(resource_uuids, conditions, excluded, groups);
  } catch (const std::exception& e) {
    LOG_ERROR("Failed to get dependence catalogs on pool '%s': %s.", pool_uuid_.c_str(), e.what());
    return false;
  }
}

bool Catalog_Dependence_Resolver::resolve_conditions(
    const Array& resource_uuids, const Object& conditions, const Array& excluded,
    std::map<std::string, Catalog_Dependence_Group>& groups) {
  std::set<std::string> skipped;
  for (const Value& uuid : excluded) {
    if (uuid.is_string())
      skipped.insert(uuid.get<std::string>());
  }
  Object oldest_first = conditions;
  oldest_first["sort"] = "backup_time";
  oldest_first["order"] = "asc";
  Object result;
  if (!Storage_Catalog_Utils::get_catalogs_with_conditions(pool_uuid_, resource_uuids, oldest_first,
                                                           result, true, true))
    return false;
  const Array* rows = object_get_array(result, "rows");
  if (rows == nullptr) {
    LOG_ERROR("Invalid result from get_catalogs_with_conditions, no rows");
    return false;
  }
  for (const Value& entry : *rows) {
    if (!entry.is_object())
      continue;
    const Object& row = entry.get_ref<const Object&>();
    const std::string* uuid = object_get_str(row, "uuid");
    if (uuid == nullptr || row.count("incarnation") == 0 || skipped.count(*uuid) != 0)
      continue;
    std::string key;
    if (!get_group_key(row, key)) {
      LOG_ERROR("Failed to get group key, pool_uuid=%s, catalog=%s", pool_uuid_.c_str(),
                JSON_Dump(entry, false).c_str());
      return false;
    }
    auto found = groups.find(key);
    if (found == groups.end()) {
      if (!get_dependence_catalogs(*uuid, false, groups[key], true))
        return false;
    } else if (!join_group(key, row, groups)) {
      return false;
    }
  }
  return true;
}

bool Catalog_Dependence_Resolver::join_group(
    const std::string& key, const Object& row,
    std::map<std::string, Catalog_Dependence_Group>& groups) {
  Catalog_Dependence_Group& group = groups[key];
  if (!is_cd_modules(row, object_get_str(row, "agent")) || !group.standalone)
    return true;
  const std::string* type = object_get_str(row, "backup_type");
  if (has_snapshot_scheme() || (type != nullptr && *type == "DIFF")) {
    group.catalogs.push_back(row);
    return true;
  }
  group = Catalog_Dependence_Group();
  return get_dependence_catalogs(object_get_str_or_throw(row, "uuid"), group);
}

bool Catalog_Dependence_Resolver::amount_catalogs(const Array& resource_uuids,
                                                  const Object& conditions, const Array& excluded,
                                                  long long& amount) {
  std::map<std::string, Catalog_Dependence_Group> groups;
  if (!get_dependence_catalogs(resource_uuids, conditions, excluded, groups))
    return false;
  amount = 0;
  for (const auto& group : groups)
    amount += static_cast<long long>(group.second.catalogs.size());
  return true;
}

namespace {

int predelete_catalogs(Catalog_Dependence_Resolver& resolver, const Array& uuids, Object& answer) {
  for (const Value& uuid : uuids) {
    if (!uuid.is_string())
      continue;
    Catalog_Dependence_Group group;
    if (!resolver.get_dependents(uuid.get<std::string>(), group))
      return -2;
    answer[uuid.get<std::string>()] = std::move(group.catalogs);
  }
  return 0;
}

int predelete_by_conditions(Catalog_Dependence_Resolver& resolver, const Object& request,
                            Object& answer) {
  Array resource_uuids, excluded;
  Object conditions;
  object_get(request, "resource_uuids", resource_uuids);
  object_get(request, "conditions", conditions);
  object_get(request, "exclude_catalog_uuids", excluded);
  long long total = 0;
  if (!resolver.amount_catalogs(resource_uuids, conditions, excluded, total))
    return -2;
  answer["total"] = total;
  return 0;
}

}  // namespace

int predelete_backupset(const Object& request, Object& response) {
  const std::string* pool_uuid = object_get_str(request, "pool_uuid");
  if (pool_uuid == nullptr)
    return -1;
  try {
    Catalog_Dependence_Resolver resolver(*pool_uuid);
    Object answer;
    const Array* catalog_uuids = object_get_array(request, "catalog_uuids");
    int result = catalog_uuids != nullptr ? predelete_catalogs(resolver, *catalog_uuids, answer)
                                          : predelete_by_conditions(resolver, request, answer);
    if (result != 0)
      return result;
    for (auto& member : answer)
      response[member.first] = std::move(member.second);
    return 0;
  } catch (const std::exception& e) {
    LOG_ERROR("Failed to predelete backupset on pool '%s': %s", pool_uuid->c_str(), e.what());
    return -2;
  }
}
