#include "tools/scatctl/command.h"

namespace scatctl {

const char kHostWithoutId[] = "5ca7c7100000400080000000000000ff";

const Command_Table& all_commands() {
  static const Command_Table table = [] {
    Command_Table t;
    add_catalog_commands(t);
    add_pool_commands(t);
    add_usage_commands(t);
    add_set_commands(t);
    add_chain_commands(t);
    add_job_commands(t);
    add_serve_command(t);
    add_demo_command(t);
    return t;
  }();
  return table;
}

}  // namespace scatctl
