#include "tests/storaged/storage_catalog/catalog_back_end_test.h"

#include <cstdio>

#include "platform/queue/queue_manager.h"
#include "platform/sql/cursor.h"

using database::sql::Legacy_Cursor;
using database::sql::SQL;

std::string u(int n) {
  char text[33];
  std::snprintf(text, sizeof text, "%032x", n);
  return text;
}

void Catalog_Back_End_Test::SetUp() {
  Catalog_Engine_Test::SetUp();
  if (IsSkipped() || HasFatalFailure())
    return;
  Queue_Manager::instance()->set_directory(dir_.file("queue"));
  add_pool(pool_);
}

void Catalog_Back_End_Test::TearDown() {
  Queue_Manager::instance()->close_all();
  Catalog_Engine_Test::TearDown();
}

void Catalog_Back_End_Test::add_pool(const std::string& pool) {
  Object record{{"uuid", pool}, {"name", "pool " + pool.substr(28)}, {"state", "normal"}};
  ASSERT_TRUE(impl_->add_pool(record)) << log_.dump();
}

Object Catalog_Back_End_Test::backup_set(const std::string& uuid, const std::string& incarnation,
                                         const std::string& backup_time, int state,
                                         const Array& files) {
  return Object{{"uuid", uuid},
                {"incarnation", incarnation},
                {"pool_uuid", u(0xA00)},
                {"resource_uuid", u(0xB00)},
                {"agent", "backupd"},
                {"backup_type", incarnation == uuid ? "full" : "incremental"},
                {"backup_time", backup_time},
                {"files", files},
                {"size", 100},
                {"name", "set " + uuid.substr(28)},
                {"state", state},
                {"extended_attrs", Object()}};
}

void Catalog_Back_End_Test::add_set(const Object& set) {
  ASSERT_TRUE(impl_->add_catalog(pool_, set)) << log_.dump();
}

Array Catalog_Back_End_Test::raw_rows(const std::string& table) {
  std::string order = table == "storage_catalog_pool_usage" ? "" : " ORDER BY id";
  SQL all("SELECT * FROM `" + table + "`" + order);
  Value rows;
  Legacy_Cursor cursor(impl_->get_connection(), all, Legacy_Cursor::ROWS_RAW, 0);
  EXPECT_TRUE(cursor.fetch(rows)) << log_.dump();
  return rows.is_array() ? rows.get<Array>() : Array();
}

Value Catalog_Back_End_Test::stored_set(const std::string& uuid) {
  Array rows;
  EXPECT_TRUE(impl_->query_catalog(pool_, Object{{"uuid", uuid}}, "", true, 0, -1, rows, nullptr,
                                   false, false))
      << log_.dump();
  return rows.empty() ? Value() : rows[0];
}

std::vector<Value> Catalog_Back_End_Test::take_notices() {
  std::vector<Value> notices;
  std::string text;
  while (Queue_Manager::instance()->dequeue("storage_catalog_sync", text) == 1) {
    Value notice;
    EXPECT_TRUE(loads_json(text, notice)) << text;
    notices.push_back(notice);
  }
  return notices;
}

Value Catalog_Back_End_Test::state_notice(const std::string& pool, const std::string& uuid,
                                          long long state) {
  return Object{
      {"operation", "SyncBackupSet"},
      {"params",
       Object{{"uuid", uuid}, {"pool_uuid", pool}, {"state", state}, {"op", "sync_state"}}}};
}

Value Catalog_Back_End_Test::remove_notice(const std::string& pool, const std::string& uuid) {
  return Object{{"operation", "SyncBackupSet"},
                {"params", Object{{"uuid", uuid}, {"pool_uuid", pool}, {"op", "remove_catalog"}}}};
}
