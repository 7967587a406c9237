// The SQL catalog back-end.
//
// One instance serves the shared catalog database (empty path: the named
// connection "storage_catalog") or one local pool's SQLite file (the path
// of its "catalog.db"). Each operation takes its own connection for its
// duration, so operations may run concurrently from several threads; the
// set of known catalog tables is guarded by its own lock.
#ifndef STORAGED_STORAGE_CATALOG_STORAGE_CATALOG_MANAGER_DATABASE_IMPL_H_
#define STORAGED_STORAGE_CATALOG_STORAGE_CATALOG_MANAGER_DATABASE_IMPL_H_

#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "platform/sql/connection_pool.h"
#include "storaged/storage_catalog/catalog_table.h"
#include "storaged/storage_catalog/storage_catalog_manager_impl.h"

namespace scat_db {
struct Record_Column;
}

class Storage_Catalog_Manager_Database_Impl : public Storage_Catalog_Manager_Impl {
 public:
  // `path` is a local pool's SQLite file, or empty for the shared database.
  explicit Storage_Catalog_Manager_Database_Impl(const std::string& path);
  ~Storage_Catalog_Manager_Database_Impl() override;

  // Creates the catalog table of every pool that lacks one and adds the
  // columns older databases lack. False, with a log line, on any failure;
  // tables already upgraded stay upgraded.
  bool open() override;
  // Closes the local file's idle connections (others close when their
  // operation ends). The back-end stays usable.
  void close() override;
  // The shared connection, or a connection to the local file.
  database::sql::Connection_Ptr get_connection() override;

  bool is_local() const { return is_local_; }
  const std::string& path() const { return path_; }

  // Whether `name` is a catalog table this back-end created or found. An
  // empty name is logged as a violated precondition.
  bool is_known_table(const std::string& name) const;

  // The connection's temporary tables of the incarnation and retention
  // queries, created when missing. They live as long as the connection.
  static bool create_exclude_incarnation(const database::sql::Connection_Ptr& conn);
  static bool create_incarnation_info(const database::sql::Connection_Ptr& conn);
  static bool create_retention_heads(const database::sql::Connection_Ptr& conn);

  // Record operations. Each returns false, with a log line, for an unknown
  // pool, a missing or mistyped member or a failed statement; rows are then
  // as they were, except where a comment says otherwise.

  // An `order_column` that is not a column name fails the query; the
  // filter's "states"/"not_states" hold comma-separated state names.
  bool query_catalog(const std::string& pool, const Object& filter, const std::string& order_column,
                     bool ascending, long long offset, long long limit, Array& rows,
                     long long* total, bool detail, bool online_only) override;
  bool query_catalog(const std::string& pool, Select_SQL& sql, Array& rows,
                     long long* total) override;
  // A backup set with the uuid of a stored one replaces it.
  bool add_catalog(const std::string& pool, const Object& catalog) override;
  bool update_catalog(const std::string& pool, const std::string& uuid,
                      const Object& values) override;
  // Deletes the row and sends a "remove_catalog" notice.
  bool remove_catalog(const std::string& pool, const std::string& uuid) override;
  // Sets that were replicated are retired (online and expired cleared)
  // instead of deleted. No database, or a uuid that is not a string, stops
  // the operation with false; sets already handled stay handled.
  bool remove_catalogs(const std::string& pool, const Array& uuids, Array& removed) override;

  bool query_device(const Object& filter, long long offset, long long limit, Array& rows,
                    long long* total) override;
  bool query(Select_SQL& sql, Array& rows, long long* total) override;
  bool add_device(const Object& device) override;
  bool update_device(const std::string& uuid, const Object& device) override;
  bool remove_device(const std::string& uuid) override;

  bool query_pool(const Object& filter, long long offset, long long limit, Array& rows,
                  long long* total) override;
  // A pool row whose usage row cannot be added is removed again; a failure
  // after the catalog table was made leaves the table in place.
  bool add_pool(const Object& pool) override;
  bool update_pool(const std::string& uuid, const Object& pool) override;
  bool remove_pool(const std::string& uuid) override;

  bool query_replicate(const Object& filter, long long offset, long long limit, Array& rows,
                       long long* total) override;
  bool add_replicate(const Object& replicate) override;
  bool update_replicate(const std::string& uuid, const Object& replicate) override;
  bool remove_replicate(const std::string& uuid) override;

  bool query_replicate_job(const Object& filter, long long offset, long long limit, Array& rows,
                           long long* total) override;
  bool add_replicate_job(const Object& job, long long& id) override;
  bool update_replicate_job(long long id, const Object& job) override;
  bool remove_replicate_job(long long id) override;

  bool query_merge_backup_job(const Object& filter, long long offset, long long limit, Array& rows,
                              long long* total) override;
  bool add_merge_backup_job(const Object& job, long long& id) override;
  bool update_merge_backup_job(long long id, const Object& job) override;
  bool remove_merge_backup_job(long long id) override;

  // State changes. A change of online, offline or expired sends a
  // "sync_state" notice; a notice the queue refuses is logged and does not
  // fail the change, which has been made.
  bool get_state(const std::string& pool, const std::string& uuid, Catalog_State& state) override;
  // Setting expired on a set that is not online changes nothing.
  bool set_state(const std::string& pool, const std::string& uuid, Catalog_State state) override;
  bool set_state(const std::string& pool, const Array& files, Catalog_State state) override;
  // `uuids` also receives the sets found when a later change fails; changes
  // made before the failure stay.
  bool set_state(const std::string& pool, const Array& files, Catalog_State state,
                 std::set<std::string>& uuids) override;
  bool unset_state(const std::string& pool, const std::string& uuid, Catalog_State state) override;
  bool unset_state(const std::string& pool, const Array& files, Catalog_State state) override;
  bool unset_state(const std::string& pool, const Array& files, Catalog_State state,
                   std::set<std::string>& uuids) override;

  // Chains, restorability and retention. Each returns false, with a log
  // line, for an unknown pool, a malformed uuid or a failed statement; the
  // catalog is then unchanged.

  // An unknown pool is not a failure: every uuid is reported with no state
  // and not restorable. Uses the connection's temporary tables, which are
  // empty again when it returns; callers sharing a connection serialise.
  bool get_incarnation_info(const std::string& pool, const Array& uuids, Array& out) override;
  // An empty pool has size 0.
  bool get_pool_size(const std::string& pool, long long& total, bool include_expired) override;
  bool get_pool_size(const std::string& pool, long long& total, long long* expired) override;
  // Negative `retention_days` are refused. Uses the temporary table
  // `exclude_incarnation`, as get_incarnation_info does.
  bool get_a_expired_set(const std::string& pool, Array& out, int keep_count,
                         int retention_days) override;
  bool get_a_deletable_set(const std::string& pool, Array& out, bool skip_warmup,
                           long long skip) override;
  // An entry that is not a uuid makes the answer false.
  bool is_deletable(const std::string& pool, const Array& uuids) override;
  bool get_catalogs_with_incarnation(const std::string& pool, const std::string& uuid,
                                     const std::string& incarnation, Array& out,
                                     bool whole_chain) override;
  // In one transaction; any failure leaves every set as it was. A `uuid`
  // the pool does not hold changes nothing and succeeds; when the old
  // chain's first set is gone, `uuid` keeps its backup type.
  bool update_incarnation(const std::string& pool, const std::string& uuid,
                          const std::string& incarnation) override;

  // Replicate job queries; read only. `out` may be partly filled on failure.

  // False when there is no such job.
  bool get_replicate_job_info(long long id, const std::string& pool, Object& out) override;
  // Filter keys other than "offset", "limit", "scope" and the
  // comma-separated uuids of "resource_uuids" compare a column of the job
  // ("state", "start_time", "ge_start_time" and the other two-letter
  // operators, ...) or of its backup set ("name", "incarnation", "uid",
  // ...) with the value; an unknown key or a malformed uuid is refused.
  bool get_replicate_job_info(const std::map<std::string, std::string>& filter, long long offset,
                              long long limit, Array& out, long long* total) override;
  bool get_replicate_job_statistics_info(const std::string& pool, const std::string* start,
                                         const std::string* end, Object& out) override;
  // Negative `hours` are refused.
  bool get_retry_replicate_jobs(int hours, Array& out) override;
  bool get_not_replicated_catalogs(const std::string& source_pool, const std::string& target_pool,
                                   Array& out) override;
  // False also when the pool is unknown or cannot be read.
  bool is_replicate_pool(const std::string& pool) override;
  bool is_replicated_catalog(const std::string& target_pool,
                             const std::string& catalog_uuid) override;

  // Merge jobs, time points and catalog lookups; read only.

  // True with `out` unchanged when there is no such job; false when a set
  // the job spans cannot be read.
  bool get_merge_backup_job_info(const std::string& pool, long long id, Object& out) override;
  bool get_merge_backup_job_info(Select_SQL& sql, Array& out, long long* total) override;
  // False for a pool row without "extended_attrs" or a set whose agent
  // names no module; true with `out` empty when the pool keeps no merged
  // sets or nothing is to be merged.
  bool get_merge_backup_strategy(const std::string& pool, const std::string& catalog_uuid,
                                 Object& out) override;
  // `group_column` must be a column of the catalog table.
  bool get_catalogs(const std::string& pool, const std::string& from_uuid,
                    const std::string& to_uuid, const std::string& group_column,
                    Array& out) override;
  // Filter keys must be columns of the catalog table; rows whose files name
  // no "catalog" file are left out (they still count in `total`).
  bool get_disaster_restore_time_points(const std::map<std::string, std::string>& filter,
                                        long long offset, long long limit, Array& out,
                                        long long* total) override;

  // Pool-wide operations. A `pool` that is not a pool uuid is refused.
  int get_quoted(const std::string& pool) override;
  // The pool row and its devices go in one transaction; a failure to delete
  // the backup sets is logged and does not stop the rest.
  bool revoke_dedup_master(const std::string& pool) override;

  // A file whose query fails is skipped; an unknown pool or a non-string
  // entry fails the call with `uuids` untouched.
  bool get_uuids_with_files(const std::string& pool, const Array& files,
                            std::set<std::string>& uuids) override;
  // False when the set is not in the legacy table (or the pool is unknown).
  bool get_old_catalog(const std::string& pool, const std::string& uuid, Object& out) override;
  // Matches sets whose "files" has an entry ending in `file`; quotes and
  // LIKE pattern characters in `file` match only themselves.
  bool get_uuids_with_file(const std::string& pool, const std::string& file, Array& out) override;

 protected:
  // Adds `pool_uuid` to the known tables and creates its catalog table from
  // the template unless it exists.
  bool create_catalog_table(const database::sql::Connection_Ptr& conn,
                            const std::string& pool_uuid);
  bool upgrade_common_tables(const database::sql::Connection_Ptr& conn);
  bool upgrade_catalog_table(const database::sql::Connection_Ptr& conn, const Catalog_Table& table);

 private:
  bool load_pool_uuids(const database::sql::Connection_Ptr& conn, std::vector<std::string>& uuids);

  // Whether `pool` names a known catalog table; logs when it does not.
  bool check_pool(const std::string& pool) const;
  // The connection of an operation on `pool`'s catalog table: an empty
  // handle when the pool is unknown (logged) or there is no database.
  database::sql::Connection_Ptr pool_connection(const std::string& pool);
  bool query_table(const char* table, const Object& filter, long long offset, long long limit,
                   Array& rows, long long* total);
  bool add_record(const char* table, const Object& record, const scat_db::Record_Column* columns,
                  long long* id);
  // Keyed by `uuid` when it is not empty, else by a non-zero `id`.
  bool update_record(const std::string& table, const std::string& uuid, long long id,
                     const Object& record, const scat_db::Record_Column* columns);
  bool merge_extended_attrs(const database::sql::Connection_Ptr& conn, const std::string& table,
                            const std::string& uuid, long long id, Object& record);
  bool remove_record(const std::string& table, const std::string& uuid, long long id);
  // Backup set `uuid` of `pool`, JSON columns parsed. False, without a log
  // line, for an unknown pool, a malformed uuid or no such set.
  bool read_backup_set(const database::sql::Connection_Ptr& conn, const std::string& pool,
                       const std::string& uuid, Object& set) const;
  // Rows of a merge job select, each with the names and times of the sets
  // it spans.
  bool read_merge_jobs(const database::sql::Connection_Ptr& conn, const Select_SQL& sql,
                       Array& rows, long long* total) const;
  bool remove_one_catalog(const std::string& pool, const std::string& uuid, Array& removed);
  bool change_state(const std::string& pool, const std::string& uuid, Catalog_State state,
                    bool set);
  bool change_states(const std::string& pool, const Array& files, Catalog_State state, bool set,
                     std::set<std::string>& uuids);

  mutable std::mutex tables_lock_;
  std::set<std::string> known_tables_;  // guarded by tables_lock_

  const bool is_local_;
  const std::string path_;

  std::mutex pool_lock_;
  std::unique_ptr<database::Connection_Pool> pool_;  // guarded by pool_lock_; local only
};

#endif  // STORAGED_STORAGE_CATALOG_STORAGE_CATALOG_MANAGER_DATABASE_IMPL_H_
