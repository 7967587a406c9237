// The usage bookkeeping of a pool: its row in "storage_catalog_pool_usage".
//
// Design note.
//
// Two kinds of pool. Stored kinds keep their figures in the row: backup
// sets move them by deltas (update_usage) and resync_usage recomputes them
// from the storage. Live kinds (a calculator with LIVE) are measured when
// asked; their row only records that something changed and when they were
// last reported.
//
// A row moves: quiet (update_time <= notify_time) -> changed (a delta, a
// resync, or a live pool's first change since its last report, sets
// update_time) -> reported (notify_usage builds a notification) ->
// quiet again once the daemon has taken it (notified). A report the daemon
// does not take leaves the row changed, so the same figures go out again.
//
// Invariants the tests check:
// - update_time is only ever set above notify_time, so a change is never
//   mistaken for one already reported, even within the second of a report.
// - notify_time of a stored pool becomes the update_time that was
//   reported, and only while the row still holds the reported figures: a
//   change made while the report was on its way stays pending.
// - a live pool's pending change is claimed (notify_time = update_time)
//   before it is measured, so a change made during the measurement sets
//   update_time anew; a report that fails gives the claim back.
// - a pool with a pending live change keeps the update_time of its first
//   change.
#include <cstdlib>
#include <ctime>
#include <string>

#include "platform/rpc/http_options.h"
#include "platform/rpc/json_restful_client.h"
#include "platform/rpc/json_rpc.h"
#include "platform/runtime/log.h"
#include "platform/sql/cursor.h"
#include "storaged/storage_catalog/catalog_table.h"
#include "storaged/storage_catalog/storage_pool.h"
#include "storaged/storage_catalog/storage_pool_result_handler.h"
#include "storaged/storage_catalog/url_scheme_family.h"
#include "storaged/storage_catalog/catalog_settings.h"

using database::sql::Binding_Value;
using database::sql::Insert_SQL;
using database::sql::Legacy_Cursor;
using database::sql::Select_SQL;
using database::sql::Update_SQL;

namespace SCAT {

namespace {

const char kUsageTable[] = "storage_catalog_pool_usage";
// The new update_time of a change at :now.
const char kChangedAt[] = "CASE WHEN notify_time >= :now THEN notify_time + 1 ELSE :now END";

// Whether the usage of a pool on `url` is kept by another service.
bool is_live_usage_url(const std::string& url) {
  return is_url_of(SCHEME_KXT, url) || is_url_of(SCHEME_DEDUP, url) ||
         is_url_of(SCHEME_BTRFS, url) || is_url_of(SCHEME_LANFREE, url);
}

long long now_seconds() {
  return static_cast<long long>(std::time(nullptr));
}

// A number read from the database: NULL is 0, sums may come as text.
bool to_integer(const Value& value, long long& out) {
  if (value.is_null()) {
    out = 0;
    return true;
  }
  if (value.is_number_integer()) {
    out = value.get<long long>();
    return true;
  }
  if (value.is_number()) {
    out = static_cast<long long>(value.get<double>());
    return true;
  }
  if (value.is_string()) {
    const std::string& text = value.get_ref<const std::string&>();
    char* end = nullptr;
    long long n = std::strtoll(text.c_str(), &end, 10);
    if (text.empty() || end == nullptr || *end != '\0')
      return false;
    out = n;
    return true;
  }
  return false;
}

long long member_integer(const Object& row, const char* key) {
  auto it = row.find(key);
  long long n = 0;
  return it != row.end() && to_integer(it->second, n) ? n : 0;
}

bool integer_member(const Object& object, const char* key, long long& out) {
  auto it = object.find(key);
  if (it == object.end() || !it->second.is_number_integer())
    return false;
  out = it->second.get<long long>();
  return true;
}

// An update of the pool's usage row.
Update_SQL usage_update(const std::string& pool_uuid, const char* condition = nullptr) {
  Update_SQL update;
  update.table(kUsageTable);
  update.where().and_filter()->add_sql("pool_uuid=:pool_uuid");
  if (condition != nullptr)
    update.where().and_filter()->add_sql(condition);
  update.bind_uuid("pool_uuid", pool_uuid);
  return update;
}

// The pool's usage row (its `columns`): 1 read, 0 none, -1 failed.
int read_usage_row(const database::sql::Connection_Ptr& conn, const std::string& pool_uuid,
                   const char* columns, Object& row) {
  Select_SQL read;
  read.table(kUsageTable).select(columns);
  read.where().and_filter()->add_sql("pool_uuid=:pool_uuid");
  if (!read.bind_uuid("pool_uuid", pool_uuid))
    return -1;
  Value found;
  if (!Storage_Pool_Result_Handler::fetch(conn, read, Legacy_Cursor::ROW,
                                          Storage_Pool_Result_Handler::related_rows(), found))
    return -1;
  if (!found.is_object())
    return 0;
  row = std::move(found.get_ref<Object&>());
  return 1;
}

// Applies an external storage's answer: its space into `space_out`, and the
// deduplicated used size of `catalog` bytes into `used`. False, logged, for
// a rate that is not a share of the data.
bool apply_external_space(const Object& space, long long catalog, long long& used,
                          Object& space_out) {
  long long rate = 0;
  auto it = space.find("dedup_rate");
  if (it != space.end() && !it->second.is_null()) {
    if (!it->second.is_number_integer() || it->second.get<long long>() < 0 ||
        it->second.get<long long>() > 10000) {
      LOG_ERROR("Invalid query result of external storage space info.");
      return false;
    }
    rate = it->second.get<long long>();
  }
  update_json_partial(space, space_out, "size", "free_size");
  if (rate != 0 && catalog != 0) {
    // Wide enough for the product of any size and rate.
    __int128 saved = static_cast<__int128>(catalog) * rate / 10000;
    used = catalog - static_cast<long long>(saved);
  }
  space_out["data_size"] = catalog;
  space_out["dedup_rate"] = rate;
  return true;
}

// A live calculator's figures as a notification of pool `pool_uuid`. False
// when they hold nothing to report.
bool shape_live_notification(const std::string& pool_uuid, const Object& pool_attrs,
                             const Object& figures, Object& notification) {
  Object out;
  long long n = 0;
  if (integer_member(figures, "primary_size", n))
    out["extended_attrs"] = Object{{"primary_size", n}};
  else if (integer_member(pool_attrs, "dedup_redundancy", n))
    out["extended_attrs"] = Object{{"dedup_redundancy", n}};
  Array devices;
  if (const Array* measured = object_get_array(figures, "devices")) {
    for (const Value& element : *measured) {
      if (!element.is_object())
        continue;
      Object rest = element.get<Object>();
      const std::string* uuid = object_get_str(rest, "uuid");
      if (uuid == nullptr)
        continue;
      Object device{{"uuid", *uuid}};
      if (integer_member(rest, "used_size", n))
        device["used_bytes"] = n;
      rest.erase("uuid");
      rest.erase("used_size");
      if (!rest.empty())
        device["extended_attrs"] = std::move(rest);
      devices.push_back(std::move(device));
    }
  }
  if (!devices.empty())
    out["devices"] = std::move(devices);
  if (out.empty())
    return false;
  out["uuid"] = pool_uuid;
  notification = std::move(out);
  return true;
}

}  // namespace

bool Storage_Pool::read_devices(const Connection_Ptr& conn, Array& devices, Object& master) const {
  return get_devices(conn, devices) && get_master_device(devices, master);
}

bool Storage_Pool::read_catalog_sum(const Connection_Ptr& conn, const char* condition, int states,
                                    long long& size) const {
  if (!Catalog_Table::is_pool_uuid(uuid_))
    return false;
  Select_SQL sum;
  sum.table(Catalog_Table(uuid_).name()).select("SUM(size) size");
  sum.where().and_filter()->add_sql(condition);
  if (states != 0)
    sum.bind("st", states);
  Legacy_Cursor cursor(conn, sum, Legacy_Cursor::SCALAR, 0);
  Value value;
  if (!cursor.fetch() || cursor.eof() || !(cursor >> value))
    return false;
  // A pool without matching backup sets sums to NULL: nothing.
  return to_integer(value, size);
}

bool Storage_Pool::get_catalog_size(const Connection_Ptr& conn, long long& size, bool all) const {
  if (!is_normal())
    return false;
  return read_catalog_sum(conn, "state & :st = 1", all ? 1 : 9, size);
}

bool Storage_Pool::get_catalog_size(const Connection_Ptr& conn, long long& size,
                                    long long* expired) const {
  long long online = 0;
  if (!get_catalog_size(conn, online, true))
    return false;
  long long both = 0;
  if (expired != nullptr && !read_catalog_sum(conn, "state & 9 = 9", 0, both))
    return false;
  size = online;
  if (expired != nullptr)
    *expired = both;
  return true;
}

bool Storage_Pool::get_usage(const Connection_Ptr& conn, Storage_Pool_Usage& usage) const {
  Object row;
  int found = read_usage_row(
      conn, uuid_, "logical_size, physical_size, catalog_size,resync_time,notify_time,update_time",
      row);
  if (found < 0)
    return false;
  if (found > 0) {
    usage.logical_size = member_integer(row, "logical_size");
    usage.physical_size = member_integer(row, "physical_size");
    usage.catalog_size = member_integer(row, "catalog_size");
    usage.resync_time = member_integer(row, "resync_time");
    usage.notify_time = member_integer(row, "notify_time");
    usage.update_time = member_integer(row, "update_time");
    return true;
  }
  // A row another thread has made meanwhile already holds figures: keep it.
  Insert_SQL insert;
  insert.table(kUsageTable).or_expr(1);
  return insert.value_uuid("pool_uuid", uuid_) && conn && conn->execute(insert);
}

bool Storage_Pool::update_usage(const Connection_Ptr& conn, long long delta) const {
  if (delta == 0)
    return true;
  Array devices;
  Object master;
  if (!read_devices(conn, devices, master))
    return false;
  const std::string* url = object_get_str(master, "url");
  if (url == nullptr)
    return false;
  const long long now = now_seconds();
  if (is_live_usage_url(*url)) {
    // The figures live in another service; only the first change since the
    // last report is recorded.
    Update_SQL changed = usage_update(uuid_, "update_time <= notify_time");
    changed.set_sql("update_time", kChangedAt).bind("now", now);
    conn->execute(changed);
    return true;
  }
  Storage_Pool_Usage usage{};
  if (!get_usage(conn, usage))
    return false;
  // Added in the statement itself: concurrent deltas of one pool all count.
  Update_SQL update = usage_update(uuid_);
  for (const char* column : {"logical_size", "physical_size", "catalog_size"}) {
    std::string sum = std::string("COALESCE(") + column + ", 0) + :delta";
    update.set_sql(column, "CASE WHEN " + sum + " < 0 THEN 0 ELSE " + sum + " END");
  }
  update.set_sql("update_time", kChangedAt);
  update.bind("delta", delta).bind("now", now);
  return conn->execute(update);
}

bool Storage_Pool::resync_usage(const Connection_Ptr& conn) const {
  if (!is_normal())
    return true;
  const long long now = now_seconds();
  Pool_Usage_Calculator_Ptr calculator = make_usage_calculator(conn);
  if (!calculator)
    return false;
  Update_SQL update = usage_update(uuid_);
  update.set("resync_time", now);
  if (calculator->has_flag(Pool_Usage_Calculator::LIVE)) {
    conn->execute(update);
    return true;
  }
  long long size = 0;
  if (!get_catalog_size(conn, size, true)) {
    LOG_ERROR("Failed to get catalog size of pool '%s'.", uuid_.c_str());
    return false;
  }
  Object figures;
  bool measured = calculator->calculate(figures);
  // Measuring may take long: backup sets added meanwhile must count.
  long long latest = 0;
  if (get_catalog_size(conn, latest, true))
    size = latest;
  long long files = 0;
  if (measured && calculator->has_flag(Pool_Usage_Calculator::COUNTS_FILES) && size > 0 &&
      integer_member(figures, "files", files) && files == 0) {
    // Backup sets without a file behind them: the folder is missing or not
    // mounted, and its zeros are no measure of the pool.
    LOG_ERROR("Failed to measure pool '%s': no files where its backup sets hold %lld bytes.",
              uuid_.c_str(), size);
    measured = false;
  }
  long long n = 0;
  update.set("catalog_size", size);
  update.set("physical_size", measured && integer_member(figures, "used_size", n) ? n : size);
  if (calculator->has_flag(Pool_Usage_Calculator::COUNTS_FILES)) {
    if (measured && integer_member(figures, "files", n))
      update.set("total_files", n);
    if (measured && integer_member(figures, "file_size", n))
      update.set("logical_size", n);
  } else {
    update.set("logical_size", size);
  }
  update.set_sql("update_time", kChangedAt).bind("now", now);
  return conn->execute(update);
}

bool Storage_Pool::get_usage(const Connection_Ptr& conn, Object& usage) const {
  Pool_Usage_Calculator_Ptr calculator = make_usage_calculator(conn);
  if (!calculator)
    return false;
  if (calculator->has_flag(Pool_Usage_Calculator::LIVE))
    return calculator->calculate(usage);
  Object row;
  int found =
      read_usage_row(conn, uuid_, "physical_size,logical_size,catalog_size,update_time", row);
  if (found < 0)
    return false;
  long long catalog = 0;
  if (found > 0) {
    catalog = member_integer(row, "catalog_size");
    usage["used_size"] = calculator->has_flag(Pool_Usage_Calculator::PHYSICAL_IS_USED)
                             ? member_integer(row, "physical_size")
                             : catalog;
    usage["catalog_size"] = catalog;
    usage["logical_size"] = member_integer(row, "logical_size");
    usage["physical_size"] = member_integer(row, "physical_size");
  } else {
    if (!get_catalog_size(conn, catalog, true))
      return false;
    usage["used_size"] = catalog;
  }
  if (calculator->has_flag(Pool_Usage_Calculator::EXTERNAL)) {
    Object space;
    if (!get_external_device_space(calculator->external_id(), space))
      return true;
    long long used = usage["used_size"].get<long long>();
    Object figures;
    if (!apply_external_space(space, catalog, used, figures))
      return true;
    usage["used_size"] = used;
    for (auto& figure : figures)
      usage[figure.first] = std::move(figure.second);
    return true;
  }
  calculator->get_space(usage);
  return true;
}

bool Storage_Pool::notify_usage(const Connection_Ptr& conn, Object& notification,
                                Usage_Report& report) const {
  Array devices;
  Object master;
  if (!read_devices(conn, devices, master))
    return false;
  if (object_get_str(master, "uuid") == nullptr || object_get_str(master, "url") == nullptr)
    return false;
  report = Usage_Report();
  report.pool_uuid = uuid_;
  report.built_at = now_seconds();
  Pool_Usage_Calculator_Ptr calculator = make_usage_calculator(conn);
  if (!calculator)
    return false;
  if (calculator->has_flag(Pool_Usage_Calculator::LIVE))
    return notify_live(conn, *calculator, notification, report);
  return notify_stored(conn, *calculator, master, notification, report);
}

bool Storage_Pool::notify_live(const Connection_Ptr& conn, Pool_Usage_Calculator& calculator,
                               Object& notification, Usage_Report& report) const {
  report.live = true;
  Object row;
  int found = read_usage_row(conn, uuid_, "update_time,notify_time", row);
  if (found < 0)
    return false;
  if (found > 0) {
    report.has_row = true;
    report.update_time = member_integer(row, "update_time");
    report.notify_time = member_integer(row, "notify_time");
  }
  if (report.has_row && report.update_time > report.notify_time) {
    Update_SQL claim =
        usage_update(uuid_, "update_time = :update_time AND notify_time = :notify_time");
    claim.set("notify_time", report.update_time);
    claim.bind("update_time", report.update_time).bind("notify_time", report.notify_time);
    long long claimed = 0;
    // Another report has taken the change meanwhile: it is on its way.
    if (!conn->execute(claim, &claimed) || claimed != 1)
      return false;
    report.claimed = true;
  }
  Object figures;
  if (!calculator.calculate(figures) ||
      !shape_live_notification(uuid_, extended_attrs_, figures, notification)) {
    notified(conn, report, false);
    return false;
  }
  return true;
}

bool Storage_Pool::notify_stored(const Connection_Ptr& conn, Pool_Usage_Calculator& calculator,
                                 const Object& master, Object& notification,
                                 Usage_Report& report) const {
  Object row;
  int found =
      read_usage_row(conn, uuid_, "physical_size,logical_size,catalog_size,update_time", row);
  if (found < 0)
    return false;
  Object device{{"uuid", *object_get_str(master, "uuid")}};
  Object attrs;
  long long catalog = 0;
  long long used = 0;
  if (found > 0) {
    report.has_row = true;
    report.update_time = member_integer(row, "update_time");
    report.catalog_size = catalog = member_integer(row, "catalog_size");
    report.logical_size = member_integer(row, "logical_size");
    report.physical_size = member_integer(row, "physical_size");
    used = calculator.has_flag(Pool_Usage_Calculator::PHYSICAL_IS_USED) ? report.physical_size
                                                                        : catalog;
    attrs["logical_size"] = report.logical_size;
    attrs["physical_size"] = report.physical_size;
    attrs["catalog_size"] = catalog;
  } else {
    if (!get_catalog_size(conn, catalog, true))
      return false;
    used = catalog;
  }
  if (calculator.has_flag(Pool_Usage_Calculator::EXTERNAL)) {
    // Without the external storage's figures the used size would be the
    // undeduplicated one: report nothing rather than a wrong figure.
    Object space;
    if (!get_external_device_space(calculator.external_id(), space) ||
        !apply_external_space(space, catalog, used, attrs))
      return false;
  } else {
    calculator.get_space(attrs);
  }
  device["used_bytes"] = used;
  device["extended_attrs"] = std::move(attrs);
  notification["uuid"] = uuid_;
  notification["devices"] = Array{Value(std::move(device))};
  return true;
}

bool Storage_Pool::notified(const Connection_Ptr& conn, const Usage_Report& report, bool accepted) {
  if (!report.has_row || !conn)
    return true;
  if (report.live) {
    if (accepted) {
      Update_SQL asked = usage_update(report.pool_uuid);
      asked.set("resync_time", report.built_at);
      return conn->execute(asked);
    }
    if (!report.claimed)
      return true;
    Update_SQL give_back = usage_update(report.pool_uuid, "notify_time = :claimed");
    give_back.set("notify_time", report.notify_time).bind("claimed", report.update_time);
    return conn->execute(give_back);
  }
  if (!accepted)
    return true;
  // Only while the row still holds what was reported.
  Update_SQL stamp = usage_update(
      report.pool_uuid,
      "update_time = :update_time AND COALESCE(notify_time, 0) < :update_time AND "
      "COALESCE(catalog_size, 0) = :catalog_size AND COALESCE(logical_size, 0) = :logical_size "
      "AND COALESCE(physical_size, 0) = :physical_size");
  stamp.set("notify_time", report.update_time);
  stamp.bind("update_time", report.update_time)
      .bind("catalog_size", report.catalog_size)
      .bind("logical_size", report.logical_size)
      .bind("physical_size", report.physical_size);
  return conn->execute(stamp);
}

bool Storage_Pool::list_usage_changes(const Connection_Ptr& conn, long long resync_before,
                                      std::vector<std::pair<std::string, long long>>& rows) {
  Select_SQL read;
  read.table(kUsageTable).select("LOWER(HEX(pool_uuid)) pool_uuid, resync_time");
  read.where().and_filter()->add_sql("update_time > notify_time or resync_time < :resync_time");
  read.bind("resync_time", resync_before);
  Value found;
  Legacy_Cursor cursor(conn, read, Legacy_Cursor::ROWS_RAW, 0);
  if (!cursor.fetch(found) || !found.is_array()) {
    LOG_ERROR("Failed to query pool usage: %s", cursor.error().c_str());
    return false;
  }
  for (const Value& row : found) {
    if (!row.is_object())
      break;
    const Object& columns = row.get_ref<const Object&>();
    const std::string* uuid = object_get_str(columns, "pool_uuid");
    auto time = columns.find("resync_time");
    long long resync_time = 0;
    if (uuid == nullptr || time == columns.end() || !to_integer(time->second, resync_time))
      break;
    rows.emplace_back(*uuid, resync_time);
  }
  return true;
}

bool Storage_Pool::get_external_device_space(const std::string& external_uuid, Object& space) {
  std::string host;
  std::uint16_t port = 0;
  bool ssl = false;
  if (!HTTP_Options::instance()->get_local_listen_address(host, port, ssl))
    return false;
  Object request = JSON_RPC_Request::make(JSON_RPC_Id_Generator::get(), "external_storages.statfs",
                                          Object{{"uuid", external_uuid}});
  Common_JSON_RESTful_Client client(host, port, ssl, false, false);
  limit_daemon_wait(client);
  Value reply;
  if (!client.post("/kx/jr", Value(std::move(request)), reply) || !reply.is_object()) {
    LOG_ERROR("Failed to get space info of external storage '%s'.", external_uuid.c_str());
    return false;
  }
  const Object* result = object_get_object(reply.get_ref<const Object&>(), "result");
  if (result == nullptr) {
    LOG_ERROR("Invalid query result of external storage space info.");
    return false;
  }
  space = *result;
  return true;
}

}  // namespace SCAT
