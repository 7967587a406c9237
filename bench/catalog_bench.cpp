// The catalog's hot operations beside hand-written references run in the
// same process, so a shared, noisy machine slows both alike: each case
// registers "<case>/<size>/lib" and "<case>/<size>/ref" and scripts/bench
// prints their medians side by side. Every case also reports the process's
// peak resident memory while it ran ("peak_mb").
//
//   catalog_bench --scat_dir=DIR [--scat_sizes=10000,100000] [--scat_files=100000]
//                 [benchmark flags]
//
// MariaDB cases run when SCAT_BENCH_MARIADB_SOCKET names a server socket
// (root, no password); scripts/bench starts one of its own.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <httplib.h>
#include <mysql.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/job/job_manager.h"
#include "platform/queue/queue_manager.h"
#include "platform/rpc/host_manager.h"
#include "platform/rpc/http_options.h"
#include "platform/rpc/json_rpc.h"
#include "platform/runtime/host_id.h"
#include "platform/sql/legacy_manager.h"
#include "platform/sql/metadata.h"
#include "storaged/storage_catalog/catalog_dependence_resolver.h"
#include "storaged/storage_catalog/http_pool_usage_calculator.h"
#include "storaged/storage_catalog/storage_catalog_manager.h"
#include "storaged/storage_catalog/storage_catalog_manager_database_impl.h"

extern char** environ;

namespace {

const char kPool[] = "0000000000000000000000000000a001";
const char kTarget[] = "0000000000000000000000000000a002";
const char kRefPool[] = "0000000000000000000000000000a003";
const char kRelation[] = "0000000000000000000000000000b001";
const int kSetsPerChain = 20;
const int kChains = 8;
const int kSetsPerResource = kSetsPerChain * kChains;
const int kPage = 1000;

std::string g_dir;
long long g_files = 100000;  // files of the usage walk's tree

// ---------------------------------------------------------------------------
// Memory: the kernel's high-water mark, reset before each timed loop.

void reset_peak() {
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5";
}

double peak_mb() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.compare(0, 6, "VmHWM:") == 0)
      return std::atof(line.c_str() + 6) / 1024.0;
  }
  return 0;
}

void timed(benchmark::State& state, const std::function<bool()>& body) {
  reset_peak();
  for (auto _ : state) {
    if (!body()) {
      state.SkipWithError("operation failed");
      break;
    }
  }
  state.counters["peak_mb"] = peak_mb();
}

// ---------------------------------------------------------------------------
// Data: resources of 8 chains of 20 backup sets, a day apart (1M sets make
// 50,000 chains); every tenth
// set replicated through one relation (so the relation has many jobs), a
// few offline or expired, some without a minor resource id, a tenth of the
// resources written by a "backup.%.vm" agent.

std::string hex_uuid(long long a, long long b) {
  char text[33];
  std::snprintf(text, sizeof text, "%016llx%016llx", a, b);
  return text;
}

std::string blob(const std::string& hex) {
  std::string out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    out.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return out;
}

// `t` as the catalog writes a backup time, in UTC.
std::string time_text(std::time_t t) {
  std::tm tm{};
  gmtime_r(&t, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
  return text;
}

std::string set_time(long long resource, int k) {
  return time_text(1577836800 + k * 86400LL + resource % 86400);
}

std::string set_uuid(long long s) {
  return hex_uuid(s / kSetsPerResource + 1, s % kSetsPerResource);
}

struct Set_Row {
  std::string uuid, incarnation, resource, agent, time, files, name;
  const char* minor;  // null for NULL
  int state;
  bool replicated() const { return (state & 16) != 0; }
};

Set_Row make_set(long long s) {
  long long r = s / kSetsPerResource;
  int k = static_cast<int>(s % kSetsPerResource);
  Set_Row row;
  row.uuid = set_uuid(s);
  row.incarnation = hex_uuid(r + 1, k - k % kSetsPerChain);
  row.resource = hex_uuid(r + 1, 0xffff);
  row.agent = r % 10 == 9 ? "backup.x.vm" : "backupd";
  row.time = set_time(r, k);
  row.files = "[\"C:\\\\data\\\\set-" + std::to_string(s) + ".bak\"]";
  row.name = "set-" + std::to_string(s);
  row.minor = r % 7 == 0 ? nullptr : (r % 5 == 1 ? "m1" : "");
  row.state = 1;
  if (s % 10 == 3)
    row.state |= 16;
  if (s % 97 == 5)
    row.state |= 2;
  if (k < kSetsPerChain && r % 13 == 0)
    row.state |= 8;
  return row;
}

bool sqlite_exec(sqlite3* db, const std::string& text) {
  char* message = nullptr;
  if (sqlite3_exec(db, text.c_str(), nullptr, nullptr, &message) == SQLITE_OK)
    return true;
  std::fprintf(stderr, "sqlite: %s: %s\n", message, text.c_str());
  sqlite3_free(message);
  return false;
}

sqlite3* sqlite_open(const std::string& path) {
  sqlite3* db = nullptr;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK)
    return nullptr;
  sqlite3_busy_timeout(db, 30000);
  sqlite_exec(db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL;");
  return db;
}

void bind_text(sqlite3_stmt* stmt, int i, const std::string& v) {
  sqlite3_bind_text(stmt, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
}

void bind_blob(sqlite3_stmt* stmt, int i, const std::string& hex) {
  std::string b = blob(hex);
  sqlite3_bind_blob(stmt, i, b.data(), static_cast<int>(b.size()), SQLITE_TRANSIENT);
}

const char kCatalogInsertColumns[] =
    "(uuid, uid, host_uuid, resource_uuid, agent, backup_type, backup_time, files, size, name, "
    "incarnation, pool_uuid, state, minor_resource_id, minor_resource_name, extended_attrs) "
    "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";

// Fills a catalog made by the library with `sets` rows written directly,
// in one transaction: building a large catalog through single adds would
// take longer than the cases themselves.
bool fill_sets(const std::string& path, long long sets) {
  sqlite3* db = sqlite_open(path);
  if (db == nullptr)
    return false;
  bool ok = sqlite_exec(db, "BEGIN");
  sqlite3_stmt* insert = nullptr;
  sqlite3_stmt* job = nullptr;
  std::string text = std::string("INSERT INTO `") + kPool + "` " + kCatalogInsertColumns;
  ok = ok && sqlite3_prepare_v2(db, text.c_str(), -1, &insert, nullptr) == SQLITE_OK;
  ok = ok && sqlite3_prepare_v2(db,
                                "INSERT INTO storage_catalog_pool_replicate_job (type, "
                                "catalog_uuid, source_pool_uuid, target_pool_uuid, state, "
                                "creation_time) VALUES ('replicate', ?, ?, ?, 'succeeded', ?)",
                                -1, &job, nullptr) == SQLITE_OK;
  for (long long s = 0; ok && s < sets; ++s) {
    Set_Row row = make_set(s);
    bind_blob(insert, 1, row.uuid);
    bind_blob(insert, 2, hex_uuid(0xaaaa, s));
    bind_blob(insert, 3, hex_uuid(0xbbbb, s % 16));
    bind_blob(insert, 4, row.resource);
    bind_text(insert, 5, row.agent);
    bind_text(insert, 6, s % kSetsPerChain == 0 ? "full" : "incr");
    bind_text(insert, 7, row.time);
    bind_text(insert, 8, row.files);
    sqlite3_bind_int64(insert, 9, 1000 + s);
    bind_text(insert, 10, row.name);
    bind_blob(insert, 11, row.incarnation);
    bind_blob(insert, 12, kPool);
    sqlite3_bind_int(insert, 13, row.state);
    if (row.minor != nullptr)
      bind_text(insert, 14, row.minor);
    else
      sqlite3_bind_null(insert, 14);
    bind_text(insert, 15, "minor");
    bind_text(insert, 16, "{}");
    ok = sqlite3_step(insert) == SQLITE_DONE && sqlite3_reset(insert) == SQLITE_OK;
    sqlite3_clear_bindings(insert);
    if (ok && row.replicated()) {
      bind_blob(job, 1, row.uuid);
      bind_blob(job, 2, kPool);
      bind_blob(job, 3, kTarget);
      bind_text(job, 4, row.time);
      ok = sqlite3_step(job) == SQLITE_DONE && sqlite3_reset(job) == SQLITE_OK;
    }
  }
  sqlite3_finalize(insert);
  sqlite3_finalize(job);
  ok = ok && sqlite_exec(db, "COMMIT");
  sqlite3_close(db);
  return ok;
}

Object pool_record(const char* uuid) {
  return Object{{"uuid", uuid}, {"name", std::string("bench-") + uuid}};
}

// A catalog file of `sets` backup sets, built once per size and process.
std::string catalog_file(long long sets) {
  std::string path = g_dir + "/sets-" + std::to_string(sets) + ".db";
  std::ifstream exists(path);
  if (exists.good())
    return path;
  {
    Storage_Catalog_Manager_Database_Impl impl(path);
    if (!impl.open() || !impl.add_pool(pool_record(kPool)) || !impl.add_pool(pool_record(kTarget)))
      return std::string();
    if (!impl.add_replicate(Object{{"uuid", kRelation},
                                   {"source_uuid", kPool},
                                   {"target_uuid", kTarget},
                                   {"target_server_uuid", kTarget}}))
      return std::string();
  }
  if (!fill_sets(path, sets))
    return std::string();
  return path;
}

// ---------------------------------------------------------------------------
// Reading rows by hand, as a reference reads them.

// A reference's own connection to the catalog of `sets` sets; null, and
// the case skipped, when the catalog cannot be built.
struct Reference_Db {
  sqlite3* db = nullptr;
  Reference_Db(benchmark::State& state, long long sets) {
    std::string path = catalog_file(sets);
    db = path.empty() ? nullptr : sqlite_open(path);
    if (db == nullptr)
      state.SkipWithError("catalog not built");
  }
  ~Reference_Db() { sqlite3_close(db); }
  Reference_Db(const Reference_Db&) = delete;
  Reference_Db& operator=(const Reference_Db&) = delete;
};

struct Row_Sink {
  std::vector<std::string> values;
  void read(sqlite3_stmt* stmt) {
    int n = sqlite3_column_count(stmt);
    for (int i = 0; i < n; ++i) {
      const void* data = sqlite3_column_blob(stmt, i);
      int size = sqlite3_column_bytes(stmt, i);
      values.emplace_back(data == nullptr ? "" : static_cast<const char*>(data), size);
    }
  }
};

bool step_all(sqlite3_stmt* stmt, Row_Sink& sink, int* rows = nullptr) {
  int rc, n = 0;
  while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
    sink.read(stmt);
    ++n;
  }
  sqlite3_reset(stmt);
  if (rows != nullptr)
    *rows = n;
  return rc == SQLITE_DONE;
}

struct Prepared {
  sqlite3_stmt* stmt = nullptr;
  Prepared(sqlite3* db, const std::string& text) {
    if (sqlite3_prepare_v2(db, text.c_str(), -1, &stmt, nullptr) != SQLITE_OK)
      std::fprintf(stderr, "sqlite: %s: %s\n", sqlite3_errmsg(db), text.c_str());
  }
  ~Prepared() { sqlite3_finalize(stmt); }
};

std::string table(const char* pool) {
  return std::string("`") + pool + "`";
}

// The replicate-job test of a replicated row, in SQL.
std::string replicate_job_exists(const std::string& row) {
  return "EXISTS (SELECT 1 FROM storage_catalog_pool_replicate_job j "
         "INDEXED BY storage_catalog_pool_replicate_job_catalog "
         "JOIN storage_catalog_storage_pool_replicate r ON j.source_pool_uuid = r.source_uuid "
         "AND j.target_pool_uuid = r.target_uuid WHERE j.catalog_uuid = " +
         row + ".uuid AND j.source_pool_uuid = " + row + ".pool_uuid)";
}

std::string restorable_sql(const std::string& row) {
  return "NOT EXISTS (SELECT 1 FROM " + table(kPool) + " b WHERE b.incarnation = " + row +
         ".incarnation AND (b.state & 1 = 0 OR b.state & 2 = 2) AND b.backup_time <= " + row +
         ".backup_time)";
}

// ---------------------------------------------------------------------------
// Cases on SQLite.

Object new_set_record(long long n) {
  return Object{{"uuid", hex_uuid(0xeeee, n)},
                {"uid", hex_uuid(0xaaaa, n)},
                {"host_uuid", hex_uuid(0xbbbb, 1)},
                {"resource_uuid", hex_uuid(0xcccc, n % 50)},
                {"agent", "backupd"},
                {"backup_type", "full"},
                {"backup_time", "2024-05-01 10:00:00"},
                {"files", Array{"C:\\data\\a.bak", "C:\\data\\b.bak"}},
                {"size", 123456},
                {"name", "set"},
                {"incarnation", hex_uuid(0xeeee, n)},
                {"pool_uuid", kRefPool},
                {"state", 1},
                {"minor_resource_id", "m"},
                {"minor_resource_name", "minor"},
                {"extended_attrs", Object{{"snapshot_id", "s1"}}}};
}

void add_catalog_sqlite_lib(benchmark::State& state) {
  std::string path = g_dir + "/add-lib.db";
  std::remove(path.c_str());
  Storage_Catalog_Manager_Database_Impl impl(path);
  if (!impl.open() || !impl.add_pool(pool_record(kRefPool))) {
    state.SkipWithError("catalog not opened");
    return;
  }
  long long n = 0;
  timed(state, [&] { return impl.add_catalog(kRefPool, new_set_record(++n)); });
}

// Binds the values new_set_record gives, from its JSON as a caller would.
template <class Bind_Text, class Bind_Blob, class Bind_Int>
void bind_set_record(const Object& r, Bind_Text text, Bind_Blob uuid, Bind_Int integer) {
  uuid(0, r.at("uuid").get<std::string>());
  uuid(1, r.at("uid").get<std::string>());
  uuid(2, r.at("host_uuid").get<std::string>());
  uuid(3, r.at("resource_uuid").get<std::string>());
  text(4, r.at("agent").get<std::string>());
  text(5, r.at("backup_type").get<std::string>());
  text(6, r.at("backup_time").get<std::string>());
  text(7, JSON_Dump(r.at("files"), false));
  integer(8, r.at("size").get<long long>());
  text(9, r.at("name").get<std::string>());
  uuid(10, r.at("incarnation").get<std::string>());
  uuid(11, r.at("pool_uuid").get<std::string>());
  integer(12, r.at("state").get<long long>());
  text(13, r.at("minor_resource_id").get<std::string>());
  text(14, r.at("minor_resource_name").get<std::string>());
  text(15, JSON_Dump(r.at("extended_attrs"), false));
}

void add_catalog_sqlite_ref(benchmark::State& state) {
  std::string path = g_dir + "/add-ref.db";
  std::remove(path.c_str());
  {
    Storage_Catalog_Manager_Database_Impl impl(path);
    if (!impl.open() || !impl.add_pool(pool_record(kRefPool))) {
      state.SkipWithError("catalog not opened");
      return;
    }
  }
  sqlite3* db = sqlite_open(path);
  {
    Prepared insert(db, "INSERT OR REPLACE INTO " + table(kRefPool) + " " + kCatalogInsertColumns);
    sqlite3_stmt* s = insert.stmt;
    long long n = 0;
    timed(state, [&] {
      Object r = new_set_record(++n);
      bind_set_record(
          r, [&](int i, const std::string& v) { bind_text(s, i + 1, v); },
          [&](int i, const std::string& v) { bind_blob(s, i + 1, v); },
          [&](int i, long long v) { sqlite3_bind_int64(s, i + 1, v); });
      bool ok = sqlite3_step(s) == SQLITE_DONE;
      sqlite3_reset(s);
      return ok;
    });
  }
  sqlite3_close(db);
}

struct Opened_Catalog {
  explicit Opened_Catalog(long long sets) : path(catalog_file(sets)), impl(path) {
    ok = !path.empty() && impl.open();
  }
  std::string path;
  Storage_Catalog_Manager_Database_Impl impl;
  bool ok;
};

void query_catalog_lib(benchmark::State& state, long long sets, bool detail) {
  Opened_Catalog catalog(sets);
  if (!catalog.ok) {
    state.SkipWithError("catalog not built");
    return;
  }
  timed(state, [&] {
    Array rows;
    long long total = 0;
    return catalog.impl.query_catalog(kPool, Object(), "backup_time", false, 0, kPage, rows, &total,
                                      detail, false) &&
           rows.size() == static_cast<std::size_t>(std::min<long long>(kPage, sets));
  });
}

void query_catalog_ref(benchmark::State& state, long long sets, bool detail) {
  Reference_Db reference(state, sets);
  sqlite3* db = reference.db;
  if (db == nullptr)
    return;
  {
    std::string columns = detail ? "c.*, " + restorable_sql("c") +
                                       " restorable, CASE WHEN c.state & 16 = 16 AND "
                                       "c.extended_attrs NOT LIKE '%\"snapshot_id\"%' THEN " +
                                       replicate_job_exists("c") + " END replicated"
                                 : std::string("c.*");
    Prepared page(db, "SELECT " + columns + " FROM " + table(kPool) +
                          " c ORDER BY c.backup_time DESC LIMIT " + std::to_string(kPage));
    Prepared count(db, "SELECT COUNT(*) FROM " + table(kPool));
    timed(state, [&] {
      Row_Sink sink;
      int rows = 0;
      return step_all(page.stmt, sink, &rows) && step_all(count.stmt, sink) &&
             rows == std::min<long long>(kPage, sets);
    });
  }
}

// 1000 backup sets spread over the catalog, one in a hundred not in it.
std::vector<std::string> asked_uuids(long long sets) {
  std::vector<std::string> uuids;
  long long step = std::max<long long>(1, sets / kPage);
  for (long long i = 0; i < kPage; ++i)
    uuids.push_back(i % 100 == 99 ? hex_uuid(0xdead, i) : set_uuid(i * step % sets));
  return uuids;
}

void incarnation_info_lib(benchmark::State& state, long long sets) {
  Opened_Catalog catalog(sets);
  if (!catalog.ok) {
    state.SkipWithError("catalog not built");
    return;
  }
  Array asked;
  for (const std::string& u : asked_uuids(sets))
    asked.push_back(u);
  timed(state, [&] {
    Array out;
    return catalog.impl.get_incarnation_info(kPool, asked, out) && out.size() == asked.size();
  });
}

void incarnation_info_ref(benchmark::State& state, long long sets) {
  Reference_Db reference(state, sets);
  sqlite3* db = reference.db;
  if (db == nullptr)
    return;
  {
    std::string marks = "?";
    for (int i = 1; i < kPage; ++i)
      marks += ",?";
    Prepared info(db, "SELECT c.uuid, c.incarnation, c.state, c.backup_time, " +
                          restorable_sql("c") + " restorable, CASE WHEN c.state & 16 = 16 THEN " +
                          replicate_job_exists("c") + " END replicated FROM " + table(kPool) +
                          " c WHERE c.uuid IN (" + marks + ")");
    std::vector<std::string> asked = asked_uuids(sets);
    timed(state, [&] {
      for (int i = 0; i < kPage; ++i)
        bind_blob(info.stmt, i + 1, asked[i]);
      Row_Sink sink;
      return step_all(info.stmt, sink);
    });
  }
}

void expired_set_lib(benchmark::State& state, long long sets) {
  Opened_Catalog catalog(sets);
  if (!catalog.ok) {
    state.SkipWithError("catalog not built");
    return;
  }
  timed(state, [&] {
    Array out;
    return catalog.impl.get_a_expired_set(kPool, out, 3, 30) && !out.empty();
  });
}

// The retention statements as written out for the design, run by hand.
void expired_set_ref(benchmark::State& state, long long sets) {
  Reference_Db reference(state, sets);
  sqlite3* db = reference.db;
  if (db == nullptr)
    return;
  const std::string t = table(kPool);
  sqlite_exec(db,
              "CREATE TEMPORARY TABLE IF NOT EXISTS `exclude_incarnation`(incarnation binary(16) "
              "not null);");
  {
    Prepared plain(
        db, "INSERT INTO exclude_incarnation SELECT t.incarnation FROM " + t +
                " t JOIN (SELECT resource_uuid,minor_resource_id,MAX(backup_time) backup_time "
                "FROM " +
                t +
                " WHERE state & 11 = 1 AND incarnation NOT IN (SELECT incarnation FROM "
                "exclude_incarnation) AND agent not like 'backup.%.vm' GROUP BY "
                "resource_uuid,minor_resource_id) a ON a.resource_uuid=t.resource_uuid AND "
                "COALESCE(a.minor_resource_id, '')=COALESCE(t.minor_resource_id, '') AND "
                "a.backup_time=t.backup_time");
    Prepared vm(db, "INSERT INTO exclude_incarnation SELECT t.incarnation FROM " + t +
                        " t JOIN (SELECT minor_resource_id,MAX(backup_time) backup_time FROM " + t +
                        " WHERE state & 11 = 1 AND incarnation NOT IN (SELECT incarnation FROM "
                        "exclude_incarnation) AND agent like 'backup.%.vm' GROUP BY "
                        "minor_resource_id) a ON COALESCE(a.minor_resource_id, "
                        "'')=COALESCE(t.minor_resource_id, '') AND a.backup_time=t.backup_time");
    Prepared oldest(
        db, "SELECT incarnation FROM (    SELECT incarnation, MAX(backup_time) backup_time FROM " +
                t +
                "    WHERE incarnation NOT IN (SELECT incarnation FROM exclude_incarnation)    "
                "AND state & 11 = 1 GROUP BY incarnation) `t` WHERE backup_time < "
                "DATETIME('NOW', '-30 days') ORDER BY backup_time");
    Prepared chain(db, "SELECT * FROM " + t + " WHERE incarnation = ?");
    timed(state, [&] {
      Row_Sink sink;
      bool ok = true;
      for (int i = 0; ok && i < 3; ++i)
        ok = step_all(plain.stmt, sink) && step_all(vm.stmt, sink);
      ok = ok && sqlite3_step(oldest.stmt) == SQLITE_ROW;
      if (ok) {
        const void* b = sqlite3_column_blob(oldest.stmt, 0);
        sqlite3_bind_blob(chain.stmt, 1, b, sqlite3_column_bytes(oldest.stmt, 0), SQLITE_TRANSIENT);
        ok = step_all(chain.stmt, sink);
      }
      sqlite3_reset(oldest.stmt);
      return sqlite_exec(db, "delete from exclude_incarnation;") && ok;
    });
  }
}

void deletable_set_lib(benchmark::State& state, long long sets) {
  Opened_Catalog catalog(sets);
  if (!catalog.ok) {
    state.SkipWithError("catalog not built");
    return;
  }
  timed(state, [&] {
    Array out;
    return catalog.impl.get_a_deletable_set(kPool, out, false, 0) && !out.empty();
  });
}

// The deletable chain's statements run by hand: the expired chain with the
// oldest newest set, then its sets that are online.
void deletable_set_ref(benchmark::State& state, long long sets) {
  Reference_Db reference(state, sets);
  sqlite3* db = reference.db;
  if (db == nullptr)
    return;
  {
    const std::string t = table(kPool);
    Prepared oldest(db, "SELECT incarnation FROM " + t +
                            " WHERE state & 9 = 9 AND incarnation IS NOT NULL GROUP BY incarnation "
                            "ORDER BY MAX(backup_time), incarnation LIMIT 1");
    Prepared chain(db, "SELECT * FROM " + t + " WHERE incarnation = ? AND state & 3 = 1");
    timed(state, [&] {
      Row_Sink sink;
      bool ok = sqlite3_step(oldest.stmt) == SQLITE_ROW;
      if (ok) {
        const void* b = sqlite3_column_blob(oldest.stmt, 0);
        sqlite3_bind_blob(chain.stmt, 1, b, sqlite3_column_bytes(oldest.stmt, 0), SQLITE_TRANSIENT);
        ok = step_all(chain.stmt, sink);
      }
      sqlite3_reset(oldest.stmt);
      return ok;
    });
  }
}

// ---------------------------------------------------------------------------
// Cases on MariaDB.

std::string mariadb_socket() {
  const char* socket = std::getenv("SCAT_BENCH_MARIADB_SOCKET");
  return socket != nullptr ? socket : "";
}

const char kSchema[] = "scat_bench";

MYSQL* mariadb_open(const char* schema) {
  MYSQL* m = mysql_init(nullptr);
  if (mysql_real_connect(m, "localhost", "root", "", schema, 0, mariadb_socket().c_str(), 0) ==
      nullptr) {
    std::fprintf(stderr, "mariadb: %s\n", mysql_error(m));
    mysql_close(m);
    return nullptr;
  }
  mysql_query(m, "SET time_zone='+00:00'");
  return m;
}

// A fresh schema on the server, where the library's shared catalog lives.
bool mariadb_schema() {
  MYSQL* admin = mariadb_open(nullptr);
  if (admin == nullptr)
    return false;
  std::string text = std::string("DROP DATABASE IF EXISTS ") + kSchema;
  bool ok = mysql_query(admin, text.c_str()) == 0;
  text = std::string("CREATE DATABASE ") + kSchema + " CHARACTER SET utf8mb4";
  ok = ok && mysql_query(admin, text.c_str()) == 0;
  mysql_close(admin);
  database::Database db;
  db.name("storage_catalog")
      .type(database::Database::MYSQL)
      .socket(mariadb_socket())
      .user("root")
      .schema(kSchema);
  database::Manager::instance()->configure("storage_catalog", db);
  database::sql::Legacy_Manager::instance()->close("storage_catalog");
  return ok;
}

void add_catalog_mariadb_lib(benchmark::State& state) {
  if (!mariadb_schema()) {
    state.SkipWithError("no MariaDB server");
    return;
  }
  Storage_Catalog_Manager_Database_Impl impl("");
  if (!impl.open() || !impl.add_pool(pool_record(kRefPool))) {
    state.SkipWithError("catalog not opened");
    return;
  }
  // Held as a caller's thread would between calls.
  database::sql::Connection_Ptr lease = impl.get_connection();
  long long n = 0;
  timed(state, [&] { return impl.add_catalog(kRefPool, new_set_record(++n)); });
}

void add_catalog_mariadb_ref(benchmark::State& state) {
  if (!mariadb_schema()) {
    state.SkipWithError("no MariaDB server");
    return;
  }
  {
    Storage_Catalog_Manager_Database_Impl impl("");
    if (!impl.open() || !impl.add_pool(pool_record(kRefPool))) {
      state.SkipWithError("catalog not opened");
      return;
    }
  }
  MYSQL* m = mariadb_open(kSchema);
  MYSQL_STMT* stmt = m == nullptr ? nullptr : mysql_stmt_init(m);
  std::string text = "REPLACE INTO " + table(kRefPool) + " " + kCatalogInsertColumns;
  if (stmt == nullptr || mysql_stmt_prepare(stmt, text.c_str(), text.size()) != 0) {
    state.SkipWithError("not prepared");
    return;
  }
  long long n = 0;
  timed(state, [&] {
    Object r = new_set_record(++n);
    MYSQL_BIND binds[16];
    std::memset(binds, 0, sizeof binds);
    std::string strings[16];
    long long integers[16];
    auto text_at = [&](int i, const std::string& v, enum_field_types type) {
      strings[i] = v;
      binds[i].buffer_type = type;
      binds[i].buffer = &strings[i][0];
      binds[i].buffer_length = strings[i].size();
    };
    bind_set_record(
        r, [&](int i, const std::string& v) { text_at(i, v, MYSQL_TYPE_STRING); },
        [&](int i, const std::string& v) { text_at(i, blob(v), MYSQL_TYPE_BLOB); },
        [&](int i, long long v) {
          integers[i] = v;
          binds[i].buffer_type = MYSQL_TYPE_LONGLONG;
          binds[i].buffer = &integers[i];
        });
    return mysql_stmt_bind_param(stmt, binds) == 0 && mysql_stmt_execute(stmt) == 0;
  });
  mysql_stmt_close(stmt);
  mysql_close(m);
}

// ---------------------------------------------------------------------------
// Cases through the front (Storage_Catalog_Manager), beside a daemon of the
// bench's own on 127.0.0.1: a server host keeps one shared SQLite catalog,
// an agent one catalog.db per local pool, whose list the daemon gives.

const char kHostUuid[] = "0123456789abcdef0123456789abcdef";
const char kRpcAccepted[] = "{\"jsonrpc\": \"2.0\", \"id\": \"1\", \"result\": true}";

// The daemon's side: the storages list an agent asks for when it opens,
// and an answer that takes every JSON-RPC request (keeping the last body).
class Bench_Daemon {
 public:
  explicit Bench_Daemon(const std::string& storages) : storages_(storages) {
    server_.Get("/kx/r/v2/storages", [this](const httplib::Request&, httplib::Response& res) {
      res.set_content(storages_, "application/json");
    });
    server_.Post("/kx/r/v2/storage/pools/sync",
                 [](const httplib::Request&, httplib::Response& res) {
                   res.set_content("[]", "application/json");
                 });
    server_.Post("/kx/jr", [this](const httplib::Request& req, httplib::Response& res) {
      {
        std::lock_guard<std::mutex> guard(lock_);
        last_body_ = req.body;
      }
      res.set_content(kRpcAccepted, "application/json");
    });
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    while (!server_.is_running())
      std::this_thread::yield();
  }
  ~Bench_Daemon() {
    server_.stop();
    thread_.join();
  }
  int port() const { return port_; }
  std::string last_body() {
    std::lock_guard<std::mutex> guard(lock_);
    return last_body_;
  }

 private:
  httplib::Server server_;
  std::string storages_;
  int port_ = 0;
  std::thread thread_;
  std::mutex lock_;
  std::string last_body_;
};

// An opened front, closed again when the case ends. `pools` non-empty
// makes an agent whose daemon lists them (pool uuid to folder); otherwise
// a server host whose shared catalog is the SQLite file `shared`.
class Front_Host {
 public:
  Front_Host(const std::string& shared, const std::map<std::string, std::string>& pools)
      : daemon_(storages(pools)) {
    Queue_Manager::instance()->set_directory(g_dir + "/queue");
    Job_Manager::configure(g_dir + "/jobs");
    Host_Manager* host = Host_Manager::instance();
    host->reset();
    host->set_uuid(kHostUuid);
    host->set_access_key("bench-access-key");
    Host_ID::instance().set(kHostUuid);
    auto channel = std::make_shared<JSON_RPC_Channel>();
    channel->host = "127.0.0.1";
    channel->port = static_cast<std::uint16_t>(daemon_.port());
    Global_JSON_RPC_Channel::set(channel);
    if (pools.empty()) {
      host->set_role(Host_Manager::ROLE_SERVER);
      database::Database db;
      db.name("storage_catalog").type(database::Database::SQLITE).path(shared);
      database::Manager::instance()->configure("storage_catalog", db);
      database::sql::Legacy_Manager::instance()->close("storage_catalog");
    } else {
      host->set_role(Host_Manager::ROLE_AGENT);
    }
    front_ = Storage_Catalog_Manager::instance();
    front_->init("127.0.0.1", static_cast<std::uint16_t>(daemon_.port()), false);
    ok_ = front_->open();
  }
  ~Front_Host() {
    Storage_Catalog_Manager::close_instance();
    database::sql::Legacy_Manager::instance()->close("storage_catalog");
    database::Manager::instance()->unconfigure("storage_catalog");
    Queue_Manager::instance()->close_all();
    Job_Manager::close_instance();
    Host_Manager::instance()->reset();
    HTTP_Options::instance()->reset();
    Global_JSON_RPC_Channel::reset();
  }
  bool ok() const { return ok_; }
  Storage_Catalog_Manager& front() { return *front_; }
  Bench_Daemon& daemon() { return daemon_; }

 private:
  static std::string storages(const std::map<std::string, std::string>& pools) {
    Array rows;
    for (const auto& pool : pools) {
      Object attrs{{"attached_hosts", Object{{kHostUuid, pool.second}}}};
      rows.push_back(Object{{"pool_uuid", pool.first}, {"extended_attrs", attrs}});
    }
    return JSON_Dump(Value(Object{{"rows", rows}}), false);
  }

  Bench_Daemon daemon_;
  Storage_Catalog_Manager* front_ = nullptr;
  bool ok_ = false;
};

Object device_record(const std::string& uuid, const std::string& pool, const std::string& dir) {
  return Object{{"uuid", uuid},
                {"url", "file://" + dir},
                {"pool_uuid", pool},
                {"extended_attrs", Object{{"attached_hosts", Object{{kHostUuid, dir}}}}}};
}

std::string fresh_folder(const std::string& name) {
  std::string dir = g_dir + "/" + name;
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
  std::filesystem::create_directories(dir);
  return dir;
}

void add_catalog_front_server_lib(benchmark::State& state) {
  std::string shared = fresh_folder("front-add-server") + "/shared.db";
  Front_Host host(shared, {});
  if (!host.ok() || !host.front().add_pool(pool_record(kRefPool))) {
    state.SkipWithError("front not opened");
    return;
  }
  long long n = 0;
  timed(state, [&] { return host.front().add_catalog(kRefPool, new_set_record(++n)); });
}

void add_catalog_front_agent_lib(benchmark::State& state) {
  std::string dir = fresh_folder("front-add-agent");
  std::string pool_dir = Storage_Catalog_Manager::gen_local_pool_path(kRefPool, dir, true);
  Front_Host host("", {{kRefPool, pool_dir}});
  if (!host.ok() || !host.front().add_pool(pool_record(kRefPool))) {
    state.SkipWithError("front not opened");
    return;
  }
  long long n = 0;
  timed(state, [&] { return host.front().add_catalog(kRefPool, new_set_record(++n)); });
}

// A chain of `length` sets of one resource on a server host's shared
// catalog: a full backup and incrementals a minute apart, all online.
const int kChainLength = 1000;

std::string chain_set_uuid(int k) {
  return hex_uuid(0xc4a1, k);
}

// The shared catalog of a server host in folder `name`, filled by `fill`
// the first time a process asks for it; empty when that fails.
std::string front_catalog(const std::string& name,
                          const std::function<bool(Front_Host&, const std::string&)>& fill) {
  std::string dir = g_dir + "/" + name;
  std::string shared = dir + "/shared.db";
  if (std::ifstream(shared).good())
    return shared;
  fresh_folder(name);
  Front_Host host(shared, {});
  return host.ok() && fill(host, dir) ? shared : std::string();
}

std::string chain_catalog() {
  return front_catalog("front-chain", [](Front_Host& host, const std::string& dir) {
    std::string pool_dir = dir + "/pool";
    std::filesystem::create_directories(pool_dir);
    if (!host.front().add_pool(pool_record(kRefPool)) ||
        !host.front().add_device(device_record(hex_uuid(0xd1, 1), kRefPool, pool_dir)))
      return false;
    for (int k = 0; k < kChainLength; ++k) {
      Object set = new_set_record(k);
      set["uuid"] = chain_set_uuid(k);
      set["incarnation"] = chain_set_uuid(0);
      set["backup_type"] = k == 0 ? "full" : "incr";
      set["backup_time"] = time_text(1714557600 + k * 60LL);
      if (!host.front().add_catalog(kRefPool, set))
        return false;
    }
    return true;
  });
}

void dependents_lib(benchmark::State& state) {
  std::string shared = chain_catalog();
  if (shared.empty()) {
    state.SkipWithError("chain not built");
    return;
  }
  Front_Host host(shared, {});
  if (!host.ok()) {
    state.SkipWithError("front not opened");
    return;
  }
  Catalog_Dependence_Resolver resolver(kRefPool);
  timed(state, [&] {
    Catalog_Dependence_Group group;
    return resolver.get_dependents(chain_set_uuid(0), group) &&
           group.catalogs.size() == static_cast<std::size_t>(kChainLength - 1);
  });
}

void dependents_ref(benchmark::State& state) {
  std::string shared = chain_catalog();
  sqlite3* db = shared.empty() ? nullptr : sqlite_open(shared);
  if (db == nullptr) {
    state.SkipWithError("chain not built");
    return;
  }
  {
    Prepared chain(db, "SELECT c.* FROM " + table(kRefPool) +
                           " c WHERE c.incarnation = (SELECT "
                           "incarnation FROM " +
                           table(kRefPool) +
                           " WHERE uuid = ?) AND c.state & 1 = 1 AND c.backup_time > (SELECT "
                           "backup_time FROM " +
                           table(kRefPool) + " WHERE uuid = ?1) ORDER BY c.backup_time");
    std::string first = blob(chain_set_uuid(0));
    timed(state, [&] {
      sqlite3_bind_blob(chain.stmt, 1, first.data(), static_cast<int>(first.size()), SQLITE_STATIC);
      Row_Sink sink;
      int rows = 0;
      return step_all(chain.stmt, sink, &rows) && rows == kChainLength - 1;
    });
  }
  sqlite3_close(db);
}

// 1,000 pools, each with a file device and fresh usage figures, on a
// server host's shared catalog.
const int kUsagePools = 1000;

std::string usage_pool(int k) {
  return hex_uuid(0xf00d, k);
}

std::string usage_catalog() {
  return front_catalog("front-usage", [](Front_Host& host, const std::string& dir) {
    for (int k = 0; k < kUsagePools; ++k) {
      std::string pool_dir = dir + "/pool-" + std::to_string(k);
      std::filesystem::create_directories(pool_dir);
      if (!host.front().add_pool(pool_record(usage_pool(k).c_str())) ||
          !host.front().add_device(device_record(hex_uuid(0xd2, k), usage_pool(k), pool_dir)))
        return false;
    }
    return true;
  });
}

// Gives every pool a change to report, with figures too fresh to recompute.
bool change_usages(Storage_Catalog_Manager& front, long long round) {
  database::sql::Connection_Ptr conn = front.get_connection(usage_pool(0));
  return conn && conn->execute("UPDATE storage_catalog_pool_usage SET update_time = " +
                               std::to_string(1000000 + round) +
                               ", notify_time = 0, catalog_size = " + std::to_string(round) +
                               ", resync_time = " + std::to_string(std::time(nullptr)));
}

void sync_usages_lib(benchmark::State& state) {
  std::string shared = usage_catalog();
  if (shared.empty()) {
    state.SkipWithError("pools not built");
    return;
  }
  Front_Host host(shared, {});
  if (!host.ok()) {
    state.SkipWithError("front not opened");
    return;
  }
  long long round = 0;
  reset_peak();
  for (auto _ : state) {
    state.PauseTiming();
    bool changed = change_usages(host.front(), ++round);
    state.ResumeTiming();
    if (!changed || !host.front().sync_usages()) {
      state.SkipWithError("sync failed");
      break;
    }
  }
  state.counters["peak_mb"] = peak_mb();
  if (host.daemon().last_body().find(usage_pool(kUsagePools - 1)) == std::string::npos)
    state.SkipWithError("not every pool was reported");
}

// One POST of the body the front sends, straight through httplib.
void sync_usages_ref(benchmark::State& state) {
  std::string shared = usage_catalog();
  if (shared.empty()) {
    state.SkipWithError("pools not built");
    return;
  }
  Front_Host host(shared, {});
  if (!host.ok() || !change_usages(host.front(), 1) || !host.front().sync_usages()) {
    state.SkipWithError("front not opened");
    return;
  }
  const std::string body = host.daemon().last_body();
  const int port = host.daemon().port();
  timed(state, [&] {
    httplib::Client client("127.0.0.1", port);
    auto reply = client.Post("/kx/jr", body, "application/json");
    return reply && reply->status == 200 && reply->body == kRpcAccepted;
  });
}

// ---------------------------------------------------------------------------
// The single-device file calculator's walk against du over the same tree:
// g_files small files, 100 to a folder, folders ten to a parent.

std::string usage_tree() {
  std::string root = g_dir + "/tree-" + std::to_string(g_files);
  std::ifstream done(root + ".done");
  if (done.good())
    return root;
  fresh_folder("tree-" + std::to_string(g_files));
  for (long long f = 0; f * 100 < g_files; ++f) {
    std::filesystem::path dir =
        std::filesystem::path(root) / std::to_string(f % 10) / std::to_string(f);
    std::filesystem::create_directories(dir);
    for (long long i = 0; i < 100 && f * 100 + i < g_files; ++i)
      std::ofstream(dir / std::to_string(i)) << std::string(100 + i * 37, 'x');
  }
  std::ofstream(root + ".done") << "";
  return root;
}

void usage_walk_lib(benchmark::State& state) {
  std::string root = usage_tree();
  Host_ID::instance().set(kHostUuid);
  Object device{{"uuid", hex_uuid(0xd3, 1)},
                {"pool_uuid", kRefPool},
                {"url", "file://" + root},
                {"extended_attrs", Object{{"attached_hosts", Object{{kHostUuid, root}}}}}};
  HTTP_Pool_Usage_Calculator calculator(Array{device}, false);
  timed(state, [&] {
    Object usage;
    return calculator.calculate(usage) && usage["files"] == g_files;
  });
}

// du as a process of its own, its output thrown away.
void du_ref(benchmark::State& state, bool apparent) {
  std::string root = usage_tree();
  std::vector<std::string> args{"du", "-s"};
  if (apparent)
    args.push_back("--apparent-size");
  args.push_back(root);
  std::vector<char*> argv;
  for (std::string& arg : args)
    argv.push_back(&arg[0]);
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  timed(state, [&] {
    pid_t pid = 0;
    int status = 0;
    return posix_spawnp(&pid, "du", &actions, nullptr, argv.data(), environ) == 0 &&
           waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  });
  posix_spawn_file_actions_destroy(&actions);
}

// ---------------------------------------------------------------------------

void register_pair(const std::string& name, long long size,
                   std::function<void(benchmark::State&)> lib,
                   std::function<void(benchmark::State&)> ref) {
  std::string base = name + "/" + std::to_string(size) + "/";
  benchmark::RegisterBenchmark((base + "lib").c_str(), lib)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark((base + "ref").c_str(), ref)->Unit(benchmark::kMillisecond);
}

// The cases through the front and the usage walk.
void register_front_cases() {
  register_pair("add_catalog_front_server", 0, add_catalog_front_server_lib,
                add_catalog_sqlite_ref);
  register_pair("add_catalog_front_agent", 0, add_catalog_front_agent_lib, add_catalog_sqlite_ref);
  register_pair("get_dependents", kChainLength, dependents_lib, dependents_ref);
  register_pair("sync_usages", kUsagePools, sync_usages_lib, sync_usages_ref);
  register_pair("usage_walk_du", g_files, usage_walk_lib,
                [](benchmark::State& s) { du_ref(s, false); });
  register_pair("usage_walk_du_apparent", g_files, usage_walk_lib,
                [](benchmark::State& s) { du_ref(s, true); });
}

void register_cases(const std::vector<long long>& sizes) {
  register_pair("add_catalog_sqlite", 0, add_catalog_sqlite_lib, add_catalog_sqlite_ref);
  if (!mariadb_socket().empty())
    register_pair("add_catalog_mariadb", 0, add_catalog_mariadb_lib, add_catalog_mariadb_ref);
  register_front_cases();
  for (long long n : sizes) {
    register_pair(
        "query_catalog_detail", n, [n](benchmark::State& s) { query_catalog_lib(s, n, true); },
        [n](benchmark::State& s) { query_catalog_ref(s, n, true); });
    register_pair(
        "query_catalog_plain", n, [n](benchmark::State& s) { query_catalog_lib(s, n, false); },
        [n](benchmark::State& s) { query_catalog_ref(s, n, false); });
    register_pair(
        "get_incarnation_info", n, [n](benchmark::State& s) { incarnation_info_lib(s, n); },
        [n](benchmark::State& s) { incarnation_info_ref(s, n); });
    register_pair(
        "get_a_expired_set", n, [n](benchmark::State& s) { expired_set_lib(s, n); },
        [n](benchmark::State& s) { expired_set_ref(s, n); });
    register_pair(
        "get_a_deletable_set", n, [n](benchmark::State& s) { deletable_set_lib(s, n); },
        [n](benchmark::State& s) { deletable_set_ref(s, n); });
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<long long> sizes;
  std::vector<char*> rest;
  for (int i = 0; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg.compare(0, 11, "--scat_dir=") == 0) {
      g_dir = arg.substr(11);
    } else if (arg.compare(0, 13, "--scat_files=") == 0) {
      g_files = std::atoll(arg.c_str() + 13);
    } else if (arg.compare(0, 13, "--scat_sizes=") == 0) {
      std::string list = arg.substr(13);
      for (std::size_t at = 0; at < list.size();) {
        std::size_t end = list.find(',', at);
        if (end == std::string::npos)
          end = list.size();
        sizes.push_back(std::atoll(list.substr(at, end - at).c_str()));
        at = end + 1;
      }
    } else {
      rest.push_back(argv[i]);
    }
  }
  if (g_dir.empty()) {
    std::fprintf(stderr, "usage: %s --scat_dir=DIR [--scat_sizes=N,...] [benchmark flags]\n",
                 argv[0]);
    return 2;
  }
  if (sizes.empty())
    sizes.push_back(10000);
  register_cases(sizes);
  int n = static_cast<int>(rest.size());
  benchmark::Initialize(&n, rest.data());
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
