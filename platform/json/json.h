// The host's JSON build: value types and the access helpers every module uses.
//
// Value is a JSON document; Object keeps its members ordered by key and Array
// is a plain vector. The "_or_throw" accessors raise JSON_Error (a
// std::exception) naming the key; callers catch it at the edge of their
// operation and log its text.
#ifndef PLATFORM_JSON_JSON_H_
#define PLATFORM_JSON_JSON_H_

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

#include <nlohmann/json.hpp>

namespace json_spirit {
using Value = nlohmann::json;
using Object = Value::object_t;
using Array = Value::array_t;
}  // namespace json_spirit

using json_spirit::Array;
using json_spirit::Object;
using json_spirit::Value;

// Raised by the accessors below for a missing member, a member of the wrong
// type or a number out of range, and by json_pointer for a missing path.
class JSON_Error : public std::runtime_error {
 public:
  explicit JSON_Error(const std::string& what) : std::runtime_error(what) {}
};

// Pointer to the member, or null when it is absent or of another type.
const std::string* object_get_str(const Object& object, const std::string& key);
const Object* object_get_object(const Object& object, const std::string& key);
Object* object_get_object(Object& object, const std::string& key);
const Array* object_get_array(const Object& object, const std::string& key);
Array* object_get_array(Object& object, const std::string& key);

const std::string& object_get_str_or_throw(const Object& object, const std::string& key);
int object_get_int_or_throw(const Object& object, const std::string& key);
long long object_get_int64_or_throw(const Object& object, const std::string& key);
unsigned object_get_uint_or_throw(const Object& object, const std::string& key);
bool object_get_bool_or_throw(const Object& object, const std::string& key);
const Object& object_get_object_or_throw(const Object& object, const std::string& key);
Object& object_get_object_or_throw(Object& object, const std::string& key);
const Array& object_get_array_or_throw(const Object& object, const std::string& key);
Array& object_get_array_or_throw(Object& object, const std::string& key);

// Whether `key` exists. When it does, `out` receives its value; a value of
// the wrong type raises JSON_Error. When it does not, `out` is untouched.
bool object_get(const Object& object, const std::string& key, std::string& out);
bool object_get(const Object& object, const std::string& key, int& out);
bool object_get(const Object& object, const std::string& key, long long& out);
bool object_get(const Object& object, const std::string& key, bool& out);
bool object_get(const Object& object, const std::string& key, Object& out);
bool object_get(const Object& object, const std::string& key, Array& out);
bool object_get(const Object& object, const std::string& key, Value& out);

// Copies each listed key of `source` that exists into `target`.
template <typename... Keys>
void update_json_partial(const Object& source, Object& target, const Keys&... keys) {
  for (const std::string& key : {std::string(keys)...}) {
    auto it = source.find(key);
    if (it != source.end())
      target[key] = it->second;
  }
}

// The deepest nesting of arrays and objects the library takes in: copying,
// dumping and comparing values recurse once per level, so a deeper value
// could exhaust a thread's stack. A top-level array or object is level 1.
const std::size_t kMaxJsonDepth = 128;

// Whether the value nests at most `max_depth` levels of arrays and objects
// (the object or array given counts as one). Walks without recursion, so
// any value can be checked.
bool json_within_depth(const Value& value, std::size_t max_depth = kMaxJsonDepth);
bool json_within_depth(const Object& object, std::size_t max_depth = kMaxJsonDepth);
bool json_within_depth(const Array& array, std::size_t max_depth = kMaxJsonDepth);

// Parses `length` bytes of JSON text. False (and `value` untouched) when the
// text is not JSON or nests deeper than kMaxJsonDepth. `flags` is reserved
// and must be 0.
bool loads_json(const char* text, std::size_t length, Value& value, int flags = 0);
inline bool loads_json(const std::string& text, Value& value) {
  return loads_json(text.data(), text.size(), value, 0);
}

// Compact JSON text; `pretty` indents with two blanks.
std::string JSON_Dump(const Value& value, bool pretty = false);

// The member at a JSON pointer path such as "/extended_attrs/snapshot_id".
// Raises JSON_Error "JSON Pointer path '<path>' not exist in JSON!" when any
// step of the path is missing (or the path is malformed).
const Value& json_pointer(const Value& value, const std::string& path);
const std::string& json_pointer_str(const Value& value, const std::string& path);
long long json_pointer_int64(const Value& value, const std::string& path);

// Name of a value's type for messages ("string", "object", ...).
const char* json_type_name(const Value& value);

#endif  // PLATFORM_JSON_JSON_H_
