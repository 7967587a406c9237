// The record of one storage pool (a row of "storage_catalog_storage_pool")
// with the lookups of what belongs to it (devices, master device,
// replication targets) and the bookkeeping of its usage row in
// "storage_catalog_pool_usage".
//
// A record is a plain value for one thread; it holds no connection and no
// lock. Every operation runs on the connection it is given, which the
// caller owns; the caller also serialises work on one pool. Results go
// into caller-owned out-parameters and nothing is thrown.
#ifndef STORAGED_STORAGE_CATALOG_STORAGE_POOL_H_
#define STORAGED_STORAGE_CATALOG_STORAGE_POOL_H_

#include <string>
#include <utility>
#include <vector>

#include "platform/json/json.h"
#include "platform/sql/connection.h"
#include "platform/sql/printer.h"
#include "platform/sql/sql.h"
#include "storaged/storage_catalog/pool_usage_calculator.h"

namespace SCAT {

// A pool's usage row; sizes in bytes, times in seconds since the epoch.
struct Storage_Pool_Usage {
  long long catalog_size;
  long long logical_size;
  long long physical_size;
  long long resync_time;
  long long notify_time;
  long long update_time;
};

// What a usage notification reported, kept until the daemon has answered:
// only figures the daemon took are marked as notified (see
// Storage_Pool::notify_usage and notified).
struct Usage_Report {
  std::string pool_uuid;
  bool live = false;
  // Whether the report stands on a usage row (nothing is marked without).
  bool has_row = false;
  // Live pools: whether the pending change was claimed for this report.
  bool claimed = false;
  long long built_at = 0;  // when the report was built
  // The row as the report read it.
  long long update_time = 0;
  long long notify_time = 0;
  long long catalog_size = 0;
  long long logical_size = 0;
  long long physical_size = 0;
};

class Storage_Pool : public database::sql::Query_Result_Token_Printer {
 public:
  using Connection_Ptr = database::sql::Connection_Ptr;

  Storage_Pool() = default;

  // --- Loading.

  // Points `sql` at "storage_catalog_storage_pool" under `alias` and
  // selects the record's columns (all but id) from it.
  static void init_select_sql(database::sql::Select_SQL& sql, const char* alias);
  // Reads the pool `pool_uuid` into this record: 1 when found, 0 when there
  // is no such pool (or `pool_uuid` is not a uuid), -1 when the read fails
  // (logged). The record is only written when a row is read.
  int load(const Connection_Ptr& conn, const std::string& pool_uuid);

  // The row printer's calls: a top-level column of the record's name is
  // stored and gives 1; anything else is passed over.
  int print_int(int index, const char* name, long long value) override;
  int print_cstr(int index, const char* name, const char* text, unsigned long long length) override;
  // Only an object is taken for "extended_attrs".
  int print_json(int index, const char* name, const Value& value) override;

  // --- What belongs to the pool. Lookups that fail leave their output as
  // it was and return false.

  // Whether the pool is a replication target held for another server.
  bool is_replicate_target(const Connection_Ptr& conn) const;
  // The pool's rows of "storage_catalog_device"; empty for none.
  bool get_devices(const Connection_Ptr& conn, Array& devices) const;
  // The first device whose role is "master" (a device without a role is
  // one); else the first device. False for an empty list, or when neither
  // is an object.
  static bool get_master_device(const Array& devices, Object& master);
  // The pool's replication relations, as {"target_uuid", "extended_attrs"}.
  bool get_replicate_target(const Connection_Ptr& conn, Array& targets) const;
  // Writes the record's members (all but id) into `out`.
  bool to_json(Object& out) const;
  // The boolean "multidevice" attribute; false when absent or not a bool.
  bool multidevice() const;
  // Stores the record's extended_attrs in its row.
  bool update_extended_attrs(const Connection_Ptr& conn) const;
  // The "external_uuid" string of the device's "extended_attrs"; empty when
  // the device names none.
  std::string get_external_id(const Object& device) const;
  // The calculator of the pool's storage; empty when the devices cannot be
  // read or the master device has no URL.
  Pool_Usage_Calculator_Ptr make_usage_calculator(const Connection_Ptr& conn) const;

  // --- Usage bookkeeping (storage_pool_usage.cpp).

  // Bytes of the pool's online backup sets, without the expired ones unless
  // `all`. False when the pool is not "normal" or the sum cannot be read.
  bool get_catalog_size(const Connection_Ptr& conn, long long& size, bool all) const;
  // Bytes of the online sets and, when `expired` is not null, of those both
  // online and expired. False when either sum cannot be read.
  bool get_catalog_size(const Connection_Ptr& conn, long long& size, long long* expired) const;
  // The usage row. Without one, inserts an empty row and returns whether
  // that worked, with `usage` untouched.
  bool get_usage(const Connection_Ptr& conn, Storage_Pool_Usage& usage) const;
  // Moves the stored figures by `delta` bytes (never below 0) and marks
  // them changed; a pool whose figures live in another service is only
  // marked changed. False when the devices or the row cannot be read or
  // the row cannot be written.
  bool update_usage(const Connection_Ptr& conn, long long delta) const;
  // Recomputes the usage row from the storage behind the pool (a pool that
  // is not "normal" is left alone, true). A storage that cannot be
  // measured, or a folder without files under a catalog that holds backup
  // sets (logged), counts the catalog size as physical size and leaves the
  // file figures as they were. Reads the whole storage: run it off the
  // callers' threads.
  bool resync_usage(const Connection_Ptr& conn) const;
  // The pool's usage as the daemon shows it: "used_size", "size",
  // "free_size" and the row's sizes, or the live figures of its calculator.
  bool get_usage(const Connection_Ptr& conn, Object& usage) const;
  // Builds the pool's usage notification {"uuid", "devices", ...} and, in
  // `report`, what it reported. Nothing is marked as notified here: the
  // caller passes `report` to notified once the daemon has answered. False
  // when the figures cannot be had (the external storage of the pool
  // included); `notification` may then hold part of them.
  bool notify_usage(const Connection_Ptr& conn, Object& notification, Usage_Report& report) const;
  // Marks the figures of `report` as notified when the daemon `accepted`
  // them; otherwise leaves the row so that they are offered again. A change
  // made after the report was built stays pending either way.
  static bool notified(const Connection_Ptr& conn, const Usage_Report& report, bool accepted);
  // The usage rows of `conn` to look at: those changed since they were
  // last reported or last recomputed before `resync_before`, as pairs of
  // pool uuid and resync_time. False, logged, when they cannot be read.
  static bool list_usage_changes(const Connection_Ptr& conn, long long resync_before,
                                 std::vector<std::pair<std::string, long long>>& rows);
  // The space of external storage `external_uuid` ("size", "free_size",
  // "dedup_rate"), asked of this host's own HTTP service. False, logged,
  // when it cannot be had; `space` is then untouched.
  static bool get_external_device_space(const std::string& external_uuid, Object& space);

  // Record members, as read.
  long long id() const { return id_; }
  long long on_host() const { return on_host_; }
  const std::string& name() const { return name_; }
  const std::string& uuid() const { return uuid_; }
  const std::string& state() const { return state_; }
  long long high_water_mark() const { return high_water_mark_; }
  int quoted() const { return quoted_; }
  int retention_days() const { return retention_days_; }
  const Object& extended_attrs() const { return extended_attrs_; }
  Object& extended_attrs() { return extended_attrs_; }

 private:
  // Whether a call names a top-level column.
  bool is_column(const char* name) const;
  bool is_normal() const { return state_ == "normal"; }
  // The devices and the master device, as the usage operations need them.
  bool read_devices(const Connection_Ptr& conn, Array& devices, Object& master) const;
  bool read_catalog_sum(const Connection_Ptr& conn, const char* condition, int states,
                        long long& size) const;
  bool notify_live(const Connection_Ptr& conn, Pool_Usage_Calculator& calculator,
                   Object& notification, Usage_Report& report) const;
  bool notify_stored(const Connection_Ptr& conn, Pool_Usage_Calculator& calculator,
                     const Object& master, Object& notification, Usage_Report& report) const;

  long long id_ = 0;
  long long on_host_ = 1;
  std::string name_;
  std::string uuid_;
  std::string state_;
  long long high_water_mark_ = 0;
  int quoted_ = 0;
  int retention_days_ = 0;
  Object extended_attrs_;
};

}  // namespace SCAT

#endif  // STORAGED_STORAGE_CATALOG_STORAGE_POOL_H_
