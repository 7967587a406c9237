// Pool deletion: queued for the host's worker, then confirmed to the
// backup daemon once the pool is gone.
#include "platform/queue/queue_manager.h"
#include "platform/rpc/host_manager.h"
#include "platform/rpc/json_restful_client.h"
#include "platform/runtime/log.h"
#include "storaged/storage_catalog/storage_catalog_manager.h"
#include "storaged/storage_catalog/storage_catalog_utils.h"
#include "storaged/storage_catalog/catalog_settings.h"

namespace {

const char kQueueName[] = "storage_catalog";
const char kPoolRemovedPath[] = "/kx/r/v2/storage/pool/removed";

}  // namespace

bool Storage_Catalog_Utils::storage_catalog_queue_add(const std::string& operation,
                                                      const Object& params) {
  Object message = params;
  message["operation"] = operation;
  std::string text = JSON_Dump(message, false);
  if (Queue_Manager::instance()->enqueue(kQueueName, text.data(), text.size(), nullptr) != 0) {
    LOG_ERROR("Failed to enqueue '%s' to storage_catalog.", operation.c_str());
    return false;
  }
  return true;
}

bool Storage_Catalog_Utils::delete_pool(const std::string& pool_uuid) {
  // The queue's consumer deletes whatever it is told: never an unnamed pool.
  VRT_CHECK_NOT_EMPTY(pool_uuid, false);
  return storage_catalog_queue_add("DeletePool", Object{{"pool_uuid", pool_uuid}});
}

bool Storage_Catalog_Utils::delete_pool_confirm(const std::string& pool_uuid) {
  Storage_Catalog_Manager* front = Storage_Catalog_Manager::instance();
  Object body{{"pool_uuid", pool_uuid}};
  if (front->on_agent())
    body["host_uuid"] = Host_Manager::instance()->uuid();
  Common_JSON_RESTful_Client client(front->host(), front->port(), front->ssl(),
                                    Host_Manager::instance()->on_backupd(), false);
  limit_daemon_wait(client);
  HTTP_Request request(HTTP_METHOD_POST, kPoolRemovedPath);
  HTTP_Response response;
  Value reply;
  if (!client.post(request, body, response, reply))
    return false;
  // The daemon no longer knowing the pool means it is gone there too.
  return response.status() == 200 || response.status() == 404;
}
