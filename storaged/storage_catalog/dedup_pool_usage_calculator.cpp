#include "storaged/storage_catalog/dedup_pool_usage_calculator.h"

#include <algorithm>
#include <limits>

#include "platform/rpc/host_manager.h"
#include "platform/rpc/http_options.h"
#include "platform/rpc/json_restful_client.h"
#include "platform/runtime/log.h"
#include "platform/runtime/uri.h"
#include "storaged/storage_catalog/pool_usage_calculator_internal.h"
#include "storaged/storage_catalog/url_scheme_family.h"

namespace {

const char kStatusPath[] = "/kx/r/dedup/gstat/";

// The member `key` as an unsigned number up to `max`: false when absent;
// JSON_Error for a member of another type or out of range.
bool get_unsigned(const Object& object, const std::string& key, std::uint64_t max,
                  std::uint64_t& out) {
  auto it = object.find(key);
  if (it == object.end())
    return false;
  const Value& value = it->second;
  bool fits =
      value.is_number_unsigned() || (value.is_number_integer() && value.get<long long>() >= 0);
  if (!fits || value.get<std::uint64_t>() > max)
    throw JSON_Error("'" + key + "' is not an unsigned number up to " + std::to_string(max));
  out = value.get<std::uint64_t>();
  return true;
}

void read_u64(const Object& object, const char* key, std::uint64_t& out) {
  get_unsigned(object, key, std::numeric_limits<std::uint64_t>::max(), out);
}

void read_node(const Object& member, Dedup_Pool_Usage_Calculator::Node& node) {
  read_u64(member, "data_size", node.data_size);
  read_u64(member, "max_fp_list_db_size", node.max_fp_list_db_size);
  read_u64(member, "capacity", node.capacity);
  object_get(member, "state", node.state);
  read_u64(member, "storage_size", node.storage_size);
  read_u64(member, "free_size", node.free_size);
  read_u64(member, "db_size", node.db_size);
  std::uint64_t shards = 0;
  if (get_unsigned(member, "fp_list_db_shards", std::numeric_limits<std::uint32_t>::max(), shards))
    node.fp_list_db_shards = static_cast<std::uint32_t>(shards);
  read_u64(member, "total_size", node.total_size);
}

// The URL of the first device that has one.
const std::string* first_url(const Array& devices) {
  for (const Value& device : devices) {
    const std::string* url =
        device.is_object() ? object_get_str(device.get_ref<const Object&>(), "url") : nullptr;
    if (url != nullptr)
      return url;
  }
  return nullptr;
}

// The node a device lives on: its "extended_attrs" "node_id", 1 without
// one. False, logged, for a node id that is not a node number.
bool device_node(const Object& device, const std::string& uuid, std::uint32_t& node) {
  node = 1;
  const Object* attrs = object_get_object(device, "extended_attrs");
  if (attrs == nullptr)
    return true;
  try {
    std::uint64_t id = 0;
    if (get_unsigned(*attrs, "node_id", std::numeric_limits<std::uint32_t>::max(), id))
      node = static_cast<std::uint32_t>(id);
    return true;
  } catch (const JSON_Error& e) {
    LOG_ERROR("Invalid node of dedup device '%s': %s", uuid.c_str(), e.what());
    return false;
  }
}

}  // namespace

Dedup_Pool_Usage_Calculator::Dedup_Pool_Usage_Calculator(const Array& devices)
    : Pool_Usage_Calculator(devices) {
  flags_ = LIVE | PHYSICAL_IS_USED;
}

long long Dedup_Pool_Usage_Calculator::dedup_rate(std::uint64_t data, std::uint64_t stored) {
  if (data == 0 || stored >= data)
    return 0;
  // Wide enough for petabytes of data times 10000.
  unsigned __int128 saved = static_cast<unsigned __int128>(data - stored) * 10000u;
  return static_cast<long long>(saved / data);
}

bool Dedup_Pool_Usage_Calculator::read_status(Status& status) const {
  const std::string* url = first_url(devices_);
  URI uri;
  if (url == nullptr || !is_url_of(SCHEME_DEDUP, *url) || !URI_Parser::parse(url->c_str(), uri))
    return false;
  std::string name = last_path_segment(uri.path(true));
  if (name.empty()) {
    LOG_ERROR("Invalid dedup pool url '%s'.", url->c_str());
    return false;
  }
  std::string host;
  std::uint16_t port = 0;
  bool ssl = false;
  if (!HTTP_Options::instance()->get_local_listen_address(host, port, ssl)) {
    LOG_ERROR("Failed to query dedup pool status of '%s': no local listen address.", name.c_str());
    return false;
  }
  JSON_RESTful_Client client(host, port, ssl, false);
  client.set_header(HTTP_HEADER_ACCESS_KEY, Host_Manager::instance()->access_key());
  client.set_timeouts(std::min(3, request_timeout_), request_timeout_, request_timeout_);
  Value answer;
  if (!client.get(kStatusPath + url_path_escape(name), answer)) {
    LOG_ERROR("Failed to query dedup pool status of '%s'", name.c_str());
    return false;
  }
  try {
    if (!answer.is_object())
      throw JSON_Error(std::string("the answer is ") + json_type_name(answer));
    const Object& members = answer.get_ref<const Object&>();
    status.has_primary_size =
        get_unsigned(members, "primary_storage_size", std::numeric_limits<std::uint64_t>::max(),
                     status.primary_size);
    for (const Value& member : object_get_array_or_throw(members, "nodes")) {
      if (!member.is_object())
        throw JSON_Error(std::string("a node is ") + json_type_name(member));
      std::uint64_t id = 0;
      get_unsigned(member.get_ref<const Object&>(), "id", std::numeric_limits<std::uint32_t>::max(),
                   id);
      read_node(member.get_ref<const Object&>(), status.nodes[static_cast<std::uint32_t>(id)]);
    }
  } catch (const std::exception& e) {
    LOG_ERROR("Failed to read dedup pool status of '%s': %s", name.c_str(), e.what());
    return false;
  }
  if (status.nodes.empty())
    LOG_ERROR("Failed to read dedup pool status of '%s': no nodes", name.c_str());
  return !status.nodes.empty();
}

bool Dedup_Pool_Usage_Calculator::calculate(Object& usage) {
  usage["devices"] = Array();
  Status status;
  if (!read_status(status))
    return false;
  Array& reported = usage["devices"].get_ref<Array&>();
  std::uint64_t data_total = 0;
  std::uint64_t stored_total = 0;
  for (const Value& value : devices_) {
    const Object* device = value.is_object() ? &value.get_ref<const Object&>() : nullptr;
    const std::string* uuid = device != nullptr ? object_get_str(*device, "uuid") : nullptr;
    std::uint32_t node_id = 1;
    if (uuid == nullptr || !device_node(*device, *uuid, node_id))
      continue;
    auto node = status.nodes.find(node_id);
    if (node == status.nodes.end())
      continue;
    const Node& n = node->second;
    reported.push_back(Object{{"data_size", n.data_size},
                              {"db_size", n.db_size},
                              {"size", n.total_size},
                              {"free_size", n.free_size},
                              {"used_size", n.storage_size},
                              {"capacity", n.capacity},
                              {"uuid", *uuid},
                              {"dedup_rate", dedup_rate(n.data_size, n.storage_size)}});
    data_total += n.data_size;
    stored_total += n.storage_size;
  }
  usage["primary_size"] = status.has_primary_size ? Value(status.primary_size) : Value();
  usage["size"] = stored_total;
  usage["data_size"] = data_total;
  usage["dedup_rate"] = dedup_rate(data_total, stored_total);
  return true;
}
