// The back-end tests' fixture: a fresh catalog on each engine (see
// catalog_fixture.h), the sync queue in the test's folder, and small
// builders of pools and backup sets.
#ifndef TESTS_STORAGED_STORAGE_CATALOG_CATALOG_BACK_END_TEST_H_
#define TESTS_STORAGED_STORAGE_CATALOG_CATALOG_BACK_END_TEST_H_

#include <string>
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

  // Every row of `table` as stored (JSON columns as text), in id order.
  Array raw_rows(const std::string& table);
  // A backup set read back through the back-end; null when absent.
  Value stored_set(const std::string& uuid);
  // Takes every waiting "storage_catalog_sync" message, parsed.
  std::vector<Value> take_notices();

  static Value state_notice(const std::string& pool, const std::string& uuid, long long state);
  static Value remove_notice(const std::string& pool, const std::string& uuid);

  const std::string pool_ = u(0xA00);
};

#endif  // TESTS_STORAGED_STORAGE_CATALOG_CATALOG_BACK_END_TEST_H_
