#include "platform/sql/binding_value.h"

#include <limits>

#include "platform/runtime/uuid.h"

namespace database {
namespace sql {

Binding_Value Binding_Value::blob(std::string bytes) {
  Binding_Value v;
  v.kind_ = BLOB;
  v.text_ = std::move(bytes);
  return v;
}

bool Binding_Value::uuid(const std::string& hex, Binding_Value& out) {
  std::string bytes;
  if (!vrt::uuid_hex_to_bytes(hex, bytes))
    return false;
  out = blob(std::move(bytes));
  return true;
}

Binding_Value Binding_Value::from_json(const Value& value) {
  switch (value.type()) {
    case Value::value_t::string:
      return Binding_Value(value.get<std::string>());
    case Value::value_t::boolean:
      return Binding_Value(value.get<bool>());
    case Value::value_t::number_integer:
      return Binding_Value(value.get<long long>());
    case Value::value_t::number_unsigned:
      return Binding_Value(static_cast<long long>(value.get<unsigned long long>()));
    case Value::value_t::number_float:
      return Binding_Value(value.get<double>());
    case Value::value_t::object:
    case Value::value_t::array:
      return Binding_Value(JSON_Dump(value));
    default:
      return Binding_Value();
  }
}

bool fits_signed_64(const Value& value, const std::string& key, std::string& reason) {
  if (!value.is_number_unsigned() ||
      value.get<unsigned long long>() <=
          static_cast<unsigned long long>(std::numeric_limits<long long>::max()))
    return true;
  reason = "'" + key + "' holds " + value.dump() + ", beyond the 64-bit signed range";
  return false;
}

bool Binding_Value::operator==(const Binding_Value& other) const {
  if (kind_ != other.kind_)
    return false;
  switch (kind_) {
    case NULL_VALUE:
      return true;
    case INTEGER:
      return integer_ == other.integer_;
    case REAL:
      return real_ == other.real_;
    default:
      return text_ == other.text_;
  }
}

}  // namespace sql
}  // namespace database
