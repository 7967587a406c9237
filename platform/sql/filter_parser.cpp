#include "platform/sql/filter_parser.h"

#include <functional>

#include "platform/sql/cursor.h"
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

// What a column may be filtered as: false when it may not be filtered on.
using Key_Info = std::function<bool(const std::string& column, int& kind, int& flags)>;

bool add_compare_item(Filter_SQL& filter, const Object& item, const Key_Info& info,
                      std::string& error) {
  const std::string* key = object_get_str(item, "key");
  const std::string* op_name = object_get_str(item, "op");
  auto value = item.find("value");
  int kind = 0, flags = 0;
  if (key == nullptr || op_name == nullptr || value == item.end()) {
    error = "filter item without key, operator or value";
    return false;
  }
  if (!info(*key, kind, flags)) {
    error = "'" + *key + "' is not a filter key";
    return false;
  }
  int op = Item_SQL::op_name_to_value(*op_name);
  if (op == OP_EQ) {
    // An equality item compares with one value: never a list or operator set.
    if (!value->second.is_primitive()) {
      error = "filter '" + *key + "' holds a value of the wrong type";
      return false;
    }
    return add_member(filter, *key, kind, flags, value->second, error);
  }
  bool pair = op == OP_BETWEEN;
  const Value& v = value->second;
  bool shaped = pair ? v.is_array() && v.size() == 2 : v.is_primitive();
  if (op == OP_NONE || !shaped || (pair && kind == KEY_UUID)) {
    error = "filter '" + *key + "' has an unusable operator or value";
    return false;
  }
  for (const Value& one : pair ? v : Value(Array{v})) {
    if (one.is_null() || !kind_accepts(kind, one)) {
      error = "filter '" + *key + "' holds a value of the wrong type";
      return false;
    }
  }
  bool ok = kind == KEY_UUID ? filter.add_key_uuid_item(*key, v.get<std::string>(), op)
                             : filter.add_kv_item(*key, v, op);
  if (!ok)
    error = filter.invalid_reason();
  return ok;
}

// The items of an AND filter object (see filter_builder.h).
bool add_and_items(Filter_SQL& filter, const Value& items, const Key_Info& info,
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
      if (!add_compare_item(filter, fields, info, error))
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

}  // namespace

SQL_Filter_Parser::SQL_Filter_Parser(Filter_SQL* filter, const Filter_Key* keys)
    : filter_(filter), keys_(keys) {}

bool SQL_Filter_Parser::parse(const Object& object, int /*mode*/) {
  if (filter_ == nullptr) {
    error_ = "no filter";
    return false;
  }
  for (const auto& member : object) {
    if (member.first == kFilterAndItems) {
      Key_Info info = [this](const std::string& column, int& kind, int& flags) {
        for (const Filter_Key* k = keys_; k != nullptr && k->name != nullptr; ++k) {
          if (column == k->name) {
            kind = k->kind;
            flags = k->flags;
            return true;
          }
        }
        return false;
      };
      if (!add_and_items(*filter_, member.second, info, error_)) {
        filter_->invalidate(error_);
        return false;
      }
      continue;
    }
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
    if (member.first == kFilterAndItems) {
      Key_Info info = [&columns](const std::string& column, int& item_kind, int& flags) {
        item_kind = columns.is_uuid_column(column) ? KEY_UUID : 0;
        flags = 0;
        return is_identifier(column);
      };
      if (add_and_items(filter, member.second, info, reason))
        continue;
      filter.invalidate(reason);
    } else if (!is_identifier(member.first)) {
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
