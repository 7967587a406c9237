// What a statement costs on the shared catalog's MariaDB server: every
// statement is prepared, run and closed (three round trips), its rows read
// whole. Needs a server: SCAT_TEST_MARIADB_SOCKET names its socket (root,
// no password), as scripts/test sets it.
//
//   SCAT_TEST_MARIADB_SOCKET=... build/bench/mariadb_bench
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/sql/cursor.h"
#include "platform/sql/transaction.h"

using namespace database;
using namespace database::sql;

namespace {

const char kUuid[] = "00112233445566778899aabbccddeeff";

// A database of its own on the server, dropped afterwards.
class Scratch_Schema {
 public:
  Scratch_Schema() : name_("scat_bench_" + std::to_string(::getpid())) {
    const char* socket = std::getenv("SCAT_TEST_MARIADB_SOCKET");
    if (socket == nullptr)
      return;
    db_.name("bench").type(Database::MYSQL).socket(socket).user("root");
    admin_ = open_connection(db_);
    if (!admin_ || !admin_->execute("CREATE DATABASE IF NOT EXISTS `" + name_ + "`;"))
      return;
    db_.schema(name_);
    conn_ = open_connection(db_);
  }
  ~Scratch_Schema() {
    conn_ = Connection_Ptr();
    if (admin_)
      admin_->execute("DROP DATABASE IF EXISTS `" + name_ + "`;");
  }
  const Connection_Ptr& conn() const { return conn_; }

 private:
  std::string name_;
  Database db_;
  Connection_Ptr admin_;
  Connection_Ptr conn_;
};

bool make_table(const Connection_Ptr& conn, int rows) {
  if (!conn->execute(std::string(
          "DROP TABLE IF EXISTS t; CREATE TABLE t (id bigint NOT NULL AUTO_INCREMENT PRIMARY "
          "KEY, uuid binary(16), name varchar(256), size bigint, KEY (uuid)) ENGINE=InnoDB;")))
    return false;
  Transaction fill(conn);
  fill.begin();
  for (int i = 0; i < rows; ++i) {
    Insert_SQL insert;
    insert.table("t").value("name", Binding_Value("set-" + std::to_string(i)));
    insert.value("size", Binding_Value(i)).value_uuid("uuid", kUuid);
    if (!conn->execute(insert))
      return false;
  }
  return fill.commit();
}

// One autocommit insert, as adding a backup set does.
void BM_MariadbInsert(benchmark::State& state) {
  Scratch_Schema schema;
  if (!schema.conn() || !make_table(schema.conn(), 0)) {
    state.SkipWithError("no MariaDB server (SCAT_TEST_MARIADB_SOCKET)");
    return;
  }
  long long n = 0;
  for (auto _ : state) {
    Insert_SQL insert;
    insert.table("t").value("name", Binding_Value("set-" + std::to_string(++n)));
    insert.value_uuid("uuid", kUuid);
    if (!schema.conn()->execute(insert))
      state.SkipWithError("insert failed");
  }
}
BENCHMARK(BM_MariadbInsert)->Unit(benchmark::kMicrosecond);

// One row by its key, as reading a backup set's state does.
void BM_MariadbPointSelect(benchmark::State& state) {
  Scratch_Schema schema;
  if (!schema.conn() || !make_table(schema.conn(), 1000)) {
    state.SkipWithError("no MariaDB server (SCAT_TEST_MARIADB_SOCKET)");
    return;
  }
  long long id = 0;
  for (auto _ : state) {
    SQL read("SELECT LOWER(HEX(uuid)) uuid, name, size FROM t WHERE id = :id");
    read.bind("id", Binding_Value(id++ % 1000 + 1));
    Value row;
    Legacy_Cursor cursor(schema.conn(), read, Legacy_Cursor::ROW);
    if (!cursor.fetch(row) || row.is_null())
      state.SkipWithError("select failed");
  }
}
BENCHMARK(BM_MariadbPointSelect)->Unit(benchmark::kMicrosecond);

// A page of rows as JSON objects, as listing a pool's backup sets does.
void BM_MariadbReadRows(benchmark::State& state) {
  Scratch_Schema schema;
  if (!schema.conn() || !make_table(schema.conn(), static_cast<int>(state.range(0)))) {
    state.SkipWithError("no MariaDB server (SCAT_TEST_MARIADB_SOCKET)");
    return;
  }
  for (auto _ : state) {
    SQL all("SELECT * FROM t");
    Value rows;
    Legacy_Cursor cursor(schema.conn(), all, Legacy_Cursor::ROWS);
    if (!cursor.fetch(rows))
      state.SkipWithError("select failed");
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_MariadbReadRows)->Arg(100)->Arg(10000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
