#include "tools/scatctl/catalog_filter.h"

#include "storaged/storage_catalog/storage_catalog_utils.h"
#include "tools/scatctl/failure.h"
#include "tools/scatctl/json_io.h"
#include "tools/scatctl/session.h"

namespace scatctl {

namespace {

// The columns of a pool's catalog table.
const char* const kColumns[] = {"id",
                                "uuid",
                                "uid",
                                "host_uuid",
                                "resource_uuid",
                                "incarnation",
                                "pool_uuid",
                                "agent",
                                "backup_type",
                                "backup_time",
                                "files",
                                "size",
                                "name",
                                "state",
                                "minor_resource_id",
                                "minor_resource_name",
                                "extended_attrs"};
const char* const kRequestKeys[] = {"states",     "not_states",    "type",  "sort",
                                    "order",      "offset",        "limit", "group_by",
                                    "group_sort", "group_selector"};

bool is_column(const std::string& key) {
  for (const char* column : kColumns)
    if (key == column)
      return true;
  return false;
}

std::string column_list() {
  std::string list;
  for (const char* column : kColumns)
    list += (list.empty() ? "" : ", ") + std::string(column);
  return list;
}

}  // namespace

Object set_request(const Command_Args& args) {
  Object request = args.where.empty() ? Object() : read_object(args.where, "--where");
  if (!args.states.empty())
    request["states"] = args.states;
  if (!args.not_states.empty())
    request["not_states"] = args.not_states;
  if (!args.type.empty())
    request["type"] = args.type;
  if (!args.since.empty())
    request["GE_backup_time"] = args.since;
  if (!args.before.empty())
    request["LT_backup_time"] = args.before;
  if (!args.resource.empty())
    request["resource_uuid"] = normalize_uuid(args.resource, "--resource");
  // Paging options left at their defaults do not override --where.
  if (args.limit != -1 || request.count("limit") == 0)
    request["limit"] = args.limit;
  if (args.offset != 0 || request.count("offset") == 0)
    request["offset"] = args.offset;
  if (args.order != "backup_time" || request.count("sort") == 0)
    request["sort"] = args.order;
  if (args.ascending || request.count("order") == 0)
    request["order"] = args.ascending ? "asc" : "desc";
  return request;
}

void check_request_keys(const Object& request) {
  for (const auto& member : request) {
    const std::string& key = member.first;
    bool known = is_column(key);
    for (const char* k : kRequestKeys)
      known = known || key == k;
    for (const char* prefix : {"GE_", "LT_", "BA_", "LK_"})
      known = known || (key.compare(0, 3, prefix) == 0 && is_column(key.substr(3)));
    if (!known)
      throw usage_error("unknown filter key '" + key + "' (columns: " + column_list() + ")");
    if ((key == "states" || key == "not_states") && member.second.is_string())
      parse_state_names(member.second.get<std::string>());
  }
}

void parse_request(Session& session, const Object& request, Object& filter, Object& paging) {
  check_request_keys(request);
  session.forget_reason();
  if (!Storage_Catalog_Utils::parse_params(request, filter, paging))
    throw usage_error(session.failed("the filter is refused").what());
}

}  // namespace scatctl
