#include "platform/rpc/http_request.h"

#include <strings.h>

#include <cstdio>

namespace {

std::string percent_encode(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
        c == '_' || c == '.' || c == '~') {
      out += static_cast<char>(c);
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      out += hex;
    }
  }
  return out;
}

}  // namespace

const char* http_header_name(int id) {
  switch (id) {
    case HTTP_HEADER_ACCESS_KEY:
      return "X-Access-Key";
    default:
      return nullptr;
  }
}

bool HTTP_Headers::set(int id, const std::string& value) {
  const char* name = http_header_name(id);
  if (name == nullptr)
    return false;
  set(std::string(name), value);
  return true;
}

void HTTP_Headers::set(const std::string& name, const std::string& value) {
  for (auto& item : items_) {
    if (strcasecmp(item.first.c_str(), name.c_str()) == 0) {
      item.second = value;
      return;
    }
  }
  items_.emplace_back(name, value);
}

const std::string* HTTP_Headers::get(const std::string& name) const {
  for (const auto& item : items_)
    if (strcasecmp(item.first.c_str(), name.c_str()) == 0)
      return &item.second;
  return nullptr;
}

HTTP_Query_String& HTTP_Query_String::append(const std::string& key, const std::string& value) {
  if (!text_.empty())
    text_ += '&';
  text_ += percent_encode(key) + '=' + percent_encode(value);
  return *this;
}

HTTP_Request::HTTP_Request(int method, const std::string& uri, int) : method_(method), uri_(uri) {}

const char* HTTP_Request::method_name() const {
  switch (method_) {
    case HTTP_METHOD_GET:
      return "GET";
    case HTTP_METHOD_HEAD:
      return "HEAD";
    case HTTP_METHOD_POST:
      return "POST";
    default:
      return "";
  }
}

std::string HTTP_Request::target() const {
  if (query_.empty())
    return uri_;
  return uri_ + (uri_.find('?') == std::string::npos ? '?' : '&') + query_.str();
}
