// What the retention queries cost on a local pool's SQLite catalog as the
// number of protected resources grows: each resource holds 6 chains of 4
// backup sets, a day apart, each resource at its own time of day.
//
//   build/bench/retention_bench --benchmark_filter=...
#include <benchmark/benchmark.h>

#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/sql/transaction.h"
#include "storaged/storage_catalog/storage_catalog_manager_database_impl.h"

namespace {

const char kPool[] = "00000000000000000000000000000a00";
const int kChains = 6;
const int kSetsPerChain = 4;

std::string uuid(int resource, int set) {
  char text[33];
  std::snprintf(text, sizeof text, "%016x%016x", resource, set);
  return text;
}

// Day `n` of 2020, at a minute of its own for each resource.
std::string day(int n, int resource) {
  char text[32];
  std::snprintf(text, sizeof text, "2020-%02d-%02d %02d:%02d:00", 1 + n / 28 % 12, 1 + n % 28,
                resource / 60 % 24, resource % 60);
  return text;
}

// A catalog of `resources` resources in a scratch folder.
struct Catalog {
  explicit Catalog(int resources) {
    std::string pattern = "/tmp/scat-bench-XXXXXX";
    dir = mkdtemp(pattern.data());
    impl.reset(new Storage_Catalog_Manager_Database_Impl(dir + "/catalog.db"));
    ok = impl->open() && impl->add_pool(Object{{"uuid", kPool}, {"name", "bench"}});
    auto conn = impl->get_connection();  // the adds below run on it, in one transaction
    database::Transaction transaction(conn);
    ok = ok && transaction.begin();
    for (int r = 0; ok && r < resources; ++r) {
      for (int s = 0; ok && s < kChains * kSetsPerChain; ++s) {
        int first = s - s % kSetsPerChain;
        ok = impl->add_catalog(kPool, Object{{"uuid", uuid(r, s)},
                                             {"incarnation", uuid(r, first)},
                                             {"resource_uuid", uuid(r, 0)},
                                             {"agent", "backup.file"},
                                             {"backup_time", day(s, r)},
                                             {"size", 1000},
                                             {"state", 1}});
      }
    }
    ok = ok && transaction.commit();
  }
  ~Catalog() {
    impl.reset();
    std::filesystem::remove_all(dir);
  }
  std::string dir;
  std::unique_ptr<Storage_Catalog_Manager_Database_Impl> impl;
  bool ok = false;
};

// Keeping 3 chains of every resource and handing out the oldest other one.
void BM_ExpiredSet(benchmark::State& state) {
  Catalog catalog(static_cast<int>(state.range(0)));
  if (!catalog.ok)
    state.SkipWithError("catalog not built");
  for (auto _ : state) {
    Array set;
    if (!catalog.impl->get_a_expired_set(kPool, set, 3, 30) || set.size() != kSetsPerChain)
      state.SkipWithError("no expired set");
  }
}
BENCHMARK(BM_ExpiredSet)->Arg(10)->Arg(100)->Arg(400)->Unit(benchmark::kMillisecond);

// Chains and restorability of 100 sets.
void BM_IncarnationInfo(benchmark::State& state) {
  Catalog catalog(static_cast<int>(state.range(0)));
  if (!catalog.ok)
    state.SkipWithError("catalog not built");
  Array asked;
  for (int i = 0; i < 100; ++i)
    asked.push_back(uuid(i % state.range(0), i % (kChains * kSetsPerChain)));
  for (auto _ : state) {
    Array reports;
    if (!catalog.impl->get_incarnation_info(kPool, asked, reports) || reports.size() != 100)
      state.SkipWithError("no reports");
  }
}
BENCHMARK(BM_IncarnationInfo)->Arg(10)->Arg(100)->Arg(400)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
