// Commands on the catalog as a whole: make one, and say what is in it.
#include "tools/scatctl/command.h"
#include "tools/scatctl/options.h"
#include "tools/scatctl/session.h"

namespace scatctl {

namespace {

// Rows a query counts; -1 when it cannot.
long long count_pools(Session& session) {
  Array rows;
  long long total = 0;
  return session.front().query_pool(Object(), 0, 0, rows, &total) ? total : -1;
}

long long count_devices(Session& session) {
  Array rows;
  long long total = 0;
  return session.front().query_device(Object(), 0, 0, rows, &total) ? total : -1;
}

int run_init(Session& session, const Command_Args&) {
  session.front();
  Object out{{"catalog", session.location().describe()}, {"created", session.created()}};
  session.print(out);
  return EXIT_DONE;
}

int run_info(Session& session, const Command_Args&) {
  Storage_Catalog_Manager& front = session.front();
  Array pools;
  session.forget_reason();
  if (!front.query_pool(Object(), 0, -1, pools, nullptr))
    throw session.failed("cannot read the pools");
  Array summary;
  long long sets = 0;
  for (const Value& pool : pools) {
    std::string uuid = pool.value("uuid", "");
    Array rows;
    long long count = 0, total = 0, expired = 0;
    front.query_catalog(uuid, Object(), "backup_time", false, 0, 0, rows, &count, false, false);
    front.get_pool_size(uuid, total, &expired);
    sets += count;
    summary.push_back(Object{{"uuid", uuid},
                             {"name", pool.value("name", "")},
                             {"backup_sets", count},
                             {"online_bytes", total},
                             {"expired_bytes", expired}});
  }
  Object out{{"catalog", session.location().describe()},
             {"pools", count_pools(session)},
             {"devices", count_devices(session)},
             {"backup_sets", sets},
             {"pool_summary", summary}};
  session.print(out);
  return EXIT_DONE;
}

}  // namespace

void add_catalog_commands(Command_Table& table) {
  table.push_back({nullptr, "init", "Make an empty catalog (nothing else ever creates one)",
                   "  scatctl --catalog /tmp/catalog.db init\n"
                   "  STORAGED_DB_ENGINE=mariadb STORAGED_DB_NAME=storaged scatctl init\n",
                   Catalog_Use::CREATE, [](CLI::App&, Command_Args&) {}, run_init});
  table.push_back({nullptr, "info", "Where the catalog is and how much it holds",
                   "  scatctl --catalog demo-catalog info\n", Catalog_Use::READ,
                   [](CLI::App&, Command_Args&) {}, run_info});
}

}  // namespace scatctl
