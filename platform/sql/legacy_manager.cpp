#include "platform/sql/legacy_manager.h"

#include <sys/stat.h>

#include <cerrno>

#include "platform/runtime/log.h"
#include "platform/sql/metadata.h"

namespace database {
namespace sql {

namespace {

// mkdir -p for the folder holding `file`.
void make_parent_dirs(const std::string& file) {
  std::size_t slash = file.find('/', 1);
  while (slash != std::string::npos) {
    std::string dir = file.substr(0, slash);
    if (::mkdir(dir.c_str(), 0750) != 0 && errno != EEXIST)
      return;
    slash = file.find('/', slash + 1);
  }
}

}  // namespace

Legacy_Manager* Legacy_Manager::instance() {
  static Legacy_Manager manager;
  return &manager;
}

Connection_Ptr Legacy_Manager::get_connection_r(const std::string& name) {
  std::shared_ptr<Connection_Pool> pool;
  {
    std::lock_guard<std::mutex> guard(lock_);
    std::shared_ptr<Connection_Pool>& slot = pools_[name];
    if (!slot) {
      Database db = Manager::instance()->database(name);
      if (db.type() != Database::MYSQL)
        make_parent_dirs(db.path());
      slot = std::make_shared<Connection_Pool>(db);
    }
    pool = slot;
  }
  // Acquiring outside the lock keeps a slow open from holding up other
  // databases.
  return pool->acquire();
}

Connection_Ptr Legacy_Manager::create_connection(const Database& db) {
  return open_connection(db);
}

void Legacy_Manager::close(const std::string& name) {
  std::lock_guard<std::mutex> guard(lock_);
  pools_.erase(name);
}

void Legacy_Manager::close_all() {
  std::lock_guard<std::mutex> guard(lock_);
  pools_.clear();
}

}  // namespace sql
}  // namespace database
