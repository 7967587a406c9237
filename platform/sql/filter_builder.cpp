#include "platform/sql/filter_builder.h"

#include <cctype>

#include "platform/sql/sql.h"

namespace database {
namespace sql {

const char* const kFilterAndItems = "$and";

namespace {

Array& and_items(Object& filter) {
  Value& items = filter[kFilterAndItems];
  if (!items.is_array())
    items = Array();
  return items.get_ref<Array&>();
}

bool add_compare(Object& filter, const std::string& key, const char* op, const Value& value) {
  if (!is_identifier(key) || !value.is_primitive())
    return false;
  and_items(filter).push_back(Object{{"key", key}, {"op", op}, {"value", value}});
  return true;
}

bool read_number(const std::string& text, std::size_t& at, unsigned long long& out) {
  std::size_t start = at;
  out = 0;
  while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at]))) {
    if (at - start >= 18)
      return false;
    out = out * 10 + static_cast<unsigned>(text[at] - '0');
    ++at;
  }
  return at > start;
}

bool read_literal(const std::string& text, std::size_t& at, const char* literal) {
  for (const char* p = literal; *p != '\0'; ++p, ++at)
    if (at >= text.size() || text[at] != *p)
      return false;
  return true;
}

}  // namespace

void generate_and_filter(Object& filter) {
  filter.clear();
  filter[kFilterAndItems] = Array();
}

bool filter_add_eq_item(Object& filter, const std::string& key, const Value& value) {
  return add_compare(filter, key, "eq", value);
}

bool filter_add_ge_item(Object& filter, const std::string& key, const Value& value) {
  return !value.is_null() && add_compare(filter, key, "ge", value);
}

bool filter_add_lt_item(Object& filter, const std::string& key, const Value& value) {
  return !value.is_null() && add_compare(filter, key, "lt", value);
}

bool filter_add_lk_item(Object& filter, const std::string& key, const Value& value) {
  return value.is_string() && add_compare(filter, key, "lk", value);
}

bool filter_add_ba_item(Object& filter, const std::string& key, const Value& range) {
  if (!is_identifier(key) || !range.is_array() || range.size() != 2)
    return false;
  for (const Value& bound : range)
    if (bound.is_null() || !bound.is_primitive())
      return false;
  and_items(filter).push_back(Object{{"key", key}, {"op", "ba"}, {"value", range}});
  return true;
}

bool filter_add_item(Object& filter, const std::string& sql) {
  std::string column;
  unsigned long long mask = 0, expected = 0;
  if (!parse_mask_condition(sql, column, mask, expected))
    return false;
  and_items(filter).push_back(Object{{"sql", sql}});
  return true;
}

void filter_refuse(Object& filter, const std::string& reason) {
  and_items(filter).push_back(Object{{"refused", reason}});
}

Object generate_eq_item(const std::string& key, const Value& value) {
  Object filter;
  generate_and_filter(filter);
  if (!filter_add_eq_item(filter, key, value))
    return Object();
  return filter;
}

bool parse_mask_condition(const std::string& sql, std::string& column, unsigned long long& mask,
                          unsigned long long& expected) {
  std::size_t amp = sql.find(" & ");
  if (amp == std::string::npos || !is_identifier(sql.substr(0, amp)))
    return false;
  std::size_t at = amp + 3;
  unsigned long long m = 0, e = 0;
  if (!read_number(sql, at, m) || !read_literal(sql, at, " = ") || !read_number(sql, at, e) ||
      at != sql.size())
    return false;
  column = sql.substr(0, amp);
  mask = m;
  expected = e;
  return true;
}

}  // namespace sql
}  // namespace database
