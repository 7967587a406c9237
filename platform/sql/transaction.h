// A transaction on a connection that rolls back unless committed. A
// transaction begun while another is open on the same connection becomes a
// savepoint of it.
#ifndef PLATFORM_SQL_TRANSACTION_H_
#define PLATFORM_SQL_TRANSACTION_H_

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

}  // namespace database

#endif  // PLATFORM_SQL_TRANSACTION_H_
