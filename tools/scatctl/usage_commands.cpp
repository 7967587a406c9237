// Pool usage: the figures the library keeps for a pool (and reports to the
// backup daemon), and recomputing them from the pool's storage now.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include "tools/scatctl/command.h"
#include "tools/scatctl/json_io.h"
#include "tools/scatctl/lookups.h"
#include "tools/scatctl/options.h"
#include "tools/scatctl/session.h"

namespace scatctl {

namespace {

Object usage_of(Session& session, const std::string& pool) {
  Object usage;
  session.forget_reason();
  if (!session.front().get_pool_usage(pool, usage))
    throw session.failed("cannot read the usage of pool " + pool);
  usage["uuid"] = pool;
  return usage;
}

int run_usage(Session& session, const Command_Args& a) {
  std::string pool = normalize_uuid(a.uuid, "pool");
  require_pool(session, pool);
  session.print(usage_of(session, pool));
  return EXIT_DONE;
}

// Runs the resync on a thread of its own; on a terminal the main thread
// keeps one line on standard error up to date meanwhile.
bool resync_with_progress(Storage_Catalog_Manager& front, const std::string& pool) {
  std::atomic<bool> done{false};
  bool result = false;
  std::thread worker([&] {
    result = front.resync_pool_usage(pool);
    done = true;
  });
  if (isatty(STDERR_FILENO)) {
    auto start = std::chrono::steady_clock::now();
    const char spinner[] = "|/-\\";
    for (int tick = 0; !done; ++tick) {
      double seconds =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      std::fprintf(stderr, "\r%c measuring pool %s ... %.1f s", spinner[tick % 4], pool.c_str(),
                   seconds);
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    std::fprintf(stderr, "\r%*s\r", 70, "");
  }
  worker.join();
  return result;
}

int run_resync(Session& session, const Command_Args& a) {
  std::string pool = normalize_uuid(a.uuid, "pool");
  require_pool(session, pool);
  session.forget_reason();
  if (!resync_with_progress(session.front(), pool))
    throw session.failed("cannot measure pool " + pool);
  session.print(usage_of(session, pool));
  return EXIT_DONE;
}

}  // namespace

void add_usage_commands(Command_Table& table) {
  table.push_back({"pool", "usage", "The pool's usage figures as the backup daemon sees them",
                   "  scatctl pool usage POOL\n", Catalog_Use::READ,
                   [](CLI::App& app, Command_Args& a) { opt::uuid(app, a, "The pool's uuid"); },
                   run_usage});
  table.push_back({"pool", "resync", "Measure the pool's storage now and store its usage",
                   "  scatctl pool resync POOL\n", Catalog_Use::WRITE,
                   [](CLI::App& app, Command_Args& a) { opt::uuid(app, a, "The pool's uuid"); },
                   run_resync});
}

}  // namespace scatctl
