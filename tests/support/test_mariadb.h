// The MariaDB server the tests may use. scripts/test starts a private
// server and names it in SCAT_TEST_MARIADB_SOCKET; without it the MariaDB
// half of the engine tests is skipped.
#ifndef TESTS_SUPPORT_TEST_MARIADB_H_
#define TESTS_SUPPORT_TEST_MARIADB_H_

#include <string>

#include "platform/sql/connection.h"

namespace test_mariadb {

// Whether a server is configured for the tests.
bool configured();

// Creates an empty database of its own for one test and points the named
// connection "storage_catalog" at it. False when that fails.
bool create_schema(std::string& schema);
// Drops it again and forgets the named connection.
void drop_schema(const std::string& schema);

}  // namespace test_mariadb

#endif  // TESTS_SUPPORT_TEST_MARIADB_H_
