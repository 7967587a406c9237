// Filters built item by item as JSON objects, to be handed to the catalog's
// query operations, which turn them into conditions (see filter_parser.h).
//
// An AND filter keeps its items, in order, in the member "$and" (a name no
// column can have): {"key", "op", "value"} compares a column with a value
// that is bound when the statement renders, {"sql"} is a bit-mask
// condition ("state & 9 = 9"), the one kind of written condition a filter
// object may carry. Plain members beside "$and" keep their usual meaning
// (equality, IN for an array). Every builder checks what it is given and
// returns false, adding nothing, for a key that is not a column name or a
// value that cannot be compared; the filter stays as it was.
#ifndef PLATFORM_SQL_FILTER_BUILDER_H_
#define PLATFORM_SQL_FILTER_BUILDER_H_

#include <string>

#include "platform/json/json.h"

namespace database {
namespace sql {

// The member of a filter object that holds its AND items.
extern const char* const kFilterAndItems;

// Empties `filter` and makes it an AND filter without items.
void generate_and_filter(Object& filter);

// `key` = / >= / < / LIKE a scalar `value` (null only for equality).
bool filter_add_eq_item(Object& filter, const std::string& key, const Value& value);
bool filter_add_ge_item(Object& filter, const std::string& key, const Value& value);
bool filter_add_lt_item(Object& filter, const std::string& key, const Value& value);
bool filter_add_lk_item(Object& filter, const std::string& key, const Value& value);
// `key` BETWEEN the two scalars of the array `range`.
bool filter_add_ba_item(Object& filter, const std::string& key, const Value& range);
// A written condition; only a bit-mask condition "<column> & <n> = <m>"
// (n, m decimal) is taken.
bool filter_add_item(Object& filter, const std::string& sql);

// Marks `filter` so that every reader refuses it (with `reason`), for a
// caller that could not build it whole: a filter missing a condition would
// select more rows than asked for.
void filter_refuse(Object& filter, const std::string& reason);

// An AND filter holding the one item `key` = `value`; an empty object when
// the item cannot be made.
Object generate_eq_item(const std::string& key, const Value& value);

// Reads a bit-mask condition: false for any other text.
bool parse_mask_condition(const std::string& sql, std::string& column, unsigned long long& mask,
                          unsigned long long& expected);

}  // namespace sql
}  // namespace database

#endif  // PLATFORM_SQL_FILTER_BUILDER_H_
