#include "storaged/storage_catalog/storage_pool.h"

#include <cstring>

#include "platform/runtime/log.h"
#include "platform/runtime/string_template.h"
#include "platform/sql/cursor.h"
#include "storaged/storage_catalog/storage_catalog_utils.h"
#include "storaged/storage_catalog/storage_pool_result_handler.h"

using database::sql::Binding_Value;
using database::sql::Legacy_Cursor;
using database::sql::Select_SQL;
using database::sql::Update_SQL;

namespace SCAT {

namespace {

const char kPoolTable[] = "storage_catalog_storage_pool";
const char kDeviceTable[] = "storage_catalog_device";
const char kReplicateTable[] = "storage_catalog_storage_pool_replicate";

// The record's columns, each selected as "<alias>.<name> <name>".
const char* const kRecordColumns[] = {"uuid",   "name",  "high_water_mark", "retention_days",
                                      "quoted", "state", "on_host",         "extended_attrs"};

// Rows of another table about a pool (its devices, its replicates), their
// JSON columns parsed as the pool's own row's are.
bool read_related_rows(const database::sql::Connection_Ptr& conn, const database::sql::SQL& read,
                       Array& out) {
  Value rows;
  if (!Storage_Pool_Result_Handler::fetch(conn, read, Legacy_Cursor::ROWS,
                                          Storage_Pool_Result_Handler::related_rows(), rows) ||
      !rows.is_array())
    return false;
  out = std::move(rows.get_ref<Array&>());
  return true;
}

}  // namespace

void Storage_Pool::init_select_sql(Select_SQL& sql, const char* alias) {
  const std::string p = alias != nullptr ? alias : "";
  // The alias is spliced into the column expressions.
  if (!database::sql::is_identifier(p))
    sql.invalidate("'" + p + "' is not an alias");
  sql.table(kPoolTable, p);
  for (const char* column : kRecordColumns) {
    String_Template expression(std::string("{{p}}.") + column, "{{", "}}");
    expression.set("p", p);
    sql.add_key(column, expression.str());
  }
}

int Storage_Pool::load(const Connection_Ptr& conn, const std::string& pool_uuid) {
  Select_SQL read;
  init_select_sql(read, "p");
  read.where().and_filter()->add_sql("uuid=:uuid");
  if (!read.bind_uuid("uuid", pool_uuid))
    return 0;
  Storage_Pool_Result_Handler handler;
  Legacy_Cursor cursor(conn, read, Legacy_Cursor::COLUMNS, 0);
  cursor.result_handler(&handler);
  if (!cursor.fetch()) {
    LOG_ERROR("Failed to read storage pool '%s': %s", pool_uuid.c_str(), cursor.error().c_str());
    return -1;
  }
  if (cursor.eof())
    return 0;
  if (!(cursor >> *this)) {
    LOG_ERROR("Failed to read storage pool '%s'.", pool_uuid.c_str());
    return -1;
  }
  return 1;
}

bool Storage_Pool::is_column(const char* name) const {
  return name != nullptr && *name != '\0' && tokens().empty();
}

int Storage_Pool::print_int(int, const char* name, long long value) {
  if (!is_column(name))
    return 0;
  if (std::strcmp(name, "high_water_mark") == 0)
    high_water_mark_ = value;
  else if (std::strcmp(name, "retention_days") == 0)
    retention_days_ = static_cast<int>(value);
  else if (std::strcmp(name, "id") == 0)
    id_ = value;
  else if (std::strcmp(name, "quoted") == 0)
    quoted_ = static_cast<int>(value);
  else if (std::strcmp(name, "on_host") == 0)
    on_host_ = value;
  else
    return 0;
  return 1;
}

int Storage_Pool::print_cstr(int, const char* name, const char* text, unsigned long long length) {
  if (!is_column(name) || text == nullptr)
    return 0;
  if (std::strcmp(name, "uuid") == 0)
    uuid_.assign(text, length);
  else if (std::strcmp(name, "name") == 0)
    name_.assign(text, length);
  else if (std::strcmp(name, "state") == 0)
    state_.assign(text, length);
  else
    return 0;
  return 1;
}

int Storage_Pool::print_json(int, const char* name, const Value& value) {
  if (!is_column(name) || std::strcmp(name, "extended_attrs") != 0 || !value.is_object())
    return 0;
  extended_attrs_ = value.get<Object>();
  return 1;
}

bool Storage_Pool::is_replicate_target(const Connection_Ptr&) const {
  return on_host_ == 0;
}

bool Storage_Pool::get_devices(const Connection_Ptr& conn, Array& devices) const {
  Select_SQL read;
  read.table(kDeviceTable);
  read.where().and_filter()->add_sql("pool_uuid=:pool_uuid");
  if (!read.bind_uuid("pool_uuid", uuid_))
    return false;
  return read_related_rows(conn, read, devices);
}

bool Storage_Pool::get_master_device(const Array& devices, Object& master) {
  if (devices.empty())
    return false;
  for (const Value& device : devices) {
    if (device.is_object() &&
        Storage_Catalog_Utils::get_device_role(device.get_ref<const Object&>()) == "master") {
      master = device.get<Object>();
      return true;
    }
  }
  if (!devices.front().is_object())
    return false;
  master = devices.front().get<Object>();
  return true;
}

bool Storage_Pool::get_replicate_target(const Connection_Ptr& conn, Array& targets) const {
  Select_SQL read;
  read.table(kReplicateTable).select("target_uuid, extended_attrs");
  read.where().and_filter()->add_sql("source_uuid=:uuid");
  if (!read.bind_uuid("uuid", uuid_))
    return false;
  return read_related_rows(conn, read, targets);
}

bool Storage_Pool::to_json(Object& out) const {
  out["uuid"] = uuid_;
  out["name"] = name_;
  out["state"] = state_;
  out["high_water_mark"] = high_water_mark_;
  out["quoted"] = quoted_;
  out["on_host"] = on_host_;
  out["retention_days"] = retention_days_;
  out["extended_attrs"] = extended_attrs_;
  return true;
}

bool Storage_Pool::multidevice() const {
  auto it = extended_attrs_.find("multidevice");
  return it != extended_attrs_.end() && it->second.is_boolean() && it->second.get<bool>();
}

bool Storage_Pool::update_extended_attrs(const Connection_Ptr& conn) const {
  Update_SQL update;
  update.table(kPoolTable).set("extended_attrs", Binding_Value::from_json(Value(extended_attrs_)));
  update.where().and_filter()->add_sql("uuid=:uuid");
  if (!update.bind_uuid("uuid", uuid_))
    return false;
  return conn && conn->execute(update);
}

std::string Storage_Pool::get_external_id(const Object& device) const {
  return device_external_id(device);
}

Pool_Usage_Calculator_Ptr Storage_Pool::make_usage_calculator(const Connection_Ptr& conn) const {
  Array devices;
  Object master;
  if (!get_devices(conn, devices) || !get_master_device(devices, master))
    return Pool_Usage_Calculator_Ptr();
  return ::make_usage_calculator(uuid_, devices, master, multidevice());
}

}  // namespace SCAT
