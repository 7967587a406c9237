// Backup sets: list them with the library's filters, show, add and update
// one, and read, set and clear its states.
#include "platform/runtime/uuid.h"
#include "tools/scatctl/catalog_filter.h"
#include "tools/scatctl/command.h"
#include "tools/scatctl/json_io.h"
#include "tools/scatctl/lookups.h"
#include "tools/scatctl/options.h"
#include "tools/scatctl/session.h"

namespace scatctl {

namespace {

const char* const kSetUuidKeys[] = {"uuid",          "uid",         "host_uuid",
                                    "resource_uuid", "incarnation", "pool_uuid"};

void normalize_set_record(Object& record) {
  for (const char* key : kSetUuidKeys)
    normalize_uuid_member(record, key);
  state_names_to_bits(record);
}

int run_set_list(Session& session, const Command_Args& a) {
  std::string pool = normalize_uuid(a.pool, "pool");
  Object request = set_request(a);
  check_request_keys(request);
  require_pool(session, pool);
  Object filter, paging;
  parse_request(session, request, filter, paging);
  Array rows;
  long long total = 0;
  session.forget_reason();
  if (!session.front().query_catalog(pool, filter, text_of(paging, "sort", "backup_time"),
                                     text_of(paging, "order") == "asc", number_of(paging, "offset"),
                                     number_of(paging, "limit", -1), rows, &total, !a.raw, false))
    throw session.failed("cannot list the backup sets of pool " + pool);
  session.print(Object{{"total", total}, {"rows", rows}});
  return EXIT_DONE;
}

int run_set_show(Session& session, const Command_Args& a) {
  std::string pool = normalize_uuid(a.pool, "pool");
  std::string set = normalize_uuid(a.set, "backup set");
  session.print(require_set(session, pool, set, !a.raw));
  return EXIT_DONE;
}

int run_set_add(Session& session, const Command_Args& a) {
  std::string pool = normalize_uuid(a.pool, "pool");
  Object record = read_object(a.input, "the backup set record");
  if (record.find("uuid") == record.end())
    record["uuid"] = uuid_string();
  if (!record["uuid"].is_string())
    throw usage_error("the backup set record: \"uuid\" must be a string");
  normalize_set_record(record);
  std::string uuid = record["uuid"].get<std::string>();
  record["pool_uuid"] = pool;
  // A set that names no chain starts one.
  if (record.find("incarnation") == record.end())
    record["incarnation"] = uuid;
  Object existing;
  if (find_set(session, pool, uuid, false, existing) && !a.replace)
    throw Failure("backup set " + uuid + " already exists in pool " + pool +
                  " (--replace replaces it)");
  session.forget_reason();
  if (!session.front().add_catalog(pool, record))
    throw session.failed("cannot add backup set " + uuid);
  session.print(require_set(session, pool, uuid, true));
  return EXIT_DONE;
}

int run_set_update(Session& session, const Command_Args& a) {
  std::string pool = normalize_uuid(a.pool, "pool");
  std::string set = normalize_uuid(a.set, "backup set");
  Object values = read_object(a.input, "the backup set's new values");
  values.erase("uuid");
  normalize_set_record(values);
  require_set(session, pool, set, false);
  session.forget_reason();
  if (!session.front().update_catalog(pool, set, values))
    throw session.failed("cannot update backup set " + set);
  session.print(require_set(session, pool, set, true));
  return EXIT_DONE;
}

Object state_of(Session& session, const std::string& pool, const std::string& set) {
  Catalog_State state = CST_UNKNOWN;
  session.forget_reason();
  if (!session.front().get_state(pool, set, state))
    throw session.failed("cannot read the state of backup set " + set);
  return Object{{"uuid", set}, {"state", state_names(state)}, {"value", state}};
}

int run_state_show(Session& session, const Command_Args& a) {
  std::string pool = normalize_uuid(a.pool, "pool");
  std::string set = normalize_uuid(a.set, "backup set");
  require_set(session, pool, set, false);
  session.print(state_of(session, pool, set));
  return EXIT_DONE;
}

int change_state(Session& session, const Command_Args& a, bool set_bits) {
  std::string pool = normalize_uuid(a.pool, "pool");
  std::string set = normalize_uuid(a.set, "backup set");
  Catalog_State states = parse_state_names(a.state_names);
  require_set(session, pool, set, false);
  session.forget_reason();
  bool done = set_bits ? session.front().set_state(pool, set, states)
                       : session.front().unset_state(pool, set, states);
  if (!done)
    throw session.failed(std::string("cannot ") + (set_bits ? "set" : "clear") +
                         " the state of backup set " + set);
  session.print(state_of(session, pool, set));
  return EXIT_DONE;
}

void declare_pool_set(CLI::App& app, Command_Args& a) {
  opt::pool(app, a);
  opt::set(app, a);
}

void declare_state_change(CLI::App& app, Command_Args& a) {
  declare_pool_set(app, a);
  opt::state_names(app, a);
}

}  // namespace

void add_set_commands(Command_Table& table) {
  table.push_back(
      {"set", "list", "List a pool's backup sets (library filters, order, paging)",
       "  scatctl set list POOL --states online --since 2024-05-01 --limit 20\n"
       "  scatctl set list POOL --where '{\"type\":\"FULL\",\"GE_backup_time\":\"2024-05-01\"}'\n"
       "  scatctl set list POOL --not-states expired --order name --asc --offset 20 --limit 20\n",
       Catalog_Use::READ,
       [](CLI::App& app, Command_Args& a) {
         opt::pool(app, a);
         opt::set_filters(app, a);
       },
       run_set_list});
  table.push_back({"set", "show", "One backup set (state names, restorable)",
                   "  scatctl set show POOL SET\n", Catalog_Use::READ,
                   [](CLI::App& app, Command_Args& a) {
                     declare_pool_set(app, a);
                     opt::raw(app, a);
                   },
                   run_set_show});
  table.push_back(
      {"set", "add", "Add a backup set to a pool (starts a chain unless it names one)",
       "  scatctl set add POOL '{\"name\":\"mail FULL\",\"backup_type\":\"FULL\","
       "\"backup_time\":\"2024-05-01 22:00:00\",\"state\":[\"online\"],\"size\":1024}'\n",
       Catalog_Use::WRITE,
       [](CLI::App& app, Command_Args& a) {
         opt::pool(app, a);
         opt::input(app, a, "The backup set record");
         opt::replace(app, a);
       },
       run_set_add});
  table.push_back({"set", "update", "Change a backup set's columns",
                   "  scatctl set update POOL SET '{\"name\":\"mail weekly\"}'\n",
                   Catalog_Use::WRITE,
                   [](CLI::App& app, Command_Args& a) {
                     declare_pool_set(app, a);
                     opt::input(app, a, "The new values");
                   },
                   run_set_update});
  table.push_back({"state", "show", "A backup set's states", "  scatctl state show POOL SET\n",
                   Catalog_Use::READ, declare_pool_set, run_state_show});
  table.push_back({"state", "set", "Set states of a backup set (sends the sync notice)",
                   "  scatctl state set POOL SET offline\n", Catalog_Use::WRITE,
                   declare_state_change,
                   [](Session& s, const Command_Args& a) { return change_state(s, a, true); }});
  table.push_back({"state", "clear", "Clear states of a backup set",
                   "  scatctl state clear POOL SET offline,expired\n", Catalog_Use::WRITE,
                   declare_state_change,
                   [](Session& s, const Command_Args& a) { return change_state(s, a, false); }});
}

}  // namespace scatctl
