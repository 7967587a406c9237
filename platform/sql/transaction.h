// A transaction on a connection that rolls back unless committed. A
// transaction begun while another is open on the same connection becomes a
// savepoint of it.
#ifndef PLATFORM_SQL_TRANSACTION_H_
#define PLATFORM_SQL_TRANSACTION_H_

#include <functional>

#include "platform/sql/connection.h"

namespace database {

class Transaction {
 public:
  explicit Transaction(const sql::Connection_Ptr& conn);
  ~Transaction();

  // `exclusive` is kept for the host's signature: write transactions always
  // take the write lock when they begin, so they never fail half-way for
  // lack of it.
  bool begin(bool exclusive = false);
  bool commit();

  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;

 private:
  sql::Connection_Ptr conn_;
  bool active_ = false;
};

// The step of run_in_transaction that failed last.
enum class Transaction_Step { NONE, BEGIN, BODY, COMMIT };

// Runs `body` (false: roll back) in a transaction on `conn` and commits it.
// On a cluster a transaction may fail through no fault of its own (a
// conflict with another node's, its node lost or leaving the cluster)
// while leaving nothing behind: it then rolls back and runs again whole,
// `body` included, after a short random pause, up to kTransactionAttempts
// times; so `body` must start from nothing and only change the database
// and its own locals. Inside another transaction it runs once, as a
// savepoint; the outermost one runs again. A commit whose answer was lost
// is not run again: it may have taken effect. False on failure, with
// `failed` (when given) naming the step.
bool run_in_transaction(const sql::Connection_Ptr& conn, const std::function<bool()>& body,
                        Transaction_Step* failed = nullptr);

const int kTransactionAttempts = 5;

}  // namespace database

#endif  // PLATFORM_SQL_TRANSACTION_H_
