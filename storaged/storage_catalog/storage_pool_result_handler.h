// The result handler of pool rows: a binary column named after one of the
// pseudo-columns "storages", "replicate_source", "replicate_target" or
// "usage" (selected as the pool's uuid) is printed as the related rows it
// names, looked up on the row's own connection:
//   storages          the pool's devices, [{"uuid", "url", "extended_attrs"}]
//   replicate_source  [{"source_uuid"}] of the relations into the pool
//   replicate_target  [{"target_uuid"}] of the relations out of the pool
//   usage             the pool's usage row (null when it has none)
// Other binary columns are passed over. A handler holds no state of its
// own and may be shared between threads.
#ifndef STORAGED_STORAGE_CATALOG_STORAGE_POOL_RESULT_HANDLER_H_
#define STORAGED_STORAGE_CATALOG_STORAGE_POOL_RESULT_HANDLER_H_

#include "platform/json/json.h"
#include "platform/sql/connection.h"
#include "platform/sql/cursor.h"
#include "platform/sql/sql.h"

namespace SCAT {

class Storage_Pool_Result_Handler : public database::sql::Query_Result_Handler {
 public:
  Storage_Pool_Result_Handler();

  // The handler of the device and replicate lists of a pool: their uuid
  // columns as text, "extended_attrs" as JSON.
  static const database::sql::Query_Result_Handler& related_rows();

  // Runs `sql` in `mode` (Legacy_Cursor::ROWS or ROW) with `handler` and
  // turns the JSON columns of the rows into values (text that is not JSON
  // stays text). False, with `out` untouched, when the query fails.
  static bool fetch(const database::sql::Connection_Ptr& conn, const database::sql::SQL& sql,
                    int mode, const database::sql::Query_Result_Handler& handler, Value& out);

 protected:
  int handle_binary_i(database::sql::Connection& conn, int index, const char* name,
                      const unsigned char* data, unsigned long long size,
                      database::sql::Query_Result_Printer& printer) const override;
};

}  // namespace SCAT

#endif  // STORAGED_STORAGE_CATALOG_STORAGE_POOL_RESULT_HANDLER_H_
