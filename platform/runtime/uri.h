// Storage URLs as the host's runtime parses them: scheme "://" [user "@"]
// host [":" port] path ["?" query] ["#" fragment]. Device URLs carry
// Windows paths and blanks, so the path is taken as written (only the
// scheme and the port are checked). Plain values; not shared between
// threads.
#ifndef PLATFORM_RUNTIME_URI_H_
#define PLATFORM_RUNTIME_URI_H_

#include <ostream>
#include <string>

class URI {
 public:
  // In lower case ("dedups").
  const std::string& scheme() const { return scheme_; }
  // The host (an IPv6 address without its brackets); with `with_port`,
  // followed by ":" and the port when the URL names one.
  std::string host(bool with_port) const;
  // The port the URL names, else the scheme's usual one (80 for http and
  // ws, 443 for https and wss), else 0.
  unsigned port() const;
  // Whether the scheme is the secure form (its plain name followed by "s")
  // of a scheme the storage side knows: "https", "dedups", "s3s", ...
  bool is_ssl() const;
  // The path: empty, or starting with "/" when the URL has a host part;
  // with `decoded`, "%XX" escapes become their bytes (malformed escapes
  // stay as written).
  std::string path(bool decoded) const;
  const std::string& query() const { return query_; }
  const std::string& fragment() const { return fragment_; }

  // Writes the URL in the form above.
  void build(std::ostream& out) const;

 private:
  friend class URI_Parser;

  std::string scheme_;
  bool has_authority_ = false;
  std::string user_;
  bool has_user_ = false;
  std::string host_;
  bool ipv6_ = false;
  unsigned port_ = 0;  // 0: not named
  std::string path_;
  std::string query_;
  bool has_query_ = false;
  std::string fragment_;
  bool has_fragment_ = false;
};

class URI_Parser {
 public:
  // Fills `uri` from `text`. False, with `uri` untouched, for a null or
  // empty text, a missing or malformed scheme, an unclosed IPv6 bracket or
  // a port that is not a number up to 65535.
  static bool parse(const char* text, URI& uri);

 private:
  // [user "@"] host [":" port] into `uri`.
  static bool parse_authority(std::string authority, URI& uri);
};

#endif  // PLATFORM_RUNTIME_URI_H_
