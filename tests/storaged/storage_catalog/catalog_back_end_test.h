// The back-end tests' fixture: a fresh catalog on each engine (see
// catalog_fixture.h) holding pool `pool_`, the sync queue in the test's
// folder, and small builders of backup sets, relations and jobs.
#ifndef TESTS_STORAGED_STORAGE_CATALOG_CATALOG_BACK_END_TEST_H_
#define TESTS_STORAGED_STORAGE_CATALOG_CATALOG_BACK_END_TEST_H_

#include <string>
#include <utility>
#include <vector>

#include "platform/json/json.h"
#include "tests/support/catalog_fixture.h"

// A uuid whose last digits are `n`: u(1) = "000...001".
std::string u(int n);

class Catalog_Back_End_Test : public Catalog_Engine_Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Adds a pool of uuid `pool` (its catalog table with it).
  void add_pool(const std::string& pool);
  // A backup set of chain `incarnation` in `pool_`.
  static Object backup_set(const std::string& uuid, const std::string& incarnation,
                           const std::string& backup_time, int state, const Array& files = Array());
  void add_set(const Object& set);
  // Adds set u(uuid) of chain u(incarnation), `more` replacing members.
  void add(int uuid, int incarnation, const std::string& time, int state = 1,
           const Object& more = Object());
  // A replication relation u(0xC00 + n) from `pool_` to pool u(0xA00 + n).
  void add_relation(int n);
  // A replicate job of set u(set) from `pool_` to `target`; its id.
  long long add_job(const std::string& type, int set, const std::string& state,
                    const std::string& target = u(0xA01), const Object& more = Object());

  // The "uuid" of each of `rows`, in order.
  static std::vector<std::string> uuids(const Array& rows);
  // Every row of `table` as stored (JSON columns as text), in id order.
  Array raw_rows(const std::string& table);
  // A backup set read back through the back-end; null when absent.
  Value stored_set(const std::string& uuid);
  // Takes every waiting "storage_catalog_sync" message, parsed.
  std::vector<Value> take_notices();

  // The database's own clock, now and moved by `seconds` (negative: the
  // past), read in one statement. Times relative to it keep tests of time
  // limits independent of this machine's clock and of how long they run.
  std::pair<std::string, std::string> db_clock(long long seconds);

  const std::string pool_ = u(0xA00);
};

#endif  // TESTS_STORAGED_STORAGE_CATALOG_CATALOG_BACK_END_TEST_H_
