// The front's side of pool usage: the periodic report to the daemon, the
// recomputation of old figures, and the usage operations callers use.
//
// Design note.
//
// Every 30 seconds the reactor's timer queues sync_usages on a worker.
// sync_usages collects the notification of every pool whose usage changed
// since the daemon last took it, from every back-end, and sends them all in
// one "pool.status.update" request; nothing is sent when nothing changed.
// Only after the daemon has taken the request are the pools marked as
// notified (SCAT::Storage_Pool::notified); a request that fails leaves them
// changed, so the next tick offers the same figures again. One sync runs at
// a time: a tick that finds the last one still waiting for the daemon
// sends nothing.
//
// A pool whose figures are older than usage_resync_interval is not reported
// but queued for recomputation on a worker (once: a pool already queued is
// not queued again); the recomputed figures go out on a later tick.
// Neither the collection nor a recomputation holds the front's locks: a
// back-end dropped meanwhile lives on until the work on it ends, and
// callers' catalog operations never wait for a directory walk or a remote
// service.
#include <ctime>
#include <string>
#include <utility>
#include <vector>

#include "platform/rpc/json_restful_client.h"
#include "platform/rpc/json_rpc.h"
#include "platform/runtime/log.h"
#include "storaged/storage_catalog/storage_catalog_manager.h"
#include "storaged/storage_catalog/storage_catalog_manager_internal.h"
#include "storaged/storage_catalog/storage_pool.h"
#include "storaged/storage_catalog/catalog_settings.h"

namespace {

const char kDefaultKey[] = "default";

// Clears a flag when the scope ends.
class Flag_Reset {
 public:
  explicit Flag_Reset(std::atomic<bool>& flag) : flag_(flag) {}
  ~Flag_Reset() { flag_ = false; }

 private:
  std::atomic<bool>& flag_;
};

// Sends the usage notifications to the daemon. True only when the daemon
// took them: a 2xx answer that is not a JSON-RPC error.
bool post_usages(const std::string& host, std::uint16_t port, bool ssl, bool on_backupd,
                 Array& usages) {
  Object request =
      JSON_RPC_Request::make(JSON_RPC_Id_Generator::get(), "pool.status.update", Value(usages));
  Common_JSON_RESTful_Client client(host, port, ssl, on_backupd, false);
  limit_daemon_wait(client);
  Value reply;
  if (!client.post("/kx/jr", Value(std::move(request)), reply))
    return false;
  if (reply.is_object() && reply.contains("error")) {
    LOG_ERROR("Failed to update pool status: %s", JSON_Dump(reply["error"], false).c_str());
    return false;
  }
  return true;
}

}  // namespace

bool Storage_Catalog_Manager::get_storage_pool(const Connection_Ptr& conn,
                                               const std::string& pool_uuid,
                                               SCAT::Storage_Pool& pool) {
  return conn && pool.load(conn, pool_uuid) == 1;
}

bool Storage_Catalog_Manager::get_storage_pool(const std::string& pool_uuid,
                                               SCAT::Storage_Pool& pool) {
  Connection_Ptr conn = get_connection(pool_uuid);
  return conn && get_storage_pool(conn, pool_uuid, pool);
}

bool Storage_Catalog_Manager::sync_usages() {
  if (!is_registered())
    return false;
  if (syncing_usages_.exchange(true))
    return false;
  Flag_Reset done(syncing_usages_);

  struct Batch {
    Connection_Ptr conn;
    std::vector<SCAT::Usage_Report> reports;
  };
  std::vector<Batch> batches;
  Array usages;
  auto collect = [&](const Impl_Ptr& impl) {
    Connection_Ptr conn = impl ? impl->get_connection() : Connection_Ptr();
    if (!conn)
      return false;
    batches.push_back(Batch{conn, {}});
    sync_usages_i(conn, usages, batches.back().reports);
    return true;
  };
  if (!on_agent_) {
    if (!collect(stored_impl(kDefaultKey)))
      return false;
  } else {
    if (!synchronized_)
      return false;
    for (const Impl_Ptr& impl : all_impls())
      collect(impl);
  }
  if (usages.empty())
    return true;
  bool accepted = post_usages(host_, port_, ssl_, on_backupd_, usages);
  for (const Batch& batch : batches)
    for (const SCAT::Usage_Report& report : batch.reports)
      SCAT::Storage_Pool::notified(batch.conn, report, accepted);
  return accepted;
}

void Storage_Catalog_Manager::sync_usages_i(const Connection_Ptr& conn, Array& usages,
                                            std::vector<SCAT::Usage_Report>& reports) {
  const long long cutoff = static_cast<long long>(std::time(nullptr)) - usage_resync_interval_;
  std::vector<std::pair<std::string, long long>> rows;
  SCAT::Storage_Pool::list_usage_changes(conn, cutoff, rows);
  for (const auto& row : rows) {
    if (row.second < cutoff) {
      schedule_resync_usage(row.first);
      continue;
    }
    Object usage;
    SCAT::Usage_Report report;
    if (notify_usage(conn, row.first, usage, report)) {
      usages.push_back(std::move(usage));
      reports.push_back(std::move(report));
    }
  }
}

bool Storage_Catalog_Manager::notify_usage(const Connection_Ptr& conn, const std::string& pool_uuid,
                                           Object& usage, SCAT::Usage_Report& report) {
  SCAT::Storage_Pool pool;
  if (!get_storage_pool(conn, pool_uuid, pool)) {
    LOG_ERROR("Failed to get storage pool(uuid: %s).", pool_uuid.c_str());
    return false;
  }
  if (!pool.notify_usage(conn, usage, report)) {
    LOG_ERROR("Failed to get usage of pool(uuid: %s).", pool_uuid.c_str());
    return false;
  }
  return true;
}

void Storage_Catalog_Manager::schedule_resync_usage(const std::string& pool_uuid) {
  {
    std::lock_guard<std::mutex> guard(resyncs_lock_);
    if (!resyncs_.insert(pool_uuid).second)
      return;
  }
  auto forget = [this, pool_uuid] {
    std::lock_guard<std::mutex> guard(resyncs_lock_);
    resyncs_.erase(pool_uuid);
  };
  int queued = workers_.enqueue([this, pool_uuid, forget] {
    resync_pool_usage(pool_uuid);
    forget();
  });
  if (queued == -1) {
    LOG_ERROR("Failed to schedule resync usage for pool '%s'.", pool_uuid.c_str());
    forget();
  }
}

bool Storage_Catalog_Manager::resync_pool_usage(const std::string& pool_uuid) {
  return scat_front::guarded("Failed to resync pool usage", [&] {
    Connection_Ptr conn = get_connection(pool_uuid);
    SCAT::Storage_Pool pool;
    if (!conn || !get_storage_pool(conn, pool_uuid, pool))
      return false;
    if (pool.is_replicate_target(conn))
      return true;
    return pool.resync_usage(conn);
  });
}

bool Storage_Catalog_Manager::get_pool_info(const std::string& pool_uuid, std::uint32_t flags,
                                            Object& info) {
  return scat_front::guarded("Failed to get pool info", [&] {
    Connection_Ptr conn = get_connection(pool_uuid);
    SCAT::Storage_Pool pool;
    if (!conn || !get_storage_pool(conn, pool_uuid, pool))
      return false;
    pool.to_json(info);
    if (flags & 1) {
      Array devices;
      pool.get_devices(conn, devices);
      info["devices"] = std::move(devices);
    }
    if (flags & 2) {
      Array targets;
      pool.get_replicate_target(conn, targets);
      info["replicate_targets"] = std::move(targets);
      Object usage;
      pool.get_usage(conn, usage);
      info["usage"] = std::move(usage);
    }
    return true;
  });
}

bool Storage_Catalog_Manager::update_pools_usage(const std::map<std::string, long long>& values) {
  for (const auto& value : values) {
    if (!update_pool_usage(value.first, value.second))
      LOG_ERROR("Failed to update usage of pool '%s'.", value.first.c_str());
  }
  return true;
}

bool Storage_Catalog_Manager::update_pool_usage(const std::string& pool_uuid, long long value) {
  return scat_front::guarded("Failed to update pool usage", [&] {
    Impl_Ptr impl = find_impl(pool_uuid, true);
    if (!impl)
      return true;
    // A pool that exists but cannot be read must not lose the change
    // silently.
    Connection_Ptr conn = impl->get_connection();
    if (!conn)
      return false;
    SCAT::Storage_Pool pool;
    int found = pool.load(conn, pool_uuid);
    if (found <= 0)
      return found == 0;
    return pool.update_usage(conn, value);
  });
}

bool Storage_Catalog_Manager::get_pool_usage(const std::string& pool_uuid, Object& usage) {
  return scat_front::guarded("Failed to get pool usage", [&] {
    Connection_Ptr conn = get_connection(pool_uuid);
    SCAT::Storage_Pool pool;
    if (!conn || !get_storage_pool(conn, pool_uuid, pool))
      return false;
    if (pool.is_replicate_target(conn)) {
      LOG_ERROR("Pool '%s' is replicate target.", pool_uuid.c_str());
      return false;
    }
    return pool.get_usage(conn, usage);
  });
}
