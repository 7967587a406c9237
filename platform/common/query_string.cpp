#include "platform/common/query_string.h"

#include <cctype>

namespace common {

namespace {

int hex_value(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  return -1;
}

bool decode(const std::string& text, std::string& out) {
  out.clear();
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '+') {
      out.push_back(' ');
    } else if (text[i] == '%') {
      if (i + 2 >= text.size())
        return false;
      int high = hex_value(text[i + 1]), low = hex_value(text[i + 2]);
      if (high < 0 || low < 0)
        return false;
      out.push_back(static_cast<char>(high * 16 + low));
      i += 2;
    } else {
      out.push_back(text[i]);
    }
  }
  return true;
}

}  // namespace

bool parse_query_string(const std::string& query, Object& out) {
  Object parsed;
  std::size_t start = 0;
  while (start <= query.size()) {
    std::size_t end = query.find('&', start);
    if (end == std::string::npos)
      end = query.size();
    std::string pair = query.substr(start, end - start);
    start = end + 1;
    if (pair.empty())
      continue;
    std::size_t eq = pair.find('=');
    std::string key, value;
    if (!decode(pair.substr(0, eq), key) || key.empty())
      return false;
    if (eq != std::string::npos && !decode(pair.substr(eq + 1), value))
      return false;
    parsed[key] = value;
  }
  for (auto& member : parsed)
    out[member.first] = std::move(member.second);
  return true;
}

}  // namespace common
