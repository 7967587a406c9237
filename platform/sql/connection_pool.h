// Connections to one database, leased to threads.
//
// A thread asking again while it still holds a lease gets the same
// connection back, so nested operations on one thread share a session (and
// its transaction and temporary tables); different threads never share one.
// A connection whose last handle is released goes back to the pool's idle
// list. The pool may be destroyed while leases are out: those connections
// close when their last handle goes. Safe for concurrent use.
#ifndef PLATFORM_SQL_CONNECTION_POOL_H_
#define PLATFORM_SQL_CONNECTION_POOL_H_

#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/sql/connection.h"

namespace database {

// The shared state between a pool and the connections it lent out.
class Connection_Home : public std::enable_shared_from_this<Connection_Home> {
 public:
  Connection_Home(const Database& db, std::size_t max_idle) : db_(db), max_idle_(max_idle) {}
  ~Connection_Home();

  sql::Connection_Ptr acquire();
  // Called when a pooled connection's last handle is released.
  void give_back(Connection* c);
  void close();
  std::size_t idle_count();

 private:
  Database db_;
  std::size_t max_idle_;
  std::mutex lock_;
  bool closed_ = false;
  std::vector<sql::Connection*> idle_;
  std::map<std::thread::id, sql::Connection*> leased_;
  std::map<sql::Connection*, std::thread::id> owner_;
};

class Connection_Pool {
 public:
  explicit Connection_Pool(const Database& db, std::size_t max_idle = 4);
  ~Connection_Pool();

  // The calling thread's connection; empty when the database cannot be
  // opened (the reason is logged).
  sql::Connection_Ptr acquire() { return home_->acquire(); }
  // Closes idle connections now and leased ones when they are released.
  void close() { home_->close(); }
  std::size_t idle_count() { return home_->idle_count(); }

 private:
  std::shared_ptr<Connection_Home> home_;
};

}  // namespace database

#endif  // PLATFORM_SQL_CONNECTION_POOL_H_
