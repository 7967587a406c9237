#include "tools/scatctl/json_io.h"

#include <unistd.h>

#include <cctype>
#include <iostream>
#include <iterator>
#include <sstream>

#include "tools/scatctl/failure.h"

namespace scatctl {

namespace {

const char kStateList[] = "online, offline, nearline, expired, replicated, warmup";

std::string read_stdin(const std::string& what) {
  if (isatty(STDIN_FILENO))
    throw usage_error("give " + what + " as an argument or on standard input");
  std::string text((std::istreambuf_iterator<char>(std::cin)), std::istreambuf_iterator<char>());
  if (std::cin.bad())
    throw Failure("cannot read standard input");
  return text;
}

}  // namespace

Value read_value(const std::string& text, const std::string& what) {
  bool from_stdin = text.empty() || text == "-";
  std::string source = from_stdin ? read_stdin(what) : text;
  std::string where = from_stdin ? "standard input" : "the argument";
  try {
    return Value::parse(source);
  } catch (const nlohmann::json::parse_error& e) {
    // nlohmann's text starts with its own error class; keep what a person
    // needs: where the text went wrong and why.
    std::string reason = e.what();
    std::string::size_type at = reason.find("] ");
    if (at != std::string::npos)
      reason = reason.substr(at + 2);
    throw usage_error(what + " on " + where + " is not valid JSON: " + reason);
  }
}

Object read_object(const std::string& text, const std::string& what) {
  Value value = read_value(text, what);
  if (!value.is_object())
    throw usage_error(what + " must be a JSON object, not " + json_type_name(value));
  return value.get<Object>();
}

std::string normalize_uuid(const std::string& text, const std::string& what) {
  std::string hex;
  for (char c : text) {
    if (c == '-' || c == '{' || c == '}')
      continue;
    hex.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
  }
  bool ok = hex.size() == 32;
  for (char c : hex)
    ok = ok && std::isxdigit(static_cast<unsigned char>(c));
  if (!ok)
    throw usage_error(what + " '" + text + "' is not a uuid (32 hexadecimal digits)");
  return hex;
}

void normalize_uuid_member(Object& record, const std::string& key) {
  auto it = record.find(key);
  if (it != record.end() && it->second.is_string())
    it->second = normalize_uuid(it->second.get<std::string>(), "\"" + key + "\"");
}

Catalog_State parse_state_names(const std::string& names) {
  std::uint32_t bits = 0;
  std::stringstream in(names);
  std::string name;
  while (std::getline(in, name, ',')) {
    Catalog_State state = name_to_catalog_state(name.c_str(), static_cast<int>(name.size()));
    if (state == CST_UNKNOWN)
      throw usage_error("unknown state '" + name + "' (states: " + kStateList + ")");
    bits |= state;
  }
  if (bits == 0)
    throw usage_error(std::string("no state named (states: ") + kStateList + ")");
  return static_cast<Catalog_State>(bits);
}

void state_names_to_bits(Object& record) {
  auto it = record.find("state");
  if (it == record.end())
    return;
  if (it->second.is_string()) {
    it->second = static_cast<long long>(parse_state_names(it->second.get<std::string>()));
  } else if (it->second.is_array()) {
    std::string names;
    for (const Value& name : it->second) {
      if (!name.is_string())
        throw usage_error("\"state\" names must be strings");
      names += (names.empty() ? "" : ",") + name.get<std::string>();
    }
    it->second = names.empty() ? 0LL : static_cast<long long>(parse_state_names(names));
  } else if (!it->second.is_number_integer()) {
    throw usage_error("\"state\" must be state names or a number");
  }
}

Array state_names(long long state) {
  Array names;
  catalog_state_to_array(static_cast<Catalog_State>(state), names);
  return names;
}

std::string text_of(const Object& record, const std::string& key, const std::string& fallback) {
  auto it = record.find(key);
  return it != record.end() && it->second.is_string() ? it->second.get<std::string>() : fallback;
}

long long number_of(const Object& record, const std::string& key, long long fallback) {
  auto it = record.find(key);
  return it != record.end() && it->second.is_number_integer() ? it->second.get<long long>()
                                                              : fallback;
}

void print_json(const Value& value, bool compact, std::FILE* out) {
  std::string text = JSON_Dump(value, !compact);
  std::fprintf(out, "%s\n", text.c_str());
}

}  // namespace scatctl
