#include "storaged/storage_catalog/storage_catalog_manager_database_impl.h"

#include <gtest/gtest.h>

#include <set>

#include "platform/sql/cursor.h"
#include "platform/sql/legacy_manager.h"
#include "platform/sql/metadata.h"
#include "tests/support/catalog_fixture.h"
#include "tests/support/log_capture.h"
#include "tests/support/temp_dir.h"

using namespace database;
using namespace database::sql;

namespace {

const std::string kPoolA = "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa";
const std::string kPoolB = "bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb";

bool is_mysql(const Connection_Ptr& conn) {
  return conn->db()->type() == Database::MYSQL;
}

// The column names of `table`, from the engine's own catalog.
std::set<std::string> columns(const Connection_Ptr& conn, const std::string& table) {
  SQL q(is_mysql(conn) ? "SELECT COLUMN_NAME name FROM information_schema.COLUMNS "
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

void add_pool_row(const Connection_Ptr& conn, const std::string& uuid) {
  ASSERT_TRUE(conn->execute("INSERT INTO storage_catalog_storage_pool (uuid, name) VALUES (x'" +
                            uuid + "', 'p');"));
}

long long count_rows(const Connection_Ptr& conn, const std::string& table) {
  SQL q("SELECT COUNT(*) FROM `" + table + "`");
  Legacy_Cursor c(conn, q, Legacy_Cursor::SCALAR);
  long long n = -1;
  if (c.fetch())
    c >> n;
  return n;
}

// Opening on each engine: the shared catalog on MariaDB and a local file.
class Catalog_Open : public Catalog_Engine_Test {
 protected:
  // Replaces the job tables and the catalog tables of pools A and B with
  // the shapes of an older release, and registers both pools.
  void make_old_shaped(const Connection_Ptr& conn);
};

void Catalog_Open::make_old_shaped(const Connection_Ptr& conn) {
  bool mysql = is_mysql();
  std::string key =
      mysql ? "id bigint NOT NULL AUTO_INCREMENT PRIMARY KEY" : "id INTEGER PRIMARY KEY";
  std::string engine = mysql ? " ENGINE=InnoDB;" : ";";
  ASSERT_TRUE(conn->execute(
      "DROP TABLE storage_catalog_merge_backup_job; DROP TABLE storage_catalog_pool_replicate_job;"
      "CREATE TABLE storage_catalog_merge_backup_job (" +
      key +
      ", type varchar(64), "
      "pool_uuid binary(16), incarnation binary(16), from_uuid binary(16), to_uuid binary(16), "
      "state varchar(32), progress int, creation_time datetime, start_time datetime, "
      "end_time datetime, extended_attrs text)" +
      engine + "CREATE TABLE storage_catalog_pool_replicate_job (" + key +
      ", type varchar(32), "
      "catalog_uuid binary(16), source_pool_uuid binary(16), target_pool_uuid binary(16), "
      "size bigint, state varchar(32), progress int, creation_time datetime, "
      "start_time datetime, finish_time datetime, retry int, extended_attrs text)" +
      engine +
      "INSERT INTO storage_catalog_merge_backup_job (type, state) VALUES ('file', 'pending');"))
      << log_.dump();
  // Pool A's table predates every added column; pool B's lacks only host_uuid.
  std::string common =
      "resource_uuid binary(16), incarnation binary(16), pool_uuid binary(16), "
      "agent varchar(256), backup_type varchar(64), backup_time datetime, "
      "files text, size bigint, name varchar(1024), state int, ";
  ASSERT_TRUE(conn->execute(
      "CREATE TABLE `" + kPoolA + "` (" + key + ", uuid binary(16), " + common +
      "extended_attrs text)" + engine + "CREATE TABLE `" + kPoolB + "` (" + key +
      ", uuid binary(16), uid binary(16), " + common +
      "minor_resource_id varchar(256), minor_resource_name varchar(256), extended_attrs text)" +
      engine))
      << log_.dump();
  add_pool_row(conn, kPoolA);
  add_pool_row(conn, kPoolB);
}

TEST_P(Catalog_Open, CreatesTheSharedTables) {
  EXPECT_EQ(impl_->is_local(), !is_mysql());
  Connection_Ptr conn = impl_->get_connection();
  ASSERT_TRUE(conn);
  EXPECT_EQ(conn->db()->type() == Database::MYSQL, is_mysql());
  for (const char* t :
       {"storage_catalog_storage_pool", "storage_catalog_device",
        "storage_catalog_storage_pool_replicate", "storage_catalog_pool_replicate_job",
        "storage_catalog_merge_backup_job", "storage_catalog_pool_usage", "catalog"})
    EXPECT_TRUE(conn->table_exists(t)) << t;
  EXPECT_EQ(columns(conn, "storage_catalog_merge_backup_job").count("synthesizer_version"), 1u);
}

TEST_P(Catalog_Open, CreatesMissingCatalogTablesOfKnownPools) {
  add_pool_row(impl_->get_connection(), kPoolA);
  auto impl = make_impl();
  ASSERT_TRUE(impl->open()) << log_.dump();
  EXPECT_TRUE(impl->is_known_table(kPoolA));
  EXPECT_FALSE(impl->is_known_table(kPoolB));
  std::set<std::string> cols = columns(impl->get_connection(), kPoolA);
  for (const char* c : {"id", "uuid", "uid", "host_uuid", "resource_uuid", "incarnation",
                        "pool_uuid", "agent", "backup_type", "backup_time", "files", "size", "name",
                        "state", "minor_resource_id", "minor_resource_name", "extended_attrs"})
    EXPECT_EQ(cols.count(c), 1u) << c;
}

TEST_P(Catalog_Open, ReopeningKeepsExistingTablesAndRows) {
  Connection_Ptr conn = impl_->get_connection();
  add_pool_row(conn, kPoolA);
  ASSERT_TRUE(impl_->open());
  ASSERT_TRUE(conn->execute("INSERT INTO `" + kPoolA + "` (uuid, name) VALUES (x'" + kPoolB +
                            "', 'set');"));
  conn = Connection_Ptr();
  impl_.reset();
  auto impl = make_impl();
  ASSERT_TRUE(impl->open()) << log_.dump();
  EXPECT_EQ(count_rows(impl->get_connection(), kPoolA), 1);
}

TEST_P(Catalog_Open, UpgradesAnOldShapedDatabase) {
  make_old_shaped(impl_->get_connection());
  auto impl = make_impl();
  ASSERT_TRUE(impl->open()) << log_.dump();
  Connection_Ptr conn = impl->get_connection();
  std::set<std::string> merge = columns(conn, "storage_catalog_merge_backup_job");
  EXPECT_EQ(merge.count("minor_resource_id"), 1u);
  EXPECT_EQ(merge.count("synthesizer_version"), 1u);
  // The replicate job table already had `size`: only `storage_size` is added.
  EXPECT_EQ(columns(conn, "storage_catalog_pool_replicate_job").count("storage_size"), 1u);
  for (const std::string& pool : {kPoolA, kPoolB}) {
    std::set<std::string> cols = columns(conn, pool);
    for (const char* c : {"minor_resource_id", "minor_resource_name", "uid", "host_uuid"})
      EXPECT_EQ(cols.count(c), 1u) << pool << " " << c;
  }
  SQL q("SELECT synthesizer_version FROM storage_catalog_merge_backup_job");
  Value row;
  Legacy_Cursor c(conn, q, Legacy_Cursor::ROW);
  ASSERT_TRUE(c.fetch(row));
  EXPECT_EQ(row["synthesizer_version"], "");  // existing rows take the default
  // A second open finds nothing left to add.
  log_.clear();
  ASSERT_TRUE(make_impl()->open()) << log_.dump();
  EXPECT_FALSE(log_.contains("Failed"));
}

TEST_P(Catalog_Open, TemporaryTablesBelongToTheirConnection) {
  Connection_Ptr conn = impl_->get_connection();
  ASSERT_TRUE(Storage_Catalog_Manager_Database_Impl::create_exclude_incarnation(conn));
  ASSERT_TRUE(Storage_Catalog_Manager_Database_Impl::create_incarnation_info(conn));
  ASSERT_TRUE(Storage_Catalog_Manager_Database_Impl::create_exclude_incarnation(conn));
  EXPECT_TRUE(conn->execute(std::string("insert into exclude_incarnation values (x'" + kPoolA +
                                        "'); delete from incarnation_info;")));
  EXPECT_EQ(count_rows(conn, "exclude_incarnation"), 1);
  Connection_Ptr other = open_connection(*conn->db());
  ASSERT_TRUE(other);
  EXPECT_FALSE(other->execute(std::string("select * from exclude_incarnation;")));
}

SCAT_INSTANTIATE_ENGINES(Catalog_Open);

// What only a local pool's SQLite file can meet.
class Database_Open : public ::testing::Test {
 protected:
  std::string file() const { return dir_.file("catalog.db"); }

  Temp_Dir dir_;
  Log_Capture log_;
};

TEST_F(Database_Open, ANonDatabaseFileFailsAndIsLeftAsItWas) {
  std::string garbage = "this is not an SQLite database, just text that must survive\n";
  write_file(file(), garbage);
  Storage_Catalog_Manager_Database_Impl impl(file());
  EXPECT_FALSE(impl.open());
  EXPECT_FALSE(impl.get_connection());
  EXPECT_TRUE(log_.contains("Failed to open SQLite file"));
  EXPECT_EQ(read_file(file()), garbage);
}

TEST_F(Database_Open, APoolRowWithAMalformedUuidFailsTheOpen) {
  {
    Storage_Catalog_Manager_Database_Impl impl(file());
    ASSERT_TRUE(impl.open());
    ASSERT_TRUE(impl.get_connection()->execute(std::string(
        "INSERT INTO storage_catalog_storage_pool (uuid, name) VALUES (x'0102', 'short');")));
  }
  Storage_Catalog_Manager_Database_Impl impl(file());
  EXPECT_FALSE(impl.open());
  EXPECT_TRUE(log_.has("Failed to init db catalog schema for 0102."));
}

TEST_F(Database_Open, OnlyLowerCaseHexUuidsNameCatalogTables) {
  EXPECT_TRUE(Storage_Catalog_Manager_Database_Impl::is_catalog_table_name(kPoolA));
  EXPECT_FALSE(Storage_Catalog_Manager_Database_Impl::is_catalog_table_name(
      "AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA"));
  EXPECT_FALSE(Storage_Catalog_Manager_Database_Impl::is_catalog_table_name(
      "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa`"));
  EXPECT_FALSE(Storage_Catalog_Manager_Database_Impl::is_catalog_table_name(""));
}

TEST_F(Database_Open, AnEmptyTableNameIsAViolatedPrecondition) {
  Storage_Catalog_Manager_Database_Impl impl(file());
  EXPECT_FALSE(impl.is_known_table(""));
  EXPECT_TRUE(log_.has_prefix(LM_EMERGENCY, "Unexpected error in "));
  EXPECT_TRUE(log_.contains(", name is empty:\n"));
}

TEST_F(Database_Open, TheSharedCatalogUsesTheConfiguredDatabase) {
  Database db;
  db.name("storage_catalog").path(dir_.file("shared/storage_catalog.db"));
  Manager::instance()->configure("storage_catalog", db);
  {
    Storage_Catalog_Manager_Database_Impl impl("");
    EXPECT_FALSE(impl.is_local());
    ASSERT_TRUE(impl.open()) << log_.dump();
    EXPECT_EQ(impl.get_connection()->db()->path(), dir_.file("shared/storage_catalog.db"));
    EXPECT_TRUE(impl.get_connection()->table_exists("storage_catalog_storage_pool"));
  }
  Legacy_Manager::instance()->close("storage_catalog");
  Manager::instance()->unconfigure("storage_catalog");
}

}  // namespace
