#include "platform/sql/filter_parser.h"

#include "platform/sql/cursor.h"

namespace database {
namespace sql {

namespace {

bool kind_accepts(int kind, const Value& v) {
  switch (kind) {
    case KEY_INTEGER:
      return v.is_number_integer();
    case KEY_STRING:
    case KEY_UUID:
      return v.is_string();
    default:
      return v.is_primitive();
  }
}

// Splits "a,b" into its pieces.
Array split_list(const std::string& text) {
  Array out;
  std::size_t start = 0;
  for (;;) {
    std::size_t comma = text.find(',', start);
    out.push_back(text.substr(start, comma == std::string::npos ? comma : comma - start));
    if (comma == std::string::npos)
      return out;
    start = comma + 1;
  }
}

// Adds the conditions of one member whose values `kind_accepts`.
bool add_member(Filter_SQL& filter, const std::string& column, int kind, int flags,
                const Value& value, std::string& error) {
  bool as_uuid = kind == KEY_UUID;
  auto add_one = [&](const Value& v, int op) {
    if (!kind_accepts(kind, v)) {
      error = "filter '" + column + "' holds a value of the wrong type";
      return false;
    }
    bool ok = as_uuid ? filter.add_key_uuid_item(column, v.get<std::string>(), op)
                      : filter.add_kv_item(column, v, op);
    if (!ok)
      error = filter.invalid_reason();
    return ok;
  };
  if (value.is_array() || (flags & KEY_FLAG_LIST && value.is_string() &&
                           value.get<std::string>().find(',') != std::string::npos)) {
    Array list = value.is_array() ? value.get<Array>() : split_list(value.get<std::string>());
    for (const Value& v : list) {
      if (!kind_accepts(kind, v)) {
        error = "filter '" + column + "' holds a value of the wrong type";
        return false;
      }
    }
    bool ok = filter.add_list_item(column, list, OP_IN, as_uuid);
    if (!ok)
      error = filter.invalid_reason();
    return ok;
  }
  if (value.is_object()) {
    for (const auto& member : value.items()) {
      int op = Item_SQL::op_name_to_value(member.key());
      if (op == OP_NONE) {
        error = "filter '" + column + "' has an unknown operator '" + member.key() + "'";
        return false;
      }
      if (!add_one(member.value(), op))
        return false;
    }
    return true;
  }
  return add_one(value, OP_EQ);
}

}  // namespace

SQL_Filter_Parser::SQL_Filter_Parser(Filter_SQL* filter, const Filter_Key* keys)
    : filter_(filter), keys_(keys) {}

bool SQL_Filter_Parser::parse(const Object& object, int /*mode*/) {
  if (filter_ == nullptr) {
    error_ = "no filter";
    return false;
  }
  for (const auto& member : object) {
    for (const Filter_Key* k = keys_; k != nullptr && k->name != nullptr; ++k) {
      if (member.first != k->name)
        continue;
      if (!add_member(*filter_, member.first, k->kind, k->flags, member.second, error_))
        return false;
      break;
    }
  }
  return true;
}

bool generate_filter_from_obj(const Object& object, Filter_SQL& filter, std::string* error) {
  std::string reason;
  const Query_Result_Handler& columns = Query_Result_Handler::catalog();
  for (const auto& member : object) {
    int kind = columns.is_uuid_column(member.first) ? KEY_UUID : 0;
    if (!is_identifier(member.first)) {
      reason = "'" + member.first + "' is not a column name";
    } else {
      add_member(filter, member.first, kind, 0, member.second, reason);
    }
    if (!reason.empty()) {
      if (error != nullptr)
        *error = reason;
      return false;
    }
  }
  return true;
}

}  // namespace sql
}  // namespace database
