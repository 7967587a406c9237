// The MariaDB server the tests may use. scripts/test starts a private
// server and names its socket in SCAT_TEST_MARIADB_SOCKET, then runs the
// MariaDB tests again on a Galera cluster whose nodes it lists in
// SCAT_TEST_MARIADB_HOSTS ("127.0.0.1:port,..."; it wins over the socket);
// without either the MariaDB half of the engine tests is skipped.
#ifndef TESTS_SUPPORT_TEST_MARIADB_H_
#define TESTS_SUPPORT_TEST_MARIADB_H_

#include <string>

#include "platform/sql/connection.h"

namespace test_mariadb {

// Whether a server (or cluster) is configured for the tests.
bool configured();
// Whether it is a cluster: SCAT_TEST_MARIADB_HOSTS is set.
bool on_cluster();

// The configured server's database `schema` (none when empty), reached
// through its socket (or the cluster's nodes) as root.
database::Database server(const std::string& schema);

// Creates an empty database of its own for one test and points the named
// connection "storage_catalog" at it. False when that fails.
bool create_schema(std::string& schema);
// Drops it again and forgets the named connection and its pooled
// connections.
void drop_schema(const std::string& schema);

// Runs `text` on a connection of its own to the server, outside any
// database. False (logged) on failure.
bool admin(const std::string& text);

// The cluster scripts/test started for the failover tests, whose folder
// it names in SCAT_TEST_GALERA_DIR (tests/support/galera_cluster.sh).
// Only those tests may stop its nodes, and they run alone.
namespace cluster {
bool available();
// kill -9 of node `n` (1 to 3); false when the script fails.
bool kill_node(int n);
// Starts node `n` again and returns once it has caught up.
bool restart_node(int n);
// Node `n` alone, for checking what it holds.
database::Database node(int n, const std::string& schema);
}  // namespace cluster

// A server of the test's own, for tests that stop and restart it while
// the shared one serves other test processes. Data in a fresh folder
// (under /dev/shm when there is one); stopped and removed when destroyed.
// Not for concurrent use.
class Private_Server {
 public:
  Private_Server();
  ~Private_Server();

  // Each returns false, with the helper script's complaint on stderr, when
  // the server does not start or stop.
  bool start();
  bool stop();

  database::Database database(const std::string& schema) const;
  // The same server over TCP on 127.0.0.1, once it has started.
  database::Database tcp_database(const std::string& schema) const;

  Private_Server(const Private_Server&) = delete;
  Private_Server& operator=(const Private_Server&) = delete;

 private:
  bool run(const char* command);
  std::string dir_;
};

}  // namespace test_mariadb

#endif  // TESTS_SUPPORT_TEST_MARIADB_H_
