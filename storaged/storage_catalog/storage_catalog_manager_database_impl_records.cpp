// Record operations of the SQL back-end: backup sets in each pool's catalog
// table, and pools, devices, replicates and jobs in the shared tables.
#include "storaged/storage_catalog/storage_catalog_manager_database_impl.h"

#include "platform/runtime/log.h"
#include "platform/sql/filter_parser.h"
#include "platform/sql/transaction.h"
#include "storaged/storage_catalog/catalog_state.h"
#include "storaged/storage_catalog/storage_catalog_manager_database_impl_internal.h"

using database::sql::Connection_Ptr;
using database::sql::Delete_SQL;
using database::sql::Filter_SQL;
using database::sql::Insert_SQL;
using database::sql::Select_SQL;
using database::sql::SQL;
using database::sql::SQL_Filter_Parser;
using database::sql::Update_SQL;
using namespace scat_db;

namespace {

// The "states" and "not_states" conditions, or the online-only one that
// overrides them.
bool add_state_conditions(Filter_SQL& filter, const Object& request, bool online_only) {
  if (online_only) {
    filter.add_sql("state & 3 = 1");
    return true;
  }
  const std::pair<const char*, bool> keys[] = {{"states", false}, {"not_states", true}};
  for (const auto& key : keys) {
    auto it = request.find(key.first);
    if (it == request.end())
      continue;
    if (!it->second.is_string()) {
      LOG_ERROR("Failed to parse Select_SQL for query catalog.");
      LOG_ERROR("'%s' expects comma-separated state names, got %s", key.first,
                json_type_name(it->second));
      return false;
    }
    std::string condition;
    generate_state_filter_sql(it->second.get<std::string>(), key.second, condition);
    filter.add_sql(condition);
  }
  return true;
}

bool build_insert(Insert_SQL& insert, const std::string& table, const Object& record,
                  const Record_Column* columns) {
  if (!check_json_depth(record, "Failed to add record to " + table))
    return false;
  insert.table(table);
  std::string reason;
  if (!add_record_columns(insert, record, columns, reason)) {
    LOG_ERROR("Failed to add record to %s: %s", table.c_str(), reason.c_str());
    return false;
  }
  return true;
}

bool execute_insert(const Connection_Ptr& conn, const Insert_SQL& insert, long long* id) {
  if (!conn->execute(insert)) {
    LOG_ERROR("Failed to execute insert SQL.");
    return false;
  }
  if (id != nullptr)
    *id = conn->last_insert_id();
  return true;
}

// Keys a statement by uuid, or else by a non-zero id. False (logged) when
// neither is usable.
bool bind_key(SQL& sql, const std::string& table, const std::string& uuid, long long id,
              std::string& condition) {
  if (!uuid.empty()) {
    if (!sql.bind_uuid("uuid", uuid)) {
      LOG_ERROR("Invalid uuid '%s' for %s.", uuid.c_str(), table.c_str());
      return false;
    }
    condition = "uuid=:uuid";
    return true;
  }
  if (id != 0) {
    sql.bind("id", id);
    condition = "id=:id";
    return true;
  }
  LOG_ERROR("Invalid key for %s: neither uuid nor id.", table.c_str());
  return false;
}

}  // namespace

bool Storage_Catalog_Manager_Database_Impl::check_pool(const std::string& pool) const {
  if (is_known_table(pool))
    return true;
  if (!pool.empty())
    LOG_ERROR("Failed to find catalog table of pool '%s'.", pool.c_str());
  return false;
}

Connection_Ptr Storage_Catalog_Manager_Database_Impl::pool_connection(const std::string& pool) {
  return check_pool(pool) ? get_connection() : Connection_Ptr();
}

bool Storage_Catalog_Manager_Database_Impl::read_backup_set(const Connection_Ptr& conn,
                                                            const std::string& pool,
                                                            const std::string& uuid,
                                                            Object& set) const {
  return !pool.empty() && is_known_table(pool) && read_row_by_uuid(conn, pool, uuid, set);
}

// ---------------------------------------------------------------------------
// Backup sets

bool Storage_Catalog_Manager_Database_Impl::query_catalog(
    const std::string& pool, const Object& filter, const std::string& order_column, bool ascending,
    long long offset, long long limit, Array& rows, long long* total, bool detail,
    bool online_only) {
  return guarded("Failed to query catalog", [&] {
    if (!check_pool(pool) || !check_json_depth(filter, "Failed to query catalog"))
      return false;
    // The order column is spliced into the statement: a column name only.
    if (!order_column.empty() && !database::sql::is_identifier(order_column)) {
      LOG_ERROR("Failed to query catalog: '%s' is not a column to order by.", order_column.c_str());
      return false;
    }
    Connection_Ptr conn = get_connection();
    if (!conn)
      return false;
    Select_SQL sql;
    sql.table(pool).order_by(order_column).limit(limit).offset(offset).desc(!ascending);
    Filter_SQL* f = sql.where().and_filter();
    if (f == nullptr) {
      VRT_LOG_UNEXPECTED("f", VRT_IS_NULL);
      return false;
    }
    SQL_Filter_Parser parser(f, kCatalogFilterKeys);
    if (!parser.parse(filter, 1)) {
      LOG_ERROR("Failed to parse Select_SQL for query catalog.");
      LOG_ERROR("%s", parser.error().c_str());
      return false;
    }
    if (!add_state_conditions(*f, filter, online_only))
      return false;
    return read_catalog_rows(conn, pool, sql, rows, total, detail);
  });
}

bool Storage_Catalog_Manager_Database_Impl::query_catalog(const std::string& pool, Select_SQL& sql,
                                                          Array& rows, long long* total) {
  return guarded("Failed to query catalog", [&] {
    Connection_Ptr conn = pool_connection(pool);
    if (!conn)
      return false;
    sql.table(pool);
    if (sql.where().and_filter() == nullptr) {
      VRT_LOG_UNEXPECTED("filter", VRT_IS_NULL);
      return false;
    }
    return read_catalog_rows(conn, pool, sql, rows, total, false);
  });
}

bool Storage_Catalog_Manager_Database_Impl::add_catalog(const std::string& pool,
                                                        const Object& catalog) {
  return guarded("Failed to add catalog", [&] {
    Connection_Ptr conn = pool_connection(pool);
    if (!conn)
      return false;
    Insert_SQL insert;
    if (!build_insert(insert, pool, catalog, kCatalogColumns))
      return false;
    if (catalog.count("minor_resource_id") == 0)
      insert.value("minor_resource_id", "");
    insert.or_expr(2);
    return execute_insert(conn, insert, nullptr);
  });
}

bool Storage_Catalog_Manager_Database_Impl::update_catalog(const std::string& pool,
                                                           const std::string& uuid,
                                                           const Object& values) {
  return guarded("Failed to update catalog", [&] {
    return check_pool(pool) && update_record(pool, uuid, 0, values, kCatalogColumns);
  });
}

// ---------------------------------------------------------------------------
// Shared tables

bool Storage_Catalog_Manager_Database_Impl::query_table(const char* table, const Object& filter,
                                                        long long offset, long long limit,
                                                        Array& rows, long long* total) {
  return guarded("Failed to query records", [&] {
    if (!check_json_depth(filter, std::string("Failed to parse filter of ") + table))
      return false;
    Connection_Ptr conn = get_connection();
    if (!conn)
      return false;
    Select_SQL sql;
    sql.table(table).offset(offset).limit(limit);
    Filter_SQL* f = sql.where().and_filter();
    if (f == nullptr) {
      VRT_LOG_UNEXPECTED("f", VRT_IS_NULL);
      return false;
    }
    std::string error;
    if (!database::sql::generate_filter_from_obj(filter, *f, shared_filter_keys(table), &error)) {
      LOG_ERROR("Failed to parse filter of %s: %s", table, error.c_str());
      return false;
    }
    return read_rows_with_total(conn, sql, rows, total);
  });
}

bool Storage_Catalog_Manager_Database_Impl::add_record(const char* table, const Object& record,
                                                       const Record_Column* columns,
                                                       long long* id) {
  return guarded("Failed to add record", [&] {
    Connection_Ptr conn = get_connection();
    if (!conn)
      return false;
    Insert_SQL insert;
    return build_insert(insert, table, record, columns) && execute_insert(conn, insert, id);
  });
}

bool Storage_Catalog_Manager_Database_Impl::merge_extended_attrs(const Connection_Ptr& conn,
                                                                 const std::string& table,
                                                                 const std::string& uuid,
                                                                 long long id, Object& record) {
  return guarded("Failed to get extended_attrs to update", [&] {
    Select_SQL read;
    read.table(table).select("extended_attrs");
    std::string condition;
    if (!bind_key(read, table, uuid, id, condition))
      return false;
    read.where().and_filter()->add_sql(condition);
    Object stored;
    if (!read_row(conn, read, stored)) {
      LOG_ERROR("Failed to get pool with uuid '%s' or id '%q'", uuid.c_str(), id);
      return false;
    }
    Value& incoming = record["extended_attrs"];
    auto it = stored.find("extended_attrs");
    if (it != stored.end() && it->second.is_object() && incoming.is_object()) {
      for (const auto& member : incoming.items())
        it->second[member.key()] = member.value();
      incoming = std::move(it->second);
    }
    return true;
  });
}

bool Storage_Catalog_Manager_Database_Impl::update_record(const std::string& table,
                                                          const std::string& uuid, long long id,
                                                          const Object& record,
                                                          const Record_Column* columns) {
  return guarded("Failed to update record", [&] {
    // Checked before the record is copied.
    if (!check_json_depth(record, "Failed to update record of " + table))
      return false;
    Connection_Ptr conn = get_connection();
    if (!conn)
      return false;
    Update_SQL update;
    update.table(table);
    std::string condition;
    if (!bind_key(update, table, uuid, id, condition))
      return false;
    Object values = record;
    // A null would wipe the stored attributes, keys other modules keep
    // there ("snapshot_id") with them: it changes nothing instead.
    auto attrs = values.find("extended_attrs");
    if (attrs != values.end() && attrs->second.is_null()) {
      values.erase(attrs);
      if (values.empty())
        return true;
    }
    if (!uuid.empty())
      values["uuid"] = uuid;
    if (values.count("extended_attrs") != 0 && !merge_extended_attrs(conn, table, uuid, id, values))
      return false;
    std::string reason;
    if (!add_record_columns(update, values, columns, reason)) {
      LOG_ERROR("Failed to update record of %s: %s", table.c_str(), reason.c_str());
      return false;
    }
    update.where().and_filter()->add_sql(condition);
    if (!conn->execute(update)) {
      LOG_ERROR("Failed to execute update %s SQL.", table.c_str());
      return false;
    }
    return true;
  });
}

bool Storage_Catalog_Manager_Database_Impl::remove_record(const std::string& table,
                                                          const std::string& uuid, long long id) {
  return guarded("Failed to remove record", [&] {
    Connection_Ptr conn = get_connection();
    if (!conn)
      return false;
    Delete_SQL remove;
    remove.table(table);
    std::string condition;
    if (!bind_key(remove, table, uuid, id, condition))
      return false;
    remove.where().and_filter()->add_sql(condition);
    if (!conn->execute(remove)) {
      LOG_ERROR("Failed to execute delete %s SQL.", table.c_str());
      return false;
    }
    return true;
  });
}

bool Storage_Catalog_Manager_Database_Impl::query(Select_SQL& sql, Array& rows, long long* total) {
  return guarded("Failed to query", [&] {
    Connection_Ptr conn = get_connection();
    return conn && read_rows_with_total(conn, sql, rows, total);
  });
}

bool Storage_Catalog_Manager_Database_Impl::query_device(const Object& filter, long long offset,
                                                         long long limit, Array& rows,
                                                         long long* total) {
  return query_table(kDeviceTable, filter, offset, limit, rows, total);
}

bool Storage_Catalog_Manager_Database_Impl::add_device(const Object& device) {
  return add_record(kDeviceTable, device, kDeviceColumns, nullptr);
}

bool Storage_Catalog_Manager_Database_Impl::update_device(const std::string& uuid,
                                                          const Object& device) {
  return update_record(kDeviceTable, uuid, 0, device, kDeviceColumns);
}

bool Storage_Catalog_Manager_Database_Impl::remove_device(const std::string& uuid) {
  return remove_record(kDeviceTable, uuid, 0);
}

bool Storage_Catalog_Manager_Database_Impl::query_pool(const Object& filter, long long offset,
                                                       long long limit, Array& rows,
                                                       long long* total) {
  return query_table(kPoolTable, filter, offset, limit, rows, total);
}

bool Storage_Catalog_Manager_Database_Impl::add_pool(const Object& pool) {
  return guarded("Failed to add pool", [&] {
    const std::string* uuid = object_get_str(pool, "uuid");
    if (uuid == nullptr) {
      LOG_ERROR("Invalid data, can not find uuid.");
      return false;
    }
    Connection_Ptr conn = get_connection();
    if (!conn)
      return false;
    // Checked before the catalog table is made, so bad input leaves nothing.
    Insert_SQL insert;
    if (!build_insert(insert, kPoolTable, pool, kPoolColumns))
      return false;
    if (!create_catalog_table(conn, *uuid)) {
      LOG_ERROR("Failed to init db catalog schema for %s.", uuid->c_str());
      return false;
    }
    if (!execute_insert(conn, insert, nullptr))
      return false;
    // A usage row left by an earlier pool of this uuid is kept.
    Insert_SQL usage;
    usage.table(kUsageTable).or_expr(1);
    if (usage.value_uuid("pool_uuid", *uuid))
      conn->execute(usage);
    return true;
  });
}

bool Storage_Catalog_Manager_Database_Impl::update_pool(const std::string& uuid,
                                                        const Object& pool) {
  return update_record(kPoolTable, uuid, 0, pool, kPoolColumns);
}

bool Storage_Catalog_Manager_Database_Impl::remove_pool(const std::string& uuid) {
  return remove_record(kPoolTable, uuid, 0);
}

bool Storage_Catalog_Manager_Database_Impl::query_replicate(const Object& filter, long long offset,
                                                            long long limit, Array& rows,
                                                            long long* total) {
  return query_table(kReplicateTable, filter, offset, limit, rows, total);
}

bool Storage_Catalog_Manager_Database_Impl::add_replicate(const Object& replicate) {
  return add_record(kReplicateTable, replicate, kReplicateColumns, nullptr);
}

bool Storage_Catalog_Manager_Database_Impl::update_replicate(const std::string& uuid,
                                                             const Object& replicate) {
  return update_record(kReplicateTable, uuid, 0, replicate, kReplicateColumns);
}

bool Storage_Catalog_Manager_Database_Impl::remove_replicate(const std::string& uuid) {
  try {
    Connection_Ptr conn = get_connection();
    if (!conn)
      return false;
    Object relation;
    if (!read_row_by_uuid(conn, kReplicateTable, uuid, relation)) {
      LOG_ERROR("Failed to query replicate by %s", uuid.c_str());
      return false;
    }
    SQL remove("DELETE FROM `storage_catalog_storage_pool_replicate` WHERE uuid=:uuid");
    remove.bind_uuid("uuid", uuid);
    // Finished copies stay: their backup sets are in the target pool.
    SQL jobs(
        "DELETE FROM `storage_catalog_pool_replicate_job` WHERE source_pool_uuid=:source_uuid AND "
        "target_pool_uuid=:target_uuid AND state!='succeeded'");
    jobs.bind_uuid("source_uuid", object_get_str_or_throw(relation, "source_uuid"));
    jobs.bind_uuid("target_uuid", object_get_str_or_throw(relation, "target_uuid"));
    database::Transaction transaction(conn);
    if (!begin_transaction(transaction, __LINE__))
      return false;
    if (!conn->execute(remove)) {
      LOG_ERROR("Failed to remove replicate '%s'", uuid.c_str());
      return false;
    }
    if (!conn->execute(jobs)) {
      LOG_ERROR("Failed to remove replicate job before removing '%s'.", uuid.c_str());
      return false;
    }
    return commit_transaction(transaction, __LINE__);
  } catch (const std::exception& e) {
    LOG_ERROR("Failed to delete replicate, replicate info exception: %s", e.what());
    return false;
  }
}

bool Storage_Catalog_Manager_Database_Impl::query_replicate_job(const Object& filter,
                                                                long long offset, long long limit,
                                                                Array& rows, long long* total) {
  return query_table(kReplicateJobTable, filter, offset, limit, rows, total);
}

bool Storage_Catalog_Manager_Database_Impl::add_replicate_job(const Object& job, long long& id) {
  return add_record(kReplicateJobTable, job, kReplicateJobColumns, &id);
}

bool Storage_Catalog_Manager_Database_Impl::update_replicate_job(long long id, const Object& job) {
  return update_record(kReplicateJobTable, std::string(), id, job, kReplicateJobColumns);
}

bool Storage_Catalog_Manager_Database_Impl::remove_replicate_job(long long id) {
  return remove_record(kReplicateJobTable, std::string(), id);
}

bool Storage_Catalog_Manager_Database_Impl::query_merge_backup_job(const Object& filter,
                                                                   long long offset,
                                                                   long long limit, Array& rows,
                                                                   long long* total) {
  return query_table(kMergeJobTable, filter, offset, limit, rows, total);
}

bool Storage_Catalog_Manager_Database_Impl::add_merge_backup_job(const Object& job, long long& id) {
  return add_record(kMergeJobTable, job, kMergeJobColumns, &id);
}

bool Storage_Catalog_Manager_Database_Impl::update_merge_backup_job(long long id,
                                                                    const Object& job) {
  return update_record(kMergeJobTable, std::string(), id, job, kMergeJobColumns);
}

bool Storage_Catalog_Manager_Database_Impl::remove_merge_backup_job(long long id) {
  return remove_record(kMergeJobTable, std::string(), id);
}
