// Recording and reading device files and directories.
//
// Invariant: a device's directory rows are closed upwards. Every recorded
// directory other than "." has its parent recorded on the same device, and
// every file's parent directory is recorded, because add_dir records the
// ancestors first and add_file records the parent before the file. The
// recursive lock held by both keeps concurrent writers from recording a
// directory twice (tests check both).
#include "storaged/storage_catalog/device_metadata_manager.h"

#include <atomic>
#include <cerrno>
#include <mutex>

#include <ace/OS_NS_strings.h>

#include "platform/runtime/log.h"
#include "platform/sql/cursor.h"
#include "platform/sql/legacy_manager.h"
#include "storaged/storage_catalog/device_metadata_manager_internal.h"
#include "storaged/storage_catalog/device_metadata_schema.h"

using database::sql::Connection_Ptr;
using database::sql::Delete_SQL;
using database::sql::Insert_SQL;
using database::sql::Legacy_Cursor;
using database::sql::Query_Result_Handler;
using database::sql::Select_SQL;
using database::sql::Update_SQL;
using namespace device_metadata;

namespace {

using Singleton = ACE_Unmanaged_Singleton<Device_Metadata_Manager, ACE_Null_Mutex>;

// ACE serialises nothing for a singleton over ACE_Null_Mutex: without this
// lock two threads using the manager first could each make one, and their
// additions would no longer share one lock.
std::mutex singleton_lock;
std::atomic<Device_Metadata_Manager*> current_manager{nullptr};

bool is_blank(char c) {
  return c == ' ' || c == '\t';
}

// The directory of a normalised path, '/' separated: "." for a top-level
// name, as dirname(3) gives it.
std::string dirname_of(const std::string& path) {
  std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos)
    return ".";
  std::size_t end = path.find_last_not_of('/', slash);
  if (end == std::string::npos)
    return "/";
  return path.substr(0, end + 1);
}

Connection_Ptr raw_connection() {
  return database::sql::Legacy_Manager::instance()->get_connection_r(kDatabase);
}

}  // namespace

bool device_metadata::fetch_rows(const Connection_Ptr& conn, const Select_SQL& select,
                                 Value& rows) {
  static const Query_Result_Handler::Column kColumns[] = {
      {"pool_uuid", Query_Result_Handler::UUID_HEX},
      {"device_uuid", Query_Result_Handler::UUID_HEX},
      {nullptr, 0}};
  static const Query_Result_Handler handler(nullptr, kColumns, -1, -1);
  Legacy_Cursor cursor(conn, select, Legacy_Cursor::ROWS, 0);
  cursor.result_handler(&handler);
  return cursor.fetch(rows) && rows.is_array();
}

Device_Metadata_Manager::Device_Metadata_Manager() {
  register_device_metadata_schema();
}

Device_Metadata_Manager* Device_Metadata_Manager::instance() {
  Device_Metadata_Manager* manager = current_manager.load(std::memory_order_acquire);
  if (manager != nullptr)
    return manager;
  std::lock_guard<std::mutex> guard(singleton_lock);
  try {
    manager = Singleton::instance();
  } catch (const std::exception&) {
    manager = nullptr;
  }
  if (manager == nullptr) {
    errno = ENOMEM;
    return nullptr;
  }
  current_manager.store(manager, std::memory_order_release);
  return manager;
}

void Device_Metadata_Manager::close_instance() {
  std::lock_guard<std::mutex> guard(singleton_lock);
  current_manager.store(nullptr, std::memory_order_release);
  Singleton::close();
}

Connection_Ptr Device_Metadata_Manager::connection() {
  Connection_Ptr conn = raw_connection();
  if (!conn)
    LOG_ERROR("Failed to connect to database '%s' at %N:%l", kDatabase);
  return conn;
}

void Device_Metadata_Manager::validate_path(const char* path, std::string& normalised) {
  std::string text = path != nullptr ? path : "";
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && (is_blank(text[begin]) || text[begin] == '/'))
    ++begin;
  while (end > begin && (is_blank(text[end - 1]) || text[end - 1] == '/'))
    --end;
  text = text.substr(begin, end - begin);
  if (text.empty())
    text = ".";
  normalised.clear();
  for (std::size_t i = 0; i < text.size();) {
    if (text.compare(i, 2, "//") == 0) {
      normalised += '/';
      i += 2;
    } else {
      normalised += text[i++];
    }
  }
}

std::string Device_Metadata_Manager::type_to_str(Type type) {
  switch (type) {
    case TYPE_DIR:
      return "dir";
    case TYPE_FILE:
      return "file";
    default:
      return std::string();
  }
}

bool Device_Metadata_Manager::add_file(const char* pool, const char* device, const char* path,
                                       const char* grouping, long long size) {
  VRT_CHECK_NOT_NULL(pool, false);
  VRT_CHECK_NOT_NULL(device, false);
  VRT_CHECK_NOT_NULL(path, false);
  std::string normalised;
  validate_path(path, normalised);
  ACE_GUARD_RETURN(ACE_Recursive_Thread_Mutex, guard, *this, false);
  try {
    if (!is_in_pool(normalised.c_str(), pool, grouping).empty())
      return true;
    std::string parent = dirname_of(normalised);
    Object record{{"pool_uuid", pool}, {"device_uuid", device},
                  {"parent", parent},  {"path", normalised},
                  {"size", size},      {"grouping", has_text(grouping) ? grouping : ""}};
    if (!add_normalised_dir(device, parent))
      return false;
    Insert_SQL insert;
    insert.table(kFileTable);
    insert.value_key(record, "device_uuid", database::sql::COLUMN_UUID);
    insert.value_key(record, "pool_uuid", database::sql::COLUMN_UUID);
    for (const char* key : {"path", "parent", "size", "grouping", "extended_attrs"})
      insert.value_key(record, key);
    return execute_insert(insert, "file");
  } catch (const std::exception& e) {
    LOG_ERROR("Failed to add file '%s': %s", normalised.c_str(), e.what());
    return false;
  }
}

bool Device_Metadata_Manager::add_dir(const char* device, const char* dir) {
  VRT_CHECK_NOT_NULL(device, false);
  VRT_CHECK_NOT_NULL(dir, false);
  std::string normalised;
  validate_path(dir, normalised);
  return add_normalised_dir(device, normalised);
}

bool Device_Metadata_Manager::add_normalised_dir(const char* device,
                                                 const std::string& normalised) {
  ACE_GUARD_RETURN(ACE_Recursive_Thread_Mutex, guard, *this, false);
  try {
    if (is_in_device(normalised.c_str(), device))
      return true;
    Object record{{"device_uuid", device}, {"path", normalised}};
    if (normalised != ".") {
      std::string parent = dirname_of(normalised);
      record["parent"] = parent;
      // Ancestors first, so the rows stay closed upwards.
      if (!add_normalised_dir(device, parent))
        return false;
    }
    Insert_SQL insert;
    insert.table(kDirTable);
    insert.value_key(record, "device_uuid", database::sql::COLUMN_UUID);
    for (const char* key : {"path", "parent", "extended_attrs"})
      insert.value_key(record, key);
    return execute_insert(insert, "dir");
  } catch (const std::exception& e) {
    LOG_ERROR("Failed to add dir '%s': %s", normalised.c_str(), e.what());
    return false;
  }
}

bool Device_Metadata_Manager::execute_insert(const Insert_SQL& insert, const char* what) {
  Connection_Ptr conn = connection();
  if (!conn)
    return false;
  if (!conn->execute(insert)) {
    LOG_ERROR("Failed to execute device %s insert sql.", what);
    return false;
  }
  return true;
}

bool Device_Metadata_Manager::update_file(const char* pool, const char* device, const char* path,
                                          const char* grouping, long long size) {
  VRT_CHECK_NOT_NULL(pool, false);
  VRT_CHECK_NOT_NULL(device, false);
  VRT_CHECK_NOT_NULL(path, false);
  std::string normalised;
  validate_path(path, normalised);
  // The pool may hold the file on another device, where this device's
  // update would change nothing.
  std::string holder = is_in_pool(normalised.c_str(), pool, grouping);
  if (holder.empty() || ACE_OS::strcasecmp(holder.c_str(), device) != 0) {
    LOG_ERROR("File '%s' is not in pool '%s', device '%s'.", path, pool, device);
    return false;
  }
  Connection_Ptr conn = connection();
  if (!conn)
    return false;
  Update_SQL update;
  update.table(kFileTable).set("size", size);
  update.where().and_filter()->add_sql("pool_uuid=:pool AND device_uuid=:device AND path=:path");
  update.bind_uuid("pool", pool);
  update.bind_uuid("device", device);
  // The row was found by its normalised path; the caller's spelling of it
  // would match nothing.
  update.bind("path", normalised);
  long long affected = 0;
  if (!conn->execute(update, &affected)) {
    LOG_ERROR("Failed to execute device file update sql.");
    return false;
  }
  // Removed since is_in_pool found it. Both engines count matched rows, so
  // an unchanged size still counts.
  if (affected == 0) {
    LOG_ERROR("File '%s' is not in pool '%s', device '%s'.", path, pool, device);
    return false;
  }
  return true;
}

std::string Device_Metadata_Manager::is_in_pool(const char* path, const char* pool,
                                                const char* grouping) {
  VRT_CHECK_NOT_NULL(path, std::string());
  VRT_CHECK_NOT_NULL(pool, std::string());
  Connection_Ptr conn = raw_connection();
  if (!conn)
    return std::string();
  try {
    Select_SQL select;
    // Two rows are enough to tell "one device" from "several".
    select.table(kFileTable).select("device_uuid").limit(2);
    database::sql::Filter_SQL* filter = select.where().and_filter();
    VRT_CHECK_NOT_NULL(filter, std::string());
    filter->add_key_uuid_eq_item("pool_uuid", pool);
    filter->add_kv_item("path", Value(path));
    if (has_text(grouping))
      filter->add_kv_item("grouping", Value(grouping));
    Value rows;
    if (!fetch_rows(conn, select, rows)) {
      LOG_ERROR("Failed to get file '%s' in pool '%s'.", path, pool);
      return std::string();
    }
    if (rows.size() != 1)
      return std::string();
    if (!rows[0].is_object())
      throw JSON_Error("file row is not an object");
    return object_get_str_or_throw(rows[0].get_ref<const Object&>(), "device_uuid");
  } catch (const std::exception& e) {
    LOG_ERROR("File catalog data type error: %s.", e.what());
    return std::string();
  }
}

bool Device_Metadata_Manager::is_in_device(const char* path, const char* device) {
  VRT_CHECK_NOT_NULL(path, false);
  VRT_CHECK_NOT_NULL(device, false);
  Connection_Ptr conn = connection();
  if (!conn)
    return false;
  Select_SQL select;
  select.table(kDirTable).select("id").limit(1);
  select.where().and_filter()->add_sql("device_uuid=:uuid AND path=:path");
  select.bind_uuid("uuid", device);
  select.bind("path", std::string(path));
  Value row;
  Legacy_Cursor cursor(conn, select, Legacy_Cursor::ROW, 0);
  if (!cursor.fetch(row)) {
    LOG_ERROR("Failed to get dir '%s' in device '%s'.", path, device);
    return false;
  }
  return row.is_object();
}
