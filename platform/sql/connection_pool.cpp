#include "platform/sql/connection_pool.h"

namespace database {

Connection_Home::~Connection_Home() {
  // Idle connections hold the home alive, so none is left by now.
  for (sql::Connection* c : idle_)
    delete c;
}

sql::Connection_Ptr Connection_Home::acquire() {
  std::thread::id me = std::this_thread::get_id();
  {
    std::lock_guard<std::mutex> guard(lock_);
    auto it = leased_.find(me);
    if (it != leased_.end())
      return sql::Connection_Ptr(it->second);
    if (!closed_ && !idle_.empty()) {
      sql::Connection* c = idle_.back();
      idle_.pop_back();
      leased_[me] = c;
      owner_[c] = me;
      return sql::Connection_Ptr(c);
    }
  }
  // Opening may take a while (a server round trip): not under the lock.
  sql::Connection_Ptr fresh = sql::open_connection(db_);
  if (!fresh)
    return fresh;
  std::lock_guard<std::mutex> guard(lock_);
  if (closed_)
    return fresh;  // not pooled; closes when released
  fresh->home_ = shared_from_this();
  leased_[me] = fresh.get();
  owner_[fresh.get()] = me;
  return fresh;
}

void Connection_Home::give_back(Connection* base) {
  sql::Connection* c = static_cast<sql::Connection*>(base);
  std::unique_lock<std::mutex> guard(lock_);
  // Another handle may have been taken out in the meantime.
  if (c->refcount_ != 0)
    return;
  auto owner = owner_.find(c);
  if (owner != owner_.end()) {
    leased_.erase(owner->second);
    owner_.erase(owner);
  }
  // A session is never handed on with a transaction left open.
  while (c->transaction_depth() > 0)
    c->rollback();
  if (closed_ || idle_.size() >= max_idle_) {
    c->home_.reset();
    guard.unlock();
    delete c;
    return;
  }
  idle_.push_back(c);
}

void Connection_Home::close() {
  std::vector<sql::Connection*> idle;
  {
    std::lock_guard<std::mutex> guard(lock_);
    closed_ = true;
    idle.swap(idle_);
  }
  // Leased connections keep their link and are deleted by give_back.
  for (sql::Connection* c : idle) {
    c->home_.reset();
    delete c;
  }
}

std::size_t Connection_Home::idle_count() {
  std::lock_guard<std::mutex> guard(lock_);
  return idle_.size();
}

Connection_Pool::Connection_Pool(const Database& db, std::size_t max_idle)
    : home_(std::make_shared<Connection_Home>(db, max_idle)) {}

Connection_Pool::~Connection_Pool() {
  home_->close();
}

}  // namespace database
