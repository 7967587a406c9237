// scatctl: the operator's view of a storage catalog, through the library's
// own operations. See `scatctl --help`.
//
// Exit codes: 0 done, 1 the command failed, 2 the command line (or the JSON
// given to it) is wrong. Every failure is one line on standard error.
#include <cstdio>
#include <exception>
#include <map>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "platform/runtime/host_id.h"
#include "tools/scatctl/command.h"
#include "tools/scatctl/log_sink.h"
#include "tools/scatctl/options.h"
#include "tools/scatctl/session.h"

namespace {

using scatctl::Command;
using scatctl::Command_Args;

// The full command list with examples, shown after the global options.
std::string command_overview() {
  std::string text = "Commands:\n";
  for (const Command& c : scatctl::all_commands()) {
    std::string name = c.topic != nullptr ? std::string(c.topic) + " " + c.name : c.name;
    name.resize(std::max<std::size_t>(name.size() + 1, 20), ' ');
    text += "  " + name + c.summary + "\n";
  }
  text +=
      "\nExamples:\n"
      "  scatctl demo                       build a sample catalog and walk through it\n"
      "  scatctl -c demo-catalog pool list  the sample catalog's pools\n"
      "  scatctl -c demo-catalog set list POOL --states online --since 2024-05-01\n"
      "\n'scatctl COMMAND --help' shows a command's arguments, options and examples.\n"
      "Exit status: 0 done, 1 failed, 2 wrong usage.";
  return text;
}

std::string command_footer(const Command& c) {
  return std::string("Examples:\n") + c.examples;
}

// CLI11 reports a word that names no command as a missing command; say
// which word it was.
std::string parse_error_text(CLI::App& app, const std::map<std::string, CLI::App*>& topics,
                             const CLI::ParseError& e) {
  CLI::App* where = &app;
  std::string path;
  for (const auto& topic : topics) {
    if (topic.second->parsed()) {
      where = topic.second;
      path = topic.first + " ";
    }
  }
  std::vector<std::string> left = where->remaining();
  if (left.empty())
    left = app.remaining();
  if (dynamic_cast<const CLI::RequiredError*>(&e) == nullptr)
    return e.what();
  if (!left.empty() && left.front().compare(0, 1, "-") != 0)
    return "unknown command '" + path + left.front() + "'";
  std::string names;
  for (const CLI::App* sub : where->get_subcommands([](CLI::App*) { return true; }))
    names += (names.empty() ? "" : ", ") + sub->get_name();
  return (path.empty() ? std::string("a command is needed")
                       : "'" + path.substr(0, path.size() - 1) + "' needs one of") +
         ": " + names;
}

int report(const std::string& message, int code) {
  std::fprintf(stderr, "scatctl: %s\n", message.c_str());
  return code;
}

}  // namespace

int main(int argc, char** argv) {
  scatctl::Log_Sink& log = scatctl::Log_Sink::instance();
  // A file pool names its folder per host id; a host that has none
  // (STORAGED_HOST_UUID unset) still finds the folders made under this one,
  // such as the demo's.
  if (*Host_ID::instance().c_str() == '\0')
    Host_ID::instance().set(scatctl::kHostWithoutId);
  Command_Args args;
  CLI::App app("scatctl: look into and change a storage catalog through the library.", "scatctl");
  app.footer(command_overview());
  app.require_subcommand(1);
  app.fallthrough();
  scatctl::opt::global(app, args);

  std::map<std::string, CLI::App*> topics;
  std::map<CLI::App*, const Command*> commands;
  for (const Command& c : scatctl::all_commands()) {
    CLI::App* parent = &app;
    if (c.topic != nullptr) {
      CLI::App*& topic = topics[c.topic];
      if (topic == nullptr) {
        topic = app.add_subcommand(c.topic, std::string(c.topic) + " commands");
        topic->require_subcommand(1);
        topic->fallthrough();
      }
      parent = topic;
    }
    CLI::App* sub = parent->add_subcommand(c.name, c.summary);
    sub->footer(command_footer(c));
    sub->fallthrough();
    c.declare(*sub, args);
    commands[sub] = &c;
  }

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    return report(parse_error_text(app, topics, e) + " (see 'scatctl --help')",
                  scatctl::EXIT_USAGE);
  }

  const Command* chosen = nullptr;
  for (const auto& entry : commands) {
    if (entry.first->parsed())
      chosen = entry.second;
  }
  if (chosen == nullptr)
    return report("no command given (see 'scatctl --help')", scatctl::EXIT_USAGE);
  log.set_echo(args.verbose);

  try {
    scatctl::Session session(args, chosen->catalog);
    return chosen->run(session, args);
  } catch (const scatctl::Failure& e) {
    return report(e.what(), e.code());
  } catch (const std::exception& e) {
    return report(e.what(), scatctl::EXIT_FAILED);
  }
}
