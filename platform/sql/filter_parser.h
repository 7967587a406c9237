// Turning request filters (JSON objects) into filter conditions.
//
// A member's value may be a scalar (compared for equality), an array (any
// of its values) or an object of two-letter operators and values
// ({"ge": "2024-01-01", "lt": "2024-02-01"}). The AND items of a filter
// built with filter_builder.h are read too. Every value is bound as a
// parameter; keys only ever name columns.
#ifndef PLATFORM_SQL_FILTER_PARSER_H_
#define PLATFORM_SQL_FILTER_PARSER_H_

#include <string>

#include "platform/json/json.h"
#include "platform/sql/sql.h"

namespace database {
namespace sql {

enum Key_Kind { KEY_STRING = 1, KEY_INTEGER = 2, KEY_UUID = 3 };

// Key flag: a string value holding commas lists several values
// ("full,incremental").
const int KEY_FLAG_LIST = 2;
// Key flag: a null value (alone or under "eq" or "ne") asks whether the
// column is NULL.
const int KEY_FLAG_NULL = 4;

struct Filter_Key {
  const char* name;  // null ends a table
  int kind;
  int flags;
};

// Parses members named in a key table; other members are left to the
// caller (paging, state names, ...).
class SQL_Filter_Parser {
 public:
  // `keys` ends with a {nullptr, 0, 0} row and must outlive the parser.
  SQL_Filter_Parser(Filter_SQL* filter, const Filter_Key* keys);

  // Adds a condition for every member of `object` named in the key table.
  // `mode` is kept for the host's signature. False, with error() set, for a
  // value of the wrong type, an integer beyond the signed 64-bit range or a
  // malformed uuid; the filter is then invalid, so a statement built on it
  // fails rather than running with the conditions added before.
  bool parse(const Object& object, int mode = 1);
  const std::string& error() const { return error_; }

 private:
  bool add(const Filter_Key& key, const Value& value);

  Filter_SQL* filter_;
  const Filter_Key* keys_;
  std::string error_;
};

// Every member of `object` becomes a condition on the column of its name,
// which `columns` must list; values are checked against the column's kind
// as SQL_Filter_Parser checks them, so no engine is left to convert a text
// into a number (MariaDB reads "1 OR 1=1" as 1). False, with `error` set
// and the filter invalid, for any other key or a value that does not fit.
bool generate_filter_from_obj(const Object& object, Filter_SQL& filter, const Filter_Key* columns,
                              std::string* error = nullptr);

}  // namespace sql
}  // namespace database

#endif  // PLATFORM_SQL_FILTER_PARSER_H_
