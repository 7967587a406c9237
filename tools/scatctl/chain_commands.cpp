// Chains and retention: the chain a backup set belongs to, whether sets
// can be restored, and the sets a retention run would be handed, without
// changing anything.
#include "storaged/storage_catalog/catalog_dependence_resolver.h"
#include "tools/scatctl/catalog_filter.h"
#include "tools/scatctl/command.h"
#include "tools/scatctl/json_io.h"
#include "tools/scatctl/lookups.h"
#include "tools/scatctl/options.h"
#include "tools/scatctl/session.h"

namespace scatctl {

namespace {

// The front's chain, state and restorability answer for sets of one pool.
Array incarnation_info(Session& session, const std::string& pool, const Array& sets) {
  Array requests{Object{{"pool_uuid", pool}, {"catalog_uuids", sets}}};
  Value result;
  session.forget_reason();
  if (!session.front().get_incarnation_info(requests, result) || !result.is_array())
    throw session.failed("cannot read the chains of pool " + pool);
  return result.get<Array>();
}

int run_chain(Session& session, const Command_Args& a) {
  std::string pool = normalize_uuid(a.pool, "pool");
  std::string set = normalize_uuid(a.set, "backup set");
  Object row = require_set(session, pool, set, false);
  std::string incarnation = text_of(row, "incarnation");
  if (incarnation.empty())
    throw Failure("backup set " + set + " belongs to no chain");
  Array chain;
  session.forget_reason();
  if (!session.front().get_catalogs_with_incarnation(pool, set, incarnation, chain, a.whole))
    throw session.failed("cannot read the chain of backup set " + set);
  for (Value& member : chain) {
    if (member.is_object() && member["state"].is_number_integer())
      member["state"] = state_names(member["state"].get<long long>());
  }
  Array info = incarnation_info(session, pool, Array{set});
  Object out{{"uuid", set}, {"incarnation", incarnation}, {"sets", chain}};
  if (!info.empty() && info.front().is_object())
    out["restorable"] = info.front().value("restorable", false);
  session.print(out);
  return EXIT_DONE;
}

int run_restorable(Session& session, const Command_Args& a) {
  std::string pool = normalize_uuid(a.pool, "pool");
  Array sets;
  for (const std::string& set : a.sets)
    sets.push_back(normalize_uuid(set, "backup set"));
  require_pool(session, pool);
  session.print(incarnation_info(session, pool, sets));
  return EXIT_DONE;
}

int run_expired(Session& session, const Command_Args& a) {
  std::string pool = normalize_uuid(a.pool, "pool");
  Object record = require_pool(session, pool);
  int days = a.days >= 0 ? a.days : static_cast<int>(number_of(record, "retention_days"));
  Array sets;
  session.forget_reason();
  if (!session.front().get_a_expired_set(pool, sets, a.keep, days))
    throw session.failed("cannot select the expired sets of pool " + pool);
  session.print(Object{{"pool_uuid", pool},
                       {"keep_count", a.keep},
                       {"retention_days", days},
                       {"incarnation", sets.empty() ? "" : sets.front().value("incarnation", "")},
                       {"sets", sets}});
  return EXIT_DONE;
}

int run_deletable(Session& session, const Command_Args& a) {
  std::string pool = normalize_uuid(a.pool, "pool");
  require_pool(session, pool);
  Array chains;
  // Each further chain is the next one past those already handed out;
  // nothing is marked, so this reads the same catalog every time.
  for (long long skip = a.skip;; ++skip) {
    Array sets;
    session.forget_reason();
    if (!session.front().get_a_deletable_set(pool, sets, a.skip_warmup, skip))
      throw session.failed("cannot select the deletable sets of pool " + pool);
    std::string incarnation = sets.empty() ? "" : sets.front().value("incarnation", "");
    if (sets.empty() || (!chains.empty() && chains.back()["incarnation"] == incarnation))
      break;
    chains.push_back(Object{{"incarnation", incarnation}, {"sets", sets}});
    if (!a.all)
      break;
  }
  session.print(Object{{"pool_uuid", pool}, {"chains", chains}});
  return EXIT_DONE;
}

int run_dependents(Session& session, const Command_Args& a) {
  std::string pool = normalize_uuid(a.pool, "pool");
  std::string set = normalize_uuid(a.set, "backup set");
  require_set(session, pool, set, false);
  Catalog_Dependence_Resolver resolver(pool);
  Catalog_Dependence_Group group;
  session.forget_reason();
  if (!resolver.get_dependents(set, group))
    throw session.failed("cannot resolve the dependents of backup set " + set);
  session.print(Object{{"uuid", set}, {"dependents", group.catalogs}});
  return EXIT_DONE;
}

// The host's check before a deletion: for named sets, what each takes
// along; for conditions, how many sets their chains hold.
int run_predelete(Session& session, const Command_Args& a) {
  std::string pool = normalize_uuid(a.pool, "pool");
  Object request{{"pool_uuid", pool}};
  if (!a.sets.empty()) {
    Array sets;
    for (const std::string& set : a.sets)
      sets.push_back(normalize_uuid(set, "backup set"));
    request["catalog_uuids"] = sets;
  } else {
    Object conditions = a.where.empty() ? Object() : read_object(a.where, "--where");
    check_request_keys(conditions);
    Array resources;
    if (!a.resource.empty())
      resources.push_back(normalize_uuid(a.resource, "--resource"));
    request["conditions"] = conditions;
    request["resource_uuids"] = resources;
    request["exclude_catalog_uuids"] = Array();
  }
  require_pool(session, pool);
  Object response;
  session.forget_reason();
  int result = predelete_backupset(request, response);
  if (result != 0)
    throw session.failed("cannot resolve what deleting from pool " + pool + " takes along");
  session.print(response);
  return EXIT_DONE;
}

void declare_pool_set(CLI::App& app, Command_Args& a) {
  opt::pool(app, a);
  opt::set(app, a);
}

}  // namespace

void add_chain_commands(Command_Table& table) {
  table.push_back({"set", "chain", "The chain of a backup set, up to it (or --whole)",
                   "  scatctl set chain POOL SET\n  scatctl set chain POOL SET --whole\n",
                   Catalog_Use::READ,
                   [](CLI::App& app, Command_Args& a) {
                     declare_pool_set(app, a);
                     opt::whole(app, a);
                   },
                   run_chain});
  table.push_back({"set", "dependents", "The later sets of the chain that rest on a backup set",
                   "  scatctl set dependents POOL SET\n", Catalog_Use::READ, declare_pool_set,
                   run_dependents});
  table.push_back({"set", "predelete",
                   "What deleting sets (or the sets conditions select) takes along",
                   "  scatctl set predelete POOL SET1 SET2\n"
                   "  scatctl set predelete POOL --resource RESOURCE --where "
                   "'{\"LT_backup_time\":\"2024-05-01\"}'\n",
                   Catalog_Use::READ,
                   [](CLI::App& app, Command_Args& a) {
                     opt::pool(app, a);
                     opt::optional_sets(app, a);
                     opt::where(app, a);
                     opt::resource(app, a);
                   },
                   run_predelete});
  table.push_back({"set", "restorable", "Chain, state and restorability of backup sets",
                   "  scatctl set restorable POOL SET1 SET2\n", Catalog_Use::READ,
                   [](CLI::App& app, Command_Args& a) {
                     opt::pool(app, a);
                     opt::sets(app, a);
                   },
                   run_restorable});
  table.push_back(
      {"retention", "expired", "The chain the next retention run would expire (changes nothing)",
       "  scatctl retention expired POOL\n  scatctl retention expired POOL --keep 2 --days 30\n",
       Catalog_Use::READ,
       [](CLI::App& app, Command_Args& a) {
         opt::pool(app, a);
         opt::retention(app, a);
       },
       run_expired});
  table.push_back({"retention", "deletable", "Chains of expired sets a deletion run would get",
                   "  scatctl retention deletable POOL\n"
                   "  scatctl retention deletable POOL --all --skip-warmup\n",
                   Catalog_Use::READ,
                   [](CLI::App& app, Command_Args& a) {
                     opt::pool(app, a);
                     opt::deletable(app, a);
                   },
                   run_deletable});
}

}  // namespace scatctl
