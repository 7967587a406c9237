// Statement building: caller text only ever becomes a bound value, and the
// dialects' differences. Rendering the engines accept is checked by running
// the statements (connection_test and the back-end tests).
#include "platform/sql/connection.h"
#include "platform/sql/filter_parser.h"
#include "platform/sql/sql.h"

#include <gtest/gtest.h>

using namespace database::sql;

namespace {

const std::string kUuid = "0123456789abcdef0123456789abcdef";

std::string render(const SQL& s, int dialect = DIALECT_SQLITE, Bindings* bindings = nullptr) {
  Render_Context ctx(dialect);
  if (!s.render(ctx))
    return "INVALID: " + ctx.error();
  if (bindings != nullptr)
    *bindings = ctx.bindings();
  return ctx.text();
}

bool invalid(const SQL& s) {
  return render(s).rfind("INVALID", 0) == 0;
}

TEST(SqlBuilder, CallerValuesAreBoundAndOddKeysOrUuidsInvalidateTheStatement) {
  Select_SQL s;
  s.table("t");
  s.where().and_filter()->add_kv_item("name", Value("x' OR '1'='1"));
  Bindings b;
  EXPECT_EQ(render(s, DIALECT_SQLITE, &b), "SELECT * FROM `t` WHERE (`name` = :_p1)");
  ASSERT_EQ(b.size(), 1u);
  EXPECT_EQ(b[0].second.text(), "x' OR '1'='1");

  Select_SQL key;
  key.table("t");
  EXPECT_FALSE(key.where().and_filter()->add_kv_item("name = 1 OR 1", Value(1)));
  EXPECT_TRUE(invalid(key));
  Insert_SQL column;
  column.table("t").value("a;b", Binding_Value(1));
  EXPECT_FALSE(column.valid());
  SQL uuid("SELECT * FROM t WHERE uuid=:uuid");
  EXPECT_FALSE(uuid.bind_uuid(":uuid", "not-a-uuid"));
  EXPECT_TRUE(invalid(uuid));
  Select_SQL list;
  list.table("t");
  EXPECT_FALSE(list.where().and_filter()->add_in_uuid_item("uuid", {kUuid, "zz"}));
  EXPECT_TRUE(invalid(list));
  Select_SQL empty;
  empty.table("t");
  empty.where().and_filter()->add_in_uuid_item("uuid", {});
  EXPECT_EQ(render(empty), "SELECT * FROM `t` WHERE (1 = 0)");
}

TEST(SqlBuilder, DialectsKeepTheMeaningOfSqliteOnlyForms) {
  Select_SQL s;
  s.table("t").offset(5);
  EXPECT_EQ(render(s, DIALECT_SQLITE), "SELECT * FROM `t` LIMIT -1 OFFSET 5");
  EXPECT_EQ(render(s, DIALECT_MYSQL), "SELECT * FROM `t` LIMIT 18446744073709551615 OFFSET 5");
  Insert_SQL i;
  i.table("t").value("a", Binding_Value(1)).or_expr(2);
  EXPECT_EQ(render(i), "INSERT OR REPLACE INTO `t` (`a`) VALUES (:_p1)");
  EXPECT_EQ(render(i, DIALECT_MYSQL), "REPLACE INTO `t` (`a`) VALUES (:_p1)");
}

TEST(SqlBuilder, PositionalRewriteSkipsLiteralsAndReusesNames) {
  Bindings b{{"uuid", Binding_Value(1)}, {"t", Binding_Value(2)}};
  std::string out, error;
  std::vector<Binding_Value> values;
  ASSERT_TRUE(
      to_positional("SELECT ':uuid', \"a:b\", `c:d` FROM x WHERE a=:uuid AND b=:t OR c=:uuid", b,
                    out, values, error));
  EXPECT_EQ(out, "SELECT ':uuid', \"a:b\", `c:d` FROM x WHERE a=? AND b=? OR c=?");
  ASSERT_EQ(values.size(), 3u);
  EXPECT_EQ(values[2].integer(), 1);
  EXPECT_FALSE(to_positional("SELECT :missing", b, out, values, error));
  EXPECT_NE(error.find(":missing"), std::string::npos);
  ASSERT_TRUE(to_positional("SELECT 'it''s :uuid' , x::int", b, out, values, error));
  EXPECT_TRUE(values.empty());
}

const Filter_Key kKeys[] = {{"backup_type", KEY_STRING, KEY_FLAG_LIST | KEY_FLAG_NULL},
                            {"id", KEY_INTEGER, 0},
                            {"uuid", KEY_UUID, 0},
                            {nullptr, 0, 0}};

TEST(FilterParser, RefusesMistypedValuesUnknownOperatorsAndOddKeys) {
  for (const Object& bad : {Object{{"id", "3"}}, Object{{"uuid", "xyz"}},
                            Object{{"id", Object{{"zz", 1}}}}, Object{{"id", Array{1, "a"}}}}) {
    Select_SQL s;
    s.table("t");
    SQL_Filter_Parser parser(s.where().and_filter(), kKeys);
    EXPECT_FALSE(parser.parse(bad, 1)) << Value(bad).dump();
    EXPECT_FALSE(parser.error().empty());
  }
  for (const Object& bad : {Object{{"1=1 --", 1}}, Object{{"name", 1}}, Object{{"id", "1 OR 1=1"}},
                            Object{{"id", Array{1, "1"}}}, Object{{"uuid", 7}}}) {
    Select_SQL s;
    s.table("t");
    std::string error;
    EXPECT_FALSE(generate_filter_from_obj(bad, *s.where().and_filter(), kKeys, &error))
        << Value(bad).dump();
    EXPECT_FALSE(error.empty());
  }
  Select_SQL s;
  s.table("t");
  std::string error;
  ASSERT_TRUE(generate_filter_from_obj(Object{{"backup_type", nullptr}, {"id", Object{{"ge", 2}}}},
                                       *s.where().and_filter(), kKeys, &error))
      << error;
  EXPECT_EQ(render(s), "SELECT * FROM `t` WHERE (`backup_type` IS NULL) AND (`id` >= :_p1)");
}

TEST(FilterParser, AFailedParseLeavesAFilterThatWillNotRender) {
  // The member that parses comes first, the one that fails after it.
  const Object bad[] = {Object{{"backup_type", "full"}, {"id", "3"}},
                        Object{{"backup_type", "full"}, {"id", Array{1, "a"}}}};
  for (const Object& filter : bad) {
    Select_SQL s;
    s.table("t");
    SQL_Filter_Parser parser(s.where().and_filter(), kKeys);
    EXPECT_FALSE(parser.parse(filter, 1));
    EXPECT_TRUE(invalid(s)) << render(s);
    Select_SQL g;
    g.table("t");
    EXPECT_FALSE(generate_filter_from_obj(filter, *g.where().and_filter(), kKeys));
    EXPECT_TRUE(invalid(g)) << render(g);
  }
}

TEST(FilterParser, IntegersBeyondTheSignedRangeAreRefused) {
  const Value beyond = Value::parse("18446744073709551615");
  for (const Value& value : {beyond, Value(Array{1, beyond}), Value(Object{{"lt", beyond}})}) {
    Select_SQL s;
    s.table("t");
    SQL_Filter_Parser parser(s.where().and_filter(), kKeys);
    EXPECT_FALSE(parser.parse(Object{{"id", value}}, 1)) << value.dump();
    EXPECT_NE(parser.error().find("beyond the 64-bit signed range"), std::string::npos)
        << parser.error();
    EXPECT_TRUE(invalid(s));
  }
  Select_SQL direct;
  direct.table("t");
  EXPECT_FALSE(direct.where().and_filter()->add_kv_item("id", beyond));
  EXPECT_TRUE(invalid(direct));
  Insert_SQL insert;
  insert.table("t");
  EXPECT_FALSE(insert.value_key(Object{{"id", beyond}}, "id", COLUMN_INTEGER));
  EXPECT_FALSE(insert.value_key(Object{{"id", beyond}}, "id", COLUMN_ANY));
  EXPECT_FALSE(insert.valid());
  const Value largest = Value::parse("9223372036854775807");
  Insert_SQL fits;
  fits.table("t");
  EXPECT_TRUE(fits.value_key(Object{{"id", largest}}, "id", COLUMN_INTEGER));
  Bindings b;
  render(fits, DIALECT_SQLITE, &b);
  ASSERT_EQ(b.size(), 1u);
  EXPECT_EQ(b[0].second.integer(), 9223372036854775807LL);
}

}  // namespace
