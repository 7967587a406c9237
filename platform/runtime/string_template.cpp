#include "platform/runtime/string_template.h"

String_Template::String_Template(std::string text, std::string open, std::string close)
    : text_(std::move(text)), open_(std::move(open)), close_(std::move(close)) {}

String_Template& String_Template::set(const std::string& name, const std::string& value) {
  values_[name] = value;
  return *this;
}

std::string String_Template::str() const {
  if (open_.empty() || close_.empty())
    return text_;
  std::string out;
  std::size_t at = 0;
  for (;;) {
    std::size_t start = text_.find(open_, at);
    if (start == std::string::npos)
      break;
    std::size_t name_start = start + open_.size();
    std::size_t end = text_.find(close_, name_start);
    if (end == std::string::npos)
      break;
    out.append(text_, at, start - at);
    auto it = values_.find(text_.substr(name_start, end - name_start));
    if (it != values_.end())
      out += it->second;
    else
      out.append(text_, start, end + close_.size() - start);
    at = end + close_.size();
  }
  out.append(text_, at, std::string::npos);
  return out;
}

std::string fill_template(const std::string& text, const std::string& name,
                          const std::string& value) {
  return String_Template(text).set(name, value).str();
}
