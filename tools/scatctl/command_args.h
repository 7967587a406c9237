// The values a command line may carry, one field per kind of argument or
// option. Commands share one instance (only one command runs per process)
// and declare the fields they use through the helpers of options.h, so an
// option has the same name and meaning in every command.
#ifndef TOOLS_SCATCTL_COMMAND_ARGS_H_
#define TOOLS_SCATCTL_COMMAND_ARGS_H_

#include <string>
#include <vector>

namespace scatctl {

struct Command_Args {
  // Global options
  std::string catalog;   // --catalog: an SQLite catalog file (or its folder)
  bool compact = false;  // --json
  bool verbose = false;  // --verbose

  // Positional arguments
  std::string pool;               // POOL
  std::string set;                // SET
  std::string uuid;               // UUID of a pool or a device
  std::vector<std::string> sets;  // SET...
  std::string input;              // JSON (empty or "-": standard input)
  std::string state_names;        // STATES
  std::string folder;             // FOLDER

  // Filters and paging
  std::string where;  // --where: a JSON object of filter keys
  std::string states, not_states, type, since, before, resource;
  std::string device_pool;  // --pool of device list
  std::string order = "backup_time";
  bool ascending = false;
  long long limit = -1;
  long long offset = 0;
  bool raw = false;

  // Chains and retention
  bool whole = false;
  int keep = 1;
  int days = -1;  // -1: the pool's retention_days
  long long skip = 0;
  bool skip_warmup = false;
  bool all = false;

  // Writes
  bool replace = false;

  // Jobs, service, demo
  std::string jobs_dir;
  std::string config;
  bool quiet = false;
};

}  // namespace scatctl

#endif  // TOOLS_SCATCTL_COMMAND_ARGS_H_
