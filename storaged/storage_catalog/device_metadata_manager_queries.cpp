// Reading device metadata: where a path lies, file listings and usage.
#include "platform/runtime/log.h"
#include "platform/sql/cursor.h"
#include "platform/sql/legacy_manager.h"
#include "storaged/storage_catalog/device_metadata_manager.h"
#include "storaged/storage_catalog/device_metadata_manager_internal.h"

using database::sql::Connection_Ptr;
using database::sql::Filter_SQL;
using database::sql::Legacy_Cursor;
using database::sql::Select_SQL;
using namespace device_metadata;

// Reads the one column of each row, whatever the engine names
// "distinct(device_uuid)". Raises JSON_Error for a row of another shape.
bool Device_Metadata_Manager::distinct_devices(const Connection_Ptr& conn, const Select_SQL& select,
                                               std::vector<std::string>& found) {
  Value rows;
  if (!fetch_rows(conn, select, rows))
    return false;
  for (const Value& row : rows) {
    if (!row.is_object() || row.empty() || !row.begin()->is_string())
      throw JSON_Error("device uuid is not text");
    found.push_back(row.begin()->get<std::string>());
  }
  return true;
}

Device_Metadata_Manager::Type Device_Metadata_Manager::check(
    const char* path, const std::vector<std::string>& device_uuids,
    std::vector<std::string>* devices, const char* grouping) {
  VRT_CHECK_NOT_NULL(path, TYPE_NONE);
  std::string normalised;
  validate_path(path, normalised);
  return check_normalised(normalised, device_uuids, devices, grouping);
}

Device_Metadata_Manager::Type Device_Metadata_Manager::check_normalised(
    const std::string& normalised, const std::vector<std::string>& device_uuids,
    std::vector<std::string>* devices, const char* grouping) {
  Connection_Ptr conn = connection();
  if (!conn)
    return TYPE_NONE;
  try {
    std::vector<std::string> found;
    Select_SQL dirs;
    dirs.table(kDirTable).select("distinct(device_uuid)");
    Filter_SQL* filter = dirs.where().and_filter();
    VRT_CHECK_NOT_NULL(filter, TYPE_NONE);
    filter->add_in_uuid_item("device_uuid", device_uuids);
    // The root has no row of its own to match: it is there when some
    // directory hangs below it.
    if (normalised != ".")
      filter->add_kv_item("path", Value(normalised));
    else
      filter->add_kv_item("parent", Value("."));
    if (!distinct_devices(conn, dirs, found))
      return TYPE_NONE;
    Type type = found.empty() ? TYPE_NONE : TYPE_DIR;
    if (type == TYPE_NONE) {
      Select_SQL files;
      files.table(kFileTable).select("distinct(device_uuid)");
      filter = files.where().and_filter();
      VRT_CHECK_NOT_NULL(filter, TYPE_NONE);
      filter->add_kv_item("path", Value(normalised));
      filter->add_in_uuid_item("device_uuid", device_uuids);
      if (has_text(grouping))
        filter->add_kv_item("grouping", Value(grouping));
      if (!distinct_devices(conn, files, found))
        return TYPE_NONE;
      type = found.empty() ? TYPE_NONE : TYPE_FILE;
    }
    if (type != TYPE_NONE && devices != nullptr)
      devices->insert(devices->end(), found.begin(), found.end());
    return type;
  } catch (const std::exception& e) {
    LOG_ERROR("Failed to get existing devices: %s.", e.what());
    return TYPE_NONE;
  }
}

bool Device_Metadata_Manager::get_files_with_pool(const char* pool, long long offset,
                                                  long long limit, std::vector<File_Entry>& files,
                                                  long long* total) {
  VRT_CHECK_NOT_NULL(pool, false);
  Connection_Ptr conn = connection();
  if (!conn)
    return false;
  Select_SQL select;
  // Ordered by insertion, so consecutive pages neither skip nor repeat.
  select.table(kFileTable).order_by("id").limit(limit).offset(offset);
  select.where().and_filter()->add_sql("pool_uuid=:uuid");
  select.bind_uuid("uuid", pool);
  return get_files(conn, select, files, total);
}

bool Device_Metadata_Manager::get_files_with_device(const char* device, long long offset,
                                                    long long limit, std::vector<File_Entry>& files,
                                                    long long* total, bool unknown_size_only) {
  VRT_CHECK_NOT_NULL(device, false);
  Connection_Ptr conn = connection();
  if (!conn)
    return false;
  Select_SQL select;
  select.table(kFileTable).order_by("id").limit(limit).offset(offset);
  Filter_SQL* filter = select.where().and_filter();
  VRT_CHECK_NOT_NULL(filter, false);
  filter->add_key_uuid_eq_item("device_uuid", device);
  if (unknown_size_only)
    filter->add_kv_item("size", Value(-1));
  return get_files(conn, select, files, total);
}

bool Device_Metadata_Manager::get_files(const Connection_Ptr& conn, Select_SQL& select,
                                        std::vector<File_Entry>& files, long long* total) {
  Value rows;
  if (!fetch_rows(conn, select, rows)) {
    LOG_ERROR("Failed to get files.");
    return false;
  }
  if (total != nullptr) {
    Select_SQL count = select;
    count.select("COUNT(*)").order_by(std::string()).limit(-1).offset(0);
    Legacy_Cursor counter(conn, count, Legacy_Cursor::SCALAR, 0);
    long long n = 0;
    if (!counter.fetch() || !(counter >> n)) {
      LOG_ERROR("Failed to get files.");
      return false;
    }
    *total = n;
  }
  try {
    for (const Value& row : rows) {
      if (!row.is_object())
        throw JSON_Error("file row is not an object");
      const Object& r = row.get_ref<const Object&>();
      files.push_back(
          File_Entry{object_get_str_or_throw(r, "pool_uuid"),
                     object_get_str_or_throw(r, "device_uuid"), object_get_str_or_throw(r, "path"),
                     object_get_str_or_throw(r, "grouping"), object_get_int64_or_throw(r, "size")});
    }
  } catch (const std::exception& e) {
    LOG_ERROR("Failed to generate file name: %s.", e.what());
    return false;
  }
  return true;
}

long long Device_Metadata_Manager::get_device_used_size(const char* device_uuid) {
  VRT_CHECK_NOT_NULL(device_uuid, -1);
  Connection_Ptr conn = connection();
  if (!conn)
    return -1;
  Select_SQL select;
  select.table(kFileTable).select("SUM(size)");
  // -1 marks a size not known yet; any other negative size is no size.
  select.where().and_filter()->add_sql("device_uuid=:device_uuid AND size>=0");
  select.bind_uuid("device_uuid", device_uuid);
  Legacy_Cursor cursor(conn, select, Legacy_Cursor::SCALAR, 0);
  // A failed query is no empty device.
  if (!cursor.fetch())
    return -1;
  long long used = 0;
  cursor >> used;
  return used;
}

bool Device_Metadata_Manager::get_device_usage(const std::string& device_uuid, long long& size,
                                               long long& files) {
  Connection_Ptr conn = connection();
  if (!conn)
    return false;
  Select_SQL select;
  select.table(kFileTable).select("SUM(size) size, COUNT(*) files");
  select.where().and_filter()->add_sql("device_uuid=:device_uuid AND size>=0");
  select.bind_uuid("device_uuid", device_uuid);
  Legacy_Cursor cursor(conn, select, Legacy_Cursor::COLUMNS, 0);
  if (!cursor.fetch())
    return false;
  bool has_size = static_cast<bool>(cursor >> size);
  bool has_files = static_cast<bool>(cursor >> files);
  return has_size && has_files;
}
