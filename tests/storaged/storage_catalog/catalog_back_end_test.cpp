#include "tests/storaged/storage_catalog/catalog_back_end_test.h"

#include <cstdio>

#include "platform/queue/queue_manager.h"
#include "platform/sql/cursor.h"
#include "tests/support/sql_rows.h"

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

void Catalog_Back_End_Test::add(int uuid, int incarnation, const std::string& time, int state,
                                const Object& more) {
  Object set = backup_set(u(uuid), u(incarnation), time, state);
  for (const auto& member : more)
    set[member.first] = member.second;
  add_set(set);
}

void Catalog_Back_End_Test::add_relation(int n) {
  ASSERT_TRUE(impl_->add_replicate(
      Object{{"uuid", u(0xC00 + n)}, {"source_uuid", pool_}, {"target_uuid", u(0xA00 + n)}}))
      << log_.dump();
}

long long Catalog_Back_End_Test::add_job(const std::string& type, int set, const std::string& state,
                                         const std::string& target, const Object& more) {
  Object job{{"type", type},
             {"catalog_uuid", u(set)},
             {"source_pool_uuid", pool_},
             {"target_pool_uuid", target},
             {"state", state}};
  for (const auto& member : more)
    job[member.first] = member.second;
  long long id = 0;
  EXPECT_TRUE(impl_->add_replicate_job(job, id)) << log_.dump();
  return id;
}

std::vector<std::string> Catalog_Back_End_Test::uuids(const Array& rows) {
  std::vector<std::string> out;
  for (const Value& row : rows)
    out.push_back(row.value("uuid", ""));
  return out;
}

Array Catalog_Back_End_Test::raw_rows(const std::string& table) {
  std::string order = table == "storage_catalog_pool_usage" ? "" : " ORDER BY id";
  return select_rows(impl_->get_connection(), "SELECT * FROM `" + table + "`" + order);
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

std::pair<std::string, std::string> Catalog_Back_End_Test::db_clock(long long seconds) {
  const std::string n = std::to_string(seconds);
  SQL now(is_mysql() ? "SELECT NOW() now_t, DATE_ADD(NOW(), interval " + n + " second) moved"
                     : "SELECT DATETIME('now') now_t, DATETIME('now', '" + n + " seconds') moved");
  Value row;
  Legacy_Cursor cursor(impl_->get_connection(), now, Legacy_Cursor::ROW, 0);
  EXPECT_TRUE(cursor.fetch(row)) << log_.dump();
  if (!row.is_object() || !row["now_t"].is_string() || !row["moved"].is_string())
    return {};
  return {row["now_t"].get<std::string>(), row["moved"].get<std::string>()};
}
