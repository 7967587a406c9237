#include "tools/scatctl/options.h"

#include <CLI/CLI.hpp>

namespace scatctl {
namespace opt {

void global(CLI::App& app, Command_Args& a) {
  app.add_option("-c,--catalog", a.catalog,
                 "The SQLite catalog file (or a folder holding catalog.db or "
                 "storage_catalog.db). Default: $STORAGED_DB_DIR/storage_catalog.db, or the "
                 "MariaDB catalog when STORAGED_DB_ENGINE=mariadb")
      ->type_name("FILE");
  app.add_flag("--json", a.compact, "Print results as one compact JSON line, for scripts");
  app.add_flag("-v,--verbose", a.verbose, "Also show the library's log lines on standard error");
}

void pool(CLI::App& app, Command_Args& a) {
  app.add_option("POOL", a.pool, "The pool's uuid")->required();
}

void set(CLI::App& app, Command_Args& a) {
  app.add_option("SET", a.set, "The backup set's uuid")->required();
}

void sets(CLI::App& app, Command_Args& a) {
  app.add_option("SET", a.sets, "Uuids of backup sets")->required();
}

void optional_sets(CLI::App& app, Command_Args& a) {
  app.add_option("SET", a.sets, "Uuids of backup sets (none: the sets --where selects)");
}

void uuid(CLI::App& app, Command_Args& a, const char* what) {
  app.add_option("UUID", a.uuid, what)->required();
}

void input(CLI::App& app, Command_Args& a, const char* what) {
  app.add_option("JSON", a.input,
                 std::string(what) +
                     " (JSON object; '-' or left out: read "
                     "from standard input)");
}

void state_names(CLI::App& app, Command_Args& a) {
  app.add_option("STATES", a.state_names,
                 "Comma-separated state names: online, offline, nearline, expired, replicated, "
                 "warmup")
      ->required();
}

void folder(CLI::App& app, Command_Args& a) {
  app.add_option("FOLDER", a.folder, "Where the sample catalog goes (default: demo-catalog)");
}

void where(CLI::App& app, Command_Args& a) {
  app.add_option("--where", a.where, "Filter as a JSON object of column names and values")
      ->type_name("JSON");
}

void paging(CLI::App& app, Command_Args& a) {
  app.add_option("--limit", a.limit, "At most this many rows (-1: all)")
      ->check(CLI::Range(-1LL, static_cast<long long>(1) << 62));
  app.add_option("--offset", a.offset, "Skip this many rows first")->check(CLI::NonNegativeNumber);
}

void set_filters(CLI::App& app, Command_Args& a) {
  app.add_option("--where", a.where,
                 "Filter as a JSON object in the library's request form, e.g. "
                 "{\"states\":\"online\",\"GE_backup_time\":\"2024-05-01\",\"type\":\"FULL\"}")
      ->type_name("JSON");
  app.add_option("--states", a.states, "Only sets with all of these states (comma-separated)");
  app.add_option("--not-states", a.not_states, "Only sets with none of these states");
  app.add_option("--type", a.type, "Only sets of these backup types (comma-separated)");
  app.add_option("--since", a.since,
                 "Only sets made at or after this time (YYYY-MM-DD[ HH:MM:SS])");
  app.add_option("--before", a.before, "Only sets made before this time");
  resource(app, a);
  app.add_option("--order", a.order, "Sort by this column (default: backup_time)");
  app.add_flag("--asc", a.ascending, "Oldest (smallest) first; default is newest first");
  raw(app, a);
  paging(app, a);
}

void device_pool(CLI::App& app, Command_Args& a) {
  app.add_option("--pool", a.device_pool, "Only devices of this pool uuid");
}

void resource(CLI::App& app, Command_Args& a) {
  app.add_option("--resource", a.resource, "Only sets of this resource uuid");
}

void raw(CLI::App& app, Command_Args& a) {
  app.add_flag("--raw", a.raw, "Rows as stored: state as a number, no \"restorable\"");
}

void whole(CLI::App& app, Command_Args& a) {
  app.add_flag("--whole", a.whole, "The whole chain, not only the sets up to SET");
}

void retention(CLI::App& app, Command_Args& a) {
  app.add_option("--keep", a.keep, "Newest chains of every resource that are kept (default 1)")
      ->check(CLI::Range(0, 1000000));
  app.add_option("--days", a.days, "Retention period in days (default: the pool's retention_days)")
      ->check(CLI::Range(0, 1000000));
}

void deletable(CLI::App& app, Command_Args& a) {
  app.add_option("--skip", a.skip, "Skip this many deletable chains first")
      ->check(CLI::NonNegativeNumber);
  app.add_flag("--skip-warmup", a.skip_warmup, "Warm-up sets do not count as expired");
  app.add_flag("--all", a.all, "Every deletable chain, oldest first");
}

void replace(CLI::App& app, Command_Args& a) {
  app.add_flag("--replace", a.replace, "Replace a stored record with the same uuid");
}

void jobs_dir(CLI::App& app, Command_Args& a) {
  app.add_option("--jobs", a.jobs_dir,
                 "The job framework's folder (default: $STORAGED_JOB_DIR, else "
                 "/var/lib/storaged/jobs)")
      ->type_name("DIR");
}

void config(CLI::App& app, Command_Args& a) {
  app.add_option("--config", a.config, "The service configurator's file (see svc.conf.example)")
      ->required()
      ->check(CLI::ExistingFile);
}

void quiet(CLI::App& app, Command_Args& a) {
  app.add_flag("-q,--quiet", a.quiet, "Build the catalog without the walk-through");
}

}  // namespace opt
}  // namespace scatctl
