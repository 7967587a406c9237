// A value bound to a named statement parameter. Every value a caller hands
// the catalog reaches the database this way, never as SQL text.
#ifndef PLATFORM_SQL_BINDING_VALUE_H_
#define PLATFORM_SQL_BINDING_VALUE_H_

#include <string>
#include <utility>
#include <vector>

#include "platform/json/json.h"

namespace database {
namespace sql {

class Binding_Value {
 public:
  enum Kind { NULL_VALUE, INTEGER, REAL, TEXT, BLOB };

  Binding_Value() : kind_(NULL_VALUE) {}
  Binding_Value(int v) : kind_(INTEGER), integer_(v) {}
  Binding_Value(long v) : kind_(INTEGER), integer_(v) {}
  Binding_Value(long long v) : kind_(INTEGER), integer_(v) {}
  Binding_Value(unsigned v) : kind_(INTEGER), integer_(v) {}
  Binding_Value(bool v) : kind_(INTEGER), integer_(v ? 1 : 0) {}
  Binding_Value(double v) : kind_(REAL), real_(v) {}
  Binding_Value(const char* v) : kind_(TEXT), text_(v) {}
  Binding_Value(std::string v) : kind_(TEXT), text_(std::move(v)) {}

  static Binding_Value blob(std::string bytes);

  // A 32-character hexadecimal uuid as its 16 bytes. False for other text.
  static bool uuid(const std::string& hex, Binding_Value& out);

  // Scalars bind as themselves, objects and arrays as their compact JSON
  // text, null as NULL. An integer must fit (fits_signed_64 below): one
  // beyond the signed range would wrap.
  static Binding_Value from_json(const Value& value);

  Kind kind() const { return kind_; }
  long long integer() const { return integer_; }
  double real() const { return real_; }
  // The text of a TEXT value or the bytes of a BLOB.
  const std::string& text() const { return text_; }

  bool operator==(const Binding_Value& other) const;

 private:
  Kind kind_;
  long long integer_ = 0;
  double real_ = 0;
  std::string text_;
};

// Whether `value` binds as the number it is. JSON integers above the
// signed 64-bit range have no column type to go to and would wrap into
// another number; for one, `reason` names `key` and the value and the
// result is false. Any other value fits.
bool fits_signed_64(const Value& value, const std::string& key, std::string& reason);

// Parameter values by name (without the leading ':').
using Bindings = std::vector<std::pair<std::string, Binding_Value>>;

}  // namespace sql
}  // namespace database

#endif  // PLATFORM_SQL_BINDING_VALUE_H_
