// Pool-wide operations of the SQL back-end: how many pools replicate into a
// pool, and the revocation of a deduplication pool's master role, which
// strips its relations and catalogs and then its records unless other
// pools still replicate into it.
#include "storaged/storage_catalog/storage_catalog_manager_database_impl.h"

#include <vector>

#include "platform/runtime/log.h"
#include "platform/sql/cursor.h"
#include "platform/sql/transaction.h"
#include "storaged/storage_catalog/storage_catalog_manager_database_impl_internal.h"

using database::sql::Connection_Ptr;
using database::sql::Delete_SQL;
using database::sql::Legacy_Cursor;
using database::sql::Select_SQL;
using database::sql::Update_SQL;
using namespace scat_db;

namespace {

// The relations out of `pool`. False (logged) when they cannot be read.
bool read_relations_from(const Connection_Ptr& conn, const std::string& pool,
                         std::vector<std::string>& uuids) {
  Select_SQL select;
  select.table(kReplicateTable).select("LOWER(HEX(uuid))");
  select.where().and_filter()->add_sql("source_uuid=:source_uuid");
  if (!bind_uuid_or_log(select, "source_uuid", pool))
    return false;
  Legacy_Cursor cursor(conn, select, Legacy_Cursor::STREAM, 0);
  if (!cursor.fetch()) {
    LOG_ERROR("Failed to query replicates of pool '%s'.", pool.c_str());
    return false;
  }
  while (!cursor.eof()) {
    std::string uuid;
    if (!(cursor >> uuid))
      break;
    uuids.push_back(uuid);
  }
  return true;
}

// The relations into `pool`; -1 when they cannot be counted.
int count_relations_into(const Connection_Ptr& conn, const std::string& pool) {
  Select_SQL select;
  select.table(kReplicateTable).select("COUNT(*)");
  select.where().and_filter()->add_sql("target_uuid=:uuid");
  if (!select.bind_uuid("uuid", pool))
    return -1;
  Legacy_Cursor cursor(conn, select, Legacy_Cursor::SCALAR, 0);
  int count = 0;
  if (!cursor.fetch() || !(cursor >> count))
    return -1;
  return count;
}

bool store_quoted(const Connection_Ptr& conn, const std::string& pool, int quoted) {
  Update_SQL update;
  update.table(kPoolTable).set("quoted", quoted);
  update.where().and_filter()->add_sql("uuid=:uuid");
  update.bind_uuid("uuid", pool);
  if (!conn->execute(update)) {
    LOG_ERROR("Failed to execute update %s SQL.", kPoolTable);
    return false;
  }
  return true;
}

// The pool row and its devices, together or not at all.
bool remove_pool_records(const Connection_Ptr& conn, const std::string& pool) {
  database::Transaction transaction(conn);
  if (!begin_transaction(transaction, __LINE__))
    return false;
  Delete_SQL record;
  record.table(kPoolTable);
  record.where().and_filter()->add_sql("uuid=:uuid");
  record.bind_uuid("uuid", pool);
  if (!conn->execute(record)) {
    LOG_ERROR("Failed to execute delete %s SQL.", kPoolTable);
    return false;
  }
  Delete_SQL devices;
  devices.table(kDeviceTable);
  devices.where().and_filter()->add_sql("pool_uuid=:pool_uuid");
  devices.bind_uuid("pool_uuid", pool);
  if (!conn->execute(devices)) {
    LOG_ERROR("Failed to execute delete %s SQL.", kDeviceTable);
    return false;
  }
  return commit_transaction(transaction, __LINE__);
}

}  // namespace

int Storage_Catalog_Manager_Database_Impl::get_quoted(const std::string& pool) {
  Connection_Ptr conn = get_connection();
  return conn ? count_relations_into(conn, pool) : -1;
}

bool Storage_Catalog_Manager_Database_Impl::revoke_dedup_master(const std::string& pool) {
  return guarded("Failed to revoke dedup master", [&] {
    // The pool uuid names a table below: nothing else may reach that place.
    if (!Catalog_Table::is_pool_uuid(pool)) {
      LOG_ERROR("Failed to revoke dedup master: '%s' is not a pool uuid.", pool.c_str());
      return false;
    }
    Connection_Ptr conn = get_connection();
    if (!conn) {
      LOG_ERROR("Failed to connect to storage catalog database.");
      return false;
    }
    // Without the relations nothing below may be deleted; a relation left
    // behind would still feed the catalogs deleted below.
    std::vector<std::string> relations;
    if (!read_relations_from(conn, pool, relations))
      return false;
    for (const std::string& uuid : relations) {
      if (!remove_replicate(uuid)) {
        LOG_ERROR("Failed to remove replicate '%s' while revoking dedup master from '%s'.",
                  uuid.c_str(), pool.c_str());
        return false;
      }
    }
    Delete_SQL catalogs;
    catalogs.table(Catalog_Table(pool).name());
    if (!conn->execute(catalogs))
      LOG_ERROR("Failed to remove all catalogs while revoking dedup master from '%s'.",
                pool.c_str());

    int quoted = count_relations_into(conn, pool);
    if (quoted < 0) {
      // An unknown count is not zero: pools may still replicate into this one.
      LOG_ERROR("Failed to count the pools replicating into '%s'; its records are kept.",
                pool.c_str());
      return false;
    }
    if (quoted >= 1)
      return store_quoted(conn, pool, quoted);
    return remove_pool_records(conn, pool);
  });
}
