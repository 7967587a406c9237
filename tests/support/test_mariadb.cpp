#include "tests/support/test_mariadb.h"

#include <cstdlib>

namespace test_mariadb {

bool configured() {
  return std::getenv("SCAT_TEST_MARIADB_SOCKET") != nullptr;
}

// The MariaDB driver of the database layer brings the real implementation.
bool create_schema(std::string& schema) {
  return false;
}

void drop_schema(const std::string& schema) {}

}  // namespace test_mariadb
