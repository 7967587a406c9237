// Receivers of a query row, value by value.
//
// A cursor reading a row into a printer (Legacy_Cursor::operator>>) hands
// it each column in order, through the row's result handler, which may
// turn a column into nested values (a map or an array of related rows).
// Printers are plain objects owned by their caller, used by one thread.
#ifndef PLATFORM_SQL_PRINTER_H_
#define PLATFORM_SQL_PRINTER_H_

#include <string>
#include <vector>

#include "platform/json/json.h"

namespace database {
namespace sql {

// Every call names the column's position in the row and its name (null or
// empty for values inside a map or an array). A call returns 1 when the
// value was taken, 0 when it was passed over, and a negative number to
// stop the read, which then fails.
class Query_Result_Printer {
 public:
  virtual ~Query_Result_Printer() = default;

  virtual int start_map(int index, const char* name) = 0;
  virtual int end_map() = 0;
  virtual int start_array(int index, const char* name) = 0;
  virtual int end_array() = 0;
  virtual int print_int(int index, const char* name, long long value) = 0;
  virtual int print_uint(int index, const char* name, unsigned long long value) = 0;
  virtual int print_null(int index, const char* name) = 0;
  virtual int print_double(int index, const char* name, double value) = 0;
  virtual int print_bool(int index, const char* name, bool value) = 0;
  virtual int print_cstr(int index, const char* name, const char* text,
                         unsigned long long length) = 0;
  virtual int print_str(int index, const char* name, const std::string& text) = 0;
  virtual int print_json(int index, const char* name, const Value& value) = 0;
};

// A printer that keeps track of the maps and arrays it is inside and
// passes over every value. Derived printers override what they take and
// use tokens() to tell a row's own columns (no open token) from values
// nested in one.
class Query_Result_Token_Printer : public Query_Result_Printer {
 public:
  enum Token { MAP = 1, ARRAY = 2 };

  int start_map(int index, const char* name) override;
  int end_map() override;
  int start_array(int index, const char* name) override;
  int end_array() override;
  int print_int(int index, const char* name, long long value) override;
  int print_uint(int index, const char* name, unsigned long long value) override;
  int print_null(int index, const char* name) override;
  int print_double(int index, const char* name, double value) override;
  int print_bool(int index, const char* name, bool value) override;
  int print_cstr(int index, const char* name, const char* text, unsigned long long length) override;
  // Forwards to print_cstr.
  int print_str(int index, const char* name, const std::string& text) override;
  int print_json(int index, const char* name, const Value& value) override;

  // The open maps and arrays, innermost last.
  const std::vector<int>& tokens() const { return tokens_; }

 private:
  // -1 when `token` is not the innermost open one.
  int close(int token);

  std::vector<int> tokens_;
};

}  // namespace sql
}  // namespace database

#endif  // PLATFORM_SQL_PRINTER_H_
