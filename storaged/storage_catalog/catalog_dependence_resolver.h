// Backup chains of one pool: which backup sets ("catalogs") rest on which.
//
// Catalogs of one chain share an "incarnation"; later incremental,
// cumulative, differential and log backups rest on earlier ones. The
// resolver answers, for one pool, what a deletion or replication of a
// catalog must take along. Two storage rules override the chain rules: a
// catalog of a continuous-data module stands alone on snapshot storage
// ("btrfs", "vmcopy" and their secure forms) or when it is a DIFF backup,
// and MSSQL backups on snapshot storage group by database backup or by
// snapshot.
//
// A resolver holds only the pool's uuid and URL scheme: it may be reused
// for any number of calls, but is not shared between threads. Results are
// appended to caller-owned groups; nothing throws.
#ifndef STORAGED_STORAGE_CATALOG_CATALOG_DEPENDENCE_RESOLVER_H_
#define STORAGED_STORAGE_CATALOG_CATALOG_DEPENDENCE_RESOLVER_H_

#include <cstdint>
#include <map>
#include <string>

#include "platform/json/json.h"

class Pool_URL_Info;

// The catalogs that belong together, in the order they were found.
struct Catalog_Dependence_Group {
  std::int32_t status = 0;
  // True while the group holds catalogs that stand alone (continuous-data
  // sets); a group filled by the chain rules is not standalone.
  bool standalone = true;
  // Catalog rows. Resolutions append; they never clear.
  Array catalogs;
};

class Catalog_Dependence_Resolver {
 public:
  // Reads the pool's URL information; when it cannot be had, every
  // operation fails (logged).
  explicit Catalog_Dependence_Resolver(const std::string& pool_uuid);
  // Takes the pool and its scheme from information already read.
  explicit Catalog_Dependence_Resolver(const Pool_URL_Info& info);

  // The online catalogs of the catalog's chain, itself included.
  bool get_dependence_catalogs(const std::string& uuid, Catalog_Dependence_Group& group);
  // The catalog's dependence group: with `all_states` every catalog of its
  // chain; otherwise the online ones, and with `type_filter` only those not
  // older than it that a backup of its type takes along (see
  // backup_type_filter). False, logged, for a catalog without the fields a
  // chain needs; false, silently, for an unknown catalog. Members found
  // before a failure stay in `group`.
  bool get_dependence_catalogs(const std::string& uuid, bool all_states,
                               Catalog_Dependence_Group& group, bool type_filter);
  // The later online catalogs of the chain that rest on the catalog, up to
  // where the chain restarts: a LOG takes the LOGs that follow it; an
  // INCREMENTAL the INCREMENTALs up to the next CUMULATIVE; a CUMULATIVE
  // the INCREMENTALs up to the next CUMULATIVE; any other type every later
  // catalog. The catalog itself is not a member. Failures as above.
  bool get_dependents(const std::string& uuid, Catalog_Dependence_Group& group);
  // The dependence groups, keyed by incarnation, of the online catalogs
  // that `conditions` select among `resource_uuids` (empty: all
  // resources). Only the oldest selected catalog of a chain starts its
  // group; uuids in `excluded` never start one. False, logged, when the
  // catalogs cannot be read or a group cannot be resolved; `groups` keeps
  // what was resolved before.
  bool get_dependence_catalogs(const Array& resource_uuids, const Object& conditions,
                               const Array& excluded,
                               std::map<std::string, Catalog_Dependence_Group>& groups);
  // The number of catalogs in those groups; `amount` is untouched on
  // failure.
  bool amount_catalogs(const Array& resource_uuids, const Object& conditions, const Array& excluded,
                       long long& amount);

  // The catalog's "incarnation"; false when it has none as a string.
  bool get_group_key(const Object& catalog, std::string& key);
  // Whether `candidate` belongs to the group of a catalog of backup type
  // `type` (as stored, compared exactly) taken at `time` (seconds): never
  // when older; for "LOG" only LOGs, for "CUMULATIVE" only CUMULATIVEs,
  // for "INCREMENTAL" INCREMENTALs and CUMULATIVEs, for any other type
  // everything. A candidate without a backup type is refused, logged.
  bool backup_type_filter(const std::string& type, const Object& candidate, long long time);

 private:
  bool get_dependence_catalogs_i(const std::string& uuid, bool all_states,
                                 Catalog_Dependence_Group& group, bool type_filter);
  bool get_dependents_i(const std::string& uuid, Catalog_Dependence_Group& group);
  // What a walk along a chain starts from: the set, its type and its chain.
  struct Walk_Start {
    Object catalog;
    std::string type;
    Array chain;
  };
  // The start both walks share: reads set `uuid` and, when neither the
  // continuous-data nor the MSSQL rule settles `group` at once, its chain.
  // 1: walk `start.chain`; 0: `group` is settled; -1: failed.
  // `actual_type` reads the set's type as the dependents walk compares it.
  int start_walk(const std::string& uuid, bool actual_type, Catalog_Dependence_Group& group,
                 Walk_Start& start);
  bool resolve_conditions(const Array& resource_uuids, const Object& conditions,
                          const Array& excluded,
                          std::map<std::string, Catalog_Dependence_Group>& groups);
  // Adds `row` to the group already started under `key`, where the
  // continuous-data rule asks for it.
  bool join_group(const std::string& key, const Object& row,
                  std::map<std::string, Catalog_Dependence_Group>& groups);
  bool has_snapshot_scheme() const;
  // The continuous-data rule: when `catalog` stands alone it becomes the
  // group and true is returned.
  bool stands_alone(const Object& catalog, const std::string& agent, const std::string& type,
                    Catalog_Dependence_Group& group) const;
  // The chain of `catalog`, oldest first, into `chain`.
  bool read_chain(const std::string& uuid, const Object& catalog, Array& chain) const;
  // Whether the MSSQL rule decides the group of a catalog by `agent`.
  bool groups_by_snapshot(const std::string& agent) const;

  bool is_inited_ = false;
  std::string pool_uuid_;
  std::string scheme_;
};

// The host's check before it deletes backup sets. `request` names the pool
// ("pool_uuid") and either the catalogs ("catalog_uuids": the response maps
// each to its dependents) or conditions ("resource_uuids", "conditions",
// "exclude_catalog_uuids": the response's "total" counts the catalogs their
// groups hold). Returns 0 on success, -1 without a pool, -2 when the
// catalogs cannot be resolved; the response is written only on success.
int predelete_backupset(const Object& request, Object& response);

#endif  // STORAGED_STORAGE_CATALOG_CATALOG_DEPENDENCE_RESOLVER_H_
