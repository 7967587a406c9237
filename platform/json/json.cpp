#include "platform/json/json.h"

#include <limits>
#include <utility>
#include <vector>

namespace {

const Value* find_member(const Object& object, const std::string& key) {
  auto it = object.find(key);
  return it == object.end() ? nullptr : &it->second;
}

[[noreturn]] void throw_missing(const std::string& key) {
  throw JSON_Error("Key '" + key + "' not found in JSON object");
}

[[noreturn]] void throw_type(const std::string& key, const char* expected, const Value& got) {
  throw JSON_Error("Key '" + key + "' expects " + expected + " value, got " + json_type_name(got));
}

const Value& member_or_throw(const Object& object, const std::string& key) {
  const Value* v = find_member(object, key);
  if (v == nullptr)
    throw_missing(key);
  return *v;
}

long long to_int64(const std::string& key, const Value& v) {
  if (v.is_number_unsigned()) {
    auto u = v.get<std::uint64_t>();
    if (u > static_cast<std::uint64_t>(std::numeric_limits<long long>::max()))
      throw JSON_Error("Key '" + key + "' holds a number out of range");
    return static_cast<long long>(u);
  }
  if (v.is_number_integer())
    return v.get<long long>();
  throw_type(key, "integer", v);
}

int to_int(const std::string& key, const Value& v) {
  long long n = to_int64(key, v);
  if (n < std::numeric_limits<int>::min() || n > std::numeric_limits<int>::max())
    throw JSON_Error("Key '" + key + "' holds a number out of range");
  return static_cast<int>(n);
}

}  // namespace

const char* json_type_name(const Value& value) {
  switch (value.type()) {
    case Value::value_t::null:
      return "null";
    case Value::value_t::object:
      return "object";
    case Value::value_t::array:
      return "array";
    case Value::value_t::string:
      return "string";
    case Value::value_t::boolean:
      return "bool";
    case Value::value_t::number_integer:
    case Value::value_t::number_unsigned:
      return "integer";
    case Value::value_t::number_float:
      return "real";
    default:
      return "unknown";
  }
}

const std::string* object_get_str(const Object& object, const std::string& key) {
  const Value* v = find_member(object, key);
  return v == nullptr ? nullptr : v->get_ptr<const std::string*>();
}

const Object* object_get_object(const Object& object, const std::string& key) {
  const Value* v = find_member(object, key);
  return v == nullptr ? nullptr : v->get_ptr<const Object*>();
}

// The non-const forms below find through the const ones: the member is the
// caller's own, so handing it back writable is sound.
Object* object_get_object(Object& object, const std::string& key) {
  return const_cast<Object*>(object_get_object(static_cast<const Object&>(object), key));
}

const Array* object_get_array(const Object& object, const std::string& key) {
  const Value* v = find_member(object, key);
  return v == nullptr ? nullptr : v->get_ptr<const Array*>();
}

Array* object_get_array(Object& object, const std::string& key) {
  return const_cast<Array*>(object_get_array(static_cast<const Object&>(object), key));
}

const std::string& object_get_str_or_throw(const Object& object, const std::string& key) {
  const Value& v = member_or_throw(object, key);
  if (!v.is_string())
    throw_type(key, "string", v);
  return *v.get_ptr<const std::string*>();
}

int object_get_int_or_throw(const Object& object, const std::string& key) {
  return to_int(key, member_or_throw(object, key));
}

long long object_get_int64_or_throw(const Object& object, const std::string& key) {
  return to_int64(key, member_or_throw(object, key));
}

unsigned object_get_uint_or_throw(const Object& object, const std::string& key) {
  long long n = to_int64(key, member_or_throw(object, key));
  if (n < 0 || n > std::numeric_limits<unsigned>::max())
    throw JSON_Error("Key '" + key + "' holds a number out of range");
  return static_cast<unsigned>(n);
}

bool object_get_bool_or_throw(const Object& object, const std::string& key) {
  const Value& v = member_or_throw(object, key);
  if (!v.is_boolean())
    throw_type(key, "bool", v);
  return v.get<bool>();
}

const Object& object_get_object_or_throw(const Object& object, const std::string& key) {
  const Value& v = member_or_throw(object, key);
  if (!v.is_object())
    throw_type(key, "object", v);
  return *v.get_ptr<const Object*>();
}

Object& object_get_object_or_throw(Object& object, const std::string& key) {
  return const_cast<Object&>(object_get_object_or_throw(static_cast<const Object&>(object), key));
}

const Array& object_get_array_or_throw(const Object& object, const std::string& key) {
  const Value& v = member_or_throw(object, key);
  if (!v.is_array())
    throw_type(key, "array", v);
  return *v.get_ptr<const Array*>();
}

Array& object_get_array_or_throw(Object& object, const std::string& key) {
  return const_cast<Array&>(object_get_array_or_throw(static_cast<const Object&>(object), key));
}

bool object_get(const Object& object, const std::string& key, std::string& out) {
  if (find_member(object, key) == nullptr)
    return false;
  out = object_get_str_or_throw(object, key);
  return true;
}

bool object_get(const Object& object, const std::string& key, int& out) {
  if (find_member(object, key) == nullptr)
    return false;
  out = object_get_int_or_throw(object, key);
  return true;
}

bool object_get(const Object& object, const std::string& key, long long& out) {
  if (find_member(object, key) == nullptr)
    return false;
  out = object_get_int64_or_throw(object, key);
  return true;
}

bool object_get(const Object& object, const std::string& key, bool& out) {
  if (find_member(object, key) == nullptr)
    return false;
  out = object_get_bool_or_throw(object, key);
  return true;
}

bool object_get(const Object& object, const std::string& key, Object& out) {
  if (find_member(object, key) == nullptr)
    return false;
  out = object_get_object_or_throw(object, key);
  return true;
}

bool object_get(const Object& object, const std::string& key, Array& out) {
  if (find_member(object, key) == nullptr)
    return false;
  out = object_get_array_or_throw(object, key);
  return true;
}

bool object_get(const Object& object, const std::string& key, Value& out) {
  const Value* v = find_member(object, key);
  if (v == nullptr)
    return false;
  out = *v;
  return true;
}

namespace {

using Pending_Values = std::vector<std::pair<const Value*, std::size_t>>;

const Value& member_value(const Object::value_type& member) {
  return member.second;
}
const Value& member_value(const Value& member) {
  return member;
}

// Queues the arrays and objects in `container`, which is at level `depth`.
// False when they would be deeper than `max_depth`.
template <typename Container>
bool queue_members(const Container& container, std::size_t depth, std::size_t max_depth,
                   Pending_Values& pending) {
  for (const auto& member : container) {
    const Value& value = member_value(member);
    if (!value.is_structured())
      continue;
    if (depth >= max_depth)
      return false;
    pending.emplace_back(&value, depth + 1);
  }
  return true;
}

template <typename Container>
bool within_depth(const Container& top, std::size_t max_depth) {
  Pending_Values pending;
  if (max_depth < 1 || !queue_members(top, 1, max_depth, pending))
    return false;
  while (!pending.empty()) {
    const Value* value = pending.back().first;
    const std::size_t depth = pending.back().second;
    pending.pop_back();
    const bool ok = value->is_object()
                        ? queue_members(value->get_ref<const Object&>(), depth, max_depth, pending)
                        : queue_members(value->get_ref<const Array&>(), depth, max_depth, pending);
    if (!ok)
      return false;
  }
  return true;
}

}  // namespace

bool json_within_depth(const Value& value, std::size_t max_depth) {
  if (value.is_object())
    return json_within_depth(value.get_ref<const Object&>(), max_depth);
  if (value.is_array())
    return json_within_depth(value.get_ref<const Array&>(), max_depth);
  return true;
}

bool json_within_depth(const Object& object, std::size_t max_depth) {
  return within_depth(object, max_depth);
}

bool json_within_depth(const Array& array, std::size_t max_depth) {
  return within_depth(array, max_depth);
}

namespace {

// Stops a parse at the first array or object past kMaxJsonDepth.
struct Too_Deep {};

}  // namespace

bool loads_json(const char* text, std::size_t length, Value& value, int /*flags*/) {
  if (text == nullptr)
    return false;
  // The parser nests without recursion; a value too deep is refused where
  // it starts, before anything more is read or built.
  auto limit = [](int depth, Value::parse_event_t event, Value&) {
    if ((event == Value::parse_event_t::object_start ||
         event == Value::parse_event_t::array_start) &&
        static_cast<std::size_t>(depth) >= kMaxJsonDepth)
      throw Too_Deep();
    return true;
  };
  Value parsed;
  try {
    parsed = Value::parse(text, text + length, limit, false);
  } catch (const Too_Deep&) {
    return false;
  }
  if (parsed.is_discarded())
    return false;
  value = std::move(parsed);
  return true;
}

std::string JSON_Dump(const Value& value, bool pretty) {
  // Replace invalid UTF-8 rather than throw: dumping is used on log and
  // wire paths that must not fail.
  return value.dump(pretty ? 2 : -1, ' ', false, Value::error_handler_t::replace);
}

const Value& json_pointer(const Value& value, const std::string& path) {
  try {
    Value::json_pointer pointer(path);
    const Value& found = value.at(pointer);
    return found;
  } catch (const nlohmann::json::exception&) {
    throw JSON_Error("JSON Pointer path '" + path + "' not exist in JSON!");
  }
}

const std::string& json_pointer_str(const Value& value, const std::string& path) {
  const Value& v = json_pointer(value, path);
  if (!v.is_string())
    throw JSON_Error("JSON Pointer path '" + path + "' is not a string");
  return *v.get_ptr<const std::string*>();
}

long long json_pointer_int64(const Value& value, const std::string& path) {
  return to_int64(path, json_pointer(value, path));
}
