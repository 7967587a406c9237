// The catalog back-end interface: one catalog database, to which the
// catalog front routes each operation.
//
// Operations return true on success and write their results into
// caller-owned out-parameters; none throws. A `pool` argument is a pool
// uuid, which also names the pool's catalog table. Offsets come before
// limits; a limit of -1 means no limit; a non-null `total` receives the
// number of rows without paging. A back-end holds no lock of its own; see
// each implementation for what it allows concurrently.
#ifndef STORAGED_STORAGE_CATALOG_STORAGE_CATALOG_MANAGER_IMPL_H_
#define STORAGED_STORAGE_CATALOG_STORAGE_CATALOG_MANAGER_IMPL_H_

#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/json/json.h"
#include "platform/sql/connection.h"
#include "platform/sql/sql.h"
#include "storaged/storage_catalog/catalog_state.h"

class Storage_Catalog_Manager_Impl {
 public:
  using Select_SQL = database::sql::Select_SQL;
  using Connection_Ptr = database::sql::Connection_Ptr;

  Storage_Catalog_Manager_Impl();
  virtual ~Storage_Catalog_Manager_Impl();

  // Prepares the database for use. The base does nothing and succeeds.
  virtual bool open();
  // Releases what open took. The base does nothing.
  virtual void close();
  // A connection for one operation; empty when there is no database.
  virtual Connection_Ptr get_connection() = 0;

  // Backup sets of a pool matching `filter`, ordered by `order_column`.
  // With `detail`, states become name arrays and rows carry "restorable";
  // `online_only` keeps usable sets and ignores the filter's state keys.
  virtual bool query_catalog(const std::string& pool, const Object& filter,
                             const std::string& order_column, bool ascending, long long offset,
                             long long limit, Array& rows, long long* total, bool detail,
                             bool online_only) = 0;
  // Runs the caller's statement on the pool's catalog table.
  virtual bool query_catalog(const std::string& pool, Select_SQL& sql, Array& rows,
                             long long* total) = 0;
  virtual bool add_catalog(const std::string& pool, const Object& catalog) = 0;
  virtual bool update_catalog(const std::string& pool, const std::string& uuid,
                              const Object& values) = 0;
  virtual bool remove_catalog(const std::string& pool, const std::string& uuid) = 0;
  // Removes or retires each listed backup set; `removed` receives the rows
  // as they were read.
  virtual bool remove_catalogs(const std::string& pool, const Array& uuids, Array& removed) = 0;

  virtual bool query_device(const Object& filter, long long offset, long long limit, Array& rows,
                            long long* total) = 0;
  // Runs a statement the caller built (devices, pools, replicates, jobs).
  virtual bool query(Select_SQL& sql, Array& rows, long long* total) = 0;
  virtual bool add_device(const Object& device) = 0;
  virtual bool update_device(const std::string& uuid, const Object& device) = 0;
  virtual bool remove_device(const std::string& uuid) = 0;

  virtual bool query_pool(const Object& filter, long long offset, long long limit, Array& rows,
                          long long* total) = 0;
  // Creates the pool's catalog table, then its row and its usage row.
  virtual bool add_pool(const Object& pool) = 0;
  virtual bool update_pool(const std::string& uuid, const Object& pool) = 0;
  virtual bool remove_pool(const std::string& uuid) = 0;

  virtual bool query_replicate(const Object& filter, long long offset, long long limit, Array& rows,
                               long long* total) = 0;
  virtual bool add_replicate(const Object& replicate) = 0;
  virtual bool update_replicate(const std::string& uuid, const Object& replicate) = 0;
  // Removes the relation and its unfinished jobs, in one transaction.
  virtual bool remove_replicate(const std::string& uuid) = 0;

  virtual bool query_replicate_job(const Object& filter, long long offset, long long limit,
                                   Array& rows, long long* total) = 0;
  virtual bool add_replicate_job(const Object& job, long long& id) = 0;
  virtual bool update_replicate_job(long long id, const Object& job) = 0;
  virtual bool remove_replicate_job(long long id) = 0;

  virtual bool query_merge_backup_job(const Object& filter, long long offset, long long limit,
                                      Array& rows, long long* total) = 0;
  virtual bool add_merge_backup_job(const Object& job, long long& id) = 0;
  virtual bool update_merge_backup_job(long long id, const Object& job) = 0;
  virtual bool remove_merge_backup_job(long long id) = 0;

  virtual bool get_state(const std::string& pool, const std::string& uuid,
                         Catalog_State& state) = 0;
  // Sets bits of a backup set's state; a visible change sends a sync notice.
  virtual bool set_state(const std::string& pool, const std::string& uuid, Catalog_State state) = 0;
  // The same for every backup set that lists one of `files`.
  virtual bool set_state(const std::string& pool, const Array& files, Catalog_State state) = 0;
  // ... and `uuids` receives the backup sets found.
  virtual bool set_state(const std::string& pool, const Array& files, Catalog_State state,
                         std::set<std::string>& uuids) = 0;
  virtual bool unset_state(const std::string& pool, const std::string& uuid,
                           Catalog_State state) = 0;
  virtual bool unset_state(const std::string& pool, const Array& files, Catalog_State state) = 0;
  virtual bool unset_state(const std::string& pool, const Array& files, Catalog_State state,
                           std::set<std::string>& uuids) = 0;

  // For each of `uuids` (backup sets of `pool`), an object with "uuid",
  // "pool_uuid", "incarnation", "state" (names), "restorable" and, for a
  // replicated set, "target_pool_uuid"; appended to `out`.
  virtual bool get_incarnation_info(const std::string& pool, const Array& uuids, Array& out) = 0;
  // Bytes of the usable sets (with `include_expired`, also expired ones).
  virtual bool get_pool_size(const std::string& pool, long long& total, bool include_expired) = 0;
  // Bytes of the online sets and, when `expired` is not null, of those
  // both online and expired.
  virtual bool get_pool_size(const std::string& pool, long long& total, long long* expired) = 0;
  // The backup sets of the oldest chain past `retention_days` days, keeping
  // the `keep_count` newest chains of every resource; none when there is
  // no such chain.
  virtual bool get_a_expired_set(const std::string& pool, Array& out, int keep_count,
                                 int retention_days) = 0;
  // The usable sets of the chain, after skipping `skip` chains, whose
  // expired sets are oldest; with `skip_warmup`, warm-up sets do not count.
  virtual bool get_a_deletable_set(const std::string& pool, Array& out, bool skip_warmup,
                                   long long skip) = 0;
  // Whether none of `uuids` is online while not expired, or offline.
  virtual bool is_deletable(const std::string& pool, const Array& uuids) = 0;

  // The pools and backup set name of job `id`, which copies a set of `pool`.
  virtual bool get_replicate_job_info(long long id, const std::string& pool, Object& out) = 0;
  // Replicate jobs out of the filter's "source_pool_uuid" with their backup
  // sets, newest first.
  virtual bool get_replicate_job_info(const std::map<std::string, std::string>& filter,
                                      long long offset, long long limit, Array& out,
                                      long long* total) = 0;
  // Job counts by state and the size and time of the succeeded jobs out of
  // `pool`, for jobs started within `start` and `end` (each may be null).
  virtual bool get_replicate_job_statistics_info(const std::string& pool, const std::string* start,
                                                 const std::string* end, Object& out) = 0;
  // Merge job `id` with the names and times of the sets it spans.
  virtual bool get_merge_backup_job_info(const std::string& pool, long long id, Object& out) = 0;
  // The merge jobs whose ids `sql` selects, shaped as above.
  virtual bool get_merge_backup_job_info(Select_SQL& sql, Array& out, long long* total) = 0;
  // The sets of chain `incarnation` in backup time order; without
  // `whole_chain` only those made up to backup set `uuid`.
  virtual bool get_catalogs_with_incarnation(const std::string& pool, const std::string& uuid,
                                             const std::string& incarnation, Array& out,
                                             bool whole_chain) = 0;
  // Failed replicate jobs due for another try: not started, or started
  // more than `hours` hours ago.
  virtual bool get_retry_replicate_jobs(int hours, Array& out) = 0;
  // Usable sets of `source_pool` without a replicate job into `target_pool`.
  virtual bool get_not_replicated_catalogs(const std::string& source_pool,
                                           const std::string& target_pool, Array& out) = 0;
  // The backup daemon's own catalog backups in every pool, newest first,
  // as {"name", "time_point", "uri", "scheme"}.
  virtual bool get_disaster_restore_time_points(const std::map<std::string, std::string>& filter,
                                                long long offset, long long limit, Array& out,
                                                long long* total) = 0;
  // The run of sets to merge next in the group of backup set
  // `catalog_uuid`; `out` stays empty when there is none.
  virtual bool get_merge_backup_strategy(const std::string& pool, const std::string& catalog_uuid,
                                         Object& out) = 0;
  // The sets from `from_uuid` to `to_uuid` (by id) that share the first
  // one's value of `group_column`.
  virtual bool get_catalogs(const std::string& pool, const std::string& from_uuid,
                            const std::string& to_uuid, const std::string& group_column,
                            Array& out) = 0;
  // Makes backup set `uuid` the start of a chain of its own, taking the
  // later members of chain `incarnation` with it.
  virtual bool update_incarnation(const std::string& pool, const std::string& uuid,
                                  const std::string& incarnation) = 0;
  // Whether `pool` is a replication target pool.
  virtual bool is_replicate_pool(const std::string& pool) = 0;
  // Whether some replicate job copies backup set `catalog_uuid` into
  // `target_pool`.
  virtual bool is_replicated_catalog(const std::string& target_pool,
                                     const std::string& catalog_uuid) = 0;

  // Backup sets listing any of `files`.
  virtual bool get_uuids_with_files(const std::string& pool, const Array& files,
                                    std::set<std::string>& uuids) = 0;
  // How many replication relations have `pool` as their target; -1 when
  // they cannot be counted.
  virtual int get_quoted(const std::string& pool) = 0;
  // Removes the relations out of `pool` and its backup sets, then its
  // record and devices unless relations still target it (then only the
  // count is stored as "quoted"). False on failure; steps already done stay
  // done. A relation that cannot be removed stops it before the backup sets
  // go; a count that cannot be read keeps the record and devices.
  virtual bool revoke_dedup_master(const std::string& pool) = 0;

  // Backup set `uuid` of the catalog of older releases.
  virtual bool get_old_catalog(const std::string& pool, const std::string& uuid, Object& out) = 0;
  // Backup sets listing `file`, as objects {"uuid"}.
  virtual bool get_uuids_with_file(const std::string& pool, const std::string& file,
                                   Array& out) = 0;

  Storage_Catalog_Manager_Impl(const Storage_Catalog_Manager_Impl&) = delete;
  Storage_Catalog_Manager_Impl& operator=(const Storage_Catalog_Manager_Impl&) = delete;

 protected:
  // The catalog keys that hold uuids: "uuid", "resource_uuid",
  // "incarnation", "pool_uuid", "uid", "host_uuid".
  const std::vector<std::string> uuid_keys_;
};

#endif  // STORAGED_STORAGE_CATALOG_STORAGE_CATALOG_MANAGER_IMPL_H_
