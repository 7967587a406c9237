#include "storaged/storage_catalog/storage_catalog_manager_database_impl.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <set>

#include "platform/sql/cursor.h"
#include "tests/support/catalog_fixture.h"
#include "tests/support/sql_rows.h"

using namespace database;
using namespace database::sql;

namespace {

const std::string kPoolA = "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa";
const std::string kPoolB = "bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb";
const std::string kPoolC = "cccccccccccccccccccccccccccccccc";

class Catalog_Open : public Catalog_Engine_Test {
 protected:
  // The column names of `table`, from the engine's own catalog.
  std::set<std::string> columns(const Connection_Ptr& conn, const std::string& table) {
    SQL q(is_mysql() ? "SELECT COLUMN_NAME name FROM information_schema.COLUMNS "
                       "WHERE TABLE_SCHEMA = DATABASE() AND TABLE_NAME = :t"
                     : "SELECT name FROM pragma_table_info(:t)");
    q.bind("t", table);
    Value rows;
    Legacy_Cursor c(conn, q, Legacy_Cursor::ROWS_RAW);
    EXPECT_TRUE(c.fetch(rows));
    std::set<std::string> out;
    for (const Value& r : rows)
      out.insert(r["name"].get<std::string>());
    return out;
  }

  // Replaces the job tables with the shapes of an older release, gives
  // pools A and B catalog tables of older releases, and registers pools A,
  // B and C (C without a table).
  void make_old_shaped(const Connection_Ptr& conn) {
    const std::string id = is_mysql() ? "(id bigint NOT NULL AUTO_INCREMENT PRIMARY KEY, "
                                      : "(id INTEGER PRIMARY KEY, ";
    const std::string end = is_mysql() ? ") ENGINE=InnoDB" : ")";
    const std::string set_columns =
        "uuid binary(16), resource_uuid binary(16), incarnation binary(16), pool_uuid binary(16), "
        "agent varchar(256), backup_type varchar(64), backup_time datetime, files text, "
        "size bigint, name varchar(1024), state int, extended_attrs text";
    const std::string statements[] = {
        "DROP TABLE storage_catalog_merge_backup_job",
        "DROP TABLE storage_catalog_pool_replicate_job",
        "CREATE TABLE storage_catalog_merge_backup_job " + id +
            "type varchar(64), pool_uuid binary(16), incarnation binary(16), "
            "from_uuid binary(16), to_uuid binary(16), state varchar(32), progress int, "
            "creation_time datetime, start_time datetime, end_time datetime, extended_attrs text" +
            end,
        "CREATE TABLE storage_catalog_pool_replicate_job " + id +
            "type varchar(32), catalog_uuid binary(16), source_pool_uuid binary(16), "
            "target_pool_uuid binary(16), size bigint, state varchar(32), progress int, "
            "creation_time datetime, start_time datetime, finish_time datetime, retry int, "
            "extended_attrs text" +
            end,
        "INSERT INTO storage_catalog_merge_backup_job (type, state) VALUES ('file', 'pending')",
        // Pool A's table predates every added column; pool B's lacks only host_uuid.
        "CREATE TABLE `" + kPoolA + "` " + id + set_columns + end,
        "CREATE TABLE `" + kPoolB + "` " + id + set_columns +
            ", uid binary(16), minor_resource_id varchar(256), minor_resource_name varchar(256)" +
            end,
        "INSERT INTO `" + kPoolA + "` (uuid, name) VALUES (x'" + kPoolB + "', 'set')",
        "INSERT INTO storage_catalog_storage_pool (uuid, name) VALUES (x'" + kPoolA +
            "', 'a'), (x'" + kPoolB + "', 'b'), (x'" + kPoolC + "', 'c')"};
    for (const std::string& statement : statements)
      ASSERT_TRUE(conn->execute(statement + ";")) << statement << log_.dump();
  }

  // How the engine would run a backup set's replicate job lookup: the
  // names of the indexes it picks, joined.
  std::string replicate_job_lookup_plan(const Connection_Ptr& conn) {
    const std::string lookup =
        "SELECT j.id, j.target_pool_uuid FROM `storage_catalog_pool_replicate_job` j, "
        "`storage_catalog_storage_pool_replicate` r WHERE j.source_pool_uuid = r.source_uuid AND "
        "j.target_pool_uuid = r.target_uuid AND j.catalog_uuid = x'" +
        kPoolC + "' AND j.source_pool_uuid = x'" + kPoolA + "'";
    std::string plan;
    for (const Value& r :
         select_rows(conn, (is_mysql() ? "EXPLAIN " : "EXPLAIN QUERY PLAN ") + lookup)) {
      const Value& v = r[is_mysql() ? "key" : "detail"];
      plan += (v.is_string() ? v.get<std::string>() : std::string("-")) + "; ";
    }
    return plan;
  }
};

TEST_P(Catalog_Open, UpgradesAnOldShapedDatabase) {
  Connection_Ptr conn = impl_->get_connection();
  for (const char* t :
       {"storage_catalog_storage_pool", "storage_catalog_device",
        "storage_catalog_storage_pool_replicate", "storage_catalog_pool_replicate_job",
        "storage_catalog_merge_backup_job", "storage_catalog_pool_usage", "catalog"})
    EXPECT_TRUE(conn->table_exists(t)) << t;
  make_old_shaped(conn);

  auto impl = make_impl();
  ASSERT_TRUE(impl->open()) << log_.dump();
  conn = impl->get_connection();
  std::set<std::string> merge = columns(conn, "storage_catalog_merge_backup_job");
  EXPECT_EQ(merge.count("minor_resource_id") + merge.count("synthesizer_version"), 2u);
  EXPECT_EQ(columns(conn, "storage_catalog_pool_replicate_job").count("storage_size"), 1u);
  // A known pool without a table gets one.
  EXPECT_TRUE(impl->is_known_table(kPoolC));
  for (const std::string& pool : {kPoolA, kPoolB, kPoolC}) {
    std::set<std::string> cols = columns(conn, pool);
    for (const char* c : {"minor_resource_id", "minor_resource_name", "uid", "host_uuid"})
      EXPECT_EQ(cols.count(c), 1u) << pool << " " << c;
  }
  Value row;
  SQL version("SELECT synthesizer_version FROM storage_catalog_merge_backup_job");
  ASSERT_TRUE(Legacy_Cursor(conn, version, Legacy_Cursor::ROW).fetch(row));
  EXPECT_EQ(row["synthesizer_version"], "");  // existing rows take the default

  // Many jobs of one relation, each set's job found through the index the
  // upgrade added rather than by walking the relation's jobs.
  ASSERT_TRUE(
      conn->execute("INSERT INTO storage_catalog_storage_pool_replicate (uuid, "
                    "source_uuid, target_uuid) VALUES (x'" +
                    kPoolC + "', x'" + kPoolA + "', x'" + kPoolB + "');"));
  for (int i = 0; i < 200; ++i) {
    char uuid[33];
    std::snprintf(uuid, sizeof uuid, "%032x", i);
    ASSERT_TRUE(
        conn->execute(std::string("INSERT INTO storage_catalog_pool_replicate_job (catalog_uuid, "
                                  "source_pool_uuid, target_pool_uuid) VALUES (x'") +
                      uuid + "', x'" + kPoolA + "', x'" + kPoolB + "');"));
  }
  EXPECT_NE(replicate_job_lookup_plan(conn).find("catalog_pools"), std::string::npos)
      << replicate_job_lookup_plan(conn);

  // A second open finds nothing left to add and keeps the rows.
  log_.clear();
  ASSERT_TRUE(make_impl()->open()) << log_.dump();
  EXPECT_FALSE(log_.contains("Failed"));
  EXPECT_EQ(select_scalar(conn, "SELECT COUNT(*) FROM `" + kPoolA + "`"), 1);
}

TEST_P(Catalog_Open, APoolRowWithAMalformedUuidFailsTheOpen) {
  if (is_mysql())
    GTEST_SKIP() << "binary(16) pads a short uuid to a well-formed one";
  ASSERT_TRUE(impl_->get_connection()->execute(std::string(
      "INSERT INTO storage_catalog_storage_pool (uuid, name) VALUES (x'0102', 'short');")));
  EXPECT_FALSE(make_impl()->open());
  EXPECT_TRUE(log_.has("Failed to init db catalog schema for 0102."));
}

SCAT_INSTANTIATE_ENGINES(Catalog_Open);

}  // namespace
