// Keeping the front in step with the backup daemon: an agent's local pools,
// the once-per-process pool state report, and the revocation of a
// deduplication pool's master role (done by the pool's back-end).
#include "storaged/storage_catalog/storage_catalog_manager.h"

#include <algorithm>
#include <exception>
#include <mutex>

#include "platform/rpc/host_manager.h"
#include "platform/rpc/http_request.h"
#include "platform/rpc/http_session.h"
#include "platform/rpc/json_restful_client.h"
#include "platform/runtime/log.h"
#include "storaged/storage_catalog/catalog_settings.h"

namespace {

const char kStoragesPath[] = "/kx/r/v2/storages";
const char kPoolsSyncPath[] = "/kx/r/v2/storage/pools/sync";

// Adds this host's entry of one pool row of the storages reply to `pools`.
// Rows without a pool uuid are skipped; a row without the attachment
// members raises JSON_Error.
void add_local_pool(const Value& row, const std::string& host_key, Object& pools) {
  if (!row.is_object())
    return;
  const Object& pool = row.get_ref<const Object&>();
  const std::string* pool_uuid = object_get_str(pool, "pool_uuid");
  if (pool_uuid == nullptr || pool_uuid->empty())
    return;
  const Object& attrs = object_get_object_or_throw(pool, "extended_attrs");
  const Object& hosts = object_get_object_or_throw(attrs, "attached_hosts");
  auto entry = hosts.find(host_key);
  if (entry != hosts.end())
    pools[*pool_uuid] = entry->second;
}

}  // namespace

bool Storage_Catalog_Manager::get_local_pools(Object& pools) {
  try {
    return fetch_local_pools(pools);
  } catch (const std::exception& e) {
    LOG_ERROR("Failed to get local pools: %s", e.what());
    return false;
  }
}

bool Storage_Catalog_Manager::fetch_local_pools(Object& pools) {
  Host_Manager* host_manager = Host_Manager::instance();
  if (!on_agent_ || host_.empty() || port_ == 0 || host_manager->access_key_size() == 0)
    return false;
  const int wait = get_daemon_timeout(120);
  JSON_HTTP_Session session(
      HTTP_Session_Factory::create(host_, port_, ssl_, nullptr, std::min(3, wait), nullptr, false,
                                   wait, wait, 0, 0),
      5, 300);
  if (!session.usable()) {
    LOG_ERROR("Failed to create json http session.");
    return false;
  }
  session.retries(1);
  HTTP_Request request(HTTP_METHOD_GET, kStoragesPath);
  request.query_string().append("scope", "authorized_or_account").append("scheme", "file");
  request.headers().set(HTTP_HEADER_ACCESS_KEY, host_manager->access_key());

  HTTP_Response response;
  Value reply;
  if (!session.get(request, response, reply) || response.status() != 200) {
    LOG_ERROR("Failed to get storages info from backupd.");
    return false;
  }
  const Array* rows =
      reply.is_object() ? object_get_array(reply.get_ref<const Object&>(), "rows") : nullptr;
  if (rows == nullptr) {
    LOG_ERROR("Failed to read storages info from backupd: no \"rows\" array.");
    return false;
  }
  for (const Value& row : *rows) {
    try {
      add_local_pool(row, host_key_, pools);
    } catch (const std::exception& e) {
      // One malformed row must not hide the host's other pools.
      LOG_ERROR("Failed to read local pool of storages info: %s", e.what());
    }
  }
  return true;
}

bool Storage_Catalog_Manager::sync_pools_state() {
  if (pools_state_synced_)
    return true;
  // One report at a time: a second caller takes the first one's outcome
  // instead of reporting again.
  std::unique_lock<std::mutex> reporting(sync_state_lock_, std::try_to_lock);
  if (!reporting.owns_lock()) {
    LOG_DEBUG("Waiting for the pool state report under way.");
    reporting.lock();
  }
  if (pools_state_synced_)
    return true;
  try {
    Array pools;
    if (!query_pool(Object(), 0, -1, pools, nullptr)) {
      LOG_ERROR("Failed to query pools to sync");
      return false;
    }
    if (pools.empty()) {
      pools_state_synced_ = true;
      return true;
    }
    std::string host_uuid = Host_Manager::instance()->uuid();
    Array body;
    for (const Value& row : pools) {
      if (!row.is_object())
        continue;
      const std::string* uuid = object_get_str(row.get_ref<const Object&>(), "uuid");
      const std::string* state = object_get_str(row.get_ref<const Object&>(), "state");
      if (uuid == nullptr || state == nullptr || is_replicate_pool(*uuid))
        continue;
      body.push_back(Object{{"pool_uuid", *uuid}, {"state", *state}, {"host_uuid", host_uuid}});
    }
    Value reply;
    if (!post_pools_state(body, reply)) {
      LOG_ERROR("Failed to get data from 'POST /kx/r/v2/storage/pools/sync'.");
      return false;
    }
    pools_state_synced_ = true;
    mark_deleted_pools(reply);
    return true;
  } catch (const std::exception& e) {
    LOG_ERROR("Failed to sync pools state: %s", e.what());
    return false;
  }
}

bool Storage_Catalog_Manager::post_pools_state(const Array& body, Value& reply) {
  HTTP_Request request(HTTP_METHOD_POST, kPoolsSyncPath);
  HTTP_Response response;
  bool posted;
  if (on_agent_) {
    Upstream_JSON_RESTful_Client client;
    limit_daemon_wait(client);
    posted = client.post(request, body, response, reply);
  } else {
    Common_JSON_RESTful_Client client(host_, port_, ssl_, on_backupd_, false);
    limit_daemon_wait(client);
    posted = client.post(request, body, response, reply);
  }
  return posted && response.status() == 200;
}

void Storage_Catalog_Manager::mark_deleted_pools(const Value& reply) {
  if (!reply.is_array())
    return;
  for (const Value& element : reply) {
    if (!element.is_object())
      continue;
    const std::string* uuid = object_get_str(element.get_ref<const Object&>(), "pool_uuid");
    const std::string* state = object_get_str(element.get_ref<const Object&>(), "state");
    if (uuid != nullptr && state != nullptr && *state == "deleted")
      update_pool(*uuid, Object{{"state", "deleting"}});
  }
}

bool Storage_Catalog_Manager::revoke_dedup_master(const std::string& pool_uuid) {
  Impl_Ptr impl = find_impl(pool_uuid, true);
  if (!impl) {
    LOG_ERROR("Failed to connect to storage catalog database.");
    return false;
  }
  return impl->revoke_dedup_master(pool_uuid);
}

int Storage_Catalog_Manager::get_quoted(const std::string& pool_uuid) {
  Impl_Ptr impl = find_impl(pool_uuid, true);
  return impl ? impl->get_quoted(pool_uuid) : -1;
}
