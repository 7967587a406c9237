#include "storaged/storage_catalog/catalog_state.h"

#include <cstring>

namespace {

struct State_Name {
  const char* name;
  int length;
  Catalog_State state;
};

const State_Name kStateNames[] = {{"online", 6, CST_ONLINE},          {"offline", 7, CST_OFFLINE},
                                  {"nearline", 8, CST_NEARLINE},      {"expired", 7, CST_EXPIRED},
                                  {"replicated", 10, CST_REPLICATED}, {"warmup", 6, CST_WARMUP},
                                  {nullptr, 0, CST_UNKNOWN}};

}  // namespace

Catalog_State name_to_catalog_state(const char* name, int length) {
  if (name == nullptr || *name == '\0' || length <= 0)
    return CST_UNKNOWN;
  const State_Name* row = kStateNames;
  for (; row->name != nullptr; ++row) {
    if (row->length == length && std::memcmp(row->name, name, length) == 0)
      break;
  }
  return row->state;
}

void catalog_state_to_array(Catalog_State state, Array& names) {
  names.clear();
  for (const State_Name* row = kStateNames; row->name != nullptr; ++row) {
    if (state & row->state)
      names.push_back(row->name);
  }
}

void generate_state_filter_sql(const std::string& names, bool exclude, std::string& sql) {
  std::uint32_t mask = 0;
  std::size_t start = 0;
  // The end of the text closes the last name as a comma would.
  for (std::size_t i = 0; i <= names.size(); ++i) {
    if (i < names.size() && names[i] != ',')
      continue;
    mask |= name_to_catalog_state(names.data() + start, static_cast<int>(i - start));
    start = i + 1;
  }
  sql = "state & " + std::to_string(mask) + " = " + std::to_string(exclude ? 0 : mask);
}
