#include "platform/common/query_string.h"

#include <cctype>

namespace common {

namespace {

int hex_digit(char c) {
  if (std::isdigit(static_cast<unsigned char>(c)))
    return c - '0';
  c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

bool decode(const std::string& text, std::string& out) {
  out.clear();
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '+') {
      out += ' ';
    } else if (text[i] != '%') {
      out += text[i];
    } else {
      if (i + 2 >= text.size())
        return false;
      int high = hex_digit(text[i + 1]), low = hex_digit(text[i + 2]);
      if (high < 0 || low < 0)
        return false;
      out += static_cast<char>(high * 16 + low);
      i += 2;
    }
  }
  return true;
}

}  // namespace

bool parse_query_string(const std::string& text, Object& out) {
  Object found;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('&', start);
    if (end == std::string::npos)
      end = text.size();
    std::string pair = text.substr(start, end - start);
    start = end + 1;
    if (pair.empty())
      continue;
    std::size_t eq = pair.find('=');
    std::string name, value;
    if (!decode(pair.substr(0, eq), name) || name.empty() ||
        !decode(eq == std::string::npos ? std::string() : pair.substr(eq + 1), value))
      return false;
    found[name] = value;
  }
  for (auto& member : found)
    out[member.first] = std::move(member.second);
  return true;
}

}  // namespace common
