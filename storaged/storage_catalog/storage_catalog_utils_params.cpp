// Request parameters: paging defaults and conversion, and the filters of the
// front's query operations.
#include <cctype>
#include <climits>
#include <cstring>

#include "platform/runtime/log.h"
#include "platform/sql/filter_builder.h"
#include "platform/sql/sql.h"
#include "storaged/storage_catalog/catalog_state.h"
#include "storaged/storage_catalog/storage_catalog_utils.h"

namespace {

using namespace database::sql;

// The paging defaults, as stored: every parse sets "order" to "desc".
const Object& paging_defaults() {
  static const Object defaults{
      {"sort", "id"},   {"order", "asc"},     {"offset", 0LL},           {"limit", -1LL},
      {"group_by", ""}, {"group_sort", "id"}, {"group_selector", "max"}, {"api_key", ""}};
  return defaults;
}

bool is_paging_key(const std::string& key) {
  return paging_defaults().count(key) != 0;
}

// Decimal text: an optional sign, then digits up to the first other
// character; none gives 0. Saturates instead of overflowing.
long long text_to_int64(const std::string& text) {
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-'))
    negative = text[i++] == '-';
  long long n = 0;
  for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
    int digit = text[i] - '0';
    if (n > (LLONG_MAX - digit) / 10)
      return negative ? LLONG_MIN : LLONG_MAX;
    n = n * 10 + digit;
  }
  return negative ? -n : n;
}

// Stores one paging value. A negative offset would be refused by one engine
// and ignored by the other; a negative limit means none in both.
bool set_paging(Object& paging, const std::string& key, const Value& value, std::string& error) {
  if (key == "offset" || key == "limit") {
    long long n = 0;
    if (value.is_string())
      n = text_to_int64(value.get<std::string>());
    else if (value.is_number_integer())
      n = value.get<long long>();
    else {
      error = "'" + key + "' is neither a number nor decimal text";
      return false;
    }
    paging[key] = key == "offset" ? (n < 0 ? 0 : n) : (n < 0 ? -1 : n);
    return true;
  }
  if (!value.is_string()) {
    error = "'" + key + "' is not a string";
    return false;
  }
  std::string text = value.get<std::string>();
  if (key == "order") {
    for (char& c : text)
      c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (text != "asc" && text != "desc") {
      error = "'order' is neither asc nor desc";
      return false;
    }
  } else if (key != "api_key" && !(key == "group_by" && text.empty()) && !is_identifier(text)) {
    // Callers order and group by these: column names only.
    error = "'" + key + "' is not a column name";
    return false;
  }
  paging[key] = text;
  return true;
}

void reset_paging(Object& paging) {
  paging = paging_defaults();
  paging["order"] = "desc";
}

bool starts_with(const std::string& text, const char* prefix) {
  return text.compare(0, std::strlen(prefix), prefix) == 0;
}

// One request member that is not paging, as a filter item.
bool add_condition(Object& filter, const std::string& key, const Value& value,
                   const char* extra_key, std::string& error) {
  if (key == "states" || key == "not_states") {
    if (!value.is_string()) {
      error = "'" + key + "' is not a list of state names";
      return false;
    }
    std::string sql;
    generate_state_filter_sql(value.get<std::string>(), key == "not_states", sql);
    if (!filter_add_item(filter, sql)) {
      error = "no state condition for '" + value.get<std::string>() + "'";
      return false;
    }
    return true;
  }
  if (key == "type" && value.is_string()) {
    filter_add_eq_item(filter, "backup_type", value);
    return true;
  }
  static const struct {
    const char* prefix;
    bool (*add)(Object&, const std::string&, const Value&);
  } kPrefixed[] = {{"GE_", filter_add_ge_item},
                   {"LT_", filter_add_lt_item},
                   {"BA_", filter_add_ba_item},
                   {"LK_", filter_add_lk_item}};
  bool added = false;
  bool prefixed = false;
  for (const auto& p : kPrefixed) {
    if (starts_with(key, p.prefix)) {
      prefixed = true;
      added = p.add(filter, key.substr(3), value);
      break;
    }
  }
  if (!prefixed)
    added = filter_add_eq_item(filter, key, value);
  if (!added) {
    error = "cannot compare '" + key + "' with " + JSON_Dump(value);
    return false;
  }
  if (extra_key != nullptr && key == extra_key && value.is_primitive())
    filter[key] = value;
  return true;
}

bool parse_paging(const Object& request, Object& paging, std::string& error) {
  reset_paging(paging);
  for (const auto& member : request)
    if (is_paging_key(member.first) && !set_paging(paging, member.first, member.second, error))
      return false;
  return true;
}

bool within_depth(const Object& request, std::string& error) {
  if (json_within_depth(request))
    return true;
  error = "request nested deeper than " + std::to_string(kMaxJsonDepth) + " levels";
  return false;
}

}  // namespace

bool Storage_Catalog_Utils::parse_params(const Object& request, Object& filter, Object& paging,
                                         const char* extra_key) {
  std::string error;
  generate_and_filter(filter);
  // Checked before any member is copied into the filter or quoted in a
  // message: both recurse once per level of nesting.
  bool ok = within_depth(request, error) && parse_paging(request, paging, error);
  for (auto it = request.begin(); ok && it != request.end(); ++it)
    ok = is_paging_key(it->first) || add_condition(filter, it->first, it->second, extra_key, error);
  if (!ok) {
    LOG_ERROR("Failed to parse params: %s", error.c_str());
    filter_refuse(filter, error);
  }
  return ok;
}

bool Storage_Catalog_Utils::parse_params2(const Object& request, Object& filter, Object& paging,
                                          const char* /*extra_key*/) {
  std::string error;
  if (!within_depth(request, error) || !parse_paging(request, paging, error)) {
    LOG_ERROR("Failed to parse params: %s", error.c_str());
    return false;
  }
  for (const auto& member : request) {
    if (is_paging_key(member.first))
      continue;
    if (member.first == "type" && member.second.is_string())
      filter["backup_type"] = member.second;
    else
      filter[member.first] = member.second;
  }
  return true;
}
