// A JSON event handler over libyajl: derived classes override the events
// they care about and build their object as the text streams by.
//
// One handler parses one document on one thread; it is not shared. Each
// event returns 1 to go on or 0 to stop the parse; a handler that stops
// because the document has the wrong shape sets status() to ERROR.
#ifndef PLATFORM_JOB_YAJL_HANDLER_H_
#define PLATFORM_JOB_YAJL_HANDLER_H_

#include <cstddef>
#include <string>

class YAJL_Handler {
 public:
  enum Status { OK = 0, ERROR = 3 };
  // Results of parse(), as libyajl numbers them.
  enum Parse_Result { PARSED = 0, STOPPED = 1, SYNTAX_ERROR = 2 };

  YAJL_Handler() = default;
  virtual ~YAJL_Handler() = default;

  // Feeds a whole document. PARSED when it was well formed and every event
  // went on; STOPPED when an event stopped it (see status()); SYNTAX_ERROR
  // when the text is not JSON (see error()).
  int parse(const char* text, std::size_t length);
  int parse(const std::string& text) { return parse(text.data(), text.size()); }

  int status() const { return status_; }
  // libyajl's description of a syntax error; empty otherwise.
  const std::string& error() const { return error_; }

  // Events, in libyajl's order. Numbers arrive as their text: on_integer
  // for a literal without fraction or exponent, on_double otherwise.
  virtual int on_null() { return 1; }
  virtual int on_boolean(bool value) { return 1; }
  virtual int on_integer(const char* text, std::size_t length) { return 1; }
  virtual int on_double(const char* text, std::size_t length) { return 1; }
  virtual int on_string(const unsigned char* text, std::size_t length) { return 1; }
  virtual int on_start_map() { return 1; }
  virtual int on_map_key(const unsigned char* key, std::size_t length) { return 1; }
  virtual int on_end_map() { return 1; }
  virtual int on_start_array() { return 1; }
  virtual int on_end_array() { return 1; }

  YAJL_Handler(const YAJL_Handler&) = delete;
  YAJL_Handler& operator=(const YAJL_Handler&) = delete;

 protected:
  int status_ = OK;

 private:
  std::string error_;
};

#endif  // PLATFORM_JOB_YAJL_HANDLER_H_
