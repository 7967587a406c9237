// Pools and devices: list, show, add and update their records.
#include "platform/runtime/uuid.h"
#include "tools/scatctl/command.h"
#include "tools/scatctl/json_io.h"
#include "tools/scatctl/lookups.h"
#include "tools/scatctl/options.h"
#include "tools/scatctl/session.h"

namespace scatctl {

namespace {

Object page(const Array& rows, long long total) {
  return Object{{"total", total}, {"rows", rows}};
}

// The record of an add: a new uuid unless it brings one, uuids in the
// catalog's form.
Object new_record(const std::string& input, const char* what) {
  Object record = read_object(input, what);
  if (record.find("uuid") == record.end())
    record["uuid"] = uuid_string();
  if (!record["uuid"].is_string())
    throw usage_error(std::string(what) + ": \"uuid\" must be a string");
  normalize_uuid_member(record, "uuid");
  normalize_uuid_member(record, "pool_uuid");
  return record;
}

int run_pool_list(Session& session, const Command_Args& a) {
  Object filter = a.where.empty() ? Object() : read_object(a.where, "--where");
  normalize_uuid_member(filter, "uuid");
  Array rows;
  long long total = 0;
  session.forget_reason();
  if (!session.front().query_pool(filter, a.offset, a.limit, rows, &total))
    throw session.failed("cannot list the pools");
  session.print(page(rows, total));
  return EXIT_DONE;
}

int run_pool_show(Session& session, const Command_Args& a) {
  std::string uuid = normalize_uuid(a.uuid, "pool");
  Object pool = require_pool(session, uuid);
  Storage_Catalog_Manager& front = session.front();
  Array devices, rows;
  long long sets = 0, online = 0, expired = 0;
  front.query_device(Object{{"pool_uuid", uuid}}, 0, -1, devices, nullptr);
  front.query_catalog(uuid, Object(), "backup_time", false, 0, 0, rows, &sets, false, false);
  front.get_pool_size(uuid, online, &expired);
  pool["devices"] = devices;
  pool["backup_sets"] = sets;
  pool["online_bytes"] = online;
  pool["expired_bytes"] = expired;
  Array to, from;
  front.query_replicate(Object{{"source_uuid", uuid}}, 0, -1, to, nullptr);
  front.query_replicate(Object{{"target_uuid", uuid}}, 0, -1, from, nullptr);
  pool["replicates_to"] = to;
  pool["replicates_from"] = from;
  session.print(pool);
  return EXIT_DONE;
}

int run_pool_add(Session& session, const Command_Args& a) {
  Object record = new_record(a.input, "the pool record");
  std::string uuid = record["uuid"].get<std::string>();
  Object existing;
  if (find_pool(session, uuid, existing))
    throw Failure("pool " + uuid + " already exists (change it with 'scatctl pool update')");
  session.forget_reason();
  if (!session.front().add_pool(record))
    throw session.failed("cannot add pool " + uuid);
  session.print(require_pool(session, uuid));
  return EXIT_DONE;
}

int run_pool_update(Session& session, const Command_Args& a) {
  std::string uuid = normalize_uuid(a.uuid, "pool");
  Object values = read_object(a.input, "the pool's new values");
  values.erase("uuid");
  require_pool(session, uuid);
  session.forget_reason();
  if (!session.front().update_pool(uuid, values))
    throw session.failed("cannot update pool " + uuid);
  session.print(require_pool(session, uuid));
  return EXIT_DONE;
}

int run_device_list(Session& session, const Command_Args& a) {
  Object filter = a.where.empty() ? Object() : read_object(a.where, "--where");
  if (!a.device_pool.empty())
    filter["pool_uuid"] = a.device_pool;
  normalize_uuid_member(filter, "uuid");
  normalize_uuid_member(filter, "pool_uuid");
  Array rows;
  long long total = 0;
  session.forget_reason();
  if (!session.front().query_device(filter, a.offset, a.limit, rows, &total))
    throw session.failed("cannot list the devices");
  session.print(page(rows, total));
  return EXIT_DONE;
}

int run_device_show(Session& session, const Command_Args& a) {
  session.print(require_device(session, normalize_uuid(a.uuid, "device")));
  return EXIT_DONE;
}

int run_device_add(Session& session, const Command_Args& a) {
  Object record = new_record(a.input, "the device record");
  std::string uuid = record["uuid"].get<std::string>();
  const std::string* pool = object_get_str(record, "pool_uuid");
  if (pool == nullptr)
    throw usage_error("the device record needs the \"pool_uuid\" of its pool");
  require_pool(session, *pool);
  Object existing;
  if (find_device(session, uuid, existing))
    throw Failure("device " + uuid + " already exists (change it with 'scatctl device update')");
  session.forget_reason();
  if (!session.front().add_device(record))
    throw session.failed("cannot add device " + uuid);
  session.print(require_device(session, uuid));
  return EXIT_DONE;
}

int run_device_update(Session& session, const Command_Args& a) {
  std::string uuid = normalize_uuid(a.uuid, "device");
  Object values = read_object(a.input, "the device's new values");
  values.erase("uuid");
  normalize_uuid_member(values, "pool_uuid");
  Object device = require_device(session, uuid);
  // The front routes a device by its pool.
  if (values.find("pool_uuid") == values.end() && device.count("pool_uuid") != 0)
    values["pool_uuid"] = device["pool_uuid"];
  session.forget_reason();
  if (!session.front().update_device(uuid, values))
    throw session.failed("cannot update device " + uuid);
  session.print(require_device(session, uuid));
  return EXIT_DONE;
}

}  // namespace

void add_pool_commands(Command_Table& table) {
  table.push_back({"pool", "list", "List pools (filter by columns, page)",
                   "  scatctl pool list\n"
                   "  scatctl pool list --where '{\"state\":\"normal\"}' --limit 10 --offset 10\n",
                   Catalog_Use::READ,
                   [](CLI::App& app, Command_Args& a) {
                     opt::where(app, a);
                     opt::paging(app, a);
                   },
                   run_pool_list});
  table.push_back({"pool", "show", "One pool with its devices, set count and sizes",
                   "  scatctl pool show 4f1c0d2e9b8a47c6a5d3e2f1b0c9d8e7\n", Catalog_Use::READ,
                   [](CLI::App& app, Command_Args& a) { opt::uuid(app, a, "The pool's uuid"); },
                   run_pool_show});
  table.push_back({"pool", "add", "Add a pool (a new uuid unless the record has one)",
                   "  scatctl pool add '{\"name\":\"disk-1\",\"retention_days\":30}'\n"
                   "  cat pool.json | scatctl pool add\n",
                   Catalog_Use::WRITE,
                   [](CLI::App& app, Command_Args& a) { opt::input(app, a, "The pool record"); },
                   run_pool_add});
  table.push_back({"pool", "update", "Change a pool's columns (extended_attrs are merged)",
                   "  scatctl pool update POOL '{\"retention_days\":14}'\n", Catalog_Use::WRITE,
                   [](CLI::App& app, Command_Args& a) {
                     opt::uuid(app, a, "The pool's uuid");
                     opt::input(app, a, "The new values");
                   },
                   run_pool_update});
  table.push_back({"device", "list", "List devices (of one pool, filter, page)",
                   "  scatctl device list --pool POOL\n", Catalog_Use::READ,
                   [](CLI::App& app, Command_Args& a) {
                     opt::device_pool(app, a);
                     opt::where(app, a);
                     opt::paging(app, a);
                   },
                   run_device_list});
  table.push_back({"device", "show", "One device", "  scatctl device show DEVICE\n",
                   Catalog_Use::READ,
                   [](CLI::App& app, Command_Args& a) { opt::uuid(app, a, "The device's uuid"); },
                   run_device_show});
  table.push_back(
      {"device", "add", "Add a device to a pool",
       "  scatctl device add '{\"pool_uuid\":\"POOL\",\"url\":\"file:///srv/backup\"}'\n",
       Catalog_Use::WRITE,
       [](CLI::App& app, Command_Args& a) { opt::input(app, a, "The device record"); },
       run_device_add});
  table.push_back({"device", "update", "Change a device's columns",
                   "  scatctl device update DEVICE '{\"url\":\"file:///srv/backup2\"}'\n",
                   Catalog_Use::WRITE,
                   [](CLI::App& app, Command_Args& a) {
                     opt::uuid(app, a, "The device's uuid");
                     opt::input(app, a, "The new values");
                   },
                   run_device_update});
}

}  // namespace scatctl
