// The catalog front's frame: the singleton, its lifecycle, the back-end map
// and the routing of calls.
//
// Design note.
//
// States: created (constructor) -> initialised (init: role and daemon
// address recorded) -> open (open true: back-ends present, workers running,
// usage timer armed) -> closed (close: timer cancelled, map empty; workers
// still running) -> destroyed (close_instance: workers end, queued work is
// discarded). open may run again after close.
//
// Back-ends: a server host has exactly one, "default", on the shared
// database. An agent has one per local pool, keyed by pool uuid, each on the
// "catalog.db" in the pool's local directory; it never has "default".
// `synchronized_` turns true once, when open has loaded an agent's pools;
// until then checked lookups on an agent refuse with "Local pool has not
// been synchronized.".
//
// Locks: `lock_` serialises open, the lock-holding lookups of the device
// and pool operations (with the back-end insertion of add_device) and the
// few operations that hold it across their back-end call. `impls_lock_`
// guards only the map's structure and is held for a find, an insertion or
// an erasure, never across a back-end call; it is always taken after
// `lock_`, never before. Lookups hand out shared references, so a back-end
// that is dropped (update_device, remove_device, close) while a call runs on
// it lives until that call returns.
//
// Invariants the tests check: every routed call on a server host reaches
// "default" whatever the pool uuid; on an agent an unknown pool is logged
// and fails; a back-end that fails to open is never stored; destroying the
// singleton discards queued work and waits for running work.
#include "storaged/storage_catalog/storage_catalog_manager.h"

#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <mutex>
#include <system_error>

#include "platform/rpc/host_manager.h"
#include "platform/rpc/http_options.h"
#include "platform/rpc/json_rpc.h"
#include "platform/runtime/log.h"
#include "platform/runtime/path_conf.h"
#include "platform/runtime/rm_rf.h"
#include "platform/runtime/simple_reactor.h"
#include "storaged/storage_catalog/storage_catalog_manager_database_impl.h"
#include "storaged/storage_catalog/storage_catalog_manager_internal.h"

namespace {

using Singleton = ACE_Unmanaged_Singleton<Storage_Catalog_Manager, ACE_Null_Mutex>;

// ACE serialises nothing for a singleton over ACE_Null_Mutex; this keeps two
// first callers from making two managers.
std::mutex singleton_lock;
std::atomic<Storage_Catalog_Manager*> current_manager{nullptr};

const char kDefaultKey[] = "default";
const void* const kUsageTimerAct = reinterpret_cast<const void*>(1);
const int kUsageTimerSeconds = 30;
const char kCatalogFile[] = "catalog.db";

// The last component of `path`, trailing separators ignored.
std::string last_component(const std::string& path) {
  std::string::size_type end = path.find_last_not_of('/');
  if (end == std::string::npos)
    return std::string();
  std::string::size_type slash = path.find_last_of('/', end);
  std::string::size_type start = slash == std::string::npos ? 0 : slash + 1;
  return path.substr(start, end + 1 - start);
}

// Whether `dir` is a local pool's own folder: an existing directory named as
// gen_local_pool_path names it, or one holding only the pool's catalog (with
// SQLite's side files). False when it cannot be read.
bool is_pool_folder(const std::string& pool_uuid, const std::string& dir) {
  namespace fs = std::filesystem;
  static const std::set<std::string> kCatalogFiles = {
      kCatalogFile, std::string(kCatalogFile) + "-journal", std::string(kCatalogFile) + "-wal",
      std::string(kCatalogFile) + "-shm"};
  std::error_code error;
  if (dir.empty() || !fs::is_directory(dir, error))
    return false;
  if (last_component(dir) == "LP_" + pool_uuid)
    return true;
  bool has_catalog = false;
  for (fs::directory_iterator it(dir, error), end; !error && it != end; it.increment(error)) {
    std::string name = it->path().filename().string();
    if (kCatalogFiles.count(name) == 0)
      return false;
    has_catalog = has_catalog || name == kCatalogFile;
  }
  return !error && has_catalog;
}

}  // namespace

Storage_Catalog_Manager* Storage_Catalog_Manager::instance() {
  Storage_Catalog_Manager* manager = current_manager.load(std::memory_order_acquire);
  if (manager != nullptr)
    return manager;
  std::lock_guard<std::mutex> guard(singleton_lock);
  try {
    manager = Singleton::instance();
  } catch (const std::exception& e) {
    LOG_ERROR("Failed to create storage catalog manager: %s", e.what());
    errno = ENOMEM;
    return nullptr;
  }
  current_manager.store(manager, std::memory_order_release);
  return manager;
}

void Storage_Catalog_Manager::close_instance() {
  std::lock_guard<std::mutex> guard(singleton_lock);
  current_manager.store(nullptr, std::memory_order_release);
  Singleton::close();
}

Storage_Catalog_Manager::Storage_Catalog_Manager()
    : ACE_Event_Handler(nullptr), workers_(2, "SCAT") {}

Storage_Catalog_Manager::~Storage_Catalog_Manager() {
  // A timer left armed would call into a destroyed handler.
  if (Simple_Reactor* reactor = Simple_Reactor::instance())
    reactor->cancel_timer(this, 1);
}

void Storage_Catalog_Manager::init(const std::string& host, std::uint16_t port, bool ssl) {
  host_ = host;
  port_ = port;
  ssl_ = ssl;
  Host_Manager* host_manager = Host_Manager::instance();
  if (host_manager->on_agent()) {
    on_agent_ = true;
    host_key_ = host_manager->uuid();
    return;
  }
  if (host_manager->on_backupd()) {
    on_backupd_ = true;
    HTTP_Options::instance()->get_local_listen_address(host_, port_, ssl_);
  }
}

bool Storage_Catalog_Manager::open() {
  ACE_Guard<ACE_Thread_Mutex> guard(lock_);
  if (!guard.locked())
    return false;
  if (!on_agent_) {
    Impl_Ptr impl = create_impl(std::string());
    if (!impl)
      return false;
    store_impl(kDefaultKey, impl);
  } else {
    Object pools;
    if (!get_local_pools(pools)) {
      LOG_ERROR("Failed to get local pools for sync.");
      return false;
    }
    workers_.thread_count(1);
    for (const auto& pool : pools) {
      if (!pool.second.is_string())
        continue;
      Impl_Ptr impl = create_impl(pool.second.get<std::string>());
      if (impl)
        store_impl(pool.first, impl);
    }
    synchronized_ = true;
  }
  if (workers_.thr_count() == 0)
    workers_.activate();

  Simple_Reactor* reactor = Simple_Reactor::instance();
  if (reactor != nullptr)
    reactor->cancel_timer(this, 1);  // a second open must not arm a second timer
  ACE_Time_Value period(kUsageTimerSeconds);
  if (reactor == nullptr || reactor->schedule_timer(this, kUsageTimerAct, period, period) < 0)
    LOG_ERROR("Failed to schedule sync usage timer.");
  // A job that cannot be registered now is tried again at the next open.
  check_jobs();
  return true;
}

void Storage_Catalog_Manager::close() {
  if (Simple_Reactor* reactor = Simple_Reactor::instance())
    reactor->cancel_timer(this, 1);
  std::map<std::string, Impl_Ptr> dropped;
  {
    std::lock_guard<std::mutex> guard(impls_lock_);
    dropped.swap(impls_);
  }
}

Storage_Catalog_Manager::Impl_Ptr Storage_Catalog_Manager::create_impl(const std::string& dir) {
  // The daemon's layout joins with '\'; this platform's separator is '/'.
  std::string path = dir.empty() ? std::string() : dir + "/" + kCatalogFile;
  Impl_Ptr impl = std::make_shared<Storage_Catalog_Manager_Database_Impl>(path);
  if (impl->open())
    return impl;
  if (!path.empty())
    LOG_ERROR("Failed to open SQLite database: %s.", path.c_str());
  return Impl_Ptr();
}

void Storage_Catalog_Manager::store_impl(const std::string& key, Impl_Ptr impl) {
  Impl_Ptr replaced;
  std::lock_guard<std::mutex> guard(impls_lock_);
  Impl_Ptr& slot = impls_[key];
  replaced.swap(slot);
  slot = std::move(impl);
}

Storage_Catalog_Manager::Impl_Ptr Storage_Catalog_Manager::find_impl(const std::string& pool_uuid,
                                                                     bool check_synchronized) {
  if (!on_agent_)
    return default_impl(nullptr);
  if (check_synchronized && !synchronized_) {
    LOG_ERROR("Local pool has not been synchronized.");
    return Impl_Ptr();
  }
  return lookup(pool_uuid);
}

Storage_Catalog_Manager::Impl_Ptr Storage_Catalog_Manager::locked_impl(const Uuid_Source& uuid_of) {
  if (!on_agent_)
    return default_impl(nullptr);
  ACE_Guard<ACE_Thread_Mutex> guard(lock_);
  if (!guard.locked())
    return Impl_Ptr();
  if (!synchronized_) {
    LOG_ERROR("Local pool has not been synchronized.");
    return Impl_Ptr();
  }
  const std::string* pool_uuid = uuid_of();
  if (pool_uuid == nullptr)
    return Impl_Ptr();
  return lookup(*pool_uuid);
}

Storage_Catalog_Manager::Impl_Ptr Storage_Catalog_Manager::stored_impl(const std::string& key) {
  std::lock_guard<std::mutex> guard(impls_lock_);
  auto it = impls_.find(key);
  return it != impls_.end() ? it->second : Impl_Ptr();
}

Storage_Catalog_Manager::Impl_Ptr Storage_Catalog_Manager::lookup(const std::string& pool_uuid) {
  Impl_Ptr impl = stored_impl(pool_uuid);
  if (!impl)
    LOG_ERROR("Failed to get storage catalog manager by pool %s.", pool_uuid.c_str());
  return impl;
}

Storage_Catalog_Manager::Impl_Ptr Storage_Catalog_Manager::default_impl(const char* refusal) {
  if (on_agent_) {
    if (refusal != nullptr && *refusal != '\0')
      LOG_ERROR("%s", refusal);
    return Impl_Ptr();
  }
  Impl_Ptr impl = stored_impl(kDefaultKey);
  if (!impl)
    LOG_ERROR("Failed to get default storage catalog manager.");
  return impl;
}

bool Storage_Catalog_Manager::on_pool(const char* operation, const std::string& pool_uuid,
                                      const Impl_Call& call, bool check_synchronized) {
  return scat_front::guarded(operation, [&] {
    Impl_Ptr impl = find_impl(pool_uuid, check_synchronized);
    return impl && call(*impl);
  });
}

bool Storage_Catalog_Manager::on_default(const char* operation, const char* refusal,
                                         const Impl_Call& call) {
  return scat_front::guarded(operation, [&] {
    Impl_Ptr impl = default_impl(refusal);
    return impl && call(*impl);
  });
}

std::vector<Storage_Catalog_Manager::Impl_Ptr> Storage_Catalog_Manager::all_impls() {
  std::vector<Impl_Ptr> impls;
  std::lock_guard<std::mutex> guard(impls_lock_);
  for (const auto& entry : impls_)
    impls.push_back(entry.second);
  return impls;
}

Storage_Catalog_Manager_Impl* Storage_Catalog_Manager::get_impl(const std::string& pool_uuid,
                                                                bool check_synchronized) {
  return find_impl(pool_uuid, check_synchronized).get();
}

Storage_Catalog_Manager_Impl* Storage_Catalog_Manager::get_default_impl(const char* refusal) {
  return default_impl(refusal).get();
}

bool Storage_Catalog_Manager::insert_into_map(const std::string& pool_uuid,
                                              const std::string& local_dir) {
  if (!on_agent_)
    return true;
  if (!check_pool_token(local_dir)) {
    LOG_ERROR("Failed to find local pool token '%s'.", local_dir.c_str());
    return false;
  }
  erase_out_of_map(pool_uuid, false, nullptr);
  Impl_Ptr impl = create_impl(local_dir);
  if (!impl)
    return false;
  store_impl(pool_uuid, impl);
  return true;
}

void Storage_Catalog_Manager::erase_out_of_map(const std::string& pool_uuid, bool remove_files,
                                               const std::string* local_dir) {
  Impl_Ptr impl;
  {
    std::lock_guard<std::mutex> guard(impls_lock_);
    auto it = impls_.find(pool_uuid);
    if (it != impls_.end()) {
      impl.swap(it->second);
      impls_.erase(it);
    }
  }
  if (impl)
    impl->close();
  impl.reset();
  if (!on_agent_ || !remove_files || local_dir == nullptr)
    return;
  // The directory comes from the daemon's device record: a wrong entry such
  // as "/" or a shared folder must not be wiped with the pool.
  if (!is_pool_folder(pool_uuid, *local_dir)) {
    LOG_ERROR("Kept '%s': it is not the local folder of pool %s.", local_dir->c_str(),
              pool_uuid.c_str());
    return;
  }
  rm_rf(*local_dir);
}

bool Storage_Catalog_Manager::check_pool_token(const std::string& local_dir) {
  struct stat st;
  return ::stat(local_dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string Storage_Catalog_Manager::gen_local_pool_path(const std::string& pool_uuid,
                                                         const std::string& dir, bool create) {
  return Path_Conf(dir, "LP_" + pool_uuid, create, nullptr, 0750).str();
}

bool Storage_Catalog_Manager::is_registered() {
  if (on_backupd_)
    return true;
  return Global_JSON_RPC_Channel::instance() != nullptr;
}

Storage_Catalog_Manager::Connection_Ptr Storage_Catalog_Manager::get_connection(
    const std::string& pool_uuid) {
  Impl_Ptr impl = find_impl(pool_uuid, true);
  return impl ? impl->get_connection() : Connection_Ptr();
}

int Storage_Catalog_Manager::handle_timeout(const ACE_Time_Value&, const void* act) {
  // The reactor thread only posts: database and network work belong to the
  // workers.
  if (act == kUsageTimerAct)
    workers_.enqueue([this] { sync_usages(); });
  return 0;
}
