#include "storaged/storage_catalog/storage_catalog_utils_internal.h"

#include <cctype>

#include "platform/runtime/log.h"

namespace scat_utils {

Storage_Catalog_Manager* front() {
  Storage_Catalog_Manager* manager = Storage_Catalog_Manager::instance();
  if (manager == nullptr)
    VRT_LOG_UNEXPECTED("manager", VRT_IS_NULL);
  return manager;
}

const char* routing_key(const char* key) {
  Storage_Catalog_Manager* manager = Storage_Catalog_Manager::instance();
  return manager != nullptr && manager->on_agent() ? key : nullptr;
}

int json_type_code(const Value& value) {
  switch (value.type()) {
    case Value::value_t::object:
      return 0;
    case Value::value_t::array:
      return 1;
    case Value::value_t::string:
      return 2;
    case Value::value_t::boolean:
      return 3;
    case Value::value_t::number_integer:
    case Value::value_t::number_unsigned:
      return 4;
    case Value::value_t::number_float:
      return 5;
    default:
      return 6;
  }
}

std::string query_value(const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (char c : text) {
    unsigned char b = static_cast<unsigned char>(c);
    if (std::isalnum(b)) {
      out += c;
    } else {
      out += '%';
      out += kHex[b >> 4];
      out += kHex[b & 15];
    }
  }
  return out;
}

}  // namespace scat_utils
