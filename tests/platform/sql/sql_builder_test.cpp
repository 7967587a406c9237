#include "platform/sql/filter_parser.h"
#include "platform/sql/sql.h"
#include "platform/sql/connection.h"

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

TEST(SqlBuilder, SelectRendersClausesInOrder) {
  Select_SQL s;
  s.table("t", "c").select("c.id, c.name").join("other", "o", "o.id = c.id");
  s.where().and_filter()->add_kv_item("c.name", Value("x"));
  s.group_by("c.id").order_by("c.id").desc().limit(10).offset(20);
  EXPECT_EQ(render(s),
            "SELECT c.id, c.name FROM `t` `c` JOIN `other` `o` ON o.id = c.id WHERE "
            "(`c`.`name` = :_p1) GROUP BY c.id ORDER BY c.id DESC LIMIT 10 OFFSET 20");
}

TEST(SqlBuilder, OffsetWithoutLimitFollowsTheDialect) {
  Select_SQL s;
  s.table("t").offset(5);
  EXPECT_EQ(render(s, DIALECT_SQLITE), "SELECT * FROM `t` LIMIT -1 OFFSET 5");
  EXPECT_EQ(render(s, DIALECT_MYSQL), "SELECT * FROM `t` LIMIT 18446744073709551615 OFFSET 5");
  s.offset(0);
  EXPECT_EQ(render(s), "SELECT * FROM `t`");
}

TEST(SqlBuilder, ValuesAreBoundNeverSpliced) {
  Select_SQL s;
  s.table("t");
  s.where().and_filter()->add_kv_item("name", Value("x' OR '1'='1"));
  Bindings b;
  std::string text = render(s, DIALECT_SQLITE, &b);
  EXPECT_EQ(text.find("OR '1'"), std::string::npos);
  ASSERT_EQ(b.size(), 1u);
  EXPECT_EQ(b[0].second.text(), "x' OR '1'='1");
}

TEST(SqlBuilder, KeysThatAreNotColumnNamesInvalidateTheStatement) {
  Select_SQL s;
  s.table("t");
  EXPECT_FALSE(s.where().and_filter()->add_kv_item("name = 1 OR 1", Value(1)));
  EXPECT_EQ(render(s).rfind("INVALID", 0), 0u);
  Insert_SQL i;
  i.table("t").value("a;b", Binding_Value(1));
  EXPECT_FALSE(i.valid());
}

TEST(SqlBuilder, MalformedUuidsInvalidateTheStatement) {
  SQL s("SELECT * FROM t WHERE uuid=:uuid");
  EXPECT_FALSE(s.bind_uuid(":uuid", "not-a-uuid"));
  EXPECT_EQ(render(s).rfind("INVALID", 0), 0u);
  Select_SQL t;
  t.table("t");
  EXPECT_FALSE(t.where().and_filter()->add_in_uuid_item("uuid", {kUuid, "zz"}));
  EXPECT_EQ(render(t).rfind("INVALID", 0), 0u);
}

TEST(SqlBuilder, UuidListsBindSixteenBytesEach) {
  Select_SQL s;
  s.table("t");
  s.where().and_filter()->add_in_uuid_item("uuid", {kUuid, kUuid});
  Bindings b;
  EXPECT_EQ(render(s, DIALECT_SQLITE, &b), "SELECT * FROM `t` WHERE (`uuid` IN (:_p1, :_p2))");
  ASSERT_EQ(b.size(), 2u);
  EXPECT_EQ(b[0].second.kind(), Binding_Value::BLOB);
  EXPECT_EQ(b[0].second.text().size(), 16u);
  Select_SQL empty;
  empty.table("t");
  empty.where().and_filter()->add_in_uuid_item("uuid", {});
  EXPECT_EQ(render(empty), "SELECT * FROM `t` WHERE (1 = 0)");
}

TEST(SqlBuilder, FindKvItemReturnsTheBoundValue) {
  Select_SQL s;
  s.table("storage_catalog_device");
  s.where().and_filter()->add_key_uuid_eq_item("pool_uuid", kUuid);
  const Item_SQL* item = s.where().and_filter()->find_kv_item("pool_uuid");
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(item->value(), kUuid);
  EXPECT_EQ(s.where().and_filter()->find_kv_item("uuid"), nullptr);
}

TEST(SqlBuilder, CountStatementDropsPagingAndWrapsGroups) {
  Select_SQL s;
  s.table("t").order_by("id").limit(5).offset(5);
  EXPECT_EQ(render(s.count_statement()), "SELECT COUNT(*) FROM `t`");
  s.group_by("incarnation");
  EXPECT_EQ(render(s.count_statement()),
            "SELECT COUNT(*) FROM (SELECT * FROM `t` GROUP BY incarnation) `_count`");
}

TEST(SqlBuilder, InsertUpdateDeleteRender) {
  Insert_SQL i;
  i.table("t").value("a", Binding_Value(1)).values_sql("b", "NOW()").or_expr(2);
  EXPECT_EQ(render(i), "INSERT OR REPLACE INTO `t` (`a`, `b`) VALUES (:_p1, NOW())");
  EXPECT_EQ(render(i, DIALECT_MYSQL), "REPLACE INTO `t` (`a`, `b`) VALUES (:_p1, NOW())");
  Update_SQL u;
  Select_SQL sub;
  sub.table("t").select("backup_type").where().and_filter()->add_sql("uuid=:incarnation");
  u.table("t").set("state", Binding_Value(3)).set_select_sql("backup_type", sub);
  u.where().and_filter()->add_sql("uuid=:uuid");
  EXPECT_EQ(render(u),
            "UPDATE `t` SET `state` = :_p1, `backup_type` = (SELECT backup_type FROM `t` WHERE "
            "(uuid=:incarnation)) WHERE (uuid=:uuid)");
  Delete_SQL d;
  d.table("t");
  EXPECT_EQ(render(d), "DELETE FROM `t`");
}

TEST(SqlBuilder, ValueKeyChecksMemberTypes) {
  Object record{{"size", "big"}, {"uuid", kUuid}, {"files", Array{"a"}}};
  Insert_SQL i;
  i.table("t");
  EXPECT_TRUE(i.value_key(record, "uuid", COLUMN_UUID));
  EXPECT_TRUE(i.value_key(record, "files", COLUMN_JSON));
  EXPECT_TRUE(i.value_key(record, "absent", COLUMN_INTEGER));
  EXPECT_FALSE(i.value_key(record, "size", COLUMN_INTEGER));
  EXPECT_NE(i.invalid_reason().find("'size'"), std::string::npos);
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

const Filter_Key kKeys[] = {{"backup_type", KEY_STRING, KEY_FLAG_LIST},
                            {"id", KEY_INTEGER, 0},
                            {"uuid", KEY_UUID, 0},
                            {nullptr, 0, 0}};

TEST(FilterParser, TurnsMembersIntoBoundConditions) {
  Select_SQL s;
  s.table("t");
  SQL_Filter_Parser parser(s.where().and_filter(), kKeys);
  Object filter{{"backup_type", "full,incr"},
                {"id", Object{{"ge", 3}, {"lt", 9}}},
                {"uuid", kUuid},
                {"states", "online"}};
  ASSERT_TRUE(parser.parse(filter, 1)) << parser.error();
  EXPECT_EQ(render(s),
            "SELECT * FROM `t` WHERE (`backup_type` IN (:_p1, :_p2)) AND (`id` >= :_p3) AND "
            "(`id` < :_p4) AND (`uuid` = :_p5)");
}

TEST(FilterParser, RefusesMistypedValuesAndUnknownOperators) {
  for (const Object& bad : {Object{{"id", "3"}}, Object{{"uuid", "xyz"}},
                            Object{{"id", Object{{"zz", 1}}}}, Object{{"id", Array{1, "a"}}}}) {
    Select_SQL s;
    s.table("t");
    SQL_Filter_Parser parser(s.where().and_filter(), kKeys);
    EXPECT_FALSE(parser.parse(bad, 1)) << Value(bad).dump();
    EXPECT_FALSE(parser.error().empty());
  }
}

TEST(FilterParser, GenericFilterBindsUuidColumnsAndRefusesOddKeys) {
  Select_SQL s;
  s.table("t");
  ASSERT_TRUE(generate_filter_from_obj(Object{{"pool_uuid", kUuid}, {"state", "normal"}},
                                       *s.where().and_filter()));
  Bindings b;
  render(s, DIALECT_SQLITE, &b);
  ASSERT_EQ(b.size(), 2u);
  EXPECT_EQ(b[0].second.kind(), Binding_Value::BLOB);
  Select_SQL t;
  std::string error;
  EXPECT_FALSE(generate_filter_from_obj(Object{{"1=1 --", 1}}, *t.where().and_filter(), &error));
  EXPECT_FALSE(error.empty());
}

}  // namespace
