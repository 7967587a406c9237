// An HTTP request to the backup daemon and the reply it got: method, path,
// query string, headers and body. Plain values, not shared between threads.
#ifndef PLATFORM_RPC_HTTP_REQUEST_H_
#define PLATFORM_RPC_HTTP_REQUEST_H_

#include <map>
#include <string>
#include <utility>
#include <vector>

// Method codes of the host's HTTP layer. HEAD asks for a reply without a
// body: whether a server answers for a path.
enum HTTP_Method { HTTP_METHOD_GET = 3, HTTP_METHOD_HEAD = 4, HTTP_METHOD_POST = 8 };

// Header entries known by number.
enum HTTP_Header_Id {
  HTTP_HEADER_ACCESS_KEY = 48  // the key that authenticates this host
};

// The wire name of a numbered header; null for an unknown number.
const char* http_header_name(int id);

// Header names and values in the order they were set; setting a name again
// replaces its value.
class HTTP_Headers {
 public:
  // False, nothing set, for an unknown header number.
  bool set(int id, const std::string& value);
  void set(const std::string& name, const std::string& value);
  // Null when absent. Names compare without regard to case.
  const std::string* get(const std::string& name) const;
  const std::vector<std::pair<std::string, std::string>>& items() const { return items_; }

 private:
  std::vector<std::pair<std::string, std::string>> items_;
};

// key=value pairs joined by '&', each part percent-encoded.
class HTTP_Query_String {
 public:
  HTTP_Query_String& append(const std::string& key, const std::string& value);
  const std::string& str() const { return text_; }
  bool empty() const { return text_.empty(); }

 private:
  std::string text_;
};

class HTTP_Request {
 public:
  // `flag` is kept for the host's signature and unused.
  HTTP_Request(int method, const std::string& uri, int flag = 0);

  int method() const { return method_; }
  // "GET", "HEAD", "POST", or empty for a code this layer does not send.
  const char* method_name() const;
  const std::string& uri() const { return uri_; }
  void uri(const std::string& uri) { uri_ = uri; }
  HTTP_Headers& headers() { return headers_; }
  const HTTP_Headers& headers() const { return headers_; }
  HTTP_Query_String& query_string() { return query_; }
  const HTTP_Query_String& query_string() const { return query_; }
  // The path with its query string, as it goes on the request line.
  std::string target() const;

 private:
  int method_;
  std::string uri_;
  HTTP_Headers headers_;
  HTTP_Query_String query_;
};

class HTTP_Response {
 public:
  // 0 until a reply arrived.
  int status() const { return status_; }
  const std::string& body() const { return body_; }
  const HTTP_Headers& headers() const { return headers_; }

  void status(int status) { status_ = status; }
  std::string& body() { return body_; }
  HTTP_Headers& headers() { return headers_; }

 private:
  int status_ = 0;
  std::string body_;
  HTTP_Headers headers_;
};

#endif  // PLATFORM_RPC_HTTP_REQUEST_H_
