#include "tools/scatctl/catalog_filter.h"

#include <cstring>

#include "tools/scatctl/failure.h"
#include "tools/scatctl/json_io.h"

namespace scatctl {

namespace {

// The columns the catalog query filters on.
const char* const kColumns[] = {"backup_type",
                                "id",
                                "uuid",
                                "uid",
                                "host_uuid",
                                "resource_uuid",
                                "agent",
                                "backup_time",
                                "size",
                                "name",
                                "pool_uuid",
                                "incarnation",
                                "minor_resource_id",
                                "minor_resource_name"};

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

void require_column(const std::string& key, const std::string& column) {
  if (!is_column(column))
    throw usage_error("unknown filter key '" + key + "' (columns: " + column_list() + ")");
}

void require_state_names(const std::string& key, const Value& value) {
  if (!value.is_string())
    throw usage_error("filter key '" + key + "' takes comma-separated state names");
  parse_state_names(value.get<std::string>());
}

// Adds `op` on `column` to the operators already given for it.
void add_operator(Object& filter, const std::string& column, const char* op, const Value& value) {
  Value& slot = filter[column];
  if (!slot.is_object())
    slot = Object();
  slot[op] = value;
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
  return request;
}

Object catalog_filter(const Object& request) {
  static const struct {
    const char* prefix;
    const char* op;
  } kPrefixes[] = {{"GE_", "ge"}, {"LT_", "lt"}, {"LK_", "lk"}};
  Object filter;
  for (const auto& member : request) {
    const std::string& key = member.first;
    const Value& value = member.second;
    if (key == "states" || key == "not_states") {
      require_state_names(key, value);
      filter[key] = value;
      continue;
    }
    if (key == "type") {
      filter["backup_type"] = value;
      continue;
    }
    bool done = false;
    for (const auto& p : kPrefixes) {
      if (key.compare(0, 3, p.prefix) == 0) {
        require_column(key, key.substr(3));
        add_operator(filter, key.substr(3), p.op, value);
        done = true;
      }
    }
    if (done)
      continue;
    if (key.compare(0, 3, "BA_") == 0) {
      require_column(key, key.substr(3));
      if (!value.is_array() || value.size() != 2)
        throw usage_error("filter key '" + key + "' takes a [low, high] pair");
      add_operator(filter, key.substr(3), "ge", value[0]);
      add_operator(filter, key.substr(3), "le", value[1]);
      continue;
    }
    require_column(key, key);
    filter[key] = value;
  }
  return filter;
}

}  // namespace scatctl
