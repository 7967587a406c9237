// The option vocabulary of scatctl: each helper declares one argument or a
// group of options on a command, bound to a field of Command_Args, with the
// same name, check and help text wherever it appears.
#ifndef TOOLS_SCATCTL_OPTIONS_H_
#define TOOLS_SCATCTL_OPTIONS_H_

#include "tools/scatctl/command_args.h"

namespace CLI {
class App;
}

namespace scatctl {
namespace opt {

void global(CLI::App& app, Command_Args& a);  // --catalog, --json, --verbose

void pool(CLI::App& app, Command_Args& a);                    // POOL
void set(CLI::App& app, Command_Args& a);                     // SET
void sets(CLI::App& app, Command_Args& a);                    // SET...
void optional_sets(CLI::App& app, Command_Args& a);           // [SET...]
void uuid(CLI::App& app, Command_Args& a, const char* what);  // UUID
// JSON, optional: standard input when left out or "-".
void input(CLI::App& app, Command_Args& a, const char* what);
void state_names(CLI::App& app, Command_Args& a);  // STATES
void folder(CLI::App& app, Command_Args& a);       // [FOLDER]

void where(CLI::App& app, Command_Args& a);   // --where JSON
void paging(CLI::App& app, Command_Args& a);  // --limit, --offset
// --states, --not-states, --type, --since, --before, --resource, --order,
// --asc, --raw
void set_filters(CLI::App& app, Command_Args& a);
void device_pool(CLI::App& app, Command_Args& a);  // --pool
void resource(CLI::App& app, Command_Args& a);     // --resource
void raw(CLI::App& app, Command_Args& a);          // --raw

void whole(CLI::App& app, Command_Args& a);      // --whole
void retention(CLI::App& app, Command_Args& a);  // --keep, --days
void deletable(CLI::App& app, Command_Args& a);  // --skip, --skip-warmup, --all
void replace(CLI::App& app, Command_Args& a);    // --replace
void jobs_dir(CLI::App& app, Command_Args& a);   // --jobs
void config(CLI::App& app, Command_Args& a);     // --config
void quiet(CLI::App& app, Command_Args& a);      // --quiet

}  // namespace opt
}  // namespace scatctl

#endif  // TOOLS_SCATCTL_OPTIONS_H_
