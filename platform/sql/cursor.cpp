#include "platform/sql/cursor.h"

#include <cstring>

#include "platform/runtime/log.h"
#include "platform/runtime/uuid.h"

namespace database {
namespace sql {

namespace {

const Query_Result_Handler::Column kCatalogColumns[] = {
    {"uuid", Query_Result_Handler::UUID_HEX},
    {"host_uuid", Query_Result_Handler::UUID_HEX},
    {"pool_uuid", Query_Result_Handler::UUID_HEX},
    {"source_uuid", Query_Result_Handler::UUID_HEX},
    {"target_uuid", Query_Result_Handler::UUID_HEX},
    {"catalog_uuid", Query_Result_Handler::UUID_HEX},
    {"source_pool_uuid", Query_Result_Handler::UUID_HEX},
    {"target_pool_uuid", Query_Result_Handler::UUID_HEX},
    {"target_server_uuid", Query_Result_Handler::UUID_HEX},
    {"incarnation", Query_Result_Handler::UUID_HEX},
    {"from_uuid", Query_Result_Handler::UUID_HEX},
    {"to_uuid", Query_Result_Handler::UUID_HEX},
    {"uid", Query_Result_Handler::UUID_HEX},
    {"resource_uuid", Query_Result_Handler::UUID_HEX},
    {"files", Query_Result_Handler::JSON_TEXT},
    {"extended_attrs", Query_Result_Handler::JSON_TEXT},
    {nullptr, 0}};

}  // namespace

Query_Result_Handler::Query_Result_Handler(void*, const Column* columns, int, int)
    : columns_(columns) {}

const Query_Result_Handler& Query_Result_Handler::catalog() {
  static const Query_Result_Handler handler(nullptr, kCatalogColumns, -1, -1);
  return handler;
}

Query_Result_Handler::~Query_Result_Handler() = default;

int Query_Result_Handler::column_kind(const std::string& column) const {
  for (const Column* c = columns_; c != nullptr && c->name != nullptr; ++c)
    if (column == c->name)
      return c->kind;
  return 0;
}

bool Query_Result_Handler::is_uuid_column(const std::string& column) const {
  return column_kind(column) == UUID_HEX;
}

bool Query_Result_Handler::is_json_column(const std::string& column) const {
  return column_kind(column) == JSON_TEXT;
}

int Query_Result_Handler::print_column(Connection& conn, int index, const std::string& name,
                                       const Binding_Value& value,
                                       Query_Result_Printer& printer) const {
  const char* column = name.c_str();
  switch (value.kind()) {
    case Binding_Value::NULL_VALUE:
      return handle_null_i(conn, index, column, printer);
    case Binding_Value::INTEGER:
      return handle_integer_i(conn, index, column, value.integer(), printer);
    case Binding_Value::REAL:
      return handle_double_i(conn, index, column, value.real(), printer);
    case Binding_Value::BLOB: {
      const std::string& bytes = value.text();
      if (is_uuid_column(name))
        return printer.print_str(index, column, vrt::bytes_to_hex(bytes.data(), bytes.size()));
      return handle_binary_i(conn, index, column,
                             reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(),
                             printer);
    }
    default:
      return handle_string_i(conn, index, column, value.text().c_str(), value.text().size(),
                             printer);
  }
}

int Query_Result_Handler::handle_binary_i(Connection&, int index, const char* name,
                                          const unsigned char* data, unsigned long long size,
                                          Query_Result_Printer& printer) const {
  return printer.print_str(index, name, vrt::bytes_to_hex(data, size));
}

int Query_Result_Handler::handle_double_i(Connection&, int index, const char* name, double value,
                                          Query_Result_Printer& printer) const {
  return printer.print_double(index, name, value);
}

int Query_Result_Handler::handle_integer_i(Connection&, int index, const char* name,
                                           long long value, Query_Result_Printer& printer) const {
  return printer.print_int(index, name, value);
}

int Query_Result_Handler::handle_null_i(Connection&, int index, const char* name,
                                        Query_Result_Printer& printer) const {
  return printer.print_null(index, name);
}

int Query_Result_Handler::handle_string_i(Connection&, int index, const char* name,
                                          const char* text, unsigned long long length,
                                          Query_Result_Printer& printer) const {
  Value json;
  if (name != nullptr && is_json_column(name) && loads_json(text, length, json, 0))
    return printer.print_json(index, name, json);
  return printer.print_cstr(index, name, text, length);
}

Value Query_Result_Handler::to_value(const std::string& column, const Binding_Value& v) const {
  switch (v.kind()) {
    case Binding_Value::NULL_VALUE:
      return Value();
    case Binding_Value::INTEGER:
      return Value(v.integer());
    case Binding_Value::REAL:
      return Value(v.real());
    case Binding_Value::BLOB:
      // Binary columns are uuids; any other blob is shown the same way
      // rather than as raw bytes that are not text.
      return Value(vrt::bytes_to_hex(v.text().data(), v.text().size()));
    default:
      return Value(v.text());
  }
  (void)column;
}

// ---------------------------------------------------------------------------

Legacy_Cursor::Legacy_Cursor(const Connection_Ptr& conn, const SQL& sql, int mode, int)
    : conn_(conn), sql_(sql), mode_(mode), handler_(&Query_Result_Handler::catalog()) {}

Legacy_Cursor::~Legacy_Cursor() = default;

bool Legacy_Cursor::start() {
  statement_.reset();
  on_row_ = false;
  eof_ = true;
  good_ = false;
  column_ = 0;
  if (!conn_) {
    error_ = "no connection";
    return false;
  }
  statement_ = conn_->prepare(sql_);
  if (!statement_) {
    error_ = conn_->error();
    return false;
  }
  return advance();
}

bool Legacy_Cursor::advance() {
  int rc = statement_->step();
  on_row_ = rc == 1;
  eof_ = !on_row_;
  if (rc >= 0)
    return true;
  error_ = statement_->error();
  LOG_ERROR("Query failed: %s [%s]", error_.c_str(), sql_.str(conn_->dialect()).c_str());
  return false;
}

Value Legacy_Cursor::row_object() {
  Object row;
  int n = statement_->column_count();
  for (int i = 0; i < n; ++i) {
    std::string name = statement_->column_name(i);
    row[name] = handler_->to_value(name, statement_->column(i));
  }
  return Value(std::move(row));
}

bool Legacy_Cursor::fetch(Value& out) {
  if (!start())
    return false;
  if (mode_ == ROW) {
    out = on_row_ ? row_object() : Value();
    return true;
  }
  Array rows;
  while (on_row_) {
    rows.push_back(row_object());
    if (!advance())
      return false;
  }
  out = Value(std::move(rows));
  return true;
}

bool Legacy_Cursor::fetch() {
  return start();
}

bool Legacy_Cursor::next_column(Binding_Value& value, std::string& name) {
  good_ = false;
  if (!on_row_ || !statement_ || column_ >= statement_->column_count())
    return false;
  name = statement_->column_name(column_);
  value = statement_->column(column_);
  ++column_;
  if (mode_ == STREAM && column_ >= statement_->column_count()) {
    // The row is used up: stand on the next one.
    column_ = 0;
    advance();
  }
  return true;
}

Legacy_Cursor& Legacy_Cursor::operator>>(long long& out) {
  Binding_Value v;
  std::string name;
  if (!next_column(v, name))
    return *this;
  if (v.kind() == Binding_Value::INTEGER) {
    out = v.integer();
    good_ = true;
  } else if (v.kind() == Binding_Value::REAL) {
    out = static_cast<long long>(v.real());
    good_ = true;
  } else if (v.kind() == Binding_Value::TEXT && !v.text().empty()) {
    // Some engines hand back numbers (sums, say) as decimal text.
    char* end = nullptr;
    long long n = std::strtoll(v.text().c_str(), &end, 10);
    if (end != nullptr && *end == '\0') {
      out = n;
      good_ = true;
    }
  }
  return *this;
}

Legacy_Cursor& Legacy_Cursor::operator>>(int& out) {
  long long n = 0;
  *this >> n;
  if (good_)
    out = static_cast<int>(n);
  return *this;
}

Legacy_Cursor& Legacy_Cursor::operator>>(std::string& out) {
  Binding_Value v;
  std::string name;
  if (!next_column(v, name) || v.kind() == Binding_Value::NULL_VALUE)
    return *this;
  Value json = handler_->to_value(name, v);
  if (json.is_string())
    out = json.get<std::string>();
  else
    out = JSON_Dump(json);
  good_ = true;
  return *this;
}

Legacy_Cursor& Legacy_Cursor::operator>>(Query_Result_Printer& printer) {
  good_ = false;
  if (!on_row_ || !statement_)
    return *this;
  bool printed = true;
  const int count = statement_->column_count();
  for (; column_ < count; ++column_) {
    if (handler_->print_column(*conn_, column_, statement_->column_name(column_),
                               statement_->column(column_), printer) < 0) {
      printed = false;
      break;
    }
  }
  good_ = printed;
  return *this;
}

Legacy_Cursor& Legacy_Cursor::operator>>(Value& out) {
  Binding_Value v;
  std::string name;
  if (!next_column(v, name))
    return *this;
  out = handler_->to_value(name, v);
  good_ = true;
  return *this;
}

}  // namespace sql
}  // namespace database
