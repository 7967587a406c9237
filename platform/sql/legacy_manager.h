// Named shared connections and private ones.
//
// get_connection_r leases the calling thread a connection to the named
// database (see Manager::database for where it lives); the thread gets the
// same one back while it holds it. Safe for concurrent use.
#ifndef PLATFORM_SQL_LEGACY_MANAGER_H_
#define PLATFORM_SQL_LEGACY_MANAGER_H_

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/sql/connection.h"
#include "platform/sql/connection_pool.h"

namespace database {
namespace sql {

class Legacy_Manager {
 public:
  static Legacy_Manager* instance();

  // Empty handle, with a logged reason, when the database cannot be opened.
  // An SQLite file's folder is created when missing.
  Connection_Ptr get_connection_r(const std::string& name);

  // A new connection of its own to `db`, not shared with anyone.
  Connection_Ptr create_connection(const Database& db);

  // Forgets the named pool (after a configuration change, say). Idle
  // connections close now, leased ones when released.
  void close(const std::string& name);
  void close_all();

 private:
  std::mutex lock_;
  std::map<std::string, std::shared_ptr<Connection_Pool>> pools_;
};

}  // namespace sql
}  // namespace database

#endif  // PLATFORM_SQL_LEGACY_MANAGER_H_
