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

  // Backup sets listing any of `files`.
  virtual bool get_uuids_with_files(const std::string& pool, const Array& files,
                                    std::set<std::string>& uuids) = 0;
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
