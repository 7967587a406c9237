// The command table: every scatctl command is one entry naming its topic
// and verb, what it does, examples, what it needs of the catalog, the
// options it declares and the function that runs it. Each topic's file
// adds its entries from one registration function; main builds the
// command line parser from the table.
#ifndef TOOLS_SCATCTL_COMMAND_H_
#define TOOLS_SCATCTL_COMMAND_H_

#include <string>
#include <vector>

#include "tools/scatctl/command_args.h"

namespace CLI {
class App;
}

namespace scatctl {

class Session;

// What a command does with the catalog before it runs.
enum class Catalog_Use {
  NONE,    // nothing: the command opens what it needs itself
  READ,    // an existing catalog, opened; never created
  WRITE,   // the same, for a command that changes it
  CREATE,  // created when missing
};

struct Command {
  const char* topic;     // "pool", "set", ...; null for a command of its own
  const char* name;      // the verb ("list") or the command ("demo")
  const char* summary;   // one line
  const char* examples;  // lines of examples, each starting "scatctl "
  Catalog_Use catalog;
  // Declares the command's arguments and options, bound to `args`.
  void (*declare)(CLI::App& app, Command_Args& args);
  // Runs it; a Failure reports what went wrong. Returns the exit code.
  int (*run)(Session& session, const Command_Args& args);
};

using Command_Table = std::vector<Command>;

// The registration function of each topic.
void add_catalog_commands(Command_Table& table);
void add_pool_commands(Command_Table& table);
void add_set_commands(Command_Table& table);
void add_chain_commands(Command_Table& table);
void add_usage_commands(Command_Table& table);
void add_job_commands(Command_Table& table);
void add_serve_command(Command_Table& table);
void add_demo_command(Command_Table& table);

// The host id scatctl goes by when the environment names none.
extern const char kHostWithoutId[];

// Every command, in the order of the help text.
const Command_Table& all_commands();

}  // namespace scatctl

#endif  // TOOLS_SCATCTL_COMMAND_H_
