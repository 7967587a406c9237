#include "storaged/storage_catalog/target_pool_utils.h"

#include <algorithm>

#include "platform/rpc/json_restful_client.h"
#include "platform/runtime/log.h"
#include "storaged/storage_catalog/storage_catalog_manager.h"
#include "storaged/storage_catalog/catalog_settings.h"

namespace target_pool_utils {

namespace {

const char kIncarnationPath[] = "/kx/r/storages/catalogs/incarnation";

// The state names the answer gives for the backup set; false when it does
// not list the set.
bool find_states(const Array& answer, const std::string& catalog_uuid,
                 std::vector<std::string>& names) {
  try {
    for (const Value& entry : answer) {
      if (!entry.is_object())
        continue;
      const Object& fields = entry.get_ref<const Object&>();
      const std::string* uuid = object_get_str(fields, "uuid");
      if (uuid == nullptr || *uuid != catalog_uuid)
        continue;
      std::vector<std::string> found;
      for (const Value& name : object_get_array_or_throw(fields, "state"))
        found.push_back(name.get<std::string>());
      names.swap(found);
      return true;
    }
  } catch (const std::exception& e) {
    LOG_ERROR("Failed to find array if: %s", e.what());
  }
  return false;
}

}  // namespace

Array build_target_state_request(const std::vector<Target_Copy>& copies) {
  Array body;
  for (const Target_Copy& copy : copies) {
    auto same_target = [&](const Value& entry) {
      return entry.at("pool_uuid") == copy.target_pool_uuid;
    };
    auto it = std::find_if(body.begin(), body.end(), same_target);
    if (it == body.end()) {
      body.push_back(Object{{"pool_uuid", copy.target_pool_uuid},
                            {"check_replicate", false},
                            {"catalog_uuids", Array()}});
      it = body.end() - 1;
    }
    (*it)["catalog_uuids"].push_back(copy.catalog_uuid);
  }
  return body;
}

bool get_target_states(const std::vector<Target_Copy>& copies, std::vector<Target_State>& states) {
  Storage_Catalog_Manager* manager = Storage_Catalog_Manager::instance();
  if (manager == nullptr)
    return false;
  Common_JSON_RESTful_Client client(manager->host(), manager->port(), manager->ssl(),
                                    manager->on_backupd(), true);
  limit_daemon_wait(client);
  Value answer;
  if (!client.post(kIncarnationPath, Value(build_target_state_request(copies)), answer) ||
      !answer.is_array())
    return false;
  std::vector<Target_State> found;
  for (const Target_Copy& copy : copies) {
    std::vector<std::string> names;
    if (find_states(answer.get_ref<const Array&>(), copy.catalog_uuid, names))
      found.emplace_back(copy.catalog_uuid, std::move(names));
  }
  if (found.size() != copies.size()) {
    LOG_ERROR("Failed to get target pools state.");
    return false;
  }
  states.swap(found);
  return true;
}

bool is_online_in_target(const std::vector<Target_State>& states, const std::string& catalog_uuid) {
  for (const Target_State& state : states) {
    if (state.first == catalog_uuid)
      return std::find(state.second.begin(), state.second.end(), "online") != state.second.end();
  }
  return false;
}

}  // namespace target_pool_utils
