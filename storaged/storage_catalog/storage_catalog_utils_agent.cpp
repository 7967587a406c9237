// Device URLs as the backup daemon knows them for an agent.
#include "platform/common/device_url.h"
#include "platform/rpc/json_restful_client.h"
#include "platform/rpc/json_rpc.h"
#include "platform/runtime/log.h"
#include "storaged/storage_catalog/storage_catalog_utils.h"
#include "storaged/storage_catalog/storage_catalog_utils_internal.h"
#include "storaged/storage_catalog/catalog_settings.h"

namespace {

// The daemon's devices for `devices` of the agent, by device uuid.
bool query_daemon_devices(const std::string& agent_uuid, const Array& devices, Object& result) {
  Storage_Catalog_Manager* manager = scat_utils::front();
  if (manager == nullptr)
    return false;
  Object params{{"type", "data"}, {"agent_uuid", agent_uuid}, {"devices", devices}};
  Object request =
      JSON_RPC_Request::make(JSON_RPC_Id_Generator::get(), "pool.device.query", Value(params));
  Common_JSON_RESTful_Client client(manager->host(), manager->port(), manager->ssl(), false, true);
  limit_daemon_wait(client);
  Value reply;
  std::string devices_text = JSON_Dump(Value(devices));
  if (!client.post("/kx/jr", Value(request), reply) || !reply.is_object()) {
    LOG_ERROR("Failed to get device info for agent(%s): %s, result type %d.", agent_uuid.c_str(),
              devices_text.c_str(), scat_utils::json_type_code(reply));
    return false;
  }
  const Object* found = object_get_object(reply.get_ref<const Object&>(), "result");
  if (found == nullptr) {
    LOG_ERROR("Failed to get device info for agent(%s): %s, response: %s.", agent_uuid.c_str(),
              devices_text.c_str(), JSON_Dump(reply).c_str());
    return false;
  }
  result = *found;
  return true;
}

}  // namespace

bool Storage_Catalog_Utils::adjust_devices_by_agent_uuid(const std::string& agent_uuid,
                                                         Array& devices) {
  Object result;
  if (!query_daemon_devices(agent_uuid, devices, result))
    return false;
  for (Value& device : devices) {
    if (!device.is_object())
      continue;
    Object& fields = device.get_ref<Object&>();
    const std::string* uuid = object_get_str(fields, "uuid");
    const Object* known = uuid == nullptr ? nullptr : object_get_object(result, *uuid);
    if (known != nullptr)
      adjust_device_url_by_backupd_device(fields, *known);
  }
  return true;
}

bool Storage_Catalog_Utils::adjust_device_by_agent_uuid(const std::string& agent_uuid,
                                                        Object& device) {
  Array devices{Value(device)};
  if (!adjust_devices_by_agent_uuid(agent_uuid, devices))
    return false;
  device = devices[0].get<Object>();
  return true;
}
