// scatctl demo: builds the sample catalog and walks a newcomer through it
// in a few screens, each made of the library's own answers: the pools, the
// backup chains, restorability, what retention expires and why, and the
// space the pools take.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <system_error>

#include "platform/queue/queue_manager.h"
#include "tools/scatctl/command.h"
#include "tools/scatctl/demo_catalog.h"
#include "tools/scatctl/json_io.h"
#include "tools/scatctl/lookups.h"
#include "tools/scatctl/options.h"
#include "tools/scatctl/session.h"

namespace scatctl {

namespace fs = std::filesystem;

namespace {

const char kMarker[] = ".scatctl-demo";
const int kKeepChains = 2;

std::string human_bytes(long long bytes) {
  const char* units[] = {"B", "KB", "MB", "GB", "TB"};
  double value = static_cast<double>(bytes);
  int unit = 0;
  while (value >= 1024 && unit < 4) {
    value /= 1024;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", value, units[unit]);
  return text;
}

std::string pad(std::string text, std::size_t width) {
  if (text.size() < width)
    text.resize(width, ' ');
  return text;
}

void screen(int number, const char* title) {
  std::string heading = "-- " + std::to_string(number) + "/5  " + title + " ";
  heading += std::string(78 - heading.size(), '-');
  std::printf("\n%s\n\n", heading.c_str());
}

// The folder the demo may (re)build: missing, empty, or made by a demo.
void prepare_folder(const std::string& folder) {
  std::error_code error;
  if (fs::exists(folder, error)) {
    if (!fs::is_directory(folder, error))
      throw Failure("'" + folder + "' is not a folder");
    bool empty = fs::directory_iterator(folder, error) == fs::directory_iterator();
    if (!empty && !fs::exists(fs::path(folder) / kMarker, error))
      throw Failure("'" + folder + "' holds files that the demo did not make; give another FOLDER");
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, error))
      fs::remove_all(entry.path(), error);
  }
  fs::create_directories(folder, error);
  std::ofstream(fs::path(folder) / kMarker) << "made by scatctl demo; rebuilt on the next run\n";
  if (error || !fs::exists(fs::path(folder) / kMarker))
    throw Failure("cannot make the folder '" + folder + "'");
}

const Demo_Resource* resource_of(const Value& set) {
  std::string uuid = set.value("resource_uuid", "");
  for (const Demo_Resource& r : demo_resources())
    if (uuid == r.uuid)
      return &r;
  return nullptr;
}

// The chains of a pool: incarnation to its sets, oldest first.
std::map<std::string, Array> chains_of(const Array& sets) {
  std::map<std::string, Array> chains;
  for (const Value& set : sets)
    chains[set.value("incarnation", "")].push_back(set);
  return chains;
}

std::string chain_summary(const Array& chain) {
  std::map<std::string, int> types;
  for (const Value& set : chain)
    ++types[set.value("backup_type", "")];
  std::string text;
  for (const char* type : {"FULL", "CUMULATIVE", "DIFF", "INCREMENTAL", "LOG"}) {
    if (types[type] == 0)
      continue;
    text += (text.empty() ? "" : " + ") +
            (types[type] > 1 || std::string(type) != "FULL" ? std::to_string(types[type]) + " "
                                                            : std::string()) +
            type;
  }
  return text;
}

void show_pools(Session& session) {
  Storage_Catalog_Manager& front = session.front();
  std::printf("%s\n",
              "  A pool is a place backups are written to; each pool has a catalog table "
              "of\n  its backup sets. The sample has three:\n");
  std::printf("  %s%s%s%s%s\n", pad("POOL", 16).c_str(), pad("KIND", 16).c_str(),
              pad("RETENTION", 11).c_str(), pad("SETS", 6).c_str(), "DEVICE");
  for (const Demo_Pool& p : demo_pools()) {
    Array rows, devices;
    long long sets = 0;
    front.query_catalog(p.uuid, Object(), "backup_time", false, 0, 0, rows, &sets, false, false);
    front.query_device(Object{{"pool_uuid", p.uuid}}, 0, -1, devices, nullptr);
    std::string url = devices.empty() ? "" : devices.front().value("url", "");
    std::printf("  %s%s%s%s%s\n", pad(p.name, 16).c_str(), pad(p.kind, 16).c_str(),
                pad(std::to_string(p.retention_days) + " days", 11).c_str(),
                pad(std::to_string(sets), 6).c_str(), url.c_str());
  }
  Array replicates, jobs;
  front.query_replicate(Object(), 0, -1, replicates, nullptr);
  front.query_replicate_job(Object{{"state", "succeeded"}}, 0, -1, jobs, nullptr);
  std::printf(
      "\n  primary-disk replicates into offsite-dedup (%zu relation, %zu succeeded replicate\n"
      "  jobs): the mail server's last three weeks exist in both pools.\n",
      replicates.size(), jobs.size());
}

void show_chains(Session& session, const Array& sets) {
  std::printf(
      "  Backups form chains. A chain starts with a FULL backup; every later set of\n"
      "  the chain (INCREMENTAL, CUMULATIVE, DIFF, LOG) needs the sets before it. Each\n"
      "  set names its chain's first set in \"incarnation\". In primary-disk:\n\n");
  std::printf("  %s%s%s\n", pad("RESOURCE", 15).c_str(), pad("CHAINS", 8).c_str(), "NEWEST CHAIN");
  std::map<const Demo_Resource*, std::vector<Array>> by_resource;
  for (const auto& chain : chains_of(sets))
    by_resource[resource_of(chain.second.front())].push_back(chain.second);
  for (const Demo_Resource& r : demo_resources()) {
    std::vector<Array>& chains = by_resource[&r];
    if (chains.empty())
      continue;
    std::sort(chains.begin(), chains.end(), [](const Array& x, const Array& y) {
      return x.front().value("backup_time", "") < y.front().value("backup_time", "");
    });
    const Array& newest = chains.back();
    std::printf("  %s%s%s since %s\n", pad(r.name, 15).c_str(),
                pad(std::to_string(chains.size()), 8).c_str(), chain_summary(newest).c_str(),
                newest.front().value("backup_time", "").substr(0, 10).c_str());
  }
  std::printf(
      "\n  web-01 is a VM (agent backup.vmware.vm): retention groups such sets by the\n"
      "  VM's id (minor_resource_id), not by the resource that backed it up.\n");
}

void show_restorability(Session& session, const Demo_Facts& facts) {
  const char* pool = demo_pool("primary-disk").uuid;
  std::printf(
      "  One DIFF of erp-database's newest chain was lost and marked offline. A set\n"
      "  is restorable only when no set of its chain up to it is offline, so the\n"
      "  library reports the chain from that set on as not restorable:\n\n");
  Array chain;
  session.front().get_catalogs_with_incarnation(pool, facts.offline_set, facts.broken_chain, chain,
                                                true);
  Array uuids;
  for (const Value& set : chain)
    uuids.push_back(set.value("uuid", ""));
  Value info;
  session.front().get_incarnation_info(Array{Object{{"pool_uuid", pool}, {"catalog_uuids", uuids}}},
                                       info);
  std::map<std::string, bool> restorable;
  if (info.is_array())
    for (const Value& answer : info)
      restorable[answer.value("uuid", "")] = answer.value("restorable", false);
  std::printf("  %s%s%s%s\n", pad("BACKUP TIME", 22).c_str(), pad("TYPE", 9).c_str(),
              pad("STATE", 17).c_str(), "RESTORABLE");
  for (const Value& set : chain) {
    Array names = state_names(set.value("state", 0LL));
    std::string states;
    for (const Value& n : names)
      states += (states.empty() ? "" : ",") + n.get<std::string>();
    std::printf("  %s%s%s%s\n", pad(set.value("backup_time", ""), 22).c_str(),
                pad(set.value("backup_type", ""), 9).c_str(), pad(states, 17).c_str(),
                restorable[set.value("uuid", "")] ? "yes" : "NO");
  }
}

// Days from `time` ("YYYY-MM-DD ...") to now, whole days.
long long age_days(const std::string& time) {
  std::tm parts = {};
  if (strptime(time.c_str(), "%Y-%m-%d %H:%M:%S", &parts) == nullptr)
    return 0;
  return (static_cast<long long>(std::time(nullptr)) - static_cast<long long>(timegm(&parts))) /
         86400;
}

void show_retention(Session& session) {
  const Demo_Pool& pool = demo_pool("primary-disk");
  std::printf(
      "  Retention keeps the %d newest chains of every resource and expires an older\n"
      "  chain once its newest usable set is more than %d days old (the pool's\n"
      "  retention_days). It hands out one chain at a time, oldest first; the run\n"
      "  marks it expired and asks again. This run does exactly that:\n\n",
      kKeepChains, pool.retention_days);
  std::printf("  %s%s%s%s\n", pad("RESOURCE", 15).c_str(), pad("CHAIN", 38).c_str(),
              pad("NEWEST SET", 12).c_str(), "SETS");
  int chains = 0;
  long long bytes = 0;
  for (;;) {
    Array sets;
    session.forget_reason();
    if (!session.front().get_a_expired_set(pool.uuid, sets, kKeepChains, pool.retention_days))
      throw session.failed("cannot select an expired set");
    if (sets.empty())
      break;
    std::string newest;
    for (const Value& set : sets) {
      newest = std::max(newest, set.value("backup_time", std::string()));
      bytes += set.value("size", 0LL);
      session.front().set_state(pool.uuid, set.value("uuid", ""), CST_EXPIRED);
    }
    const Demo_Resource* r = resource_of(sets.front());
    std::printf("  %s%s%s%zu\n", pad(r != nullptr ? r->name : "?", 15).c_str(),
                pad(chain_summary(sets), 38).c_str(),
                pad(std::to_string(age_days(newest)) + " days", 12).c_str(), sets.size());
    if (++chains > 100)
      break;
  }
  std::printf(
      "\n  %d chains (%s) expired; the newest %d chains of each resource stay, however\n"
      "  old. A deletion run then takes the chains whose sets are expired:\n\n",
      chains, human_bytes(bytes).c_str(), kKeepChains);
  int deletable = 0;
  for (long long skip = 0;; ++skip) {
    Array sets;
    if (!session.front().get_a_deletable_set(pool.uuid, sets, false, skip) || sets.empty())
      break;
    ++deletable;
    if (skip > 200)
      break;
  }
  std::printf("  %d chains are deletable now (nothing was deleted: see 'retention deletable').\n",
              deletable);
}

void show_usage(Session& session, const Demo_Facts& facts) {
  std::printf("  The catalog's own size figures, per pool (get_pool_size):\n\n");
  std::printf("  %s%s%s\n", pad("POOL", 16).c_str(), pad("ONLINE", 12).c_str(),
              "OF WHICH EXPIRED (freed by deletion)");
  for (const Demo_Pool& p : demo_pools()) {
    long long total = 0, expired = 0;
    session.front().get_pool_size(p.uuid, total, &expired);
    std::printf("  %s%s%s\n", pad(p.name, 16).c_str(), pad(human_bytes(total), 12).c_str(),
                human_bytes(expired).c_str());
  }
  std::printf("\n  On disk, primary-disk's %d files take %s.", facts.files,
              human_bytes(facts.file_bytes).c_str());
  // The usage the daemon is sent comes from measuring the pool's storage,
  // as the front's workers do once a day.
  const char* pool = demo_pool("primary-disk").uuid;
  Object usage;
  if (!session.front().resync_pool_usage(pool) || !session.front().get_pool_usage(pool, usage)) {
    std::printf("\n");
    return;
  }
  std::printf(
      " The library measures a pool's\n"
      "  storage once a day and reports the figures to the backup daemon every 30 s\n"
      "  when they changed; measured now (pool resync), from the folder:\n\n"
      "  primary-disk    used %s, physical %s, catalog %s\n",
      human_bytes(number_of(usage, "used_size")).c_str(),
      human_bytes(number_of(usage, "physical_size")).c_str(),
      human_bytes(number_of(usage, "catalog_size")).c_str());
}

void show_next_steps(const std::string& folder, const Demo_Facts& facts) {
  std::string c = "scatctl -c " + folder;
  const char* pool = demo_pool("primary-disk").uuid;
  std::printf("\n-- Try it yourself %s\n\n", std::string(59, '-').c_str());
  std::printf("  %s pool list\n", c.c_str());
  std::printf("  %s set list %s --states online --limit 5\n", c.c_str(), pool);
  std::printf("  %s set chain %s %s --whole\n", c.c_str(), pool, facts.offline_set.c_str());
  std::printf("  %s retention deletable %s --all --json\n", c.c_str(), pool);
  std::printf("  %s pool usage %s\n", c.c_str(), pool);
  std::printf("  %s state clear %s %s offline\n", c.c_str(), pool, facts.offline_set.c_str());
  std::printf("  scatctl --help\n");
}

int run_demo(Session& session, const Command_Args& a) {
  std::string folder = a.folder.empty() ? "demo-catalog" : a.folder;
  prepare_folder(folder);
  std::string file = (fs::path(folder) / "catalog.db").string();
  // The sample's sync notices stay in its own folder.
  Queue_Manager::instance()->set_directory((fs::path(folder) / "queue").string());
  session.open_catalog_file(file, Catalog_Use::CREATE, true);
  Demo_Facts facts = build_demo_catalog(session.front(), folder);
  if (a.quiet) {
    session.print(Object{{"catalog", file}, {"backup_sets", facts.sets}});
    return EXIT_DONE;
  }
  std::printf("scatctl demo: a sample storage catalog in %s\n\n", folder.c_str());
  std::printf("  catalog  %s (SQLite)\n", file.c_str());
  std::printf(
      "  made     %d backup sets of %zu resources in %zu pools: 8 weeks of nightly\n"
      "           backups, written through the library as a backup daemon writes them;\n"
      "           %d real files (%s) under %s/pools/primary\n",
      facts.sets, demo_resources().size(), demo_pools().size(), facts.files,
      human_bytes(facts.file_bytes).c_str(), folder.c_str());
  screen(1, "Pools");
  show_pools(session);
  screen(2, "Backup chains");
  show_chains(session, all_sets(session, demo_pool("primary-disk").uuid));
  screen(3, "Restorability");
  show_restorability(session, facts);
  screen(4, "Retention");
  show_retention(session);
  screen(5, "Usage");
  show_usage(session, facts);
  show_next_steps(folder, facts);
  std::fflush(stdout);
  return EXIT_DONE;
}

}  // namespace

void add_demo_command(Command_Table& table) {
  table.push_back({nullptr, "demo", "Build a sample catalog and walk through it",
                   "  scatctl demo\n  scatctl demo /tmp/sample --quiet\n", Catalog_Use::NONE,
                   [](CLI::App& app, Command_Args& a) {
                     opt::folder(app, a);
                     opt::quiet(app, a);
                   },
                   run_demo});
}

}  // namespace scatctl
