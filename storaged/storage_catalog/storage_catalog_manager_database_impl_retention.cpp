// Backup chains: chain lookups and moves, restorability reports, pool sizes
// and the retention queries that hand out expired and deletable chains.
//
// get_incarnation_info and get_a_expired_set work in the connection's
// temporary tables `exclude_incarnation`, `incarnation_info` and
// `retention_heads`, which belong to the session (a thread's leased
// connection) and outlive the call. Invariant: they are empty whenever no
// such call is running on the
// connection; every path out of those calls empties them. They are also
// emptied before use, so rows an earlier call failed to clear never reach
// an answer, and a clearing that fails fails the call.
//
// MySQL cannot read a temporary table twice in one statement, so lists
// kept in one are read out first and put into the statement that would
// need them again.
#include "storaged/storage_catalog/storage_catalog_manager_database_impl.h"

#include <algorithm>
#include <cctype>
#include <iterator>
#include <memory>
#include <unordered_map>

#include "platform/runtime/log.h"
#include "platform/runtime/uuid.h"
#include "platform/sql/cursor.h"
#include "platform/sql/transaction.h"
#include "storaged/storage_catalog/catalog_state.h"
#include "storaged/storage_catalog/storage_catalog_manager_database_impl_internal.h"

using database::sql::Connection_Ptr;
using database::sql::Filter_SQL;
using database::sql::Legacy_Cursor;
using database::sql::Render_Context;
using database::sql::Select_SQL;
using database::sql::SQL;
using database::sql::Update_SQL;
using namespace scat_db;

namespace {

// The temporary tables an operation fills. clear() empties them; an
// operation clears them before it starts and ends through finish(), and
// the destructor clears them on the paths that leave early (failures,
// exceptions).
class Temporary_Rows {
 public:
  Temporary_Rows(const Connection_Ptr& conn, std::vector<std::string> tables)
      : conn_(conn), tables_(std::move(tables)) {}
  ~Temporary_Rows() {
    if (!finished_)
      clear();
  }

  // False (logged) when a table could not be emptied.
  bool clear() {
    bool ok = true;
    for (const std::string& table : tables_) {
      if (!conn_->execute("delete from " + table + ";")) {
        LOG_ERROR("Failed to empty temporary table %s.", table.c_str());
        ok = false;
      }
    }
    return ok;
  }
  // `ok` when the tables were emptied; false otherwise, since the session
  // would keep rows for its next call.
  bool finish(bool ok) {
    finished_ = true;
    return clear() && ok;
  }

 private:
  Connection_Ptr conn_;
  std::vector<std::string> tables_;
  bool finished_ = false;
};

// INSERT INTO table (columns) SELECT ...
class Insert_Select_SQL : public SQL {
 public:
  Insert_Select_SQL(std::string table, std::string columns, Select_SQL select)
      : table_(std::move(table)), columns_(std::move(columns)), select_(std::move(select)) {}

  bool render(Render_Context& ctx) const override {
    render_bindings(ctx);
    ctx.text() += "INSERT INTO " + database::sql::quote_identifier(table_) + " (" + columns_ + ") ";
    return select_.render(ctx) && ctx.ok();
  }

 private:
  std::string table_;
  std::string columns_;
  Select_SQL select_;
};

const char kVmAgents[] = "'backup.%.vm'";

// `uuids` as the list of blob literals "x'..',x'..'". A large pool protects
// more chains than a statement may carry parameters (65,535 on MariaDB),
// so the list is spliced rather than bound. False (logged) for a value
// that is not a uuid.
bool uuid_literals(const std::vector<std::string>& uuids, std::string& list) {
  list.clear();
  for (const std::string& uuid : uuids) {
    if (!vrt::is_uuid_hex(uuid)) {
      LOG_ERROR("Failed to get expired set: '%s' is not a uuid.", uuid.c_str());
      return false;
    }
    list += (list.empty() ? "x'" : ",x'") + uuid + "'";
  }
  return true;
}

// Fills `retention_heads` with the newest usable set's time of each chain
// per resource and minor resource: a row per chain and resource instead of
// a row per set, read once from the `chain` index. Every later step of the
// retention query reads these rows, not the pool's table. `plain_time` is
// the newest time of the sets of ordinary agents, `vm_time` of agents of
// kVmAgents, `backup_time` of all, those without an agent included.
// SQLite groups by the agent too, which the index holds in order, and
// tells the kind once per group; MySQL tells it per set, since two agents
// that group as one there may differ in a trailing space that LIKE tells
// apart, and its grouping is cheapest on the index's first columns alone.
bool fill_retention_heads(const Connection_Ptr& conn, const std::string& pool) {
  const std::string plain = std::string("agent not like ") + kVmAgents;
  const std::string vm = std::string("agent like ") + kVmAgents;
  const std::string times =
      is_mysql(conn) ? "MAX(CASE WHEN " + plain + " THEN backup_time END), MAX(CASE WHEN " + vm +
                           " THEN backup_time END)"
                     : "CASE WHEN " + plain + " THEN MAX(backup_time) END, CASE WHEN " + vm +
                           " THEN MAX(backup_time) END";
  return conn->execute(
      SQL("INSERT INTO retention_heads (incarnation, resource_uuid, minor_resource_id, plain_time, "
          "vm_time, backup_time) SELECT incarnation, resource_uuid, minor_resource_id, " +
          times + ", MAX(backup_time) FROM " + Catalog_Table(pool).sql() +
          " WHERE state & 11 = 1 AND incarnation IS NOT NULL GROUP BY incarnation, resource_uuid, "
          "minor_resource_id" +
          (is_mysql(conn) ? "" : ", agent")));
}

// Protects the newest chain not yet protected of every resource: by
// resource and minor resource for ordinary agents, by minor resource alone
// for agents of kVmAgents (`vm`). Every set of the pool at a resource's
// newest time protects its chain, whatever its state or agent.
bool protect_newest_chains(const Connection_Ptr& conn, const std::string& pool, bool vm) {
  std::vector<std::string> excluded;
  SQL read_excluded("select incarnation from exclude_incarnation");
  std::string excluded_list;
  if (!read_column(conn, read_excluded, "incarnation", excluded) ||
      !uuid_literals(excluded, excluded_list))
    return false;
  Select_SQL newest;
  newest.table("retention_heads")
      .select(vm ? "minor_resource_id,MAX(vm_time) backup_time"
                 : "resource_uuid,minor_resource_id,MAX(plain_time) backup_time")
      .group_by(vm ? "minor_resource_id" : "resource_uuid,minor_resource_id");
  Filter_SQL* filter = newest.where().and_filter();
  filter->add_sql(vm ? "vm_time IS NOT NULL" : "plain_time IS NOT NULL");
  if (!excluded_list.empty())
    filter->add_sql("incarnation NOT IN (" + excluded_list + ")");
  const char* on = vm ? "COALESCE(a.minor_resource_id, '')=COALESCE(t.minor_resource_id, '') AND "
                        "a.backup_time=t.backup_time"
                      : "a.resource_uuid=t.resource_uuid AND COALESCE(a.minor_resource_id, '')="
                        "COALESCE(t.minor_resource_id, '') AND a.backup_time=t.backup_time";
  Select_SQL chains;
  chains.table(Catalog_Table(pool).name(), "t")
      .select("t.incarnation")
      .sql_inner_join(newest, "a", on);
  // A set without a chain protects nothing, and would not fit the table.
  chains.where().and_filter()->add_sql("t.incarnation IS NOT NULL");
  return conn->execute(Insert_Select_SQL("exclude_incarnation", "incarnation", chains));
}

// The number of chains protected so far. False when the query fails.
bool count_protected(const Connection_Ptr& conn, long long& count) {
  SQL chains("select count(distinct incarnation) from exclude_incarnation");
  Legacy_Cursor cursor(conn, chains, Legacy_Cursor::SCALAR, 0);
  return cursor.fetch() && (cursor >> count);
}

// Protects the `keep_count` newest chains of every resource. A repetition
// depends only on the chains already protected, so once one protects
// nothing new neither does any later one and the loop ends there.
bool protect_kept_chains(const Connection_Ptr& conn, const std::string& pool, int keep_count) {
  long long before = 0;
  for (int kept = 0; kept < keep_count; ++kept) {
    long long after = 0;
    if (!protect_newest_chains(conn, pool, false) || !protect_newest_chains(conn, pool, true) ||
        !count_protected(conn, after))
      return false;
    if (after == before)
      break;
    before = after;
  }
  return true;
}

// The unprotected chain whose newest usable set is the oldest and older
// than `retention_days` days; empty when there is none. Of chains whose
// newest sets are equally old, the one with the lowest uuid.
bool find_expired_chain(const Connection_Ptr& conn, int retention_days, std::string& incarnation) {
  const std::string days = std::to_string(retention_days);
  const std::string limit = is_mysql(conn) ? "DATE_ADD(NOW(), interval -" + days + " day)"
                                           : "DATETIME('NOW', '-" + days + " days')";
  SQL oldest(
      "SELECT incarnation FROM (SELECT incarnation, MAX(backup_time) backup_time FROM "
      "retention_heads WHERE incarnation NOT IN (SELECT incarnation FROM exclude_incarnation) "
      "GROUP BY incarnation) `t` WHERE backup_time < " +
      limit + " ORDER BY backup_time, incarnation LIMIT 1");
  return read_first_text(conn, oldest, "incarnation", incarnation);
}

// Whether the pool's table holds backup set `uuid` (a valid uuid). False
// when the query fails.
bool holds_set(const Connection_Ptr& conn, const std::string& pool, const std::string& uuid,
               bool& held) {
  SQL count("SELECT COUNT(*) FROM " + Catalog_Table(pool).sql() + " WHERE uuid=:uuid");
  long long n = 0;
  if (!count.bind_uuid("uuid", uuid))
    return false;
  Legacy_Cursor cursor(conn, count, Legacy_Cursor::SCALAR, 0);
  if (!cursor.fetch() || !(cursor >> n))
    return false;
  held = n != 0;
  return true;
}

// Every set of chain `incarnation` (with `condition`, those meeting it).
bool read_chain(const Connection_Ptr& conn, const std::string& pool, const std::string& incarnation,
                const std::string& condition, Array& out) {
  Select_SQL chain;
  chain.table(Catalog_Table(pool).name());
  chain.where().and_filter()->add_sql("incarnation=:incarnation" + condition);
  if (!chain.bind_uuid("incarnation", incarnation) ||
      !read_catalog_rows(conn, pool, chain, out, nullptr, false)) {
    LOG_ERROR("Failed to query catalog with incarnation: %s", incarnation.c_str());
    return false;
  }
  return true;
}

// Uuids per statement that fills `incarnation_info`: a few statements for
// a long request, well under every engine's limit on bound values.
const std::size_t kRequestChunk = 1024;

// `uuids` (each a uuid) in lower case, as the database hands uuids back.
std::vector<std::string> lower_case(std::vector<std::string> uuids) {
  for (std::string& uuid : uuids)
    std::transform(uuid.begin(), uuid.end(), uuid.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return uuids;
}

// INSERT INTO incarnation_info, for the sets among `uuids` that the pool
// holds (each once): chain, state and restorability. A set is restorable
// when no set of its chain up to its time is missing or offline; a set
// without a chain has no start to restore from, as the test of a single
// set finds too. The list is bound under generated names, which need no
// search for a name bound before, and padded to a power of two with its
// last uuid, so that a few texts serve every request and stay prepared.
class Fill_Incarnation_Info_SQL : public SQL {
 public:
  Fill_Incarnation_Info_SQL(const std::string& pool,
                            std::vector<database::sql::Binding_Value> uuids)
      : table_(Catalog_Table(pool).sql()), uuids_(std::move(uuids)) {}

  bool render(Render_Context& ctx) const override {
    std::string& text = ctx.text();
    text +=
        "insert into incarnation_info select c.uuid, c.incarnation, c.state, c.backup_time, "
        "c.incarnation IS NOT NULL AND NOT EXISTS (select 1 from " +
        table_ +
        " b where b.incarnation = c.incarnation and (b.state & 1 = 0 or b.state & 2 = 2) "
        "and b.backup_time <= c.backup_time) from " +
        table_ + " c where c.uuid in (";
    std::size_t marks = 1;
    while (marks < uuids_.size())
      marks *= 2;
    for (std::size_t i = 0; i < marks; ++i) {
      if (i > 0)
        text += ", ";
      text += ctx.add_value(uuids_[std::min(i, uuids_.size() - 1)]);
    }
    text += ");";
    return ctx.ok();
  }

 private:
  std::string table_;
  std::vector<database::sql::Binding_Value> uuids_;
};

// Fills `incarnation_info` for `requested`, a chunk at a time. False when
// a uuid is malformed or a statement fails.
bool fill_incarnation_info(const Connection_Ptr& conn, const std::string& pool,
                           const std::vector<std::string>& requested) {
  for (std::size_t at = 0; at < requested.size(); at += kRequestChunk) {
    std::size_t n = std::min(kRequestChunk, requested.size() - at);
    std::vector<database::sql::Binding_Value> chunk(n);
    for (std::size_t i = 0; i < n; ++i) {
      if (!database::sql::Binding_Value::uuid(requested[at + i], chunk[i])) {
        LOG_ERROR("Failed to get incarnation info: '%s' is not a uuid.", requested[at + i].c_str());
        return false;
      }
    }
    if (!conn->execute(Fill_Incarnation_Info_SQL(pool, std::move(chunk))))
      return false;
  }
  return true;
}

Object unknown_set(const Value& uuid, const std::string& pool) {
  return Object{{"uuid", uuid},
                {"pool_uuid", pool},
                {"state", Array()},
                {"incarnation", ""},
                {"restorable", false}};
}

// The answer for a set the pool holds, from its row of `incarnation_info`
// and the target of its replicate job (null when it has none).
Object incarnation_report(const std::string& pool, Value uuid, Value incarnation,
                          const Value& state_value, const Value& restorable, Value target) {
  if (!state_value.is_number_integer())
    return unknown_set(uuid, pool);
  const bool has_uuid = uuid.is_string();
  Object report{{"uuid", std::move(uuid)}, {"pool_uuid", pool}};
  long long state = state_value.get<long long>();
  if (state & CST_REPLICATED) {
    if (has_uuid && target.is_string())
      report["target_pool_uuid"] = std::move(target);
    else
      state &= ~static_cast<long long>(CST_REPLICATED);
  }
  Array names;
  catalog_state_to_array(static_cast<Catalog_State>(state), names);
  report["state"] = std::move(names);
  report["restorable"] = restorable.is_number() && restorable.get<long long>() != 0;
  report["incarnation"] = std::move(incarnation);
  return report;
}

// An answer and where it went into the list of answers, once it did.
struct Held_Report {
  Object report;
  std::size_t at = static_cast<std::size_t>(-1);
};

// The answers for the rows of `incarnation_info`, by uuid. Each replicated
// set is answered with the target of the replicate job that copied it out
// of `pool` through a relation that still exists, looked up in the same
// statement: a lookup per replicated set made a large request cost a round
// trip per set. Of several such jobs the lowest target is taken, so the
// answer does not depend on the order an engine reads them in. The rows
// are read straight into answers, without a JSON row each on the way.
bool read_incarnation_reports(const Connection_Ptr& conn, const std::string& pool,
                              std::unordered_map<std::string, Held_Report>& held) {
  SQL report(
      "SELECT i.uuid, i.incarnation, i.state, i.is_restorable, CASE WHEN i.state & 16 = 16 THEN "
      "(SELECT MIN(j.target_pool_uuid) FROM `storage_catalog_pool_replicate_job` j, "
      "`storage_catalog_storage_pool_replicate` r WHERE j.source_pool_uuid = r.source_uuid AND "
      "j.target_pool_uuid = r.target_uuid AND j.catalog_uuid = i.uuid AND j.source_pool_uuid = "
      ":pool) END target_pool_uuid FROM incarnation_info i;");
  if (!report.bind_uuid("pool", pool))
    return false;
  std::unique_ptr<database::sql::Statement> rows = conn->prepare(report);
  if (!rows)
    return false;
  const database::sql::Query_Result_Handler& values =
      database::sql::Query_Result_Handler::catalog();
  const char* const columns[] = {"uuid", "incarnation", "state", "is_restorable",
                                 "target_pool_uuid"};
  int rc;
  while ((rc = rows->step()) == 1) {
    Value row[5];
    for (int i = 0; i < 5; ++i)
      row[i] = values.to_value(columns[i], rows->column(i));
    if (!row[0].is_string())
      continue;
    Held_Report& answer = held[row[0].get<std::string>()];
    answer.report = incarnation_report(pool, std::move(row[0]), std::move(row[1]), row[2], row[3],
                                       std::move(row[4]));
  }
  if (rc < 0) {
    LOG_ERROR("Query failed: %s [%s]", rows->error().c_str(), report.str(conn->dialect()).c_str());
    return false;
  }
  return true;
}

long long sum_or_zero(const Value& value) {
  return value.is_number() ? value.get<long long>() : 0;
}

}  // namespace

bool Storage_Catalog_Manager_Database_Impl::get_catalogs_with_incarnation(
    const std::string& pool, const std::string& uuid, const std::string& incarnation, Array& out,
    bool whole_chain) {
  return guarded("Failed to get catalogs with incarnation", [&] {
    Connection_Ptr conn = pool_connection(pool);
    if (!conn)
      return false;
    Select_SQL chain;
    chain.table(Catalog_Table(pool).name()).order_by("backup_time");
    Filter_SQL* filter = chain.where().and_filter();
    filter->add_sql("incarnation=:incarnation");
    if (!bind_uuid_or_log(chain, "incarnation", incarnation))
      return false;
    if (!whole_chain) {
      filter->add_sql("backup_time <= (SELECT backup_time FROM " + Catalog_Table(pool).sql() +
                      " WHERE uuid=:uuid)");
      if (!bind_uuid_or_log(chain, "uuid", uuid))
        return false;
    }
    return read_catalog_rows(conn, pool, chain, out, nullptr, false);
  });
}

bool Storage_Catalog_Manager_Database_Impl::update_incarnation(const std::string& pool,
                                                               const std::string& uuid,
                                                               const std::string& incarnation) {
  try {
    Connection_Ptr conn = pool_connection(pool);
    if (!conn)
      return false;
    // The sub-selects read the updated table through a derived table,
    // which MySQL (error 1093) requires.
    const std::string table = Catalog_Table(pool).sql();
    SQL take_type("UPDATE " + table + " SET backup_type = (SELECT backup_type FROM (SELECT " +
                  "backup_type FROM " + table + " WHERE uuid=:incarnation) `t`) WHERE uuid=:uuid");
    SQL move_members("UPDATE " + table +
                     " SET incarnation = :uuid WHERE incarnation = :incarnation AND id >= "
                     "(SELECT id FROM (SELECT id FROM " +
                     table + " WHERE uuid = :uuid) `t`)");
    for (SQL* statement : {&take_type, &move_members}) {
      if (!bind_uuid_or_log(*statement, "uuid", uuid) ||
          !bind_uuid_or_log(*statement, "incarnation", incarnation))
        return false;
    }
    return transact(conn, kImplSource, __LINE__, [&] {
      // When the old chain's first set is gone there is no type to take:
      // the set keeps its own rather than losing it, and the later members
      // still move to the new chain.
      bool start_held = false;
      if (!holds_set(conn, pool, incarnation, start_held) ||
          (start_held && !conn->execute(take_type)) || !conn->execute(move_members)) {
        LOG_ERROR("Failed to update incarnation of '%s' in pool '%s'.", uuid.c_str(), pool.c_str());
        return false;
      }
      return true;
    });
  } catch (const std::exception& e) {
    LOG_ERROR("Failed to update incarnation: %s", e.what());
    return false;
  }
}

bool Storage_Catalog_Manager_Database_Impl::get_incarnation_info(const std::string& pool,
                                                                 const Array& uuids, Array& out) {
  return guarded("Failed to get incarnation info", [&] {
    // Unknown pools copy each entry into the answer.
    if (!check_json_depth(uuids, "Failed to get incarnation info"))
      return false;
    if (!is_known_table(pool)) {
      for (const Value& uuid : uuids)
        out.push_back(unknown_set(uuid, pool));
      return true;
    }
    const std::vector<std::string> requested = lower_case(uuid_list(uuids));
    Connection_Ptr conn = get_connection();
    if (!conn)
      return false;
    Array reports;
    bool done = run_rerunnable(conn, [&] {
      reports.clear();
      if (!create_exclude_incarnation(conn) || !create_incarnation_info(conn))
        return false;
      Temporary_Rows scratch(conn, {"exclude_incarnation", "incarnation_info"});
      if (!scratch.clear() || !fill_incarnation_info(conn, pool, requested))
        return false;
      std::unordered_map<std::string, Held_Report> held;
      if (!read_incarnation_reports(conn, pool, held))
        return false;
      // The sets the pool holds in the order asked, then those it does
      // not; a set asked twice is answered twice.
      reports.reserve(requested.size());
      std::vector<const std::string*> missing;
      for (const std::string& uuid : requested) {
        auto found = held.find(uuid);
        if (found == held.end()) {
          missing.push_back(&uuid);
        } else if (found->second.at < reports.size()) {
          Value again = reports[found->second.at];
          reports.push_back(std::move(again));
        } else {
          found->second.at = reports.size();
          reports.push_back(std::move(found->second.report));
        }
      }
      for (const std::string* uuid : missing)
        reports.push_back(unknown_set(*uuid, pool));
      return scratch.finish(true);
    });
    if (!done)
      return false;
    out.insert(out.end(), std::make_move_iterator(reports.begin()),
               std::make_move_iterator(reports.end()));
    return true;
  });
}

bool Storage_Catalog_Manager_Database_Impl::get_pool_size(const std::string& pool, long long& total,
                                                          bool include_expired) {
  return guarded("Failed to get pool size", [&] {
    Connection_Ptr conn = pool_connection(pool);
    if (!conn)
      return false;
    Select_SQL size;
    size.table(Catalog_Table(pool).name()).select("SUM(size) total_size");
    size.where().and_filter()->add_sql(include_expired ? "state & 1 = 1" : "state & 9 = 1");
    Legacy_Cursor cursor(conn, size, Legacy_Cursor::SCALAR, 0);
    if (!cursor.fetch())
      return false;
    long long sum = 0;
    cursor >> sum;  // an empty pool sums to NULL
    total = sum;
    return true;
  });
}

bool Storage_Catalog_Manager_Database_Impl::get_pool_size(const std::string& pool, long long& total,
                                                          long long* expired) {
  return guarded("Failed to get pool size", [&] {
    Connection_Ptr conn = pool_connection(pool);
    if (!conn)
      return false;
    const std::string table = Catalog_Table(pool).sql();
    SQL sizes("select * from (select sum(size) total_size from " + table +
              " where state & 1 = 1) `t1`, (select sum(size) expired_size from " + table +
              " where state & 9 = 9) `t2`;");
    Object row;
    if (!read_row(conn, sizes, row))
      return false;
    total = sum_or_zero(row["total_size"]);
    if (expired != nullptr)
      *expired = sum_or_zero(row["expired_size"]);
    return true;
  });
}

bool Storage_Catalog_Manager_Database_Impl::get_a_expired_set(const std::string& pool, Array& out,
                                                              int keep_count, int retention_days) {
  return guarded("Failed to get expired set", [&] {
    if (!check_pool(pool))
      return false;
    // A negative count would be read as a limit in the future (MariaDB
    // takes "interval --5 day" as +5 days) and expire every unprotected
    // chain.
    if (retention_days < 0) {
      LOG_ERROR("Failed to get expired set: retention of %d days is negative.", retention_days);
      return false;
    }
    Connection_Ptr conn = get_connection();
    if (!conn)
      return false;
    Array chain;
    bool done = run_rerunnable(conn, [&] {
      chain.clear();
      if (!create_exclude_incarnation(conn) || !create_retention_heads(conn))
        return false;
      Temporary_Rows scratch(conn, {"exclude_incarnation", "retention_heads"});
      std::string incarnation;
      if (!scratch.clear() || !fill_retention_heads(conn, pool) ||
          !protect_kept_chains(conn, pool, keep_count) ||
          !find_expired_chain(conn, retention_days, incarnation) || !scratch.finish(true))
        return false;
      return incarnation.empty() || read_chain(conn, pool, incarnation, "", chain);
    });
    if (!done)
      return false;
    out.insert(out.end(), chain.begin(), chain.end());
    return true;
  });
}

bool Storage_Catalog_Manager_Database_Impl::get_a_deletable_set(const std::string& pool, Array& out,
                                                                bool skip_warmup, long long skip) {
  return guarded("Failed to get deletable set", [&] {
    Connection_Ptr conn = pool_connection(pool);
    if (!conn)
      return false;
    Select_SQL chains;
    chains.table(Catalog_Table(pool).name())
        .select("incarnation")
        .group_by("incarnation")
        // Chains whose newest sets are equally old keep one order, so that
        // callers paging with `skip` neither miss a chain nor get one twice.
        .order_by("MAX(backup_time), incarnation");
    Filter_SQL* filter = chains.where().and_filter();
    filter->add_sql("state & :st_1 = :st_2");
    chains.bind("st_1", 9).bind("st_2", 9);
    // Sets without a chain would group as one that hides the later chains.
    filter->add_sql("incarnation IS NOT NULL");
    if (skip_warmup) {
      filter->add_sql("state & :st_3 != :st_4");
      chains.bind("st_3", 32).bind("st_4", 32);
    }
    if (skip != 0)
      chains.limit(1).offset(skip);
    std::string incarnation;
    if (!read_first_text(conn, chains, "incarnation", incarnation))
      return false;
    return incarnation.empty() || read_chain(conn, pool, incarnation, " and state & 3 = 1", out);
  });
}

bool Storage_Catalog_Manager_Database_Impl::is_deletable(const std::string& pool,
                                                         const Array& uuids) {
  return guarded("Failed to check whether backup sets are deletable", [&] {
    if (!check_pool(pool) ||
        !check_json_depth(uuids, "Failed to check whether backup sets are deletable"))
      return false;
    const std::vector<std::string> list = uuid_list(uuids);
    Connection_Ptr conn = get_connection();
    if (!conn)
      return false;
    Select_SQL blocking;
    blocking.table(Catalog_Table(pool).name()).select("uuid").limit(1);
    Filter_SQL* filter = blocking.where().and_filter();
    filter->add_sql("state & 1 = 1 and state & 10 != 8");
    filter->add_in_uuid_item("uuid", list);
    Value row;
    Legacy_Cursor cursor(conn, blocking, Legacy_Cursor::ROW, 0);
    return cursor.fetch(row) && row.is_null();
  });
}
