// Catalog operations for the daemon's other modules: they set up and look
// up pools and devices without building catalog filters themselves. Static
// operations only; each goes through the catalog front and keeps nothing
// between calls, so any thread may call them. Results go into caller-owned
// out-parameters; on failure an output may be partly filled where the
// failure came after copying. Failures are logged; nothing throws.
#ifndef STORAGED_STORAGE_CATALOG_STORAGE_CATALOG_UTILS_H_
#define STORAGED_STORAGE_CATALOG_STORAGE_CATALOG_UTILS_H_

#include <map>
#include <string>
#include <vector>

#include "platform/json/json.h"

class Storage_Catalog_Utils {
 public:
  // --- Request parameters.
  //
  // A request holds catalog column names with values, plus the paging keys
  // "sort", "order", "offset", "limit", "group_by", "group_sort",
  // "group_selector" and "api_key". `paging` gets all of them, the
  // request's over the defaults (order "desc", offset 0, limit -1, ...);
  // "limit" and "offset" may be decimal text. A negative offset counts as
  // 0 and a negative limit as none (-1).

  // Builds an AND filter: "states" / "not_states" (comma-separated state
  // names) become state conditions, "type" compares "backup_type", a key
  // "GE_<column>", "LT_<column>", "BA_<column>" (a pair of bounds) or
  // "LK_<column>" compares that column, any other key is an equality. A key
  // equal to `extra_key` (may be null) is also kept as a plain member, by
  // which the front routes on an agent. False, logged, for a key that is not
  // a column name, a value that cannot be compared, a paging value of the
  // wrong type or a request nested deeper than kMaxJsonDepth; `filter` is
  // then refused by every query and `paging`
  // holds what was parsed before.
  static bool parse_params(const Object& request, Object& filter, Object& paging,
                           const char* extra_key = nullptr);
  // The same paging; every other member is copied into `filter` as it is
  // (a string "type" as "backup_type"). False, logged, only for a paging
  // value of the wrong type or a request nested deeper than kMaxJsonDepth.
  static bool parse_params2(const Object& request, Object& filter, Object& paging,
                            const char* extra_key = nullptr);

  // --- Pools, catalogs and devices.

  // The pool record; with `decode`, its stored encryption settings decoded
  // into its member "encryption". False for an unknown pool or settings
  // that do not decode.
  static bool get_pool(const std::string& uuid, Object& pool, bool decode = false);
  // One backup set of the pool. False, silently, when there is none.
  static bool get_catalog(const std::string& pool_uuid, const std::string& uuid, Object& catalog);
  // The device; false, logged, unless exactly one matches.
  static bool get_device(const std::string& uuid, Object& device);
  // Every device of the pool; `devices` is replaced only on success.
  static bool get_devices(const std::string& pool_uuid, Array& devices);
  // "master" (also for a device that names no role), "slave", or "" for an
  // unknown role (logged).
  static std::string get_device_role(const Object& device);
  // The master among the devices matching `conditions`, else the first of
  // them. False when none matches or a result is not an object.
  static bool get_master_device_with_check(const Object& conditions, Object& device);
  static bool get_master_device(const std::string& pool_uuid, Object& device);

  // Adds the pool, or updates it when it is stored already; then, with
  // `increase_quoted`, its use count ("quoted") goes up by one.
  static bool add_pool(const Object& pool, bool increase_quoted);
  // Registers a pool with its devices ("devices") and, for a new pool, its
  // encryption settings ("encryption", "key", "iv"). An existing pool (or
  // any pool with "update_device" true) is updated; its encryption is left
  // alone and its devices are optional. Steps done before a failure stay.
  static bool add_pool_with_devices(const Object& request);
  // Adds the device or updates it when stored. A second master device of a
  // pool is refused. `pool_uuid` (may be null) names the pool when the
  // device does not.
  static bool add_device_with_check(const Object& device, const std::string* pool_uuid = nullptr);
  // Stores `state` as the pool's "extended_attrs"."repair_state".
  static bool update_repair_state(const std::string& pool_uuid, const std::string& state);

  // --- Encryption settings of a pool, kept enciphered under the host key.

  // False, logged, without a host key or when enciphering fails.
  static bool encode_encryption(const Object& info, std::string& encoded);
  // False for text not made by encode_encryption under this host's key;
  // `info` is untouched then.
  static bool decode_encryption(const std::string& encoded, Object& info);

  // --- Device URLs as the backup daemon knows them.

  // Asks the daemon ("pool.device.query") for the devices as the agent
  // should use them and corrects each device's URL in place. False, logged,
  // when the daemon cannot be asked or answers something unusable; the
  // devices are then unchanged.
  static bool adjust_devices_by_agent_uuid(const std::string& agent_uuid, Array& devices);
  static bool adjust_device_by_agent_uuid(const std::string& agent_uuid, Object& device);

  // --- Merge state, conditions and pool deletion.

  // Sets `is_running` in `out` to whether a merge backup job of the pool
  // and minor resource is running. False, logged, when the jobs cannot be
  // read (as on an agent, which keeps no merge backup jobs).
  static bool check_merge_backup_state(const std::string& pool_uuid,
                                       const std::string& minor_resource_id, Object& out);
  // The pending and running merge backup jobs, into `jobs`. An agent has
  // none: true, `jobs` untouched. False, logged, when they cannot be read.
  static bool get_running_merge_backup_jobs(Array& jobs);
  // The catalogs of the pool that `conditions` select (request parameters,
  // see parse_params2), among `resource_uuids` when that is not empty:
  // `result` becomes {"rows": [...], "total": n}. `detail` and
  // `online_only` are query_catalog's. False, logged, when the query
  // fails; `result` then holds no rows.
  static bool get_catalogs_with_conditions(const std::string& pool_uuid,
                                           const Array& resource_uuids, const Object& conditions,
                                           Object& result, bool detail, bool online_only);
  // Keeps the first entry of each "id", in order. False, logged, with
  // `jobs` unchanged, when an entry is not an object with an integer "id".
  static bool erase_repeated_obj(Array& jobs);
  // Puts `params` with "operation" set to `operation` on the host's work
  // queue "storage_catalog". False, logged, when it cannot be queued.
  static bool storage_catalog_queue_add(const std::string& operation, const Object& params);
  // Queues the deletion of the pool ("DeletePool"); the host's worker does
  // it. False, logged, for an empty uuid or a queue failure.
  static bool delete_pool(const std::string& pool_uuid);
  // Tells the backup daemon the pool is gone. True when the daemon took it
  // (200) or no longer knows the pool (404); false otherwise, silently.
  static bool delete_pool_confirm(const std::string& pool_uuid);

  // --- Replicates and replicate jobs (a server host keeps them; an agent
  // refuses every one of these).

  // The replicates whose source is the pool, appended to `replicates`.
  static bool get_replicates(const std::string& source_uuid, Array& replicates);
  // The replicate of the source pool (or between the two pools) when there
  // is exactly one; with none or several `replicate` is untouched and the
  // call still succeeds. False, logged, when they cannot be read.
  static bool get_replicate(const std::string& source_uuid, Object& replicate);
  static bool get_replicate(const std::string& source_uuid, const std::string& target_uuid,
                            Object& replicate);
  // Whether the pool is the source of exactly one replicate.
  static bool is_source_replicate_pool(const std::string& pool_uuid);
  // The target of the pool's replicate; true with `target_uuid` untouched
  // when the pool has none.
  static bool get_target_pool(const std::string& source_uuid, std::string& target_uuid);

  // The first job matching the values, into `job`. False when there is
  // none (silently) or the jobs cannot be read.
  static bool get_replicate_job(const std::string& source_uuid, const std::string& target_uuid,
                                const std::string& catalog_uuid, const std::string& type,
                                Object& job);
  static bool get_replicate_job_with_id(long long id, Object& job);
  static bool get_replicate_job_with_uuid(const std::string& catalog_uuid, Object& job);
  // The front's jobs (conditions as its get_replicate_job_info takes them),
  // with "warmupable" of each "replicate" job made false unless the backup
  // daemon reports its backup set online in the target pool. When the
  // daemon cannot tell, the marks stay as stored. False, logged, when the
  // jobs cannot be read or a job lacks its fields.
  static bool get_replicate_job_info(const std::map<std::string, std::string>& conditions,
                                     long long offset, long long limit, Array& jobs,
                                     long long* total);
  // Removes the jobs by id, in order; the backup set of a removed
  // "replicate" job is no longer marked "replicated". Every id must be an
  // integer: otherwise nothing is removed. A failed removal stops the walk
  // (false); the jobs removed before it stay removed.
  static bool remove_replicate_jobs(const Array& ids);
  // The backup sets a warm-up of the catalog needs, their uuids appended to
  // `uuids`: for a continuous-data DIFF the first FULL of its chain and the
  // catalog, otherwise its chain up to the catalog. `catalog` (may be null)
  // receives the catalog. False for an unknown catalog or a chain that
  // cannot be read.
  static bool get_catalogs_for_warmup(const std::string& pool_uuid, const std::string& catalog_uuid,
                                      Array& uuids, Object* catalog = nullptr);

  // Registers a replicate (uuid, source_uuid, target_uuid) on the source
  // side, replacing the one stored for the two pools. All or nothing: a
  // failure leaves the stored replicate as it was. False, logged, when
  // members are missing or several replicates exist for the two pools.
  static bool add_replicate(const Object& replicate);
  // Registers, on the target side, the target pool ("target"; a known pool
  // has its use count "quoted" raised by one), its devices ("devices") and
  // the replicate ("info": uuid, source_uuid, extended_attrs). All or
  // nothing: a failure leaves no relation, no device and no raised count.
  static bool add_replicate_with_target(const Object& request);
  // The front's incarnation information for `requests`, with "replicated"
  // dropped from each set that the daemon does not report online in its
  // target pool (unless its request says "check_replicate": false). When
  // the daemon cannot tell, the states stay as stored.
  static bool get_incarnation_info(const Array& requests, Array& info);

  // --- Space information and dedup summaries. Sizes are bytes; a dedup
  // rate is in hundredths of a percent. Outputs may be partly filled when
  // a later step fails.

  // "size", "free_size" and "used_size" of the pool (dedup pools also
  // "data_size", "dedup_rate" and "extended_attrs"); a multi-device pool
  // reports each device under "devices", with "online" for a device
  // reached over http(s) and, with `with_disk_space`, the storage host's
  // "disk_space". A device of a multi-device dedup pool whose URL is not a
  // dedup URL is skipped (logged) and left out of the totals.
  static bool get_pool_space_info(const std::string& pool_uuid, const std::string& access_key,
                                  Object& info, bool with_disk_space);
  // The same for one device of this host.
  static bool get_device_space_info(const std::string& device_uuid, const std::string& access_key,
                                    Object& info);
  static bool get_device_space_info(const Object& device, const std::string& access_key,
                                    Object& info);
  // The logical and stored bytes of a dedup pool, asked of the dedup
  // service behind its master device, and the device's chunk size. Each
  // output may be null. A master device without a dedup URL gives success
  // with the outputs untouched.
  static bool get_dedup_summary(const Object& pool, const std::string& access_key,
                                long long* data_size, long long* chunk_size,
                                long long* stored_size);
  // The same for a device served by this host's own dedup service.
  static bool get_local_dedup_summary(const Object& device, const std::string& access_key,
                                      long long* data_size, long long* chunk_size,
                                      long long* stored_size);
  // Whether a file of one of the catalogs ("files") is recorded on one of
  // the devices. False, logged, for a catalog without a "files" array.
  static bool is_catalog_on_device(const std::vector<std::string>& device_uuids,
                                   const Array& catalogs);
  // The devices of this server's own pools (replicate target pools left
  // out), replacing `devices`.
  static bool get_own_devices(Array& devices);
};

#endif  // STORAGED_STORAGE_CATALOG_STORAGE_CATALOG_UTILS_H_
