#include "platform/sql/transaction.h"

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

}  // namespace database
