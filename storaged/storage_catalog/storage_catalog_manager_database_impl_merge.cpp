// Merge (synthetic) backup jobs and the run of backup sets to merge next,
// ranges of backup sets of one group, the disaster-restore time points of
// every pool and the lookup in the catalog of older releases.
#include "storaged/storage_catalog/storage_catalog_manager_database_impl.h"

#include <algorithm>
#include <limits>

#include "platform/common/module_name.h"
#include "platform/runtime/log.h"
#include "platform/runtime/string_template.h"
#include "platform/runtime/uri.h"
#include "platform/sql/cursor.h"
#include "storaged/storage_catalog/storage_catalog_manager_database_impl_internal.h"

using database::sql::Binding_Value;
using database::sql::Bindings;
using database::sql::Connection_Ptr;
using database::sql::Legacy_Cursor;
using database::sql::Select_SQL;
using database::sql::SQL;
using namespace scat_db;

namespace {

// Columns of a pool's catalog table that may name a group or a time point
// filter (the JSON columns compare as text and are left out).
const char* const kCatalogColumnNames[] = {"id",
                                           "uuid",
                                           "uid",
                                           "host_uuid",
                                           "resource_uuid",
                                           "agent",
                                           "backup_type",
                                           "backup_time",
                                           "size",
                                           "name",
                                           "state",
                                           "incarnation",
                                           "pool_uuid",
                                           "minor_resource_id",
                                           "minor_resource_name"};

bool is_catalog_column(const std::string& name) {
  return std::find_if(std::begin(kCatalogColumnNames), std::end(kCatalogColumnNames),
                      [&](const char* column) { return name == column; }) !=
         std::end(kCatalogColumnNames);
}

// The merge job select, its columns written for the alias "j".
Select_SQL merge_job_select() {
  const std::string alias = "j";
  auto column = [&](const std::string& text) {
    return String_Template(text, "{{", "}}").set("j", alias).str();
  };
  Select_SQL select;
  select.table(kMergeJobTable, alias)
      .join(kPoolTable, "p", column("{{j}}.pool_uuid = p.uuid AND p.name IS NOT NULL"));
  select.add_key("id", column("{{j}}.id"))
      .add_key("type", column("{{j}}.type"))
      .add_key("pool_name", "p.name");
  for (const char* key :
       {"pool_uuid", "from_uuid", "to_uuid", "state", "creation_time", "start_time", "end_time"})
    select.add_key(key, column(std::string("{{j}}.") + key));
  select.sort_by(column("{{j}}.id"), true);
  return select;
}

bool is_catalog_file(const std::string& entry) {
  std::size_t slash = entry.rfind('\\');
  return entry.compare(slash == std::string::npos ? 0 : slash + 1, std::string::npos, "catalog") ==
         0;
}

// The time point of a union row, or null when its files list no catalog
// file or its pool has no parsed device URL.
bool shape_time_point(Object& row, const std::map<std::string, URI>& uris) {
  const std::string* pool = object_get_str(row, "pool_uuid");
  const Array* files = object_get_array(row, "files");
  auto uri = pool != nullptr ? uris.find(*pool) : uris.end();
  if (files == nullptr || uri == uris.end())
    return false;
  for (const Value& file : *files) {
    if (!file.is_string() || !is_catalog_file(file.get<std::string>()))
      continue;
    const std::string& entry = file.get_ref<const std::string&>();
    // The entry less its "\catalog" is the folder of the daemon's catalog.
    const std::string folder = entry.size() >= 8 ? entry.substr(0, entry.size() - 8) : "";
    row["uri"] = uri->second.path(true) + "/" + folder;
    row["scheme"] = uri->second.scheme();
    row.erase("pool_uuid");
    row.erase("files");
    return true;
  }
  return false;
}

// Pools per union: SQLite refuses a compound statement of more than 500
// terms, and MariaDB opens every table of one statement at once.
const std::size_t kPoolsPerUnion = 100;

// Orders time point rows as the SQL below does: newest first, then by
// pool; NULL times last, as both engines sort them in descending order.
bool newer_time_point(const Value& a, const Value& b) {
  auto rank = [](const Value& v) { return v.is_null() ? 0 : v.is_number() ? 1 : 2; };
  const Value& ta = a["time_point"];
  const Value& tb = b["time_point"];
  if (rank(ta) != rank(tb))
    return rank(ta) > rank(tb);
  if (ta.is_number() && ta != tb)
    return ta.get<double>() > tb.get<double>();
  if (ta.is_string() && ta != tb)
    return ta.get_ref<const std::string&>() > tb.get_ref<const std::string&>();
  const std::string* pa = object_get_str(a.get_ref<const Object&>(), "pool_uuid");
  const std::string* pb = object_get_str(b.get_ref<const Object&>(), "pool_uuid");
  return pa != nullptr && pb != nullptr && *pa < *pb;
}

// The rows of one union of pools (whose parts take `values`), ordered,
// the first `wanted` of them (all when negative); `*total` grows by the
// number of its rows when not null.
bool read_union(const Connection_Ptr& conn, const std::string& union_text, const Bindings& values,
                long long wanted, Array& rows, long long* total) {
  // A union is ordered by the names of its own columns.
  SQL page(union_text + " ORDER BY time_point DESC, pool_uuid LIMIT " +
           (wanted < 0 ? database::sql::no_limit(conn->dialect()) : std::to_string(wanted)));
  SQL count("SELECT COUNT(*) FROM (" + union_text + ") `t`;");
  for (const auto& value : values) {
    page.bind(value.first, value.second);
    count.bind(value.first, value.second);
  }
  Array read;
  if (!read_rows(conn, page, read))
    return false;
  for (Value& row : read)
    rows.push_back(std::move(row));
  if (total == nullptr)
    return true;
  Legacy_Cursor cursor(conn, count, Legacy_Cursor::SCALAR, 0);
  long long counted = 0;
  if (!cursor.fetch() || !(cursor >> counted))
    return false;
  *total += counted;
  return true;
}

// One page of the time points of every union in `unions` taken as one
// list and, when `total` is not null, the number of its rows.
bool read_time_points(const Connection_Ptr& conn, const std::vector<std::string>& unions,
                      const Bindings& values, const std::map<std::string, URI>& uris,
                      long long offset, long long limit, Array& out, long long* total) {
  offset = std::max(offset, 0LL);
  // Each union gives no more than the page's end; the page is cut from
  // their rows merged.
  const long long wanted =
      limit < 0 || limit > std::numeric_limits<long long>::max() - offset ? -1 : offset + limit;
  long long counted = 0;
  Array rows;
  for (const std::string& union_text : unions) {
    if (!read_union(conn, union_text, values, wanted, rows, total != nullptr ? &counted : nullptr))
      return false;
  }
  std::stable_sort(rows.begin(), rows.end(), newer_time_point);
  const std::size_t first = std::min(rows.size(), static_cast<std::size_t>(offset));
  const std::size_t last =
      wanted < 0 ? rows.size() : std::min(rows.size(), static_cast<std::size_t>(wanted));
  for (std::size_t i = first; i < last; ++i) {
    if (shape_time_point(rows[i].get_ref<Object&>(), uris))
      out.push_back(std::move(rows[i]));
  }
  if (total != nullptr)
    *total = counted;
  return true;
}

// The sets of the group whose `column` is `value`, but the newest
// `retention` - 1, oldest first; none while a merge of the group is pending
// or running. False (logged) when the query fails.
//
// A merge job works on the sets of its own pool, and minor resource ids
// repeat from pool to pool, so only the pool's own jobs hold its group
// back. A job that names no value of the column belongs to no group of it.
bool read_merge_run(const Connection_Ptr& conn, const std::string& pool, const std::string& column,
                    const std::string& value, long long retention,
                    std::vector<std::string>& uuids) {
  SQL run("SELECT uuid FROM (SELECT id, uuid, backup_time FROM " + Catalog_Table(pool).sql() +
          " WHERE state & 3 = 1 AND " + column +
          " = :group_val AND NOT EXISTS (SELECT 1 FROM `storage_catalog_merge_backup_job` "
          "WHERE state IN ('pending', 'running') AND pool_uuid = :pool_uuid AND " +
          column + " = :group_val) ORDER BY id DESC LIMIT " +
          database::sql::no_limit(conn->dialect()) + " OFFSET " + std::to_string(retention - 1) +
          ") `t` ORDER BY id ASC;");
  if (!bind_uuid_or_log(run, "pool_uuid", pool))
    return false;
  if (column == "minor_resource_id")
    run.bind("group_val", value);
  else if (!bind_uuid_or_log(run, "group_val", value))
    return false;
  if (!read_column(conn, run, "uuid", uuids)) {
    LOG_ERROR("Failed to get merge uuids with '%s'", run.str(conn->dialect()).c_str());
    return false;
  }
  return true;
}

// The conditions of the time point filter (keys checked against the
// catalog's columns, values bound as `values`). False (logged) for a key
// that is not a column or a malformed uuid.
bool time_point_conditions(const std::map<std::string, std::string>& filter,
                           const std::vector<std::string>& uuid_columns, std::string& conditions,
                           Bindings& values) {
  for (const auto& entry : filter) {
    if (!is_catalog_column(entry.first)) {
      LOG_ERROR("Failed to get disaster restore time points: unknown filter key '%s'.",
                entry.first.c_str());
      return false;
    }
    const std::string name = "f_" + std::to_string(values.size());
    conditions += " AND " + entry.first + " = :" + name;
    Binding_Value value(entry.second);
    if (std::find(uuid_columns.begin(), uuid_columns.end(), entry.first) != uuid_columns.end() &&
        !Binding_Value::uuid(entry.second, value)) {
      LOG_ERROR("Invalid uuid '%s' for :%s.", entry.second.c_str(), entry.first.c_str());
      return false;
    }
    values.emplace_back(name, value);
  }
  return true;
}

}  // namespace

bool Storage_Catalog_Manager_Database_Impl::read_merge_jobs(const Connection_Ptr& conn,
                                                            const Select_SQL& sql, Array& rows,
                                                            long long* total) const {
  Array jobs;
  if (!read_rows_with_total(conn, sql, jobs, total))
    return false;
  for (Value& job : jobs) {
    Object& row = job.get_ref<Object&>();
    const std::string pool = object_get_str_or_throw(row, "pool_uuid");
    const std::pair<const char*, const char*> ends[] = {{"from_uuid", "from"}, {"to_uuid", "to"}};
    for (const auto& end : ends) {
      const std::string uuid = object_get_str_or_throw(row, end.first);
      Object set;
      if (!read_backup_set(conn, pool, uuid, set)) {
        LOG_ERROR("Failed to query catalog %s in pool %s.", uuid.c_str(), pool.c_str());
        return false;
      }
      const std::string prefix = end.second;
      row[prefix + "_timepoint"] = set["backup_time"];
      row[prefix + "_name"] = set["name"];
      if (prefix == "to")
        update_json_partial(set, row, "name", "host_uuid", "uid", "resource_uuid", "agent");
    }
    for (const char* key : {"start_time", "end_time"}) {
      if (!row[key].is_string())
        row[key] = "";
    }
  }
  rows = std::move(jobs);
  return true;
}

bool Storage_Catalog_Manager_Database_Impl::get_merge_backup_job_info(const std::string& pool,
                                                                      long long id, Object& out) {
  return guarded("Failed to get merge backup job info", [&] {
    Connection_Ptr conn = get_connection();
    if (!conn)
      return false;
    Select_SQL job = merge_job_select();
    job.where().and_filter()->add_sql("j.id=:id");
    job.bind("id", id);
    Array rows;
    if (!read_merge_jobs(conn, job, rows, nullptr))
      return false;
    if (!rows.empty() && rows[0].is_object())
      out = std::move(rows[0].get_ref<Object&>());
    return true;
  });
}

bool Storage_Catalog_Manager_Database_Impl::get_merge_backup_job_info(Select_SQL& sql, Array& out,
                                                                      long long* total) {
  return guarded("Failed to get merge backup job info", [&] {
    Connection_Ptr conn = get_connection();
    if (!conn)
      return false;
    Select_SQL jobs = merge_job_select();
    jobs.sql_join(sql, "rj", "rj.id=j.id");
    return read_merge_jobs(conn, jobs, out, total);
  });
}

bool Storage_Catalog_Manager_Database_Impl::get_merge_backup_strategy(
    const std::string& pool, const std::string& catalog_uuid, Object& out) {
  try {
    out.clear();
    Connection_Ptr conn = get_connection();
    if (!conn)
      return false;
    Object pool_row;
    if (!read_row_by_uuid(conn, kPoolTable, pool, pool_row)) {
      LOG_ERROR("Failed to get pool with '%s'", pool.c_str());
      return false;
    }
    const Object& attrs = object_get_object_or_throw(pool_row, "extended_attrs");
    long long retention = 0;
    object_get(attrs, "synthetic_backup_retention", retention);
    if (retention < 1)
      return true;
    std::string version;
    object_get(attrs, "synthesizer_version", version);
    Object set;
    if (!check_pool(pool))
      return false;
    if (!read_backup_set(conn, pool, catalog_uuid, set)) {
      LOG_ERROR("Failed to get catalog with '%s' in pool '%s'.", catalog_uuid.c_str(),
                pool.c_str());
      return false;
    }
    const std::string* agent = object_get_str(set, "agent");
    std::string module;
    if (agent == nullptr || !common::parse_module_name(*agent, module) || module.empty()) {
      LOG_ERROR("Invalid agent type '%s'", agent != nullptr ? agent->c_str() : "");
      return false;
    }
    const bool by_minor_resource =
        (module == "file" || module == "hadoop" || module == "obs") && version == "2.0";
    const std::string column = by_minor_resource ? "minor_resource_id" : "incarnation";
    std::vector<std::string> uuids;
    if (!read_merge_run(conn, pool, column, object_get_str_or_throw(set, column), retention, uuids))
      return false;
    if (uuids.empty())
      return true;
    out = Object{{"type", module},
                 {"pool_uuid", pool},
                 {"incarnation", set["incarnation"]},
                 {"from_uuid", uuids.front()},
                 {"to_uuid", uuids.back()},
                 {"synthesizer_version", version}};
    return true;
  } catch (const std::exception& e) {
    LOG_ERROR("Failed to get merge backup strategy with pool '%s', catalog '%s': %s.", pool.c_str(),
              catalog_uuid.c_str(), e.what());
    return false;
  }
}

bool Storage_Catalog_Manager_Database_Impl::get_catalogs(const std::string& pool,
                                                         const std::string& from_uuid,
                                                         const std::string& to_uuid,
                                                         const std::string& group_column,
                                                         Array& out) {
  return guarded("Failed to get catalogs", [&] {
    if (!check_pool(pool))
      return false;
    if (!is_catalog_column(group_column)) {
      LOG_ERROR("Failed to get catalogs: '%s' is not a column of the catalog table.",
                group_column.c_str());
      return false;
    }
    Connection_Ptr conn = get_connection();
    if (!conn)
      return false;
    Object first;
    if (!read_backup_set(conn, pool, from_uuid, first)) {
      LOG_ERROR("Failed to get catalog with '%s' in pool '%s'.", from_uuid.c_str(), pool.c_str());
      return false;
    }
    auto group = first.find(group_column);
    if (group == first.end() || group->second.is_null()) {
      LOG_ERROR("Failed to get catalog '%s'.", from_uuid.c_str());
      return false;
    }
    const Catalog_Table table(pool);
    Select_SQL range;
    range.table(table.name()).order_by("id");
    range.where().and_filter()->add_sql(group_column + " = :group_val AND id >= (SELECT id FROM " +
                                        table.sql() +
                                        " WHERE uuid = :uuid_1) AND id <= (SELECT id FROM " +
                                        table.sql() + " WHERE uuid = :uuid_2)");
    // A uuid column holds 16 bytes, read back as hexadecimal text.
    const bool uuid_column =
        std::find(uuid_keys_.begin(), uuid_keys_.end(), group_column) != uuid_keys_.end();
    if (uuid_column && group->second.is_string()) {
      if (!bind_uuid_or_log(range, "group_val", group->second.get<std::string>()))
        return false;
    } else {
      range.bind("group_val", Binding_Value::from_json(group->second));
    }
    if (!bind_uuid_or_log(range, "uuid_1", from_uuid) ||
        !bind_uuid_or_log(range, "uuid_2", to_uuid))
      return false;
    if (!read_rows(conn, range, out)) {
      LOG_ERROR("Failed to get catalogs with '%s'", range.str(conn->dialect()).c_str());
      return false;
    }
    return true;
  });
}

bool Storage_Catalog_Manager_Database_Impl::get_disaster_restore_time_points(
    const std::map<std::string, std::string>& filter, long long offset, long long limit, Array& out,
    long long* total) {
  return guarded("Failed to get pool info", [&] {
    Connection_Ptr conn = get_connection();
    if (!conn)
      return false;
    SQL devices(
        "SELECT p.uuid, d.url FROM `storage_catalog_storage_pool` p,`storage_catalog_device` d "
        "WHERE p.uuid = d.pool_uuid;");
    Array rows;
    if (!read_rows(conn, devices, rows)) {
      LOG_ERROR("Failed to get pool_uuid and url.");
      return false;
    }
    std::map<std::string, std::string> urls;  // the last device read wins
    for (const Value& row : rows) {
      const Object& device = row.get_ref<const Object&>();
      const std::string* url = object_get_str(device, "url");
      urls[object_get_str_or_throw(device, "uuid")] = url != nullptr ? *url : std::string();
    }
    // Every pool's part of the union uses the same bound values.
    std::string conditions;
    Bindings values;
    if (!time_point_conditions(filter, uuid_keys_, conditions, values))
      return false;
    std::vector<std::string> unions;
    std::size_t in_union = 0;
    std::map<std::string, URI> uris;
    for (const auto& pool : urls) {
      // The uuids come from the database, but name tables all the same.
      if (!Catalog_Table::is_pool_uuid(pool.first) || !check_pool(pool.first))
        continue;
      URI uri;
      if (URI_Parser::parse(pool.second.c_str(), uri))
        uris[pool.first] = uri;
      else
        LOG_ERROR("Failed to parse url: %s", pool.second.c_str());
      if (unions.empty() || in_union == kPoolsPerUnion) {
        unions.emplace_back();
        in_union = 0;
      } else {
        unions.back() += " union ";
      }
      unions.back() += "SELECT name, backup_time time_point, files, pool_uuid FROM " +
                       Catalog_Table(pool.first).sql() +
                       " WHERE agent = 'backupd' AND state & 3 = 1" + conditions;
      ++in_union;
    }
    return read_time_points(conn, unions, values, uris, offset, limit, out, total);
  });
}

bool Storage_Catalog_Manager_Database_Impl::get_old_catalog(const std::string& pool,
                                                            const std::string& uuid, Object& out) {
  return guarded("Failed to get old catalog", [&] {
    Connection_Ptr conn = pool_connection(pool);
    if (!conn)
      return false;
    SQL old(
        "select uuid, instance_uuid, agent, backup_type, backup_time, base_dir, files, size, name, "
        "incarnation `incarnation_str`, state from catalog where uuid=:uuid;");
    return bind_uuid_or_log(old, "uuid", uuid) && read_row(conn, old, out);
  });
}
