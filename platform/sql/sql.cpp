#include "platform/sql/sql.h"

#include <cctype>

#include "platform/runtime/uuid.h"

namespace database {
namespace sql {

namespace {

std::string strip_colon(const std::string& name) {
  return !name.empty() && name[0] == ':' ? name.substr(1) : name;
}

// quote_identifier(name) appended to `text`.
void append_quoted_identifier(std::string& text, const std::string& name) {
  text.push_back('`');
  if (name.find('`') == std::string::npos) {
    text += name;
  } else {
    for (char c : name) {
      if (c == '`')
        text.push_back('`');
      text.push_back(c);
    }
  }
  text.push_back('`');
}

}  // namespace

const char* no_limit(int dialect) {
  // MySQL has no "no limit" value; its manual's advice is the largest one.
  return dialect == DIALECT_MYSQL ? "18446744073709551615" : "-1";
}

// ASCII is answered without the C library's locale lookup: names are
// checked character by character for every statement rendered.
bool is_name_start(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  if (u < 0x80)
    return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || c == '_';
  return std::isalpha(u);
}

bool is_name_char(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  if (u < 0x80)
    return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || c == '_';
  return std::isalnum(u);
}

bool is_identifier(const std::string& text) {
  std::size_t start = 0;
  int parts = 0;
  while (start <= text.size()) {
    std::size_t dot = text.find('.', start);
    std::size_t end = dot == std::string::npos ? text.size() : dot;
    if (end == start || !is_name_start(text[start]))
      return false;
    for (std::size_t i = start + 1; i < end; ++i)
      if (!is_name_char(text[i]))
        return false;
    if (++parts > 2)
      return false;
    if (dot == std::string::npos)
      return true;
    start = dot + 1;
  }
  return false;
}

std::string quote_column(const std::string& name) {
  std::string out;
  std::size_t start = 0;
  for (;;) {
    std::size_t dot = name.find('.', start);
    out += quote_identifier(name.substr(start, dot == std::string::npos ? dot : dot - start));
    if (dot == std::string::npos)
      return out;
    out += '.';
    start = dot + 1;
  }
}

std::string quote_identifier(const std::string& name) {
  std::string out = "`";
  for (char c : name) {
    if (c == '`')
      out.push_back('`');
    out.push_back(c);
  }
  out.push_back('`');
  return out;
}

// ---------------------------------------------------------------------------
// Render_Context

Binding_Value* Named_Bindings::find(const std::string& name) {
  if (list_.size() > kLinear) {
    auto found = index_.find(name);
    return found != index_.end() ? &list_[found->second].second : nullptr;
  }
  for (auto& b : list_) {
    if (b.first == name)
      return &b.second;
  }
  return nullptr;
}

void Named_Bindings::add(std::string name, const Binding_Value& value) {
  list_.emplace_back(std::move(name), value);
  if (list_.size() <= kLinear)
    return;
  if (index_.empty()) {
    for (std::size_t i = 0; i < list_.size(); ++i)
      index_.emplace(list_[i].first, i);  // the first of a name wins, as in the search
  } else {
    index_.emplace(list_.back().first, list_.size() - 1);
  }
}

std::string Render_Context::add_value(const Binding_Value& value) {
  std::string mark = ":_p" + std::to_string(++next_);
  bindings_.add(mark.substr(1), value);
  return mark;
}

void Render_Context::add_named(const std::string& name, const Binding_Value& value) {
  if (const Binding_Value* bound = bindings_.find(name)) {
    if (!(*bound == value))
      fail("parameter :" + name + " bound twice with different values");
    return;
  }
  bindings_.add(name, value);
}

void Render_Context::fail(const std::string& reason) {
  if (error_.empty())
    error_ = reason;
}

// ---------------------------------------------------------------------------
// SQL

SQL::SQL(std::string text, int /*type*/, bool /*flag*/) : text_(std::move(text)) {}

SQL& SQL::bind(const std::string& name, const Binding_Value& value) {
  std::string key = strip_colon(name);
  if (Binding_Value* bound = bindings_.find(key))
    *bound = value;
  else
    bindings_.add(std::move(key), value);
  return *this;
}

bool SQL::bind_uuid(const std::string& name, const std::string& hex) {
  Binding_Value v;
  if (!Binding_Value::uuid(hex, v)) {
    invalidate("malformed uuid '" + hex + "' for :" + strip_colon(name));
    return false;
  }
  bind(name, v);
  return true;
}

bool SQL::uuid_value(const std::string& column, const std::string& hex, Binding_Value& out) {
  if (Binding_Value::uuid(hex, out))
    return true;
  invalidate("'" + column + "' is not a uuid");
  return false;
}

int SQL::member_value(const Object& record, const std::string& key, int kind, Binding_Value& out) {
  auto it = record.find(key);
  if (it == record.end())
    return 0;
  std::string reason;
  if (member_to_binding(it->second, kind, key, out, reason))
    return 1;
  invalidate(reason);
  return -1;
}

void SQL::invalidate(const std::string& reason) {
  if (invalid_reason_.empty())
    invalid_reason_ = reason;
}

void SQL::render_bindings(Render_Context& ctx) const {
  if (!valid())
    ctx.fail(invalid_reason_);
  for (const auto& b : bindings_.list())
    ctx.add_named(b.first, b.second);
}

bool SQL::render(Render_Context& ctx) const {
  render_bindings(ctx);
  ctx.text() += text_;
  return ctx.ok();
}

std::string SQL::str(int dialect) const {
  Render_Context ctx(dialect);
  if (!render(ctx))
    return std::string();
  return ctx.text();
}

// ---------------------------------------------------------------------------
// Item_SQL

Item_SQL::Item_SQL(std::string key, Value value, int op, bool as_uuid)
    : key_(std::move(key)), value_(std::move(value)), op_(op), as_uuid_(as_uuid) {}

int Item_SQL::op_name_to_value(const std::string& name) {
  static const struct {
    const char* name;
    int op;
  } kNames[] = {{"eq", OP_EQ}, {"ne", OP_NE}, {"le", OP_LE},   {"lt", OP_LT},
                {"gt", OP_GT}, {"ge", OP_GE}, {"lk", OP_LIKE}, {"ba", OP_BETWEEN}};
  for (const auto& n : kNames)
    if (name == n.name)
      return n.op;
  return OP_NONE;
}

const char* Item_SQL::op_text(int op) {
  switch (op) {
    case OP_EQ:
      return "=";
    case OP_NE:
      return "!=";
    case OP_LE:
      return "<=";
    case OP_LT:
      return "<";
    case OP_GT:
      return ">";
    case OP_GE:
      return ">=";
    case OP_LIKE:
      return "LIKE";
    case OP_IN:
      return "IN";
    case OP_NOT_IN:
      return "NOT IN";
    case OP_BETWEEN:
      return "BETWEEN";
    default:
      return nullptr;
  }
}

bool Item_SQL::bind_one(Render_Context& ctx, const Value& v, std::string& name) const {
  if (as_uuid_) {
    Binding_Value b;
    if (!v.is_string() || !Binding_Value::uuid(v.get<std::string>(), b)) {
      ctx.fail("malformed uuid for '" + key_ + "'");
      return false;
    }
    name = ctx.add_value(b);
    return true;
  }
  if (v.is_object() || v.is_array()) {
    ctx.fail("value of '" + key_ + "' is not a scalar");
    return false;
  }
  name = ctx.add_value(Binding_Value::from_json(v));
  return true;
}

void Item_SQL::render(Render_Context& ctx) const {
  std::string& text = ctx.text();
  if (op_ == OP_IN || op_ == OP_NOT_IN) {
    const Array* list = value_.get_ptr<const Array*>();
    if (list == nullptr) {
      ctx.fail("value of '" + key_ + "' is not a list");
      return;
    }
    if (list->empty()) {
      // Nothing is in an empty list.
      text += op_ == OP_IN ? "1 = 0" : "1 = 1";
      return;
    }
    text += quote_column(key_) + " " + op_text(op_) + " (";
    for (std::size_t i = 0; i < list->size(); ++i) {
      std::string name;
      if (!bind_one(ctx, (*list)[i], name))
        return;
      if (i > 0)
        text += ", ";
      text += name;
    }
    text += ")";
    return;
  }
  if (op_ == OP_BETWEEN) {
    std::string low, high;
    if (!value_.is_array() || value_.size() != 2) {
      ctx.fail("value of '" + key_ + "' is not a pair of bounds");
      return;
    }
    if (!bind_one(ctx, value_[0], low) || !bind_one(ctx, value_[1], high))
      return;
    text += quote_column(key_) + " BETWEEN " + low + " AND " + high;
    return;
  }
  if (value_.is_null() && (op_ == OP_EQ || op_ == OP_NE)) {
    text += quote_column(key_) + (op_ == OP_EQ ? " IS NULL" : " IS NOT NULL");
    return;
  }
  std::string name;
  if (!bind_one(ctx, value_, name))
    return;
  text += quote_column(key_) + " " + op_text(op_) + " " + name;
}

// ---------------------------------------------------------------------------
// Filter_SQL

void Filter_SQL::add_sql(const std::string& text, bool and_) {
  parts_.push_back(Part{and_, false, text, {}});
}

namespace {

// Why `item` cannot be rendered as it stands; empty when it can.
std::string item_problem(const Item_SQL& item, bool check_uuid) {
  if (!is_identifier(item.key()))
    return "'" + item.key() + "' is not a column name";
  if (Item_SQL::op_text(item.op()) == nullptr)
    return "unknown operator for '" + item.key() + "'";
  std::string reason;
  auto usable = [&](const Value& v) {
    if (!fits_signed_64(v, item.key(), reason))
      return false;
    if (check_uuid && !(v.is_string() && vrt::is_uuid_hex(v.get<std::string>()))) {
      reason = "malformed uuid for '" + item.key() + "'";
      return false;
    }
    return true;
  };
  const Value& value = item.value();
  if (value.is_array()) {
    for (const Value& v : value) {
      if (!usable(v))
        return reason;
    }
  } else if (!usable(value)) {
    return reason;
  }
  return std::string();
}

}  // namespace

bool Filter_SQL::add_item(Item_SQL item, bool check_uuid) {
  const std::string reason = item_problem(item, check_uuid);
  if (!reason.empty()) {
    invalidate(reason);
    return false;
  }
  Part part{true, true, std::string(), {}};
  part.item.push_back(std::move(item));
  parts_.push_back(std::move(part));
  return true;
}

bool Filter_SQL::add_kv_item(const std::string& key, const Value& value, int op) {
  return add_item(Item_SQL(key, value, op, false), false);
}

bool Filter_SQL::add_key_uuid_item(const std::string& key, const std::string& hex, int op) {
  return add_item(Item_SQL(key, Value(hex), op, true), true);
}

bool Filter_SQL::add_list_item(const std::string& key, const Array& values, int op, bool as_uuid) {
  if (op != OP_IN && op != OP_NOT_IN) {
    invalidate("not a list operator for '" + key + "'");
    return false;
  }
  return add_item(Item_SQL(key, Value(values), op, as_uuid), as_uuid);
}

bool Filter_SQL::add_in_uuid_item(const std::string& key, const std::vector<std::string>& hexes) {
  return add_list_item(key, Array(hexes.begin(), hexes.end()), OP_IN, true);
}

bool Filter_SQL::add_not_in_uuid_item(const std::string& key,
                                      const std::vector<std::string>& hexes) {
  return add_list_item(key, Array(hexes.begin(), hexes.end()), OP_NOT_IN, true);
}

const Item_SQL* Filter_SQL::find_kv_item(const std::string& key) const {
  for (const auto& p : parts_)
    if (p.is_item && p.item[0].key() == key)
      return &p.item[0];
  return nullptr;
}

void Filter_SQL::invalidate(const std::string& reason) {
  if (invalid_reason_.empty())
    invalid_reason_ = reason;
}

void Filter_SQL::clear() {
  parts_.clear();
  invalid_reason_.clear();
}

void Filter_SQL::render(Render_Context& ctx) const {
  if (!valid())
    ctx.fail(invalid_reason_);
  for (std::size_t i = 0; i < parts_.size(); ++i) {
    const Part& p = parts_[i];
    if (i > 0)
      ctx.text() += p.and_ ? " AND " : " OR ";
    ctx.text() += "(";
    if (p.is_item)
      p.item[0].render(ctx);
    else
      ctx.text() += p.text;
    ctx.text() += ")";
  }
}

void Where_SQL::render(Render_Context& ctx) const {
  if (filter_.empty()) {
    if (!filter_.valid())
      ctx.fail(filter_.invalid_reason());
    return;
  }
  ctx.text() += " WHERE ";
  filter_.render(ctx);
}

// ---------------------------------------------------------------------------
// Select_SQL

Select_SQL& Select_SQL::table(const std::string& name, const std::string& alias) {
  table_ = name;
  alias_ = alias;
  table_sub_.reset();
  return *this;
}

Select_SQL& Select_SQL::sql_table(const Select_SQL& sub, const std::string& alias) {
  table_.clear();
  alias_ = alias;
  table_sub_ = std::make_shared<const Select_SQL>(sub);
  return *this;
}

Select_SQL& Select_SQL::select(const std::string& columns) {
  columns_ = columns;
  return *this;
}

Select_SQL& Select_SQL::add_key(const std::string& key, const std::string& expression) {
  if (!is_identifier(key))
    invalidate("'" + key + "' is not a column name");
  if (!columns_.empty())
    columns_ += ", ";
  columns_ += expression.empty() ? key : expression + " " + quote_identifier(key);
  return *this;
}

Select_SQL& Select_SQL::distinct(bool on) {
  distinct_ = on;
  return *this;
}

Select_SQL& Select_SQL::join(const std::string& table, const std::string& alias,
                             const std::string& on) {
  joins_.push_back(Join{"JOIN", quote_identifier(table), nullptr, alias, on});
  return *this;
}

Select_SQL& Select_SQL::sql_join(const Select_SQL& sub, const std::string& alias,
                                 const std::string& on) {
  joins_.push_back(Join{"JOIN", std::string(), std::make_shared<const Select_SQL>(sub), alias, on});
  return *this;
}

Select_SQL& Select_SQL::sql_inner_join(const Select_SQL& sub, const std::string& alias,
                                       const std::string& on) {
  joins_.push_back(
      Join{"INNER JOIN", std::string(), std::make_shared<const Select_SQL>(sub), alias, on});
  return *this;
}

Select_SQL& Select_SQL::clear_join() {
  joins_.clear();
  return *this;
}

Select_SQL& Select_SQL::group_by(const std::string& columns) {
  group_by_ = columns;
  return *this;
}

Select_SQL& Select_SQL::order_by(const std::string& columns) {
  order_by_ = columns;
  return *this;
}

Select_SQL& Select_SQL::desc(bool on) {
  desc_ = on;
  return *this;
}

Select_SQL& Select_SQL::sort_by(const std::string& column, bool descending) {
  order_by_ = column;
  desc_ = descending;
  return *this;
}

Select_SQL& Select_SQL::limit(long long n) {
  limit_ = n;
  return *this;
}

Select_SQL& Select_SQL::offset(long long n) {
  offset_ = n;
  return *this;
}

void Select_SQL::clear() {
  *this = Select_SQL();
}

Select_SQL Select_SQL::count_statement() const {
  Select_SQL inner(*this);
  inner.limit_ = -1;
  inner.offset_ = 0;
  inner.order_by_.clear();
  inner.desc_ = false;
  if (distinct_ || !group_by_.empty()) {
    // Counting the rows of a grouped or distinct selection needs the
    // selection itself as the source.
    Select_SQL outer;
    outer.sql_table(inner, "_count");
    outer.select("COUNT(*)");
    return outer;
  }
  inner.columns_ = "COUNT(*)";
  return inner;
}

void Select_SQL::render_source(Render_Context& ctx, const std::string& table,
                               const std::shared_ptr<const Select_SQL>& sub,
                               const std::string& alias) const {
  std::string& text = ctx.text();
  if (sub) {
    text += "(";
    sub->render(ctx);
    ctx.text() += ")";
  } else {
    text += table;
  }
  if (!alias.empty())
    ctx.text() += " " + quote_identifier(alias);
}

void Select_SQL::render_limit(Render_Context& ctx) const {
  if (limit_ < 0 && offset_ <= 0)
    return;
  std::string& text = ctx.text();
  text += " LIMIT ";
  if (limit_ >= 0)
    text += std::to_string(limit_);
  else
    text += no_limit(ctx.dialect());
  if (offset_ > 0)
    text += " OFFSET " + std::to_string(offset_);
}

bool Select_SQL::render(Render_Context& ctx) const {
  render_bindings(ctx);
  if (table_.empty() && !table_sub_)
    ctx.fail("select without a table");
  ctx.text() += distinct_ ? "SELECT DISTINCT " : "SELECT ";
  ctx.text() += columns_.empty() ? "*" : columns_;
  ctx.text() += " FROM ";
  render_source(ctx, table_.empty() ? std::string() : quote_identifier(table_), table_sub_, alias_);
  for (const Join& j : joins_) {
    ctx.text() += " " + j.kind + " ";
    render_source(ctx, j.table, j.sub, j.alias);
    if (!j.on.empty())
      ctx.text() += " ON " + j.on;
  }
  where_.render(ctx);
  if (!group_by_.empty())
    ctx.text() += " GROUP BY " + group_by_;
  if (!order_by_.empty())
    ctx.text() += " ORDER BY " + order_by_ + (desc_ ? " DESC" : "");
  render_limit(ctx);
  return ctx.ok();
}

// ---------------------------------------------------------------------------
// Insert, update, delete

bool member_to_binding(const Value& member, int kind, const std::string& key, Binding_Value& out,
                       std::string& reason) {
  if (member.is_null()) {
    out = Binding_Value();
    return true;
  }
  if (!fits_signed_64(member, key, reason))
    return false;
  switch (kind) {
    case COLUMN_UUID:
      if (member.is_string() && Binding_Value::uuid(member.get<std::string>(), out))
        return true;
      reason = "'" + key + "' is not a uuid";
      return false;
    case COLUMN_STRING:
      if (member.is_string())
        break;
      reason = "'" + key + "' expects a string, got " + json_type_name(member);
      return false;
    case COLUMN_INTEGER:
      if (member.is_number_integer() || member.is_boolean())
        break;
      reason = "'" + key + "' expects an integer, got " + json_type_name(member);
      return false;
    case COLUMN_JSON:
      if (member.is_object() || member.is_array())
        break;
      reason = "'" + key + "' expects an object or array, got " + json_type_name(member);
      return false;
    default:
      break;
  }
  out = Binding_Value::from_json(member);
  return true;
}

Insert_SQL& Insert_SQL::table(const std::string& name) {
  table_ = name;
  return *this;
}

void Insert_SQL::add_column(Column column) {
  if (columns_.empty())
    columns_.reserve(16);  // a record's columns, without growing one by one
  if (!is_identifier(column.name))
    invalidate("'" + column.name + "' is not a column name");
  columns_.push_back(std::move(column));
}

Insert_SQL& Insert_SQL::value(const std::string& column, const Binding_Value& value) {
  add_column(Column{column, false, std::string(), value});
  return *this;
}

bool Insert_SQL::value_uuid(const std::string& column, const std::string& hex) {
  Binding_Value v;
  if (!uuid_value(column, hex, v))
    return false;
  value(column, v);
  return true;
}

bool Insert_SQL::value_key(const Object& record, const std::string& key, int kind) {
  Binding_Value v;
  int found = member_value(record, key, kind, v);
  if (found > 0)
    add_column(Column{key, false, std::string(), std::move(v)});
  return found >= 0;
}

Insert_SQL& Insert_SQL::values_sql(const std::string& column, const std::string& expression) {
  add_column(Column{column, true, expression, Binding_Value()});
  return *this;
}

Insert_SQL& Insert_SQL::or_expr(int code) {
  or_expr_ = code;
  return *this;
}

bool Insert_SQL::render(Render_Context& ctx) const {
  render_bindings(ctx);
  if (table_.empty() || columns_.empty())
    ctx.fail("insert without table or columns");
  std::string& text = ctx.text();
  bool mysql = ctx.dialect() == DIALECT_MYSQL;
  if (or_expr_ == 2)
    text += mysql ? "REPLACE INTO " : "INSERT OR REPLACE INTO ";
  else if (or_expr_ == 1)
    text += mysql ? "INSERT IGNORE INTO " : "INSERT OR IGNORE INTO ";
  else
    text += "INSERT INTO ";
  // Sized once: an insert is rendered for every record added.
  std::size_t size = text.size() + table_.size() + 32;
  for (const Column& c : columns_)
    size += 2 * c.name.size() + c.expression.size() + 16;
  text.reserve(size);
  append_quoted_identifier(text, table_);
  text += " (";
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    if (i > 0)
      text += ", ";
    append_quoted_identifier(text, columns_[i].name);
  }
  text += ") VALUES (";
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    if (i > 0)
      ctx.text() += ", ";
    const Column& c = columns_[i];
    ctx.text() += c.is_sql ? c.expression : ctx.add_value(c.value);
  }
  ctx.text() += ")";
  return ctx.ok();
}

Update_SQL& Update_SQL::table(const std::string& name) {
  table_ = name;
  return *this;
}

void Update_SQL::add_set(Set set) {
  if (!is_identifier(set.column))
    invalidate("'" + set.column + "' is not a column name");
  for (auto& s : sets_) {
    if (s.column == set.column) {
      s = std::move(set);
      return;
    }
  }
  sets_.push_back(std::move(set));
}

Update_SQL& Update_SQL::set(const std::string& column, const Binding_Value& value) {
  add_set(Set{column, 0, std::string(), value, nullptr});
  return *this;
}

bool Update_SQL::set_uuid(const std::string& column, const std::string& hex) {
  Binding_Value v;
  if (!uuid_value(column, hex, v))
    return false;
  set(column, v);
  return true;
}

bool Update_SQL::set_key(const Object& record, const std::string& key, int kind) {
  Binding_Value v;
  int found = member_value(record, key, kind, v);
  if (found > 0)
    set(key, v);
  return found >= 0;
}

Update_SQL& Update_SQL::set_sql(const std::string& column, const std::string& expression) {
  add_set(Set{column, 1, expression, Binding_Value(), nullptr});
  return *this;
}

Update_SQL& Update_SQL::set_select_sql(const std::string& column, const Select_SQL& select) {
  add_set(
      Set{column, 2, std::string(), Binding_Value(), std::make_shared<const Select_SQL>(select)});
  return *this;
}

bool Update_SQL::render(Render_Context& ctx) const {
  render_bindings(ctx);
  if (table_.empty() || sets_.empty())
    ctx.fail("update without table or columns");
  ctx.text() += "UPDATE " + quote_identifier(table_) + " SET ";
  for (std::size_t i = 0; i < sets_.size(); ++i) {
    const Set& s = sets_[i];
    if (i > 0)
      ctx.text() += ", ";
    ctx.text() += quote_identifier(s.column) + " = ";
    if (s.form == 0) {
      ctx.text() += ctx.add_value(s.value);
    } else if (s.form == 1) {
      ctx.text() += s.expression;
    } else {
      ctx.text() += "(";
      s.select->render(ctx);
      ctx.text() += ")";
    }
  }
  where_.render(ctx);
  return ctx.ok();
}

Delete_SQL& Delete_SQL::table(const std::string& name) {
  table_ = name;
  return *this;
}

bool Delete_SQL::render(Render_Context& ctx) const {
  render_bindings(ctx);
  if (table_.empty())
    ctx.fail("delete without table");
  ctx.text() += "DELETE FROM " + quote_identifier(table_);
  where_.render(ctx);
  return ctx.ok();
}

}  // namespace sql
}  // namespace database
