#include "tests/support/sql_rows.h"

#include <gtest/gtest.h>

#include "platform/sql/cursor.h"
#include "platform/sql/legacy_manager.h"
#include "platform/sql/metadata.h"
#include "platform/sql/sql.h"
#include "storaged/storage_catalog/device_metadata_manager.h"
#include "tests/support/test_mariadb.h"

using namespace database::sql;

Array select_rows(const Connection_Ptr& conn, const std::string& text) {
  SQL query(text);
  Value rows;
  Legacy_Cursor cursor(conn, query, Legacy_Cursor::ROWS_RAW, 0);
  EXPECT_TRUE(cursor.fetch(rows)) << text;
  return rows.is_array() ? rows.get<Array>() : Array();
}

long long select_scalar(const Connection_Ptr& conn, const std::string& text) {
  SQL query(text);
  Legacy_Cursor cursor(conn, query, Legacy_Cursor::SCALAR);
  long long n = -1;
  if (!cursor.fetch() || !(cursor >> n))
    return -1;
  return n;
}

Object usage_row(const Connection_Ptr& conn, const std::string& pool) {
  Select_SQL read;
  read.table("storage_catalog_pool_usage");
  read.where().and_filter()->add_sql("pool_uuid=:uuid");
  EXPECT_TRUE(read.bind_uuid("uuid", pool));
  Value row;
  Legacy_Cursor cursor(conn, read, Legacy_Cursor::ROW, 0);
  EXPECT_TRUE(cursor.fetch(row)) << pool;
  return row.is_object() ? row.get<Object>() : Object();
}

void set_usage(const Connection_Ptr& conn, const std::string& pool, const Object& values) {
  Update_SQL update;
  update.table("storage_catalog_pool_usage");
  for (const auto& v : values)
    update.set(v.first, Binding_Value::from_json(v.second));
  update.where().and_filter()->add_sql("pool_uuid=:uuid");
  ASSERT_TRUE(update.bind_uuid("uuid", pool));
  ASSERT_TRUE(conn->execute(update)) << pool;
}

void configure_device_metadata(Engine engine, const Temp_Dir& dir) {
  database::Database db;
  if (engine == Engine::MARIADB) {
    db = database::Manager::instance()->database("storage_catalog");
    db.name("device_metadata").metadata(nullptr);
  } else {
    db.name("device_metadata")
        .type(database::Database::SQLITE)
        .path(dir.file("device_metadata.db"));
  }
  database::Manager::instance()->configure("device_metadata", db);
  Legacy_Manager::instance()->close("device_metadata");
}

void unconfigure_device_metadata() {
  Device_Metadata_Manager::close_instance();
  Legacy_Manager::instance()->close("device_metadata");
  database::Manager::instance()->unconfigure("device_metadata");
}

void Device_Metadata_Engine_Test::SetUp() {
  if (GetParam() == Engine::MARIADB) {
    if (!test_mariadb::configured())
      GTEST_SKIP() << "no MariaDB server configured";
    ASSERT_TRUE(test_mariadb::create_schema(schema_)) << log_.dump();
  }
  configure_device_metadata(GetParam(), dir_);
}

void Device_Metadata_Engine_Test::TearDown() {
  unconfigure_device_metadata();
  if (!schema_.empty())
    test_mariadb::drop_schema(schema_);
}
