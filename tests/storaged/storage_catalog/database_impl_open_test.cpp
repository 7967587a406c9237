#include "storaged/storage_catalog/storage_catalog_manager_database_impl.h"

#include <gtest/gtest.h>

#include <set>

#include "platform/sql/cursor.h"
#include "platform/sql/legacy_manager.h"
#include "platform/sql/metadata.h"
#include "tests/support/log_capture.h"
#include "tests/support/temp_dir.h"

using namespace database;
using namespace database::sql;

namespace {

const std::string kPoolA = "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa";
const std::string kPoolB = "bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb";

class Database_Open : public ::testing::Test {
 protected:
  std::string file() const { return dir_.file("catalog.db"); }

  // A bare connection to the file, without the catalog's tables.
  Connection_Ptr raw() {
    Database db;
    db.name("raw").path(file());
    return open_connection(db);
  }

  std::set<std::string> columns(const Connection_Ptr& conn, const std::string& table) {
    SQL q("SELECT name FROM pragma_table_info(:t)");
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

  Temp_Dir dir_;
  Log_Capture log_;
};

TEST_F(Database_Open, CreatesSharedTablesOnANewFile) {
  Storage_Catalog_Manager_Database_Impl impl(file());
  ASSERT_TRUE(impl.open()) << log_.dump();
  EXPECT_TRUE(impl.is_local());
  Connection_Ptr conn = impl.get_connection();
  for (const char* t :
       {"storage_catalog_storage_pool", "storage_catalog_device",
        "storage_catalog_storage_pool_replicate", "storage_catalog_pool_replicate_job",
        "storage_catalog_merge_backup_job", "storage_catalog_pool_usage", "catalog"})
    EXPECT_TRUE(conn->table_exists(t)) << t;
  EXPECT_EQ(columns(conn, "storage_catalog_merge_backup_job").count("synthesizer_version"), 1u);
}

TEST_F(Database_Open, CreatesMissingCatalogTablesOfKnownPools) {
  {
    Storage_Catalog_Manager_Database_Impl first(file());
    ASSERT_TRUE(first.open());
    add_pool_row(first.get_connection(), kPoolA);
  }
  Storage_Catalog_Manager_Database_Impl impl(file());
  ASSERT_TRUE(impl.open()) << log_.dump();
  EXPECT_TRUE(impl.is_known_table(kPoolA));
  EXPECT_FALSE(impl.is_known_table(kPoolB));
  std::set<std::string> cols = columns(impl.get_connection(), kPoolA);
  for (const char* c : {"id", "uuid", "uid", "host_uuid", "resource_uuid", "incarnation",
                        "pool_uuid", "agent", "backup_type", "backup_time", "files", "size", "name",
                        "state", "minor_resource_id", "minor_resource_name", "extended_attrs"})
    EXPECT_EQ(cols.count(c), 1u) << c;
}

TEST_F(Database_Open, ReopeningKeepsExistingTablesAndRows) {
  {
    Storage_Catalog_Manager_Database_Impl impl(file());
    ASSERT_TRUE(impl.open());
    add_pool_row(impl.get_connection(), kPoolA);
    ASSERT_TRUE(impl.open());
    ASSERT_TRUE(impl.get_connection()->execute(
        "INSERT INTO `" + kPoolA + "` (uuid, name) VALUES (x'" + kPoolB + "', 'set');"));
  }
  Storage_Catalog_Manager_Database_Impl impl(file());
  ASSERT_TRUE(impl.open());
  SQL q("SELECT COUNT(*) FROM `" + kPoolA + "`");
  Legacy_Cursor c(impl.get_connection(), q, Legacy_Cursor::SCALAR);
  ASSERT_TRUE(c.fetch());
  long long n = 0;
  c >> n;
  EXPECT_EQ(n, 1);
}

TEST_F(Database_Open, UpgradesAnOldShapedDatabase) {
  {
    Connection_Ptr conn = raw();
    ASSERT_TRUE(conn);
    ASSERT_TRUE(conn->execute(std::string(
        "CREATE TABLE storage_catalog_storage_pool (id INTEGER PRIMARY KEY, uuid binary(16), "
        "name text, high_water_mark bigint, retention_days int, quoted int, state text, "
        "on_host bigint DEFAULT 1, extended_attrs text);"
        "CREATE TABLE storage_catalog_merge_backup_job (id INTEGER PRIMARY KEY, type text, "
        "pool_uuid binary(16), incarnation binary(16), from_uuid binary(16), to_uuid binary(16), "
        "state text, progress int, creation_time datetime, start_time datetime, "
        "end_time datetime, extended_attrs text);"
        "CREATE TABLE storage_catalog_pool_replicate_job (id INTEGER PRIMARY KEY, type text, "
        "catalog_uuid binary(16), source_pool_uuid binary(16), target_pool_uuid binary(16), "
        "size bigint, state text, progress int, creation_time datetime, start_time datetime, "
        "finish_time datetime, retry int, extended_attrs text);"
        "INSERT INTO storage_catalog_merge_backup_job (type, state) VALUES ('file', 'pending');")));
    // Pool A's table predates every added column; pool B's lacks only host_uuid.
    ASSERT_TRUE(conn->execute(
        "CREATE TABLE `" + kPoolA +
        "` (id INTEGER PRIMARY KEY, uuid binary(16), "
        "resource_uuid binary(16), incarnation binary(16), pool_uuid binary(16), agent text, "
        "backup_type text, backup_time datetime, files text, size bigint, name text, state int, "
        "extended_attrs text);"
        "CREATE TABLE `" +
        kPoolB +
        "` (id INTEGER PRIMARY KEY, uuid binary(16), uid binary(16), "
        "resource_uuid binary(16), incarnation binary(16), pool_uuid binary(16), agent text, "
        "backup_type text, backup_time datetime, files text, size bigint, name text, state int, "
        "minor_resource_id varchar(256), minor_resource_name varchar(256), extended_attrs text);"));
    add_pool_row(conn, kPoolA);
    add_pool_row(conn, kPoolB);
  }
  Storage_Catalog_Manager_Database_Impl impl(file());
  ASSERT_TRUE(impl.open()) << log_.dump();
  Connection_Ptr conn = impl.get_connection();
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
}

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

TEST_F(Database_Open, TemporaryTablesBelongToTheirConnection) {
  Storage_Catalog_Manager_Database_Impl impl(file());
  ASSERT_TRUE(impl.open());
  Connection_Ptr conn = impl.get_connection();
  ASSERT_TRUE(Storage_Catalog_Manager_Database_Impl::create_exclude_incarnation(conn));
  ASSERT_TRUE(Storage_Catalog_Manager_Database_Impl::create_incarnation_info(conn));
  ASSERT_TRUE(Storage_Catalog_Manager_Database_Impl::create_exclude_incarnation(conn));
  EXPECT_TRUE(conn->execute(std::string("insert into exclude_incarnation values (x'" + kPoolA +
                                        "'); delete from incarnation_info;")));
  Connection_Ptr other = raw();
  EXPECT_FALSE(other->execute(std::string("select * from exclude_incarnation;")));
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
