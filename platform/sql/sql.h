// Statement builders of the database layer.
//
// A statement is text with named parameters (":uuid") plus the values bound
// to them; it is rendered for one dialect at execution time. Builders bind
// every value they are given as a parameter; the only text they splice is
// what the calling code writes itself (column lists, conditions, ordering),
// and identifiers, which are checked and quoted. A builder given something
// it cannot use (a malformed uuid, a key that is not an identifier) marks the
// statement invalid: rendering then fails with a reason instead of running
// a statement that means something else.
//
// Builders are plain values: not shared between threads, copied freely.
#ifndef PLATFORM_SQL_SQL_H_
#define PLATFORM_SQL_SQL_H_

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/json/json.h"
#include "platform/sql/binding_value.h"

namespace database {
namespace sql {

// Dialects, numbered as the database types that use them.
enum Dialect { DIALECT_MYSQL = 1, DIALECT_SQLITE = 2 };
inline int dialect_of_type(int db_type) {
  return db_type == DIALECT_MYSQL ? DIALECT_MYSQL : DIALECT_SQLITE;
}

// Comparison operators of filter items. Two-letter names: eq ne le lt gt ge
// lk ba.
enum Operator {
  OP_NONE = 0,
  OP_EQ = 1,
  OP_NE = 2,
  OP_LE = 3,
  OP_LT = 4,
  OP_GT = 5,
  OP_GE = 6,
  OP_LIKE = 7,
  OP_IN = 8,
  OP_NOT_IN = 9,
  OP_BETWEEN = 10  // the value is an array of the two bounds
};

// Characters of unquoted names and of ":name" parameters: a letter or '_'
// first, then letters, digits and '_'.
bool is_name_start(char c);
bool is_name_char(char c);

// A column name, optionally qualified by an alias ("j.state"): letters,
// digits and '_', not starting with a digit.
bool is_identifier(const std::string& text);

// The LIMIT count of `dialect` that sets no limit (a LIMIT is needed
// before an OFFSET).
const char* no_limit(int dialect);

// `name` in backquotes, with any backquote inside doubled.
std::string quote_identifier(const std::string& name);
// Each dot-separated part of `name` quoted: "j.state" gives `j`.`state`.
std::string quote_column(const std::string& name);

// A statement's bindings in the order bound, found by name. A long list (a
// large IN list) is indexed: searched once per name bound, it would cost
// the square of its length.
class Named_Bindings {
 public:
  const Bindings& list() const { return list_; }
  // The value bound to `name`; null when there is none.
  Binding_Value* find(const std::string& name);
  void add(std::string name, const Binding_Value& value);

 private:
  static const std::size_t kLinear = 16;
  Bindings list_;
  std::unordered_map<std::string, std::size_t> index_;  // filled past kLinear names
};

// Collects text and parameter values while a statement renders.
class Render_Context {
 public:
  explicit Render_Context(int dialect) : dialect_(dialect) {}

  int dialect() const { return dialect_; }
  std::string& text() { return text_; }
  const std::string& text() const { return text_; }
  const Bindings& bindings() const { return bindings_.list(); }

  // Binds a value under a fresh generated name; returns ":name".
  std::string add_value(const Binding_Value& value);
  // Binds a value under the caller's name. A second, different value for
  // the same name fails the rendering.
  void add_named(const std::string& name, const Binding_Value& value);

  void fail(const std::string& reason);
  bool ok() const { return error_.empty(); }
  const std::string& error() const { return error_; }

 private:
  int dialect_;
  std::string text_;
  Named_Bindings bindings_;
  int next_ = 0;
  std::string error_;
};

// A statement of text written by the calling code, with named parameters.
class SQL {
 public:
  SQL() = default;
  // `type` and `flag` are kept for the host's signature and unused.
  explicit SQL(std::string text, int type = 0, bool flag = false);
  virtual ~SQL() = default;

  // Binds ":name" (the colon is optional in `name`).
  SQL& bind(const std::string& name, const Binding_Value& value);
  // Binds a 32-character hexadecimal uuid as 16 bytes. A malformed uuid
  // makes the statement invalid and returns false.
  bool bind_uuid(const std::string& name, const std::string& hex);

  // Writes the statement into `ctx`. False when the statement is invalid.
  virtual bool render(Render_Context& ctx) const;

  // The text in `dialect`, for messages; empty when it cannot render.
  std::string str(int dialect = DIALECT_SQLITE) const;

  bool valid() const { return invalid_reason_.empty(); }
  const std::string& invalid_reason() const { return invalid_reason_; }
  void invalidate(const std::string& reason);

 protected:
  void render_bindings(Render_Context& ctx) const;
  // The 16 bytes of `hex`; false, with the statement invalid, for other text.
  bool uuid_value(const std::string& column, const std::string& hex, Binding_Value& out);
  // The record member `key` as a column value: 1 found, 0 absent, -1 of the
  // wrong type (the statement is then invalid).
  int member_value(const Object& record, const std::string& key, int kind, Binding_Value& out);

  std::string text_;
  Named_Bindings bindings_;
  std::string invalid_reason_;
};

// One condition of a filter: a column compared with a bound value. IN and
// NOT IN take an array value.
class Item_SQL {
 public:
  Item_SQL(std::string key, Value value, int op, bool as_uuid);

  // OP_* for a two-letter operator name, OP_NONE for anything else.
  static int op_name_to_value(const std::string& name);
  static const char* op_text(int op);

  const std::string& key() const { return key_; }
  const Value& value() const { return value_; }
  int op() const { return op_; }
  bool is_uuid() const { return as_uuid_; }

  void render(Render_Context& ctx) const;

 private:
  bool bind_one(Render_Context& ctx, const Value& v, std::string& name) const;

  std::string key_;
  Value value_;
  int op_;
  bool as_uuid_;
};

// Conditions joined by AND (or OR where asked), each in parentheses.
class Filter_SQL {
 public:
  // A condition written by the calling code; its parameters are bound on
  // the statement.
  void add_sql(const std::string& text, bool and_ = true);

  // `key` compared with `value` (a scalar; an array for OP_IN/OP_NOT_IN).
  // False when the key is not an identifier or the value cannot be bound;
  // the filter is then invalid.
  bool add_kv_item(const std::string& key, const Value& value, int op = OP_EQ);
  bool add_key_uuid_item(const std::string& key, const std::string& hex, int op = OP_EQ);
  bool add_key_uuid_eq_item(const std::string& key, const std::string& hex) {
    return add_key_uuid_item(key, hex, OP_EQ);
  }
  // `key` IN (or NOT IN) the listed values.
  bool add_list_item(const std::string& key, const Array& values, int op, bool as_uuid);
  bool add_in_uuid_item(const std::string& key, const std::vector<std::string>& hexes);
  bool add_not_in_uuid_item(const std::string& key, const std::vector<std::string>& hexes);

  // The first item comparing `key`, or null.
  const Item_SQL* find_kv_item(const std::string& key) const;

  bool empty() const { return parts_.empty(); }
  void clear();
  bool valid() const { return invalid_reason_.empty(); }
  const std::string& invalid_reason() const { return invalid_reason_; }
  // Marks the filter unusable: rendering it fails with `reason` (the first
  // one given) until clear().
  void invalidate(const std::string& reason);

  void render(Render_Context& ctx) const;

 private:
  struct Part {
    bool and_;
    bool is_item;
    std::string text;
    std::vector<Item_SQL> item;  // one element when is_item
  };
  bool add_item(Item_SQL item, bool check_uuid);

  std::vector<Part> parts_;
  std::string invalid_reason_;
};

class Where_SQL {
 public:
  // The statement's top-level AND filter; never null here, but callers of
  // the host's interface check it.
  Filter_SQL* and_filter() { return &filter_; }
  const Filter_SQL* and_filter() const { return &filter_; }
  // " WHERE ..." when the filter has conditions.
  void render(Render_Context& ctx) const;

 private:
  Filter_SQL filter_;
};

class Select_SQL : public SQL {
 public:
  Select_SQL() = default;

  Select_SQL& table(const std::string& name, const std::string& alias = std::string());
  // FROM (sub) alias.
  Select_SQL& sql_table(const Select_SQL& sub, const std::string& alias);
  const std::string& table_name() const { return table_; }

  // Column list written by the calling code; replaces the current one.
  // Default "*".
  Select_SQL& select(const std::string& columns);
  // Appends `expression` named `key` (just `key` when no expression).
  Select_SQL& add_key(const std::string& key, const std::string& expression = std::string());
  Select_SQL& distinct(bool on = true);

  // JOIN `table` alias ON condition.
  Select_SQL& join(const std::string& table, const std::string& alias, const std::string& on);
  Select_SQL& sql_join(const Select_SQL& sub, const std::string& alias, const std::string& on);
  Select_SQL& sql_inner_join(const Select_SQL& sub, const std::string& alias,
                             const std::string& on);
  Select_SQL& clear_join();

  Where_SQL& where() { return where_; }
  const Where_SQL& where() const { return where_; }

  // Grouping and ordering texts are written by the calling code, never
  // taken from a request; check request-given columns with is_identifier.
  Select_SQL& group_by(const std::string& columns);
  Select_SQL& order_by(const std::string& columns);
  Select_SQL& desc(bool on = true);
  // Orders by `column`, descending when `descending`.
  Select_SQL& sort_by(const std::string& column, bool descending);
  // A negative limit means no limit.
  Select_SQL& limit(long long n);
  Select_SQL& offset(long long n);
  long long limit() const { return limit_; }
  long long offset() const { return offset_; }

  // Back to an empty statement.
  void clear();

  // The statement that counts the rows this one would return without its
  // limit and offset.
  Select_SQL count_statement() const;

  bool render(Render_Context& ctx) const override;

 private:
  struct Join {
    std::string kind;
    std::string table;  // quoted, or empty for a sub-statement
    std::shared_ptr<const Select_SQL> sub;
    std::string alias;
    std::string on;
  };
  void render_source(Render_Context& ctx, const std::string& table,
                     const std::shared_ptr<const Select_SQL>& sub, const std::string& alias) const;
  void render_limit(Render_Context& ctx) const;

  std::string table_;
  std::string alias_;
  std::shared_ptr<const Select_SQL> table_sub_;
  std::string columns_;
  bool distinct_ = false;
  std::vector<Join> joins_;
  Where_SQL where_;
  std::string group_by_;
  std::string order_by_;
  bool desc_ = false;
  long long limit_ = -1;
  long long offset_ = 0;
};

// How a record member is turned into a column value.
enum Column_Kind {
  COLUMN_ANY = 0,      // as its JSON type; objects and arrays as JSON text
  COLUMN_UUID = 1,     // a uuid text, stored as 16 bytes
  COLUMN_STRING = 2,   // a JSON string
  COLUMN_INTEGER = 3,  // a JSON integer (or bool)
  COLUMN_JSON = 4      // an object or array, stored as JSON text
};

// Binds one record member according to `kind`. Null members bind NULL.
// False, with `reason` set, for a member of the wrong type.
bool member_to_binding(const Value& member, int kind, const std::string& key, Binding_Value& out,
                       std::string& reason);

class Insert_SQL : public SQL {
 public:
  Insert_SQL& table(const std::string& name);
  Insert_SQL& value(const std::string& column, const Binding_Value& value);
  bool value_uuid(const std::string& column, const std::string& hex);
  // The record's member `key` into the column of that name, when present.
  // False (statement invalid) when present with the wrong type.
  bool value_key(const Object& record, const std::string& key, int kind = COLUMN_ANY);
  // A column set from an expression written by the calling code.
  Insert_SQL& values_sql(const std::string& column, const std::string& expression);
  // Conflict clause: 0 none, 1 ignore the new row, 2 replace the old row.
  Insert_SQL& or_expr(int code);
  bool empty() const { return columns_.empty(); }

  bool render(Render_Context& ctx) const override;

 private:
  struct Column {
    std::string name;
    bool is_sql;
    std::string expression;
    Binding_Value value;
  };
  void add_column(Column column);

  std::string table_;
  std::vector<Column> columns_;
  int or_expr_ = 0;
};

class Update_SQL : public SQL {
 public:
  Update_SQL& table(const std::string& name);
  Update_SQL& set(const std::string& column, const Binding_Value& value);
  bool set_uuid(const std::string& column, const std::string& hex);
  bool set_key(const Object& record, const std::string& key, int kind = COLUMN_ANY);
  Update_SQL& set_sql(const std::string& column, const std::string& expression);
  Update_SQL& set_select_sql(const std::string& column, const Select_SQL& select);
  bool empty() const { return sets_.empty(); }
  Where_SQL& where() { return where_; }

  bool render(Render_Context& ctx) const override;

 private:
  struct Set {
    std::string column;
    int form;  // 0 value, 1 expression, 2 sub-select
    std::string expression;
    Binding_Value value;
    std::shared_ptr<const Select_SQL> select;
  };
  void add_set(Set set);

  std::string table_;
  std::vector<Set> sets_;
  Where_SQL where_;
};

class Delete_SQL : public SQL {
 public:
  Delete_SQL& table(const std::string& name);
  Where_SQL& where() { return where_; }

  bool render(Render_Context& ctx) const override;

 private:
  std::string table_;
  Where_SQL where_;
};

}  // namespace sql
}  // namespace database

#endif  // PLATFORM_SQL_SQL_H_
