// Helpers shared by the SQL back-end's topic files: reading rows with their
// JSON columns, totals, shaping backup sets for callers, the record column
// lists, transactions and the sync notice. Stateless functions; each works
// on the connection it is given and is as thread-safe as that connection.
#ifndef STORAGED_STORAGE_CATALOG_STORAGE_CATALOG_MANAGER_DATABASE_IMPL_INTERNAL_H_
#define STORAGED_STORAGE_CATALOG_STORAGE_CATALOG_MANAGER_DATABASE_IMPL_INTERNAL_H_

#include <string>
#include <vector>

#include "platform/json/json.h"
#include "platform/runtime/log.h"
#include "platform/sql/connection.h"
#include "platform/sql/filter_parser.h"
#include "platform/sql/sql.h"
#include "platform/sql/transaction.h"

namespace scat_db {

using database::sql::Connection_Ptr;
using database::sql::Select_SQL;
using database::sql::SQL;

extern const char kPoolTable[];
extern const char kDeviceTable[];
extern const char kReplicateTable[];
extern const char kReplicateJobTable[];
extern const char kMergeJobTable[];
extern const char kUsageTable[];

bool is_mysql(const Connection_Ptr& conn);

// A record member and how it becomes a column value (database::sql
// COLUMN_* kinds). Lists end with a {nullptr, 0} row.
struct Record_Column {
  const char* name;
  int kind;
};
extern const Record_Column kCatalogColumns[];
extern const Record_Column kDeviceColumns[];
extern const Record_Column kPoolColumns[];
extern const Record_Column kReplicateColumns[];
extern const Record_Column kReplicateJobColumns[];
extern const Record_Column kMergeJobColumns[];

// The filter keys of catalog queries.
extern const database::sql::Filter_Key kCatalogFilterKeys[];
// The columns a plain query of shared table `table` filters by, with their
// kinds; null for a table without plain queries.
const database::sql::Filter_Key* shared_filter_keys(const std::string& table);

// Adds the listed members that `record` holds to an insert or update.
// False, with `reason` set, for a member of the wrong type;
// "extended_attrs" must be an object.
bool add_record_columns(database::sql::Insert_SQL& sql, const Object& record,
                        const Record_Column* columns, std::string& reason);
bool add_record_columns(database::sql::Update_SQL& sql, const Object& record,
                        const Record_Column* columns, std::string& reason);

// Replaces the JSON text of "files" and "extended_attrs" by its value
// (empty text or null: an empty object). False, logging "Failed to load
// %s", for text that is not JSON.
bool parse_json_columns(Object& row);

// Every row of `sql` with its JSON columns parsed. False (logged) when the
// query or a JSON column fails; `rows` is then untouched.
bool read_rows(const Connection_Ptr& conn, const SQL& sql, Array& rows);
// The first row of `sql`. False when there is none or the read fails.
bool read_row(const Connection_Ptr& conn, const SQL& sql, Object& row);
// The row of `table` whose uuid is `uuid`: its `columns` (all when empty).
// False when `uuid` is malformed, there is no such row or the read fails.
bool read_row_by_uuid(const Connection_Ptr& conn, const std::string& table, const std::string& uuid,
                      Object& row, const std::string& columns = std::string());
// The text of `column` in the first row of `sql`; empty when there is no
// row or no text there. False when the query fails.
bool read_first_text(const Connection_Ptr& conn, const SQL& sql, const char* column,
                     std::string& value);
// The rows of `sql` and, when `total` is not null, the number of rows
// without limit and offset. False, logging "Failed to query result.", when
// either read fails; `rows` and `*total` are then untouched.
bool read_rows_with_total(const Connection_Ptr& conn, const Select_SQL& sql, Array& rows,
                          long long* total);

// Reads rows of a pool's catalog table and, with `detail`, shapes them
// (shape_catalog_row). False, logging "Failed to query '<pool>' catalog",
// when the read fails; `rows` and `*total` are then untouched.
bool read_catalog_rows(const Connection_Ptr& conn, const std::string& pool, const Select_SQL& sql,
                       Array& rows, long long* total, bool detail);

// Whether a caller's JSON nests within kMaxJsonDepth; deeper JSON would
// exhaust the stack when copied or written out. False logs
// "<failure>: JSON nests deeper than <n> levels.".
bool check_json_depth(const Object& value, const std::string& failure);
bool check_json_depth(const Array& value, const std::string& failure);

// The entries of `uuids`, each a 32-character hexadecimal uuid. Raises
// JSON_Error naming the first entry that is not.
std::vector<std::string> uuid_list(const Array& uuids);

// Binds `hex` to `name` as a 16-byte uuid. False, logging "Invalid uuid
// '<hex>' for :<name>.", when it is not a uuid.
bool bind_uuid_or_log(SQL& sql, const char* name, const std::string& hex);

// The values of `column` in every row of `sql` (uuids as hexadecimal text;
// NULLs skipped). False when the query fails.
bool read_column(const Connection_Ptr& conn, const SQL& sql, const char* column,
                 std::vector<std::string>& values);

// The replicate job that copied backup set `catalog_uuid` out of pool
// `source_pool` through a replication relation that still exists. False
// when there is none (or the query fails); `job` holds "id" and
// "target_pool_uuid" when true.
bool find_replicate_job(const Connection_Ptr& conn, const std::string& catalog_uuid,
                        const std::string& source_pool, Object& job);

// Whether the backup set of chain `incarnation` made at `backup_time` can
// be restored: no set of its chain up to that time is missing (not online)
// or offline. A failed query, or a malformed incarnation, counts as not
// restorable.
bool is_restorable(const Connection_Ptr& conn, const std::string& pool,
                   const std::string& incarnation, const std::string& backup_time);

// Shapes catalog rows of `pool` for callers: a replicated bit without a
// snapshot or a replicate job behind it is dropped, "restorable" is added
// and "state" becomes the array of state names. Raises JSON_Error for a
// row without "uuid" or with a replicated state and no "extended_attrs".
void shape_catalog_row(const Connection_Ptr& conn, const std::string& pool, Object& row);

// Begin and commit with the back-end's fixed messages naming `line`.
bool begin_transaction(database::Transaction& transaction, int line);
bool commit_transaction(database::Transaction& transaction, int line);

// Puts {"operation": "SyncBackupSet", "params": params} on the queue
// "storage_catalog_sync". False, logging "Failed to enqueue
// SyncBackupSetState to queue.", when the queue refuses it.
bool publish_sync_notice(const Object& params);
bool publish_remove_notice(const std::string& pool, const std::string& uuid);
bool publish_state_notice(const std::string& pool, const std::string& uuid, long long state);

// Runs `op` (returning bool); an exception it raises is logged as
// "<prefix>: '<text>'" and gives false. Keeps exceptions inside the
// exported operations.
template <typename Op>
bool guarded(const char* prefix, Op op) {
  try {
    return op();
  } catch (const std::exception& e) {
    LOG_ERROR("%s: '%s'", prefix, e.what());
  } catch (...) {
    LOG_ERROR("%s: '%s'", prefix, "unknown exception");
  }
  return false;
}

// The LIKE pattern that finds `file` as the end of an entry of a "files"
// JSON array: the name as JSON writes it, with '%', '_' and the escape
// character '!' escaped, followed by the closing quote.
std::string file_like_pattern(const std::string& file);

// Whether the JSON text `files` lists an entry ending with `file`, letters
// compared without regard to ASCII case as LIKE compares them. Confirms a
// row that file_like_pattern found, since the pattern also matches inside
// an escape: the JSON text of x\"y holds \\", the form of a name ending in
// a backslash. Text that is not JSON lists nothing.
bool lists_file(const std::string& files, const std::string& file);

}  // namespace scat_db

#endif  // STORAGED_STORAGE_CATALOG_STORAGE_CATALOG_MANAGER_DATABASE_IMPL_INTERNAL_H_
