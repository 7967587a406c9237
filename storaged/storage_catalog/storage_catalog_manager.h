// The one entry point of every catalog call: a process-wide singleton that
// owns the catalog back-ends ("default" on a server host, one SQLite file
// per local pool on an agent), routes each call to one of them, runs
// background work on its worker pool "SCAT" and is the reactor's timer
// handler for the periodic usage report.
//
// Safe for concurrent use once open; init and open are called once, at
// start-up. A back-end pointer returned by a lookup is owned by the manager
// and valid while its entry exists. Results go into caller-owned
// out-parameters; no operation throws.
#ifndef STORAGED_STORAGE_CATALOG_STORAGE_CATALOG_MANAGER_H_
#define STORAGED_STORAGE_CATALOG_STORAGE_CATALOG_MANAGER_H_

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <ace/Event_Handler.h>
#include <ace/Null_Mutex.h>
#include <ace/Singleton.h>
#include <ace/Thread_Mutex.h>

#include "platform/json/json.h"
#include "platform/sql/connection.h"
#include "platform/sql/sql.h"
#include "storaged/storage_catalog/catalog_state.h"
#include "storaged/storage_catalog/storage_catalog_manager_impl.h"
#include "vrt/thread_helper.h"

namespace SCAT {
class Storage_Pool;
struct Usage_Report;
}  // namespace SCAT

class Storage_Catalog_Manager : public ACE_Event_Handler {
 public:
  using Connection_Ptr = database::sql::Connection_Ptr;
  using Select_SQL = database::sql::Select_SQL;

  // The singleton, created on first use; null, with errno ENOMEM, when it
  // cannot be allocated.
  static Storage_Catalog_Manager* instance();
  // Destroys the singleton: queued background work is discarded, work
  // already running finishes first. A later instance() makes a fresh one.
  static void close_instance();

  // Records the daemon's address and this host's role. On the daemon's own
  // host the daemon's listening address replaces the given one.
  void init(const std::string& host, std::uint16_t port, bool ssl);
  // Opens the back-ends (on an agent: those of the local pools the daemon
  // lists), starts the workers and arms the 30-second usage timer. False,
  // logged, when the default back-end cannot be opened or the local pools
  // cannot be fetched; a local pool that fails to open is skipped.
  bool open();
  // Cancels the timer and closes every back-end; the workers keep running.
  void close();

  // --- Routing. Each lookup failure is logged and yields null.

  // The back-end serving `pool_uuid`: "default" on a server host, the
  // pool's own on an agent (which, with `check_synchronized`, must have
  // loaded its pools).
  Storage_Catalog_Manager_Impl* get_impl(const std::string& pool_uuid,
                                         bool check_synchronized = true);
  // The "default" back-end. On an agent there is none: `refusal` (may be
  // null or empty) is logged instead.
  Storage_Catalog_Manager_Impl* get_default_impl(const char* refusal);
  // Agent: opens the catalog of the pool whose local directory is
  // `local_dir`, replacing an older back-end of the pool. False, logged,
  // when the directory does not exist (the older back-end stays) or the
  // catalog cannot be opened. A server host does nothing and succeeds.
  bool insert_into_map(const std::string& pool_uuid, const std::string& local_dir);
  // Closes and drops the pool's back-end, if any. On an agent, with
  // `remove_files`, also deletes `local_dir` (may be null) recursively, but
  // only when it is the pool's own folder (named "LP_<pool uuid>", or
  // holding nothing but the catalog); any other directory is kept, logged.
  void erase_out_of_map(const std::string& pool_uuid, bool remove_files,
                        const std::string* local_dir);
  // Whether `local_dir` exists and is a directory.
  bool check_pool_token(const std::string& local_dir);
  // `dir` joined with "LP_<pool uuid>", created (mode 0750) when asked.
  static std::string gen_local_pool_path(const std::string& pool_uuid, const std::string& dir,
                                         bool create);
  // Whether this host can reach its daemon: on the daemon's host always,
  // elsewhere once registered.
  bool is_registered();
  // A connection of the pool's back-end; empty when there is none.
  Connection_Ptr get_connection(const std::string& pool_uuid);

  // --- Catalog operations. False when no back-end serves the call,
  // otherwise the back-end's result (see Storage_Catalog_Manager_Impl).
  // Replicate and merge-backup operations exist only on a server host.

  bool query_catalog(const std::string& pool_uuid, const Object& filter,
                     const std::string& order_column, bool ascending, long long offset,
                     long long limit, Array& rows, long long* total, bool detail, bool online_only);
  bool query_catalog(const std::string& pool_uuid, Select_SQL& sql, Array& rows, long long* total);
  bool add_catalog(const std::string& pool_uuid, const Object& catalog);
  bool update_catalog(const std::string& pool_uuid, const std::string& catalog_uuid,
                      const Object& values);
  bool remove_catalog(const std::string& pool_uuid, const std::string& catalog_uuid);
  bool remove_catalogs(const std::string& pool_uuid, const Array& catalog_uuids, Array& result);

  // The pool is the filter's "pool_uuid" (string member, or item of the
  // statement's filter).
  bool query_device(const Object& filter, long long offset, long long limit, Array& rows,
                    long long* total);
  bool query_device(Select_SQL& sql, Array& rows, long long* total);
  // On an agent the device's "extended_attrs"."attached_hosts" entry of
  // this host names the pool's local directory: adding opens the pool's
  // catalog there, an update without the entry drops the back-end (files
  // kept), removing drops it and deletes the directory when it is the
  // pool's own folder (see erase_out_of_map). `pool_uuid` (may be null: the
  // device's "pool_uuid") and `device` (required on an agent) name the pool.
  bool add_device(const Object& device, const std::string* pool_uuid = nullptr);
  bool update_device(const std::string& device_uuid, const Object& device);
  bool remove_device(const std::string& device_uuid, const Object* device);

  // The pool is the filter's "uuid". Without one, on an agent, the pools
  // of every local catalog, unpaged; `total` (initialised by the caller) is
  // added to.
  bool query_pool(const Object& filter, long long offset, long long limit, Array& rows,
                  long long* total);
  bool query_pool(Select_SQL& sql, Array& rows, long long* total);
  bool add_pool(const Object& pool);
  bool update_pool(const std::string& pool_uuid, const Object& values);
  bool remove_pool(const std::string& pool_uuid);

  bool query_replicate(const Object& filter, long long offset, long long limit, Array& rows,
                       long long* total);
  bool query_replicate(Select_SQL& sql, Array& rows, long long* total);
  bool add_replicate(const Object& replicate);
  bool update_replicate(const std::string& replicate_uuid, const Object& replicate);
  bool remove_replicate(const std::string& replicate_uuid);

  bool query_replicate_job(const Object& filter, long long offset, long long limit, Array& rows,
                           long long* total);
  bool query_replicate_job(Select_SQL& sql, Array& rows, long long* total);
  bool add_replicate_job(const Object& job, long long& id);
  bool update_replicate_job(long long id, const Object& job);
  bool remove_replicate_job(long long id);

  bool query_merge_backup_job(const Object& filter, long long offset, long long limit, Array& rows,
                              long long* total);
  bool add_merge_backup_job(const Object& job, long long& id);
  bool update_merge_backup_job(long long id, const Object& job);
  bool remove_merge_backup_job(long long id);

  bool get_state(const std::string& pool_uuid, const std::string& catalog_uuid,
                 Catalog_State& state);
  bool set_state(const std::string& pool_uuid, const std::string& catalog_uuid,
                 Catalog_State state);
  bool set_state(const std::string& pool_uuid, const Array& files, Catalog_State state);
  bool set_state(const std::string& pool_uuid, const Array& files, Catalog_State state,
                 std::set<std::string>& uuids);
  bool unset_state(const std::string& pool_uuid, const std::string& catalog_uuid,
                   Catalog_State state);
  bool unset_state(const std::string& pool_uuid, const Array& files, Catalog_State state);
  bool unset_state(const std::string& pool_uuid, const Array& files, Catalog_State state,
                   std::set<std::string>& uuids);

  // --- Chains, retention, replicate and merge queries.

  // For each request {"pool_uuid", "catalog_uuids"} in order, the chain,
  // state and restorability of the listed sets, appended to `result`
  // (reset to an empty array first). Holds lock_ across the back-end calls,
  // which share temporary tables. False, logged, for a malformed request or
  // a pool without back-end; answers already written stay.
  bool get_incarnation_info(const Array& requests, Value& result);
  bool get_pool_size(const std::string& pool_uuid, long long& total, bool include_expired);
  bool get_pool_size(const std::string& pool_uuid, long long& total, long long* expired);
  // Runs under lock_: one selection of an expired set at a time.
  bool get_a_expired_set(const std::string& pool_uuid, Array& set, int keep_count,
                         int retention_days);
  bool get_a_deletable_set(const std::string& pool_uuid, Array& set, bool skip_warmup,
                           long long skip);
  bool is_deletable(const std::string& pool_uuid, const Array& catalog_uuids);
  bool get_replicate_job_info(long long id, const std::string& pool_uuid, Object& out);
  bool get_replicate_job_info(const std::map<std::string, std::string>& filter, long long offset,
                              long long limit, Array& out, long long* total);
  bool get_replicate_job_statistics_info(const std::string& pool_uuid, const std::string* start,
                                         const std::string* end, Object& out);
  bool get_merge_backup_job_info(const std::string& pool_uuid, long long id, Object& out);
  bool get_merge_backup_job_info(Select_SQL& sql, Array& out, long long* total);
  bool get_catalogs_with_incarnation(const std::string& pool_uuid, const std::string& catalog_uuid,
                                     const std::string& incarnation, Array& out, bool whole_chain);
  bool get_retry_replicate_jobs(int hours, Array& out);
  bool get_not_replicated_catalogs(const std::string& source_pool_uuid,
                                   const std::string& target_pool_uuid, Array& out);
  bool get_disaster_restore_time_points(const std::map<std::string, std::string>& filter,
                                        long long offset, long long limit, Array& out,
                                        long long* total);
  bool get_merge_backup_strategy(const std::string& pool_uuid, const std::string& catalog_uuid,
                                 Object& out);
  // An empty text argument is a violated precondition (logged), false.
  bool get_catalogs(const std::string& pool_uuid, const std::string& from_uuid,
                    const std::string& to_uuid, const std::string& group, Array& out);
  // An empty text argument is a violated precondition (logged), false.
  bool update_incarnation(const std::string& pool_uuid, const std::string& base_uuid,
                          const std::string& incarnation);
  bool get_old_catalog(const std::string& pool_uuid, const std::string& catalog_uuid, Object& out);
  // Usable on an agent before its pools are loaded; the pool routes.
  bool is_replicate_pool(const std::string& pool_uuid);
  bool is_replicated_catalog(const std::string& target_pool_uuid, const std::string& catalog_uuid);

  // Usable on an agent before its pools are loaded.
  bool get_uuids_with_file(const std::string& pool_uuid, const std::string& file, Array& out);
  bool get_uuids_with_files(const std::string& pool_uuid, const Array& files,
                            std::set<std::string>& uuids);

  // --- Keeping in step with the daemon.

  // Agent: the daemon's map of this host's local pools, pool uuid to local
  // directory. False when this is not an agent with a daemon address and an
  // access key (silently), or when the daemon cannot be asked (logged).
  bool get_local_pools(Object& pools);
  // Reports the state of every pool (replication pools aside) to the daemon,
  // once per process, and marks the pools the daemon has deleted
  // "deleting". False, logged, when the pools cannot be read or the report
  // fails; a later call tries again.
  bool sync_pools_state();
  // Removes the pool's replication relations and catalogs, then its record
  // and devices unless other pools still replicate into it (then only its
  // "quoted" count is stored). False, logged, on failure; steps already
  // done stay done.
  bool revoke_dedup_master(const std::string& pool_uuid);
  // How many replication relations target the pool; -1 when unknown.
  int get_quoted(const std::string& pool_uuid);

  // --- Jobs.

  // Makes sure this storage host has the daily consistency check job; the
  // daemon's host and agents need none (true). False, logged, when the job
  // cannot be registered.
  bool check_jobs();
  // Registers the job's definition. False when it cannot be allocated
  // (errno ENOMEM) or the job framework refuses it.
  bool add_consistency_check_job();

  // --- Pool records and usage (storage_catalog_manager_usage.cpp).

  // Loads the record of pool `pool_uuid` on `conn` (or on the pool's own
  // connection). False when there is no such pool or it cannot be read.
  bool get_storage_pool(const Connection_Ptr& conn, const std::string& pool_uuid,
                        SCAT::Storage_Pool& pool);
  bool get_storage_pool(const std::string& pool_uuid, SCAT::Storage_Pool& pool);

  // Reactor timer: act 1 queues sync_usages on a worker; always 0.
  int handle_timeout(const ACE_Time_Value& now, const void* act) override;
  // Runs on a worker thread. Sends the changed usage of every pool of every
  // back-end to the daemon in one "pool.status.update" request and queues
  // the recomputation of usage older than usage_resync_interval. True when
  // there was nothing to send or the daemon took it; false when this host
  // cannot reach the daemon yet, has no catalog, the daemon did not take
  // the figures (they are offered again on the next call), or another call
  // is still under way.
  bool sync_usages();
  // Appends the notification of each changed pool of `conn` to `usages`
  // and what it reported to `reports`; queues stale pools for resync.
  void sync_usages_i(const Connection_Ptr& conn, Array& usages,
                     std::vector<SCAT::Usage_Report>& reports);
  // Builds the usage notification of one pool (see
  // SCAT::Storage_Pool::notify_usage). False, logged, when it cannot.
  bool notify_usage(const Connection_Ptr& conn, const std::string& pool_uuid, Object& usage,
                    SCAT::Usage_Report& report);
  // Queues resync_pool_usage of the pool on a worker, unless one is
  // already queued or running for it.
  void schedule_resync_usage(const std::string& pool_uuid);
  // Recomputes the pool's usage row; a replication target has none (true).
  // Holds no lock of the front while it measures.
  bool resync_pool_usage(const std::string& pool_uuid);
  // The pool record in `info`; with flag 1 also "devices", with flag 2
  // also "replicate_targets" and "usage". False when the pool is unknown.
  bool get_pool_info(const std::string& pool_uuid, std::uint32_t flags, Object& info);
  // update_pool_usage for each pool; failures are logged. Always true.
  bool update_pools_usage(const std::map<std::string, long long>& values);
  // Moves the pool's stored usage by `value` bytes. An unknown pool is
  // passed over (true); false, logged, when the pool's catalog cannot be
  // read or written.
  bool update_pool_usage(const std::string& pool_uuid, long long value);
  // The pool's usage object (SCAT::Storage_Pool::get_usage). False for an
  // unknown pool and for a replication target (logged).
  bool get_pool_usage(const std::string& pool_uuid, Object& usage);

  // What init recorded.
  const std::string& host() const { return host_; }
  std::uint16_t port() const { return port_; }
  bool ssl() const { return ssl_; }
  bool on_agent() const { return on_agent_; }

  int usage_resync_interval() const { return usage_resync_interval_; }
  void set_usage_resync_interval(int seconds) { usage_resync_interval_ = seconds; }

 private:
  friend class ACE_Singleton<Storage_Catalog_Manager, ACE_Null_Mutex>;
  using Impl = Storage_Catalog_Manager_Impl;
  using Impl_Ptr = std::shared_ptr<Impl>;
  using Impl_Call = std::function<bool(Impl&)>;
  using Uuid_Source = std::function<const std::string*()>;

  Storage_Catalog_Manager();
  ~Storage_Catalog_Manager() override;

  Impl_Ptr find_impl(const std::string& pool_uuid, bool check_synchronized);
  Impl_Ptr default_impl(const char* refusal);
  // Run `call` on the back-end find_impl (on_pool) or default_impl
  // (on_default) gives; false when there is none. An exception is logged
  // as a failure to do `operation` and gives false.
  bool on_pool(const char* operation, const std::string& pool_uuid, const Impl_Call& call,
               bool check_synchronized = true);
  bool on_default(const char* operation, const char* refusal, const Impl_Call& call);
  // The map's entry for `key`, or null; logs nothing.
  Impl_Ptr stored_impl(const std::string& key);
  // The lock-holding lookup: `uuid_of` runs with lock_ held and names the
  // pool (null: none). Errors it raises reach the caller.
  Impl_Ptr locked_impl(const Uuid_Source& uuid_of);
  // Requires: on an agent. Logs an unknown pool.
  Impl_Ptr lookup(const std::string& pool_uuid);
  std::vector<Impl_Ptr> all_impls();
  Impl_Ptr create_impl(const std::string& dir);
  void store_impl(const std::string& key, Impl_Ptr impl);

  bool merge_local_pools(const std::function<bool(Impl&, Array&, long long&)>& query, Array& rows,
                         long long* total);
  bool fetch_local_pools(Object& pools);
  bool post_pools_state(const Array& body, Value& reply);
  // Marks "deleting" each pool the daemon's reply lists as "deleted".
  void mark_deleted_pools(const Value& reply);
  bool revoke_dedup_master_i(const std::string& pool_uuid);
  bool remove_pool_records(const Connection_Ptr& conn, const std::string& pool_uuid);
  // get_quoted on a connection the caller already holds.
  int count_quoted(const Connection_Ptr& conn, const std::string& pool_uuid);

  // Guarded by impls_lock_, which is only held for a lookup or a change of
  // the map. Shared ownership lets a call finish on a back-end that another
  // thread drops meanwhile.
  std::mutex impls_lock_;
  std::map<std::string, Impl_Ptr> impls_;
  // Written by init
  bool on_agent_ = false;
  std::atomic<bool> synchronized_{false};
  std::string host_key_;
  std::string host_;
  std::uint16_t port_ = 0;
  bool ssl_ = false;
  bool on_backupd_ = false;
  // Written by the single caller of sync_pools_state
  bool pools_state_synced_ = false;
  // Serialises open, the device and pool lookups and the agent's map
  // changes made under them. Taken before impls_lock_, never after.
  ACE_Thread_Mutex lock_;
  int usage_resync_interval_ = 86400;
  // Set while a sync_usages runs: a tick that finds it set sends nothing,
  // so a slow daemon never has two reports of one pool on their way.
  std::atomic<bool> syncing_usages_{false};
  // Pools whose resync is queued or running; guarded by resyncs_lock_.
  std::mutex resyncs_lock_;
  std::set<std::string> resyncs_;
  // Declared last so that it is destroyed first: work still running at
  // destruction may use every other member.
  Thread_Pool_Helper workers_;
};

#endif  // STORAGED_STORAGE_CATALOG_STORAGE_CATALOG_MANAGER_H_
