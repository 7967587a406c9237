#include "platform/sql/transaction.h"

#include <chrono>
#include <random>
#include <thread>

#include "platform/runtime/log.h"

namespace database {

Transaction::Transaction(const sql::Connection_Ptr& conn) : conn_(conn) {}

Transaction::~Transaction() {
  if (active_)
    conn_->rollback();
}

bool Transaction::begin(bool /*exclusive*/) {
  if (!conn_ || active_)
    return false;
  active_ = conn_->begin();
  return active_;
}

bool Transaction::commit() {
  if (!active_)
    return false;
  if (!conn_->commit())
    return false;
  active_ = false;
  return true;
}

namespace {

// Transactions that conflicted once would likely conflict again if they
// all came back at once: each waits a random while, longer every round.
void pause_before_attempt(int attempt) {
  thread_local std::minstd_rand random(static_cast<unsigned>(
      std::hash<std::thread::id>()(std::this_thread::get_id()) ^
      static_cast<std::size_t>(std::chrono::steady_clock::now().time_since_epoch().count())));
  std::uniform_int_distribution<int> spread(5, 25 * attempt);
  std::this_thread::sleep_for(std::chrono::milliseconds(spread(random)));
}

Transaction_Step attempt_once(const sql::Connection_Ptr& conn, const std::function<bool()>& body) {
  Transaction transaction(conn);
  if (!transaction.begin())
    return Transaction_Step::BEGIN;
  if (!body())
    return Transaction_Step::BODY;
  if (!transaction.commit())
    return Transaction_Step::COMMIT;
  return Transaction_Step::NONE;
}

}  // namespace

bool run_in_transaction(const sql::Connection_Ptr& conn, const std::function<bool()>& body,
                        Transaction_Step* failed) {
  Transaction_Step step = Transaction_Step::BEGIN;
  if (conn) {
    const bool outermost = conn->transaction_depth() == 0;
    for (int attempt = 1; attempt <= kTransactionAttempts; ++attempt) {
      if (attempt > 1) {
        LOG_INFO("Database '%s': running a transaction again (attempt %d of %d): %s",
                 conn->db()->name().c_str(), attempt, kTransactionAttempts, conn->error().c_str());
        pause_before_attempt(attempt);
      }
      step = attempt_once(conn, body);
      if (step == Transaction_Step::NONE || !outermost || !conn->transaction_may_rerun())
        break;
    }
  }
  if (failed != nullptr)
    *failed = step;
  return step == Transaction_Step::NONE;
}

}  // namespace database
