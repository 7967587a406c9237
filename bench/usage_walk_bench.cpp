// What measuring a single-device file pool costs: the file calculator's
// walk of a tree of small files against `du -s` over the same tree. The
// tree has 100 files in each of `folders` folders, two levels deep.
//
//   build/bench/usage_walk_bench --benchmark_filter=...
#include <benchmark/benchmark.h>

#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/runtime/host_id.h"
#include "storaged/storage_catalog/http_pool_usage_calculator.h"

namespace {

const char kHost[] = "0123456789abcdef0123456789abcdef";
const int kFilesPerFolder = 100;

// A tree in a scratch folder, removed afterwards.
struct Tree {
  explicit Tree(int folders) {
    std::string pattern = (std::filesystem::temp_directory_path() / "scat-walk-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr)
      root = pattern;
    for (int f = 0; f < folders; ++f) {
      std::filesystem::path dir =
          std::filesystem::path(root) / std::to_string(f % 10) / std::to_string(f);
      std::filesystem::create_directories(dir);
      for (int i = 0; i < kFilesPerFolder; ++i)
        std::ofstream(dir / std::to_string(i)) << std::string(100 + i * 37, 'x');
    }
  }
  ~Tree() {
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
  }
  std::string root;
};

void calculator_walk(benchmark::State& state) {
  Tree tree(static_cast<int>(state.range(0)));
  Host_ID::instance().set(kHost);
  Object device{{"uuid", "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"},
                {"pool_uuid", "11111111111111111111111111111111"},
                {"url", "file:///pool"},
                {"extended_attrs", Object{{"attached_hosts", Object{{kHost, tree.root}}}}}};
  HTTP_Pool_Usage_Calculator calculator(Array{device}, false);
  for (auto _ : state) {
    Object usage;
    if (!calculator.calculate(usage))
      state.SkipWithError("calculate failed");
    benchmark::DoNotOptimize(usage);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0) * kFilesPerFolder);
}

void du_walk(benchmark::State& state) {
  Tree tree(static_cast<int>(state.range(0)));
  std::string command = "du -s '" + tree.root + "' > /dev/null";
  for (auto _ : state)
    if (std::system(command.c_str()) != 0)
      state.SkipWithError("du failed");
  state.SetItemsProcessed(state.iterations() * state.range(0) * kFilesPerFolder);
}

}  // namespace

BENCHMARK(calculator_walk)->Arg(10)->Arg(100)->Arg(500)->Unit(benchmark::kMillisecond);
BENCHMARK(du_walk)->Arg(10)->Arg(100)->Arg(500)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
