#include "platform/sql/filter_parser.h"

#include "platform/sql/filter_builder.h"

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

// One comparison item of an AND filter object (see filter_builder.h).
bool add_compare_item(Filter_SQL& filter, const Object& item, const Filter_Key* keys,
                      std::string& error) {
  const std::string* name = object_get_str(item, "key");
  const std::string* op_name = object_get_str(item, "op");
  auto value = item.find("value");
  if (name == nullptr || op_name == nullptr || value == item.end()) {
    error = "filter item without key, operator or value";
    return false;
  }
  const Filter_Key* key = find_key(keys, *name);
  if (key == nullptr) {
    error = "'" + *name + "' is not a filter key";
    return false;
  }
  int op = Item_SQL::op_name_to_value(*op_name);
  if (op == OP_EQ) {
    // An equality item compares with one value: never a list or operator set.
    if (!value->second.is_primitive())
      return wrong_type(*name, error);
    return add_member(filter, *key, value->second, error);
  }
  bool pair = op == OP_BETWEEN;
  const Value& v = value->second;
  bool shaped = pair ? v.is_array() && v.size() == 2 : v.is_primitive();
  if (op == OP_NONE || !shaped || (pair && key->kind == KEY_UUID)) {
    error = "filter '" + *name + "' has an unusable operator or value";
    return false;
  }
  for (const Value& one : pair ? v : Value(Array{v})) {
    if (one.is_null() || !kind_accepts(key->kind, one))
      return wrong_type(*name, error);
  }
  bool ok = key->kind == KEY_UUID ? filter.add_key_uuid_item(*name, v.get<std::string>(), op)
                                  : filter.add_kv_item(*name, v, op);
  if (!ok)
    error = filter.invalid_reason();
  return ok;
}

// The items of an AND filter object (see filter_builder.h).
bool add_and_items(Filter_SQL& filter, const Value& items, const Filter_Key* keys,
                   std::string& error) {
  if (!items.is_array()) {
    error = "filter items are not a list";
    return false;
  }
  for (const Value& item : items) {
    if (!item.is_object()) {
      error = "filter item is not an object";
      return false;
    }
    const Object& fields = item.get_ref<const Object&>();
    const std::string* refused = object_get_str(fields, "refused");
    if (refused != nullptr) {
      error = "filter refused: " + *refused;
      return false;
    }
    if (fields.count("sql") == 0) {
      if (!add_compare_item(filter, fields, keys, error))
        return false;
      continue;
    }
    // Written again from its parsed parts, so that nothing but the mask
    // condition reaches the statement.
    const std::string* sql = object_get_str(fields, "sql");
    std::string column;
    unsigned long long mask = 0, expected = 0;
    if (sql == nullptr || !parse_mask_condition(*sql, column, mask, expected)) {
      error = "filter item holds a condition that is not a bit-mask test";
      return false;
    }
    filter.add_sql(quote_column(column) + " & " + std::to_string(mask) + " = " +
                   std::to_string(expected));
  }
  return true;
}

// Adds one member of a filter object: a column's conditions or the AND list.
// False for a member the key table does not name only when `strict`.
bool add_filter_member(Filter_SQL& filter, const Filter_Key* keys, const std::string& name,
                       const Value& value, bool strict, std::string& error) {
  if (name == kFilterAndItems)
    return add_and_items(filter, value, keys, error);
  const Filter_Key* key = find_key(keys, name);
  if (key == nullptr) {
    if (!strict)
      return true;
    error = "'" + name + "' is not a column to filter by";
    return false;
  }
  return add_member(filter, *key, value, error);
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
    if (!add_filter_member(*filter_, keys_, member.first, member.second, false, error_)) {
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
    if (!add_filter_member(filter, columns, member.first, member.second, true, reason)) {
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
