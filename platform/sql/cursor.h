// Reading query results.
//
// A Query_Result_Handler turns column values into JSON by a table of column
// names: binary uuid columns become 32-character lower-case hexadecimal
// text; JSON text columns stay text in fetched rows (the reader parses
// them) and are printed as values when a row is read into a printer.
// Legacy_Cursor runs one statement in one of the host's read modes.
#ifndef PLATFORM_SQL_CURSOR_H_
#define PLATFORM_SQL_CURSOR_H_

#include <memory>
#include <string>

#include "platform/json/json.h"
#include "platform/sql/connection.h"
#include "platform/sql/printer.h"

namespace database {
namespace sql {

class Query_Result_Handler {
 public:
  enum Column_Kind { UUID_HEX = 1, JSON_TEXT = 2 };
  struct Column {
    const char* name;  // null ends a table
    int kind;
  };

  // `columns` ends with a {nullptr, 0} row and must outlive the handler.
  // The other arguments are kept for the host's signature and unused.
  Query_Result_Handler(void* reserved, const Column* columns, int a, int b);
  virtual ~Query_Result_Handler();

  // The handler of the catalog's tables: every uuid column, plus "files"
  // and "extended_attrs" as JSON text.
  static const Query_Result_Handler& catalog();

  // A named column's value as JSON. Blobs of columns not in the table are
  // shown as hexadecimal text as well.
  Value to_value(const std::string& column, const Binding_Value& value) const;

  // Whether `column` is a uuid (JSON) column of the table.
  bool is_uuid_column(const std::string& column) const;
  bool is_json_column(const std::string& column) const;

  // Hands one column of a row to `printer`: a uuid column's bytes as
  // hexadecimal text, other values through the handle_*_i hooks below.
  // The printer's result, negative when the read must stop.
  int print_column(Connection& conn, int index, const std::string& name, const Binding_Value& value,
                   Query_Result_Printer& printer) const;

 protected:
  // What print_column does with each kind of value. By default a blob is
  // printed as hexadecimal text, a JSON column's text as its JSON value
  // (as text when it does not parse) and the rest as themselves. `conn`
  // is the row's connection, free for further queries.
  virtual int handle_binary_i(Connection& conn, int index, const char* name,
                              const unsigned char* data, unsigned long long size,
                              Query_Result_Printer& printer) const;
  virtual int handle_double_i(Connection& conn, int index, const char* name, double value,
                              Query_Result_Printer& printer) const;
  virtual int handle_integer_i(Connection& conn, int index, const char* name, long long value,
                               Query_Result_Printer& printer) const;
  virtual int handle_null_i(Connection& conn, int index, const char* name,
                            Query_Result_Printer& printer) const;
  virtual int handle_string_i(Connection& conn, int index, const char* name, const char* text,
                              unsigned long long length, Query_Result_Printer& printer) const;

 private:
  int column_kind(const std::string& column) const;

  const Column* columns_;
};

class Legacy_Cursor {
 public:
  enum Mode {
    COLUMNS = 2,   // one row, read column by column with >>
    ROWS_RAW = 3,  // every row, as an Array of Objects
    SCALAR = 4,    // the first column of the first row, read with >>
    ROW = 5,       // the first row, as an Object (null when there is none)
    STREAM = 6,    // every row, column by column with >>, until eof()
    ROWS = 8       // every row, as an Array of Objects
  };

  Legacy_Cursor(const Connection_Ptr& conn, const SQL& sql, int mode, int flags = 0);
  ~Legacy_Cursor();

  void result_handler(const Query_Result_Handler* handler) { handler_ = handler; }

  // Modes 3, 5 and 8: runs the statement and fills `out`. False on error
  // (logged), with `out` untouched.
  bool fetch(Value& out);
  // Modes 2, 4 and 6: runs the statement and stands on its first row.
  bool fetch();

  // Reads the next column. A NULL, a value of another type or no row
  // leaves `out` untouched and makes the cursor test false.
  Legacy_Cursor& operator>>(long long& out);
  Legacy_Cursor& operator>>(int& out);
  Legacy_Cursor& operator>>(std::string& out);
  Legacy_Cursor& operator>>(Value& out);
  // Mode 2: prints the rest of the row, column by column, through the
  // result handler. The test is false when there is no row or the printer
  // stopped the read.
  Legacy_Cursor& operator>>(Query_Result_Printer& printer);

  // Whether the last read produced a value.
  explicit operator bool() const { return good_; }
  // Mode 6: no row left to read.
  bool eof() const { return eof_; }
  const std::string& error() const { return error_; }

 private:
  bool start();
  // Steps to the next row; false (logged) on error.
  bool advance();
  bool next_column(Binding_Value& value, std::string& name);
  Value row_object();

  Connection_Ptr conn_;
  const SQL& sql_;
  int mode_;
  const Query_Result_Handler* handler_;
  std::unique_ptr<Statement> statement_;
  bool on_row_ = false;
  bool eof_ = true;
  bool good_ = false;
  int column_ = 0;
  std::string error_;
};

}  // namespace sql
}  // namespace database

#endif  // PLATFORM_SQL_CURSOR_H_
