// Backup-set state changes, lookups by file name, removal, and the sync
// notices that tell the rest of the daemon about visible changes.
//
// A state change reads the state and writes the new one in one
// transaction that holds the set's row (the whole file on SQLite) from the
// read to the commit, so writers of different bits of one set wait for
// each other instead of losing, or failing on, each other's change. The
// notice is published after the commit, for the state the change made.
#include "storaged/storage_catalog/storage_catalog_manager_database_impl.h"

#include "platform/runtime/log.h"
#include "platform/sql/cursor.h"
#include "storaged/storage_catalog/storage_catalog_manager_database_impl_internal.h"

using database::sql::Connection_Ptr;
using database::sql::Legacy_Cursor;
using database::sql::Select_SQL;
using database::sql::SQL;
using database::sql::Update_SQL;
using namespace scat_db;

namespace {

// Online, offline and expired: the bits other modules act on.
const unsigned kVisibleStates = CST_ONLINE | CST_OFFLINE | CST_EXPIRED;

long long row_state(const Object& row) {
  auto it = row.find("state");
  return it != row.end() && it->second.is_number_integer() ? it->second.get<long long>() : 0;
}

// The state of set `uuid` of a known pool. With `lock_row`, the row stays
// locked until the transaction open on `conn` ends (SQLite's write
// transactions hold the whole file from their start). False when there is
// no such set or it cannot be read.
bool read_state(const Connection_Ptr& conn, const std::string& pool, const std::string& uuid,
                Catalog_State& state, bool lock_row = false) {
  return guarded("Failed to parse state", [&] {
    SQL read("SELECT state FROM `" + pool + "` WHERE uuid=:uuid" +
             (lock_row && is_mysql(conn) ? " FOR UPDATE" : ""));
    Object row;
    if (!read.bind_uuid("uuid", uuid) || !read_row(conn, read, row))
      return false;
    state = static_cast<Catalog_State>(object_get_int64_or_throw(row, "state"));
    return true;
  });
}

}  // namespace

bool Storage_Catalog_Manager_Database_Impl::get_state(const std::string& pool,
                                                      const std::string& uuid,
                                                      Catalog_State& state) {
  return guarded("Failed to parse state", [&] {
    Connection_Ptr conn = pool_connection(pool);
    return conn && read_state(conn, pool, uuid, state);
  });
}

bool Storage_Catalog_Manager_Database_Impl::change_state(const std::string& pool,
                                                         const std::string& uuid,
                                                         Catalog_State state, bool set) {
  if (!check_pool(pool))
    return false;
  if (state == CST_UNKNOWN) {
    if (set)
      LOG_ERROR("Failed to set state, state(CST_UNKNOWN) is invalid.");
    else
      LOG_ERROR("Failed to unset_state, state=CST_UNKNOWN is invalid");
    return false;
  }
  Connection_Ptr conn = get_connection();
  if (!conn)
    return false;
  database::Transaction transaction(conn);
  if (!begin_transaction(transaction, __LINE__))
    return false;
  Catalog_State current;
  if (!read_state(conn, pool, uuid, current, true)) {
    LOG_ERROR("Invalid state on set_state, pool_uuid=%s, uuid=%s", pool.c_str(), uuid.c_str());
    return false;
  }
  // Only a usable set can expire.
  if (set && (state & CST_EXPIRED) && !(current & CST_ONLINE))
    return true;
  unsigned next = set ? (current | state) : (current & ~state);
  if (next == current)
    return true;
  Update_SQL update;
  update.table(pool).set("state", static_cast<long long>(next));
  update.where().and_filter()->add_sql("uuid=:uuid");
  update.bind_uuid("uuid", uuid);
  if (!conn->execute(update) || !commit_transaction(transaction, __LINE__)) {
    if (set)
      LOG_ERROR("Failed to set state for %s with uuid %s.", pool.c_str(), uuid.c_str());
    else
      LOG_ERROR("Failed to unset state for %s with uuid %s.", pool.c_str(), uuid.c_str());
    return false;
  }
  if ((current ^ next) & kVisibleStates)
    publish_state_notice(pool, uuid, next);
  return true;
}

bool Storage_Catalog_Manager_Database_Impl::set_state(const std::string& pool,
                                                      const std::string& uuid,
                                                      Catalog_State state) {
  return guarded("Failed to set state", [&] { return change_state(pool, uuid, state, true); });
}

bool Storage_Catalog_Manager_Database_Impl::unset_state(const std::string& pool,
                                                        const std::string& uuid,
                                                        Catalog_State state) {
  return guarded("Failed to unset state", [&] { return change_state(pool, uuid, state, false); });
}

bool Storage_Catalog_Manager_Database_Impl::change_states(const std::string& pool,
                                                          const Array& files, Catalog_State state,
                                                          bool set, std::set<std::string>& uuids) {
  // Only the sets found now are changed, whatever `uuids` held before.
  std::set<std::string> found;
  if (!get_uuids_with_files(pool, files, found))
    return false;
  uuids.insert(found.begin(), found.end());
  for (const std::string& uuid : found) {
    if (!change_state(pool, uuid, state, set))
      return false;
  }
  return true;
}

bool Storage_Catalog_Manager_Database_Impl::set_state(const std::string& pool, const Array& files,
                                                      Catalog_State state) {
  std::set<std::string> uuids;
  return set_state(pool, files, state, uuids);
}

bool Storage_Catalog_Manager_Database_Impl::set_state(const std::string& pool, const Array& files,
                                                      Catalog_State state,
                                                      std::set<std::string>& uuids) {
  return guarded("Failed to set state",
                 [&] { return change_states(pool, files, state, true, uuids); });
}

bool Storage_Catalog_Manager_Database_Impl::unset_state(const std::string& pool, const Array& files,
                                                        Catalog_State state) {
  std::set<std::string> uuids;
  return unset_state(pool, files, state, uuids);
}

bool Storage_Catalog_Manager_Database_Impl::unset_state(const std::string& pool, const Array& files,
                                                        Catalog_State state,
                                                        std::set<std::string>& uuids) {
  return guarded("Failed to unset state",
                 [&] { return change_states(pool, files, state, false, uuids); });
}

// ---------------------------------------------------------------------------
// Lookups by file name

bool Storage_Catalog_Manager_Database_Impl::get_uuids_with_file(const std::string& pool,
                                                                const std::string& file,
                                                                Array& out) {
  return guarded("Failed to get uuids with file", [&] {
    if (!is_catalog_table_name(pool)) {
      LOG_ERROR("Failed to get uuids with file: '%s' is not a pool uuid.", pool.c_str());
      return false;
    }
    Connection_Ptr conn = get_connection();
    if (!conn)
      return false;
    // The name is a bound pattern with its pattern characters escaped, so
    // it matches only itself; each row found is confirmed by its entries.
    SQL query("SELECT LOWER(HEX(uuid)) `uuid`, files FROM `" + pool +
              "` WHERE files LIKE :file ESCAPE '!';");
    query.bind("file", file_like_pattern(file));
    Value rows;
    Legacy_Cursor cursor(conn, query, Legacy_Cursor::ROWS_RAW, 0);
    if (!cursor.fetch(rows) || !rows.is_array()) {
      LOG_DEBUG("Failed to get uuids with file like '%s'.", file.c_str());
      return false;
    }
    Array found;
    for (const Value& row : rows) {
      const Object& columns = row.get_ref<const Object&>();
      const std::string* files = object_get_str(columns, "files");
      if (files != nullptr && lists_file(*files, file))
        found.push_back(Object{{"uuid", columns.at("uuid")}});
    }
    out = std::move(found);
    return true;
  });
}

bool Storage_Catalog_Manager_Database_Impl::get_uuids_with_files(const std::string& pool,
                                                                 const Array& files,
                                                                 std::set<std::string>& uuids) {
  return guarded("Failed to get uuid with files", [&] {
    // Unlike a single lookup, an unknown pool here is an error rather than
    // a list of failed lookups that finds nothing.
    if (!check_pool(pool))
      return false;
    std::set<std::string> found;
    for (const Value& file : files) {
      if (!file.is_string())
        throw JSON_Error("file name expected, got " + std::string(json_type_name(file)));
      Array rows;
      if (!get_uuids_with_file(pool, file.get<std::string>(), rows))
        continue;
      for (const Value& row : rows)
        found.insert(object_get_str_or_throw(row.get_ref<const Object&>(), "uuid"));
    }
    uuids.insert(found.begin(), found.end());
    return true;
  });
}

// ---------------------------------------------------------------------------
// Removal

bool Storage_Catalog_Manager_Database_Impl::remove_catalog(const std::string& pool,
                                                           const std::string& uuid) {
  return guarded("Failed to remove catalog", [&] {
    if (!check_pool(pool) || !remove_record(pool, uuid, 0))
      return false;
    publish_remove_notice(pool, uuid);
    return true;
  });
}

// Removes, retires or re-announces one backup set. False skips it.
bool Storage_Catalog_Manager_Database_Impl::remove_one_catalog(const std::string& pool,
                                                               const std::string& uuid,
                                                               Array& removed) {
  Select_SQL read;
  read.where().and_filter()->add_sql("uuid=:uuid");
  Array rows;
  if (!read.bind_uuid("uuid", uuid) || !query_catalog(pool, read, rows, nullptr))
    return false;
  if (rows.empty()) {
    // Whoever still lists it must forget it.
    publish_remove_notice(pool, uuid);
    return true;
  }
  const Object& row = rows[0].get_ref<const Object&>();
  long long state = row_state(row);
  if (!(state & CST_REPLICATED)) {
    if (!remove_record(pool, uuid, 0))
      return false;
    publish_remove_notice(pool, uuid);
  } else if (state & CST_ONLINE) {
    // A replicated set stays listed for its copies; it only stops being
    // usable here.
    if (!change_state(pool, uuid, static_cast<Catalog_State>(CST_ONLINE | CST_EXPIRED), false))
      return false;
  } else {
    publish_state_notice(pool, uuid, state);
  }
  removed.push_back(row);
  return true;
}

bool Storage_Catalog_Manager_Database_Impl::remove_catalogs(const std::string& pool,
                                                            const Array& uuids, Array& removed) {
  return guarded("Failed to remove catalogs", [&] {
    // Held for the loop, so every entry's steps share one session; without
    // a database each would be skipped and the call would look done.
    Connection_Ptr conn = pool_connection(pool);
    if (!conn)
      return false;
    for (std::size_t i = 0; i < uuids.size(); ++i) {
      if (!uuids[i].is_string()) {
        LOG_ERROR("Failed to remove catalogs: entry %d of the list is %s, not a uuid string.",
                  static_cast<int>(i), json_type_name(uuids[i]));
        return false;
      }
      remove_one_catalog(pool, uuids[i].get<std::string>(), removed);
    }
    return true;
  });
}
