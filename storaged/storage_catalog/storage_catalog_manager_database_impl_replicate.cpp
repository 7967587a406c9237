// Read-only queries over replicate jobs and replication relations: job
// details with their backup sets, statistics, retry candidates, sets not
// yet replicated and two yes/no tests.
#include "storaged/storage_catalog/storage_catalog_manager_database_impl.h"

#include "platform/runtime/log.h"
#include "platform/runtime/uuid.h"
#include "platform/sql/cursor.h"
#include "storaged/storage_catalog/catalog_state.h"
#include "storaged/storage_catalog/storage_catalog_manager_database_impl_internal.h"

using database::sql::Connection_Ptr;
using database::sql::Filter_SQL;
using database::sql::Item_SQL;
using database::sql::Legacy_Cursor;
using database::sql::Select_SQL;
using database::sql::SQL;
using namespace scat_db;

namespace {

const char kJobColumns[] =
    "j.id, j.type, j.catalog_uuid, j.start_time, j.finish_time, j.size, j.storage_size, j.state, "
    "j.progress, j.source_pool_uuid, (SELECT name FROM `storage_catalog_storage_pool` p WHERE "
    "p.uuid = j.source_pool_uuid) source_pool_name, j.target_pool_uuid, (SELECT name FROM "
    "`storage_catalog_storage_pool` p WHERE p.uuid = j.target_pool_uuid) target_pool_name, "
    "c.name, LOWER(HEX(c.uid)) uid, LOWER(HEX(c.resource_uuid)) resource_uuid, "
    "c.minor_resource_id, c.minor_resource_name, c.backup_time, c.agent, c.size catalog_size, "
    "c.state catalog_state";

const char kRelationJoin[] =
    "j.source_pool_uuid=prepl.source_uuid AND j.target_pool_uuid=prepl.target_uuid";

// The filter keys of the job query and the columns they compare. Only
// these reach the statement's text; values are always bound.
struct Filter_Column {
  const char* key;
  const char* column;
  bool uuid;
};
const Filter_Column kJobFilterColumns[] = {{"id", "j.id", false},
                                           {"type", "j.type", false},
                                           {"catalog_uuid", "j.catalog_uuid", true},
                                           {"source_pool_uuid", "j.source_pool_uuid", true},
                                           {"target_pool_uuid", "j.target_pool_uuid", true},
                                           {"size", "j.size", false},
                                           {"storage_size", "j.storage_size", false},
                                           {"state", "j.state", false},
                                           {"progress", "j.progress", false},
                                           {"creation_time", "j.creation_time", false},
                                           {"start_time", "j.start_time", false},
                                           {"finish_time", "j.finish_time", false},
                                           {"retry", "j.retry", false},
                                           {"name", "c.name", false},
                                           {"uid", "c.uid", true},
                                           {"incarnation", "c.incarnation", true},
                                           {"host_uuid", "c.host_uuid", true},
                                           {"resource_uuid", "c.resource_uuid", true},
                                           {"agent", "c.agent", false},
                                           {"backup_type", "c.backup_type", false},
                                           {"backup_time", "c.backup_time", false},
                                           {"minor_resource_id", "c.minor_resource_id", false},
                                           {"minor_resource_name", "c.minor_resource_name", false},
                                           {nullptr, nullptr, false}};

const char kStartTimeSuffix[] = "_start_time";

// Adds the condition of one filter entry. False (logged) for a key that
// names no column or a uuid column given something else.
bool add_job_condition(Filter_SQL& filter, const std::string& key, const std::string& value) {
  if (key.size() > 2 && key.compare(2, std::string::npos, kStartTimeSuffix) == 0) {
    int op = Item_SQL::op_name_to_value(key.substr(0, 2));
    if (op != database::sql::OP_NONE)
      return filter.add_kv_item("j.start_time", value, op);
  }
  for (const Filter_Column* c = kJobFilterColumns; c->key != nullptr; ++c) {
    if (key != c->key)
      continue;
    if (!c->uuid)
      return filter.add_kv_item(c->column, value);
    if (filter.add_key_uuid_eq_item(c->column, value))
      return true;
    LOG_ERROR("Failed to get replicate job info: '%s' of '%s' is not a uuid.", value.c_str(),
              key.c_str());
    return false;
  }
  LOG_ERROR("Failed to get replicate job info: unknown filter key '%s'.", key.c_str());
  return false;
}

// The comma-separated uuids of "resource_uuids" as one IN condition.
bool add_resource_condition(Filter_SQL& filter, const std::string& list) {
  std::vector<std::string> uuids;
  std::size_t start = 0;
  for (;;) {
    std::size_t comma = list.find(',', start);
    std::string entry = list.substr(start, comma == std::string::npos ? comma : comma - start);
    entry.erase(0, entry.find_first_not_of(' '));
    entry.erase(entry.find_last_not_of(' ') + 1);
    if (!vrt::is_uuid_hex(entry)) {
      LOG_ERROR("Failed to get replicate job info: resource uuid '%s' is not a uuid.",
                entry.c_str());
      return false;
    }
    uuids.push_back(entry);
    if (comma == std::string::npos)
      break;
    start = comma + 1;
  }
  return filter.add_in_uuid_item("c.resource_uuid", uuids);
}

// Whether the source pool's data can be warmed up: its first device is not
// reached over a LAN-free link.
bool is_warmup_possible(const Connection_Ptr& conn, const std::string& pool) {
  try {
    Select_SQL devices;
    devices.table(kDeviceTable).select("url").order_by("id");
    devices.where().and_filter()->add_sql("pool_uuid=:pool_uuid");
    Array rows;
    if (!devices.bind_uuid("pool_uuid", pool) || !read_rows(conn, devices, rows) || rows.empty()) {
      LOG_ERROR("Failed to get pool(%s) devices.", pool.c_str());
      return false;
    }
    const std::string& url = object_get_str_or_throw(rows[0].get_ref<const Object&>(), "url");
    return url.compare(0, 10, "lanfree://") != 0 && url.compare(0, 11, "lanfrees://") != 0;
  } catch (const std::exception& e) {
    LOG_ERROR("Failed to get pool(%s) devices: %s.", pool.c_str(), e.what());
    return false;
  }
}

bool has_relation(const Array& relations, const std::string& source, const Value& target) {
  for (const Value& relation : relations) {
    if (relation.is_object() && relation.value("source_uuid", Value()) == Value(source) &&
        relation.value("target_uuid", Value()) == target)
      return true;
  }
  return false;
}

void shape_job_row(Object& row, const std::string& source, bool warmup, const Array& relations) {
  for (const char* key : {"start_time", "finish_time"}) {
    if (!row[key].is_string())
      row[key] = "";
  }
  for (const char* key : {"size", "storage_size"}) {
    if (!row[key].is_number())
      row[key] = row["catalog_size"];
  }
  if (row["type"] == Value("replicate"))
    row["warmupable"] = warmup && has_relation(relations, source, row["target_pool_uuid"]);
  const Value& state = row["catalog_state"];
  Array names;
  catalog_state_to_array(
      static_cast<Catalog_State>(state.is_number_integer() ? state.get<long long>() : 0), names);
  row["catalog_state"] = std::move(names);
}

// Start time bounds of the statistics.
void add_time_bounds(Filter_SQL& filter, const std::string* start, const std::string* end) {
  if (start != nullptr)
    filter.add_kv_item("j.start_time", *start, database::sql::OP_GE);
  if (end != nullptr)
    filter.add_kv_item("j.start_time", *end, database::sql::OP_LE);
}

bool count_jobs_by_state(const Connection_Ptr& conn, const std::string& pool,
                         const std::string* start, const std::string* end, Object& out) {
  Select_SQL counts;
  counts.table(kReplicateJobTable, "j")
      .select("COUNT(j.id) count, state")
      .join(kReplicateTable, "prepl",
            std::string(kRelationJoin) + " AND j.source_pool_uuid = :source_pool_uuid")
      .group_by("state");
  add_time_bounds(*counts.where().and_filter(), start, end);
  Array rows;
  if (!bind_uuid_or_log(counts, "source_pool_uuid", pool) || !read_rows(conn, counts, rows))
    return false;
  long long total = 0;
  for (const char* state : {"pending", "running", "succeeded", "failed"})
    out[state] = 0;
  for (const Value& row : rows) {
    const Value count = row.value("count", Value(0));
    const Value state = row.value("state", Value());
    if (state.is_string())
      out[state.get<std::string>()] = count;
    total += count.is_number() ? count.get<long long>() : 0;
  }
  out["total"] = total;
  return true;
}

bool sum_succeeded_jobs(const Connection_Ptr& conn, const std::string& pool,
                        const std::string* start, const std::string* end, Object& out) {
  Select_SQL sums;
  sums.table(kReplicateJobTable, "j")
      .add_key("size", "SUM(c.size)")
      .add_key("time", is_mysql(conn) ? "SUM(ABS(UNIX_TIMESTAMP(j.finish_time)-UNIX_TIMESTAMP(j."
                                        "start_time)))"
                                      : "SUM(ABS(STRFTIME('%s', j.finish_time)-STRFTIME('%s', "
                                        "j.start_time)))")
      .join(pool, "c", "j.catalog_uuid = c.uuid")
      .join(kReplicateTable, "prepl", kRelationJoin);
  Filter_SQL* filter = sums.where().and_filter();
  filter->add_sql("j.source_pool_uuid=:source_pool_uuid AND j.state = 'succeeded'");
  add_time_bounds(*filter, start, end);
  Object row;
  if (!bind_uuid_or_log(sums, "source_pool_uuid", pool) || !read_row(conn, sums, row))
    return false;
  for (const char* key : {"size", "time"}) {
    const Value& value = row[key];
    out[key] = value.is_null() ? Value(0) : value;
  }
  return true;
}

}  // namespace

bool Storage_Catalog_Manager_Database_Impl::get_replicate_job_info(long long id,
                                                                   const std::string& pool,
                                                                   Object& out) {
  return guarded("Failed to get replicate job info", [&] {
    Connection_Ptr conn = pool_connection(pool);
    if (!conn)
      return false;
    SQL job(
        "SELECT j.source_pool_uuid, (SELECT name FROM `storage_catalog_storage_pool` AS p WHERE "
        "p.uuid=j.source_pool_uuid) source_pool_name, j.target_pool_uuid, (SELECT name FROM "
        "`storage_catalog_storage_pool` AS p WHERE p.uuid=j.target_pool_uuid) target_pool_name, "
        "c.name FROM `storage_catalog_pool_replicate_job` AS j, " +
        Catalog_Table(pool).sql() + " AS c WHERE j.id=:id AND j.catalog_uuid=c.uuid;");
    job.bind("id", id);
    return read_row(conn, job, out);
  });
}

bool Storage_Catalog_Manager_Database_Impl::get_replicate_job_info(
    const std::map<std::string, std::string>& filter, long long offset, long long limit, Array& out,
    long long* total) {
  return guarded("Failed to get replicate job info", [&] {
    auto source_entry = filter.find("source_pool_uuid");
    if (source_entry == filter.end()) {
      LOG_ERROR("Failed to find source_pool_uuid in query_string.");
      return false;
    }
    const std::string& source = source_entry->second;
    Connection_Ptr conn = pool_connection(source);
    if (!conn)
      return false;
    Select_SQL jobs;
    jobs.table(kReplicateJobTable, "j")
        .distinct()
        .select(kJobColumns)
        .join(kReplicateTable, "prepl", kRelationJoin)
        .join(source, "c", "j.catalog_uuid = c.uuid")
        .order_by("j.id")
        .desc()
        .limit(limit)
        .offset(offset);
    Filter_SQL* conditions = jobs.where().and_filter();
    for (const auto& entry : filter) {
      const std::string& key = entry.first;
      if (key == "offset" || key == "limit" || key == "scope" ||
          (key == "resource_uuids" && entry.second.empty()))
        continue;
      bool added = key == "resource_uuids" ? add_resource_condition(*conditions, entry.second)
                                           : add_job_condition(*conditions, key, entry.second);
      if (!added)
        return false;
    }
    Array rows;
    if (!read_rows_with_total(conn, jobs, rows, total))
      return false;
    if (rows.empty())
      return true;
    const bool warmup = is_warmup_possible(conn, source);
    Select_SQL all_relations;
    all_relations.table(kReplicateTable);
    Array relations;
    if (!read_rows(conn, all_relations, relations)) {
      LOG_ERROR("Failed to query replicate.");
      return false;
    }
    for (Value& row : rows) {
      shape_job_row(row.get_ref<Object&>(), source, warmup, relations);
      out.push_back(std::move(row));
    }
    return true;
  });
}

bool Storage_Catalog_Manager_Database_Impl::get_replicate_job_statistics_info(
    const std::string& pool, const std::string* start, const std::string* end, Object& out) {
  return guarded("Failed to get replicate job statistics info", [&] {
    Connection_Ptr conn = pool_connection(pool);
    return conn && count_jobs_by_state(conn, pool, start, end, out) &&
           sum_succeeded_jobs(conn, pool, start, end, out);
  });
}

bool Storage_Catalog_Manager_Database_Impl::get_retry_replicate_jobs(int hours, Array& out) {
  return guarded("Failed to get retry replicate jobs", [&] {
    // MariaDB reads "interval --5 hour" as five hours ahead and SQLite
    // gives no time at all: neither is a retry delay.
    if (hours < 0) {
      LOG_ERROR("Failed to get retry replicate jobs: a delay of %d hours is negative.", hours);
      return false;
    }
    Connection_Ptr conn = get_connection();
    if (!conn)
      return false;
    const std::string ago = is_mysql(conn)
                                ? "DATE_ADD(NOW(), interval -" + std::to_string(hours) + " hour)"
                                : "DATETIME('now', '-" + std::to_string(hours) + " hours')";
    SQL retry(
        "SELECT j.id `job_id`, j.catalog_uuid, j.type, j.source_pool_uuid, j.target_pool_uuid, "
        "j.retry FROM `storage_catalog_pool_replicate_job` j JOIN "
        "`storage_catalog_storage_pool_replicate` r ON j.source_pool_uuid = r.source_uuid AND "
        "j.target_pool_uuid = r.target_uuid WHERE j.retry != 0 AND j.state = 'failed' AND j.type "
        "!= 'warmup' AND (j.start_time IS NULL OR j.start_time <= " +
        ago + ") ORDER BY j.creation_time");
    return read_rows(conn, retry, out);
  });
}

bool Storage_Catalog_Manager_Database_Impl::get_not_replicated_catalogs(
    const std::string& source_pool, const std::string& target_pool, Array& out) {
  return guarded("Failed to get not replicated catalogs", [&] {
    Connection_Ptr conn = pool_connection(source_pool);
    if (!conn)
      return false;
    // A job that names no set (as a failed one may) hides none.
    Select_SQL sets;
    sets.table(Catalog_Table(source_pool).name());
    sets.where().and_filter()->add_sql(
        "state & 3 = 1 AND NOT EXISTS (SELECT 1 FROM `storage_catalog_pool_replicate_job` j "
        "WHERE j.type = 'replicate' AND j.source_pool_uuid = :uuid_1 AND j.target_pool_uuid = "
        ":uuid_2 AND j.catalog_uuid = " +
        Catalog_Table(source_pool).sql() + ".uuid)");
    return bind_uuid_or_log(sets, "uuid_1", source_pool) &&
           bind_uuid_or_log(sets, "uuid_2", target_pool) &&
           read_catalog_rows(conn, source_pool, sets, out, nullptr, false);
  });
}

bool Storage_Catalog_Manager_Database_Impl::is_replicate_pool(const std::string& pool) {
  return guarded("Failed to check replicate pool", [&] {
    Connection_Ptr conn = get_connection();
    if (!conn)
      return false;
    Select_SQL on_host;
    on_host.table(kPoolTable).select("on_host");
    on_host.where().and_filter()->add_sql("uuid=:pool_uuid");
    if (!bind_uuid_or_log(on_host, "pool_uuid", pool))
      return false;
    Legacy_Cursor cursor(conn, on_host, Legacy_Cursor::SCALAR, 0);
    if (!cursor.fetch())
      return false;
    long long value = 1;  // no row: an ordinary pool
    cursor >> value;
    return value == 0;
  });
}

bool Storage_Catalog_Manager_Database_Impl::is_replicated_catalog(const std::string& target_pool,
                                                                  const std::string& catalog_uuid) {
  return guarded("Failed to check replicated catalog", [&] {
    Connection_Ptr conn = get_connection();
    if (!conn)
      return false;
    Select_SQL jobs;
    jobs.table(kReplicateJobTable).select("id").limit(1);
    jobs.where().and_filter()->add_sql(
        "catalog_uuid=:catalog_uuid AND target_pool_uuid=:target_pool_uuid AND type = "
        "'replicate'");
    if (!bind_uuid_or_log(jobs, "catalog_uuid", catalog_uuid) ||
        !bind_uuid_or_log(jobs, "target_pool_uuid", target_pool))
      return false;
    Value row;
    Legacy_Cursor cursor(conn, jobs, Legacy_Cursor::ROW, 0);
    return cursor.fetch(row) && row.is_object();
  });
}
