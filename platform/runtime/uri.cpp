#include "platform/runtime/uri.h"

#include <cctype>

namespace {

// Schemes whose secure form is the name followed by "s".
const char* const kPlainSchemes[] = {
    "http", "ws",   "dedup", "kxt", "mtf", "file", "sdfs", "btrfs", "vmcopy", "lanfree", "realtime",
    "s3",   "s3v4", "oss",   "obs", "kss", "cos",  "scs",  "ufile", "blob",   "hbr"};

int hex_value(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  return -1;
}

bool parse_scheme(const std::string& text, std::size_t& at, std::string& scheme) {
  std::size_t colon = text.find(':');
  if (colon == std::string::npos || colon == 0 ||
      !std::isalpha(static_cast<unsigned char>(text[0])))
    return false;
  for (std::size_t i = 1; i < colon; ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (!std::isalnum(c) && c != '+' && c != '-' && c != '.')
      return false;
  }
  scheme.clear();
  for (std::size_t i = 0; i < colon; ++i)
    scheme.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(text[i]))));
  at = colon + 1;
  return true;
}

bool parse_port(const std::string& text, unsigned& port) {
  if (text.empty()) {
    port = 0;
    return true;
  }
  if (text.size() > 5)
    return false;
  unsigned value = 0;
  for (char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c)))
      return false;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  if (value > 65535)
    return false;
  port = value;
  return true;
}

}  // namespace

std::string URI::host(bool with_port) const {
  if (!with_port || port_ == 0)
    return host_;
  return (ipv6_ ? "[" + host_ + "]" : host_) + ":" + std::to_string(port_);
}

unsigned URI::port() const {
  if (port_ != 0)
    return port_;
  if (scheme_ == "http" || scheme_ == "ws")
    return 80;
  if (scheme_ == "https" || scheme_ == "wss")
    return 443;
  return 0;
}

bool URI::is_ssl() const {
  if (scheme_.size() < 2 || scheme_.back() != 's')
    return false;
  const std::string plain = scheme_.substr(0, scheme_.size() - 1);
  for (const char* name : kPlainSchemes)
    if (plain == name)
      return true;
  return false;
}

std::string URI::path(bool decoded) const {
  if (!decoded)
    return path_;
  std::string out;
  for (std::size_t i = 0; i < path_.size(); ++i) {
    if (path_[i] == '%' && i + 2 < path_.size()) {
      int high = hex_value(path_[i + 1]);
      int low = hex_value(path_[i + 2]);
      if (high >= 0 && low >= 0) {
        out.push_back(static_cast<char>(high * 16 + low));
        i += 2;
        continue;
      }
    }
    out.push_back(path_[i]);
  }
  return out;
}

void URI::build(std::ostream& out) const {
  out << scheme_ << ':';
  if (has_authority_) {
    out << "//";
    if (has_user_)
      out << user_ << '@';
    out << (ipv6_ ? "[" + host_ + "]" : host_);
    if (port_ != 0)
      out << ':' << port_;
  }
  out << path_;
  if (has_query_)
    out << '?' << query_;
  if (has_fragment_)
    out << '#' << fragment_;
}

bool URI_Parser::parse_authority(std::string authority, URI& uri) {
  std::size_t user_end = authority.rfind('@');
  if (user_end != std::string::npos) {
    uri.has_user_ = true;
    uri.user_ = authority.substr(0, user_end);
    authority.erase(0, user_end + 1);
  }
  std::string port;
  if (!authority.empty() && authority[0] == '[') {
    std::size_t close = authority.find(']');
    if (close == std::string::npos)
      return false;
    uri.ipv6_ = true;
    uri.host_ = authority.substr(1, close - 1);
    std::string after = authority.substr(close + 1);
    if (!after.empty() && after[0] != ':')
      return false;
    if (!after.empty())
      port = after.substr(1);
  } else {
    std::size_t colon = authority.rfind(':');
    uri.host_ = authority.substr(0, colon);
    if (colon != std::string::npos)
      port = authority.substr(colon + 1);
  }
  return parse_port(port, uri.port_);
}

bool URI_Parser::parse(const char* text, URI& uri) {
  if (text == nullptr || *text == '\0')
    return false;
  const std::string url(text);
  URI parsed;
  std::size_t at = 0;
  if (!parse_scheme(url, at, parsed.scheme_))
    return false;
  std::size_t rest_end = url.find_first_of("?#", at);
  if (rest_end == std::string::npos)
    rest_end = url.size();
  if (url.compare(at, 2, "//") == 0) {
    at += 2;
    parsed.has_authority_ = true;
    std::size_t end = url.find('/', at);
    if (end == std::string::npos || end > rest_end)
      end = rest_end;
    if (!parse_authority(url.substr(at, end - at), parsed))
      return false;
    at = end;
  }
  parsed.path_ = url.substr(at, rest_end - at);
  if (rest_end < url.size() && url[rest_end] == '?') {
    std::size_t hash = url.find('#', rest_end);
    parsed.has_query_ = true;
    parsed.query_ =
        url.substr(rest_end + 1, (hash == std::string::npos ? url.size() : hash) - rest_end - 1);
    rest_end = hash == std::string::npos ? url.size() : hash;
  }
  if (rest_end < url.size() && url[rest_end] == '#') {
    parsed.has_fragment_ = true;
    parsed.fragment_ = url.substr(rest_end + 1);
  }
  uri = std::move(parsed);
  return true;
}
