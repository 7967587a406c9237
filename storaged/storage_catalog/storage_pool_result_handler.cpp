#include "storaged/storage_catalog/storage_pool_result_handler.h"

#include <cstring>
#include <string>

#include "platform/runtime/log.h"

using database::sql::Binding_Value;
using database::sql::Connection;
using database::sql::Connection_Ptr;
using database::sql::Legacy_Cursor;
using database::sql::Query_Result_Handler;
using database::sql::Query_Result_Printer;
using database::sql::Select_SQL;

namespace SCAT {

namespace {

const Query_Result_Handler::Column kPoolRowColumns[] = {
    {"uuid", Query_Result_Handler::UUID_HEX},
    {"pool_uuid", Query_Result_Handler::UUID_HEX},
    {"source_uuid", Query_Result_Handler::UUID_HEX},
    {"target_uuid", Query_Result_Handler::UUID_HEX},
    {"extended_attrs", Query_Result_Handler::JSON_TEXT},
    {nullptr, 0}};

const Query_Result_Handler::Column kRelatedColumns[] = {
    {"uuid", Query_Result_Handler::UUID_HEX},
    {"pool_uuid", Query_Result_Handler::UUID_HEX},
    {"source_uuid", Query_Result_Handler::UUID_HEX},
    {"target_uuid", Query_Result_Handler::UUID_HEX},
    {"source_pool_uuid", Query_Result_Handler::UUID_HEX},
    {"target_pool_uuid", Query_Result_Handler::UUID_HEX},
    {"extended_attrs", Query_Result_Handler::JSON_TEXT},
    {nullptr, 0}};

// A pseudo-column: the table, columns and key of its rows, and whether it
// stands for one row or a list.
struct Pseudo_Column {
  const char* name;
  const char* table;
  const char* columns;
  const char* key;
  int mode;
};

const Pseudo_Column kPseudoColumns[] = {
    {"storages", "storage_catalog_device", "uuid,url,extended_attrs", "pool_uuid",
     Legacy_Cursor::ROWS},
    {"replicate_source", "storage_catalog_storage_pool_replicate", "source_uuid", "target_uuid",
     Legacy_Cursor::ROWS},
    {"replicate_target", "storage_catalog_storage_pool_replicate", "target_uuid", "source_uuid",
     Legacy_Cursor::ROWS},
    {"usage", "storage_catalog_pool_usage", "", "pool_uuid", Legacy_Cursor::ROW}};

void load_json_columns(Value& row, const Query_Result_Handler& handler) {
  if (!row.is_object())
    return;
  for (auto& member : row.get_ref<Object&>()) {
    if (!member.second.is_string() || !handler.is_json_column(member.first))
      continue;
    Value parsed;
    if (loads_json(member.second.get_ref<const std::string&>(), parsed))
      member.second = std::move(parsed);
  }
}

}  // namespace

Storage_Pool_Result_Handler::Storage_Pool_Result_Handler()
    : Query_Result_Handler(nullptr, kPoolRowColumns, -1, -1) {}

const Query_Result_Handler& Storage_Pool_Result_Handler::related_rows() {
  static const Query_Result_Handler handler(nullptr, kRelatedColumns, -1, -1);
  return handler;
}

bool Storage_Pool_Result_Handler::fetch(const Connection_Ptr& conn, const database::sql::SQL& sql,
                                        int mode, const Query_Result_Handler& handler, Value& out) {
  Value result;
  Legacy_Cursor cursor(conn, sql, mode, 0);
  cursor.result_handler(&handler);
  if (!cursor.fetch(result))
    return false;
  if (result.is_array()) {
    for (Value& row : result)
      load_json_columns(row, handler);
  } else {
    load_json_columns(result, handler);
  }
  out = std::move(result);
  return true;
}

int Storage_Pool_Result_Handler::handle_binary_i(Connection& conn, int index, const char* name,
                                                 const unsigned char* data, unsigned long long size,
                                                 Query_Result_Printer& printer) const {
  if (name == nullptr || *name == '\0') {
    VRT_LOG_UNEXPECTED("name", VRT_IS_NULL_OR_EMPTY);
    return 0;
  }
  for (const Pseudo_Column& column : kPseudoColumns) {
    if (std::strcmp(name, column.name) != 0)
      continue;
    Select_SQL related;
    related.table(column.table).select(column.columns);
    related.where().and_filter()->add_sql(std::string(column.key) + "=:" + column.key);
    related.bind(column.key,
                 Binding_Value::blob(std::string(reinterpret_cast<const char*>(data), size)));
    static const Query_Result_Handler rows_handler(nullptr, kPoolRowColumns, -1, -1);
    Value rows;
    if (fetch(Connection_Ptr(&conn), related, column.mode, rows_handler, rows))
      printer.print_json(index, name, rows);
    return 0;
  }
  return 0;
}

}  // namespace SCAT
