// What a catalog write and a connection cost on an SQLite catalog file.
//
//   build/bench/sql_bench --benchmark_filter=...
#include <benchmark/benchmark.h>

#include <stdlib.h>

#include <filesystem>
#include <string>

#include "platform/sql/connection_pool.h"
#include "platform/sql/cursor.h"
#include "storaged/storage_catalog/storage_catalog_manager_database_impl.h"

using namespace database;
using namespace database::sql;

namespace {

struct Scratch {
  Scratch() {
    std::string pattern = "/tmp/scat-bench-XXXXXX";
    path = mkdtemp(pattern.data());
  }
  ~Scratch() { std::filesystem::remove_all(path); }
  std::string path;
};

Database make_db(const std::string& file, const char* synchronous) {
  Database db;
  db.name("bench").path(file).synchronous(synchronous);
  return db;
}

// One autocommit insert, as adding a backup set does.
void BM_InsertAutocommit(benchmark::State& state, const char* synchronous) {
  Scratch dir;
  Connection_Ptr conn = open_connection(make_db(dir.path + "/b.db", synchronous));
  conn->execute(
      std::string("CREATE TABLE t (id INTEGER PRIMARY KEY, uuid binary(16), name text);"));
  long long n = 0;
  for (auto _ : state) {
    Insert_SQL insert;
    insert.table("t").value("name", Binding_Value("set-" + std::to_string(++n)));
    insert.value_uuid("uuid", "00112233445566778899aabbccddeeff");
    if (!conn->execute(insert))
      state.SkipWithError("insert failed");
  }
}
BENCHMARK_CAPTURE(BM_InsertAutocommit, wal_full, "FULL")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_InsertAutocommit, wal_normal, "NORMAL")->Unit(benchmark::kMicrosecond);

// A connection per call, as opening the pool's file anew each time would.
void BM_OpenPerCall(benchmark::State& state) {
  Scratch dir;
  Database db = make_db(dir.path + "/b.db", "FULL");
  for (auto _ : state) {
    Connection_Ptr conn = open_connection(db);
    benchmark::DoNotOptimize(conn.get());
  }
}
BENCHMARK(BM_OpenPerCall)->Unit(benchmark::kMicrosecond);

// The same through the pool: what a local back-end pays per operation.
void BM_PooledAcquire(benchmark::State& state) {
  Scratch dir;
  Connection_Pool pool(make_db(dir.path + "/b.db", "FULL"));
  for (auto _ : state) {
    Connection_Ptr conn = pool.acquire();
    benchmark::DoNotOptimize(conn.get());
  }
}
BENCHMARK(BM_PooledAcquire)->Unit(benchmark::kMicrosecond);

// Opening a catalog with 50 pools: the start-up cost of a back-end.
void BM_OpenCatalog(benchmark::State& state) {
  Scratch dir;
  std::string file = dir.path + "/catalog.db";
  {
    Storage_Catalog_Manager_Database_Impl impl(file);
    impl.open();
    Connection_Ptr conn = impl.get_connection();
    for (int i = 0; i < 50; ++i) {
      char uuid[33];
      std::snprintf(uuid, sizeof uuid, "%032x", i + 1);
      conn->execute(std::string("INSERT INTO storage_catalog_storage_pool (uuid) VALUES (x'") +
                    uuid + "');");
    }
  }
  for (auto _ : state) {
    Storage_Catalog_Manager_Database_Impl impl(file);
    if (!impl.open())
      state.SkipWithError("open failed");
  }
}
BENCHMARK(BM_OpenCatalog)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
