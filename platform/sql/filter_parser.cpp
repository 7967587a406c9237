#include "platform/sql/filter_parser.h"

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
      return false;
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

bool wrong_type(const std::string& column, std::string& error) {
  error = "filter '" + column + "' holds a value of the wrong type";
  return false;
}

// Adds the conditions of one member of `key`'s column.
bool add_member(Filter_SQL& filter, const Filter_Key& key, const Value& value, std::string& error) {
  const std::string column = key.name;
  const bool as_uuid = key.kind == KEY_UUID;
  auto add_one = [&](const Value& v, int op) {
    bool ok;
    if (v.is_null() && (key.flags & KEY_FLAG_NULL) && (op == OP_EQ || op == OP_NE))
      ok = filter.add_kv_item(column, v, op);
    else if (!kind_accepts(key.kind, v))
      return wrong_type(column, error);
    else
      ok = as_uuid ? filter.add_key_uuid_item(column, v.get<std::string>(), op)
                   : filter.add_kv_item(column, v, op);
    if (!ok)
      error = filter.invalid_reason();
    return ok;
  };
  const bool listed = (key.flags & KEY_FLAG_LIST) && value.is_string() &&
                      value.get_ref<const std::string&>().find(',') != std::string::npos;
  if (value.is_array() || listed) {
    // Checked before the list is copied into the condition.
    if (value.is_array()) {
      for (const Value& v : value) {
        if (!kind_accepts(key.kind, v))
          return wrong_type(column, error);
      }
    }
    bool ok = filter.add_list_item(
        column,
        value.is_array() ? value.get_ref<const Array&>() : split_list(value.get<std::string>()),
        OP_IN, as_uuid);
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

const Filter_Key* find_key(const Filter_Key* keys, const std::string& name) {
  for (const Filter_Key* k = keys; k != nullptr && k->name != nullptr; ++k) {
    if (name == k->name)
      return k;
  }
  return nullptr;
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
    const Filter_Key* key = find_key(keys_, member.first);
    if (key != nullptr && !add_member(*filter_, *key, member.second, error_)) {
      filter_->invalidate(error_);
      return false;
    }
  }
  return true;
}

bool generate_filter_from_obj(const Object& object, Filter_SQL& filter, const Filter_Key* columns,
                              std::string* error) {
  std::string reason;
  for (const auto& member : object) {
    const Filter_Key* key = find_key(columns, member.first);
    if (key == nullptr)
      reason = "'" + member.first + "' is not a column to filter by";
    if (key == nullptr || !add_member(filter, *key, member.second, reason)) {
      filter.invalidate(reason);
      if (error != nullptr)
        *error = reason;
      return false;
    }
  }
  return true;
}

}  // namespace sql
}  // namespace database
