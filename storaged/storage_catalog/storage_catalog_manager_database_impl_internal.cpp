#include "storaged/storage_catalog/storage_catalog_manager_database_impl_internal.h"

#include "platform/queue/queue_manager.h"
#include "platform/runtime/log.h"
#include "platform/runtime/uuid.h"
#include "platform/sql/cursor.h"
#include "storaged/storage_catalog/catalog_state.h"
#include "storaged/storage_catalog/storage_catalog_manager_database_impl.h"

using database::sql::COLUMN_INTEGER;
using database::sql::COLUMN_JSON;
using database::sql::COLUMN_STRING;
using database::sql::COLUMN_UUID;
using database::sql::Filter_Key;
using database::sql::Insert_SQL;
using database::sql::KEY_FLAG_LIST;
using database::sql::KEY_INTEGER;
using database::sql::KEY_STRING;
using database::sql::KEY_UUID;
using database::sql::Legacy_Cursor;
using database::sql::Update_SQL;

namespace scat_db {

const char kPoolTable[] = "storage_catalog_storage_pool";
const char kDeviceTable[] = "storage_catalog_device";
const char kReplicateTable[] = "storage_catalog_storage_pool_replicate";
const char kReplicateJobTable[] = "storage_catalog_pool_replicate_job";
const char kMergeJobTable[] = "storage_catalog_merge_backup_job";
const char kUsageTable[] = "storage_catalog_pool_usage";

const Record_Column kCatalogColumns[] = {{"uuid", COLUMN_UUID},
                                         {"uid", COLUMN_UUID},
                                         {"host_uuid", COLUMN_UUID},
                                         {"resource_uuid", COLUMN_UUID},
                                         {"agent", COLUMN_STRING},
                                         {"backup_type", COLUMN_STRING},
                                         {"backup_time", COLUMN_STRING},
                                         {"files", COLUMN_JSON},
                                         {"size", COLUMN_INTEGER},
                                         {"name", COLUMN_STRING},
                                         {"incarnation", COLUMN_UUID},
                                         {"pool_uuid", COLUMN_UUID},
                                         {"state", COLUMN_INTEGER},
                                         {"minor_resource_id", COLUMN_STRING},
                                         {"minor_resource_name", COLUMN_STRING},
                                         {"extended_attrs", COLUMN_JSON},
                                         {nullptr, 0}};

const Record_Column kDeviceColumns[] = {{"uuid", COLUMN_UUID},
                                        {"url", COLUMN_STRING},
                                        {"pool_uuid", COLUMN_UUID},
                                        {"extended_attrs", COLUMN_JSON},
                                        {nullptr, 0}};

const Record_Column kPoolColumns[] = {{"uuid", COLUMN_UUID},
                                      {"name", COLUMN_STRING},
                                      {"high_water_mark", COLUMN_INTEGER},
                                      {"retention_days", COLUMN_INTEGER},
                                      {"quoted", COLUMN_INTEGER},
                                      {"state", COLUMN_STRING},
                                      {"extended_attrs", COLUMN_JSON},
                                      {nullptr, 0}};

const Record_Column kReplicateColumns[] = {
    {"uuid", COLUMN_UUID},           {"source_uuid", COLUMN_UUID},
    {"target_uuid", COLUMN_UUID},    {"target_server_uuid", COLUMN_UUID},
    {"extended_attrs", COLUMN_JSON}, {nullptr, 0}};

const Record_Column kReplicateJobColumns[] = {
    {"type", COLUMN_STRING},           {"catalog_uuid", COLUMN_UUID},
    {"source_pool_uuid", COLUMN_UUID}, {"target_pool_uuid", COLUMN_UUID},
    {"size", COLUMN_INTEGER},          {"storage_size", COLUMN_INTEGER},
    {"state", COLUMN_STRING},          {"progress", COLUMN_INTEGER},
    {"creation_time", COLUMN_STRING},  {"start_time", COLUMN_STRING},
    {"finish_time", COLUMN_STRING},    {"retry", COLUMN_INTEGER},
    {"extended_attrs", COLUMN_JSON},   {nullptr, 0}};

const Record_Column kMergeJobColumns[] = {
    {"type", COLUMN_STRING},          {"pool_uuid", COLUMN_UUID},
    {"incarnation", COLUMN_UUID},     {"minor_resource_id", COLUMN_STRING},
    {"from_uuid", COLUMN_UUID},       {"to_uuid", COLUMN_UUID},
    {"state", COLUMN_STRING},         {"progress", COLUMN_INTEGER},
    {"creation_time", COLUMN_STRING}, {"start_time", COLUMN_STRING},
    {"end_time", COLUMN_STRING},      {"synthesizer_version", COLUMN_STRING},
    {"extended_attrs", COLUMN_JSON},  {nullptr, 0}};

const Filter_Key kCatalogFilterKeys[] = {{"backup_type", KEY_STRING, KEY_FLAG_LIST},
                                         {"id", KEY_INTEGER, 0},
                                         {"uuid", KEY_UUID, 0},
                                         {"uid", KEY_UUID, 0},
                                         {"host_uuid", KEY_UUID, 0},
                                         {"resource_uuid", KEY_UUID, 0},
                                         {"agent", KEY_STRING, 0},
                                         {"backup_time", KEY_STRING, 0},
                                         {"size", KEY_INTEGER, 0},
                                         {"name", KEY_STRING, 0},
                                         {"pool_uuid", KEY_UUID, 0},
                                         {"incarnation", KEY_UUID, 0},
                                         {"minor_resource_id", KEY_STRING, 0},
                                         {"minor_resource_name", KEY_STRING, 0},
                                         {nullptr, 0, 0}};

namespace {

// Every column of each shared table, as its schema types it. JSON columns
// hold text; a null value compares with NULL.
const int kNull = database::sql::KEY_FLAG_NULL;

const Filter_Key kPoolKeys[] = {{"id", KEY_INTEGER, kNull},
                                {"uuid", KEY_UUID, kNull},
                                {"name", KEY_STRING, kNull},
                                {"high_water_mark", KEY_INTEGER, kNull},
                                {"retention_days", KEY_INTEGER, kNull},
                                {"quoted", KEY_INTEGER, kNull},
                                {"state", KEY_STRING, kNull},
                                {"on_host", KEY_INTEGER, kNull},
                                {"extended_attrs", KEY_STRING, kNull},
                                {nullptr, 0, 0}};

const Filter_Key kDeviceKeys[] = {{"id", KEY_INTEGER, kNull},
                                  {"uuid", KEY_UUID, kNull},
                                  {"url", KEY_STRING, kNull},
                                  {"pool_uuid", KEY_UUID, kNull},
                                  {"extended_attrs", KEY_STRING, kNull},
                                  {nullptr, 0, 0}};

const Filter_Key kReplicateKeys[] = {{"id", KEY_INTEGER, kNull},
                                     {"uuid", KEY_UUID, kNull},
                                     {"source_uuid", KEY_UUID, kNull},
                                     {"target_uuid", KEY_UUID, kNull},
                                     {"target_server_uuid", KEY_UUID, kNull},
                                     {"extended_attrs", KEY_STRING, kNull},
                                     {nullptr, 0, 0}};

const Filter_Key kReplicateJobKeys[] = {{"id", KEY_INTEGER, kNull},
                                        {"type", KEY_STRING, kNull},
                                        {"catalog_uuid", KEY_UUID, kNull},
                                        {"source_pool_uuid", KEY_UUID, kNull},
                                        {"target_pool_uuid", KEY_UUID, kNull},
                                        {"size", KEY_INTEGER, kNull},
                                        {"storage_size", KEY_INTEGER, kNull},
                                        {"state", KEY_STRING, kNull},
                                        {"progress", KEY_INTEGER, kNull},
                                        {"creation_time", KEY_STRING, kNull},
                                        {"start_time", KEY_STRING, kNull},
                                        {"finish_time", KEY_STRING, kNull},
                                        {"retry", KEY_INTEGER, kNull},
                                        {"extended_attrs", KEY_STRING, kNull},
                                        {nullptr, 0, 0}};

const Filter_Key kMergeJobKeys[] = {{"id", KEY_INTEGER, kNull},
                                    {"type", KEY_STRING, kNull},
                                    {"pool_uuid", KEY_UUID, kNull},
                                    {"incarnation", KEY_UUID, kNull},
                                    {"from_uuid", KEY_UUID, kNull},
                                    {"to_uuid", KEY_UUID, kNull},
                                    {"minor_resource_id", KEY_STRING, kNull},
                                    {"synthesizer_version", KEY_STRING, kNull},
                                    {"state", KEY_STRING, kNull},
                                    {"progress", KEY_INTEGER, kNull},
                                    {"creation_time", KEY_STRING, kNull},
                                    {"start_time", KEY_STRING, kNull},
                                    {"end_time", KEY_STRING, kNull},
                                    {"extended_attrs", KEY_STRING, kNull},
                                    {nullptr, 0, 0}};

}  // namespace

const Filter_Key* shared_filter_keys(const std::string& table) {
  const std::pair<const char*, const Filter_Key*> tables[] = {
      {kPoolTable, kPoolKeys},
      {kDeviceTable, kDeviceKeys},
      {kReplicateTable, kReplicateKeys},
      {kReplicateJobTable, kReplicateJobKeys},
      {kMergeJobTable, kMergeJobKeys}};
  for (const auto& entry : tables) {
    if (table == entry.first)
      return entry.second;
  }
  return nullptr;
}

bool is_mysql(const Connection_Ptr& conn) {
  return conn->db()->type() == database::Database::MYSQL;
}

namespace {

// Merging into a stored "extended_attrs" needs an object on both sides.
bool check_extended_attrs(const Object& record, std::string& reason) {
  auto it = record.find("extended_attrs");
  if (it == record.end() || it->second.is_null() || it->second.is_object())
    return true;
  reason = "'extended_attrs' expects an object, got " + std::string(json_type_name(it->second));
  return false;
}

template <typename Builder, typename Add>
bool add_columns(Builder& sql, const Object& record, const Record_Column* columns,
                 std::string& reason, Add add) {
  if (!check_extended_attrs(record, reason))
    return false;
  for (const Record_Column* c = columns; c->name != nullptr; ++c) {
    if (!add(sql, record, c->name, c->kind)) {
      reason = sql.invalid_reason();
      return false;
    }
  }
  return true;
}

}  // namespace

bool add_record_columns(Insert_SQL& sql, const Object& record, const Record_Column* columns,
                        std::string& reason) {
  return add_columns(sql, record, columns, reason,
                     [](Insert_SQL& s, const Object& r, const char* key, int kind) {
                       return s.value_key(r, key, kind);
                     });
}

bool add_record_columns(Update_SQL& sql, const Object& record, const Record_Column* columns,
                        std::string& reason) {
  return add_columns(sql, record, columns, reason,
                     [](Update_SQL& s, const Object& r, const char* key, int kind) {
                       return s.set_key(r, key, kind);
                     });
}

bool parse_json_columns(Object& row) {
  for (const char* key : {"files", "extended_attrs"}) {
    auto it = row.find(key);
    if (it == row.end())
      continue;
    Value& member = it->second;
    if (member.is_string()) {
      const std::string text = member.get<std::string>();
      Value parsed;
      if (!text.empty() && !loads_json(text, parsed)) {
        LOG_ERROR("Failed to load %s", text.c_str());
        return false;
      }
      member = std::move(parsed);
    }
    if (member.is_null())
      member = Object();
  }
  return true;
}

bool read_rows(const Connection_Ptr& conn, const SQL& sql, Array& rows) {
  Value result;
  Legacy_Cursor cursor(conn, sql, Legacy_Cursor::ROWS, 0);
  if (!cursor.fetch(result) || !result.is_array())
    return false;
  for (Value& row : result) {
    if (!row.is_object() || !parse_json_columns(row.get_ref<Object&>()))
      return false;
  }
  rows = std::move(result.get_ref<Array&>());
  return true;
}

bool read_row(const Connection_Ptr& conn, const SQL& sql, Object& row) {
  Value result;
  Legacy_Cursor cursor(conn, sql, Legacy_Cursor::ROW, 0);
  if (!cursor.fetch(result) || !result.is_object() ||
      !parse_json_columns(result.get_ref<Object&>()))
    return false;
  row = std::move(result.get_ref<Object&>());
  return true;
}

bool read_row_by_uuid(const Connection_Ptr& conn, const std::string& table, const std::string& uuid,
                      Object& row, const std::string& columns) {
  Select_SQL read;
  read.table(table).select(columns);
  read.where().and_filter()->add_sql("uuid=:uuid");
  return read.bind_uuid("uuid", uuid) && read_row(conn, read, row);
}

bool read_first_text(const Connection_Ptr& conn, const SQL& sql, const char* column,
                     std::string& value) {
  Value row;
  Legacy_Cursor cursor(conn, sql, Legacy_Cursor::ROW, 0);
  if (!cursor.fetch(row))
    return false;
  const std::string* text =
      row.is_object() ? object_get_str(row.get_ref<const Object&>(), column) : nullptr;
  value = text != nullptr ? *text : std::string();
  return true;
}

bool read_rows_with_total(const Connection_Ptr& conn, const Select_SQL& sql, Array& rows,
                          long long* total) {
  Array found;
  long long count = 0;
  bool ok = read_rows(conn, sql, found);
  if (ok && total != nullptr) {
    Select_SQL counting = sql.count_statement();
    Legacy_Cursor cursor(conn, counting, Legacy_Cursor::SCALAR, 0);
    ok = cursor.fetch() && (cursor >> count);
  }
  if (!ok) {
    LOG_ERROR("Failed to query result.");
    return false;
  }
  rows = std::move(found);
  if (total != nullptr)
    *total = count;
  return true;
}

bool read_catalog_rows(const Connection_Ptr& conn, const std::string& pool, const Select_SQL& sql,
                       Array& rows, long long* total, bool detail) {
  Array found;
  long long count = 0;
  if (!read_rows_with_total(conn, sql, found, total != nullptr ? &count : nullptr)) {
    LOG_ERROR("Failed to query '%s' catalog", pool.c_str());
    return false;
  }
  if (detail) {
    for (Value& row : found)
      shape_catalog_row(conn, pool, row.get_ref<Object&>());
  }
  rows = std::move(found);
  if (total != nullptr)
    *total = count;
  return true;
}

namespace {

template <typename Json>
bool check_depth(const Json& value, const std::string& failure) {
  if (json_within_depth(value))
    return true;
  LOG_ERROR("%s: JSON nests deeper than %d levels.", failure.c_str(),
            static_cast<int>(kMaxJsonDepth));
  return false;
}

}  // namespace

bool check_json_depth(const Object& value, const std::string& failure) {
  return check_depth(value, failure);
}

bool check_json_depth(const Array& value, const std::string& failure) {
  return check_depth(value, failure);
}

std::vector<std::string> uuid_list(const Array& uuids) {
  std::vector<std::string> list;
  for (const Value& entry : uuids) {
    // Only a scalar is written into the message: any value may come here.
    if (!entry.is_string() || !vrt::is_uuid_hex(entry.get<std::string>()))
      throw JSON_Error("'" +
                       (entry.is_string()      ? entry.get<std::string>()
                        : entry.is_primitive() ? JSON_Dump(entry)
                                               : std::string(json_type_name(entry))) +
                       "' is not a uuid");
    list.push_back(entry.get<std::string>());
  }
  return list;
}

bool bind_uuid_or_log(SQL& sql, const char* name, const std::string& hex) {
  if (sql.bind_uuid(name, hex))
    return true;
  LOG_ERROR("Invalid uuid '%s' for :%s.", hex.c_str(), name);
  return false;
}

bool read_column(const Connection_Ptr& conn, const SQL& sql, const char* column,
                 std::vector<std::string>& values) {
  Value rows;
  Legacy_Cursor cursor(conn, sql, Legacy_Cursor::ROWS_RAW, 0);
  if (!cursor.fetch(rows) || !rows.is_array())
    return false;
  std::vector<std::string> found;
  for (const Value& row : rows) {
    const std::string* value =
        row.is_object() ? object_get_str(row.get_ref<const Object&>(), column) : nullptr;
    if (value != nullptr)
      found.push_back(*value);
  }
  values = std::move(found);
  return true;
}

bool find_replicate_job(const Connection_Ptr& conn, const std::string& catalog_uuid,
                        const std::string& source_pool, Object& job) {
  SQL lookup(
      "SELECT j.id, j.target_pool_uuid FROM `storage_catalog_pool_replicate_job` j, "
      "`storage_catalog_storage_pool_replicate` r WHERE j.source_pool_uuid = r.source_uuid AND "
      "j.target_pool_uuid = r.target_uuid AND j.catalog_uuid = :catalog_uuid AND "
      "j.source_pool_uuid = :source_pool_uuid;");
  if (!lookup.bind_uuid("catalog_uuid", catalog_uuid) ||
      !lookup.bind_uuid("source_pool_uuid", source_pool))
    return false;
  Object row;
  if (!read_row(conn, lookup, row) || row.empty())
    return false;
  job = std::move(row);
  return true;
}

bool is_restorable(const Connection_Ptr& conn, const std::string& pool,
                   const std::string& incarnation, const std::string& backup_time) {
  if (!Storage_Catalog_Manager_Database_Impl::is_catalog_table_name(pool))
    return false;
  Select_SQL broken;
  broken.table(pool).select("uuid").limit(1);
  broken.where().and_filter()->add_sql(
      "incarnation=:incarnation AND (state & 1 = 0 or state & 2 = 2) AND "
      "backup_time <= :backup_time");
  if (!broken.bind_uuid("incarnation", incarnation))
    return false;
  broken.bind("backup_time", backup_time);
  Value row;
  Legacy_Cursor cursor(conn, broken, Legacy_Cursor::ROW, 0);
  return cursor.fetch(row) && row.is_null();
}

void shape_catalog_row(const Connection_Ptr& conn, const std::string& pool, Object& row) {
  const std::string uuid = object_get_str_or_throw(row, "uuid");
  // The table is the pool's own, so a row without its pool still has one.
  const std::string* row_pool = object_get_str(row, "pool_uuid");
  const std::string source_pool = row_pool != nullptr ? *row_pool : pool;
  auto state_member = row.find("state");
  long long state = state_member != row.end() && state_member->second.is_number_integer()
                        ? state_member->second.get<long long>()
                        : 0;
  if (state & CST_REPLICATED) {
    const Object& attrs = object_get_object_or_throw(row, "extended_attrs");
    Object job;
    // A snapshot copy stands for itself; otherwise the replicate job must
    // still lead to a pool of an existing relation.
    if (attrs.count("snapshot_id") == 0 && !find_replicate_job(conn, uuid, source_pool, job))
      state &= ~static_cast<long long>(CST_REPLICATED);
  }
  const std::string* incarnation = object_get_str(row, "incarnation");
  const std::string* backup_time = object_get_str(row, "backup_time");
  bool restorable = incarnation != nullptr && backup_time != nullptr &&
                    is_restorable(conn, pool, *incarnation, *backup_time);
  row["restorable"] = restorable;
  Array names;
  catalog_state_to_array(static_cast<Catalog_State>(state), names);
  row["state"] = std::move(names);
}

namespace {

bool transaction_step(bool done, const char* step, int line) {
  if (!done)
    LOG_ERROR(
        "Failed to %s transaction at "
        "storaged/storage_catalog/storage_catalog_manager_database_impl:%d",
        step, line);
  return done;
}

}  // namespace

bool begin_transaction(database::Transaction& transaction, int line) {
  return transaction_step(transaction.begin(false), "begin", line);
}

bool commit_transaction(database::Transaction& transaction, int line) {
  return transaction_step(transaction.commit(), "commit", line);
}

bool publish_sync_notice(const Object& params) {
  Object notice;
  notice["operation"] = "SyncBackupSet";
  notice["params"] = params;
  const std::string text = JSON_Dump(Value(std::move(notice)), false);
  if (Queue_Manager::instance()->enqueue("storage_catalog_sync", text.data(), text.size(),
                                         nullptr) < 0) {
    LOG_ERROR("Failed to enqueue SyncBackupSetState to queue.");
    return false;
  }
  return true;
}

bool publish_remove_notice(const std::string& pool, const std::string& uuid) {
  Object params;
  params["uuid"] = uuid;
  params["pool_uuid"] = pool;
  params["op"] = "remove_catalog";
  return publish_sync_notice(params);
}

bool publish_state_notice(const std::string& pool, const std::string& uuid, long long state) {
  Object params;
  params["uuid"] = uuid;
  params["pool_uuid"] = pool;
  params["state"] = state;
  params["op"] = "sync_state";
  return publish_sync_notice(params);
}

std::string file_like_pattern(const std::string& file) {
  // "files" holds JSON text, so the name is looked for as JSON writes it
  // (a quote or a backslash in it is escaped there).
  const std::string written = JSON_Dump(Value(file), false);
  std::string pattern = "%";
  for (std::size_t i = 1; i + 1 < written.size(); ++i) {
    char c = written[i];
    if (c == '%' || c == '_' || c == '!')
      pattern.push_back('!');
    pattern.push_back(c);
  }
  pattern += "\"%";
  return pattern;
}

namespace {

bool ends_with_ignoring_case(const std::string& text, const std::string& end) {
  if (end.size() > text.size())
    return false;
  auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  const std::size_t start = text.size() - end.size();
  for (std::size_t i = 0; i < end.size(); ++i) {
    if (lower(text[start + i]) != lower(end[i]))
      return false;
  }
  return true;
}

}  // namespace

bool lists_file(const std::string& files, const std::string& file) {
  Value parsed;
  if (!loads_json(files, parsed))
    return false;
  std::vector<const Value*> pending{&parsed};
  while (!pending.empty()) {
    const Value* value = pending.back();
    pending.pop_back();
    if (value->is_string()) {
      if (ends_with_ignoring_case(value->get_ref<const std::string&>(), file))
        return true;
    } else if (value->is_structured()) {
      for (const Value& member : *value)
        pending.push_back(&member);
    }
  }
  return false;
}

}  // namespace scat_db
