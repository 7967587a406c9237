#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <random>

#include "platform/sql/cursor.h"
#include "tests/storaged/storage_catalog/catalog_back_end_test.h"

using database::sql::Legacy_Cursor;
using database::sql::SQL;
using Uuids = std::vector<std::string>;

namespace {

class Retention : public Catalog_Back_End_Test {
 protected:
  std::string days_ago(double days) {
    return db_clock(-static_cast<long long>(days * 86400)).second;
  }

  // A set of resource u(resource) written by `agent`.
  void add_of(int uuid, int incarnation, const std::string& time, int resource,
              const std::string& minor = "", const std::string& agent = "backupd", int state = 1) {
    add(uuid, incarnation, time, state,
        Object{{"resource_uuid", u(resource)}, {"minor_resource_id", minor}, {"agent", agent}});
  }

  static Uuids sorted(const Array& rows) {
    Uuids out = uuids(rows);
    std::sort(out.begin(), out.end());
    return out;
  }

  Uuids expired(int keep, int days) {
    Array rows;
    EXPECT_TRUE(impl_->get_a_expired_set(pool_, rows, keep, days)) << log_.dump();
    return sorted(rows);
  }

  Uuids deletable(bool skip_warmup, int skip) {
    Array rows;
    EXPECT_TRUE(impl_->get_a_deletable_set(pool_, rows, skip_warmup, skip)) << log_.dump();
    return sorted(rows);
  }

  // Rows left in the connection's temporary tables.
  long long temporary_rows(const database::sql::Connection_Ptr& conn,
                           const std::vector<std::string>& tables = {"exclude_incarnation",
                                                                     "incarnation_info"}) {
    long long count = 0;
    for (const std::string& table : tables) {
      SQL rows("SELECT COUNT(*) FROM " + table);
      Legacy_Cursor cursor(conn, rows, Legacy_Cursor::SCALAR, 0);
      long long n = -1;
      EXPECT_TRUE(cursor.fetch() && (cursor >> n)) << table;
      count += n;
    }
    return count;
  }

  static Object no_info(const std::string& pool, const std::string& uuid) {
    return Object{{"uuid", uuid},
                  {"pool_uuid", pool},
                  {"incarnation", ""},
                  {"state", Array()},
                  {"restorable", false}};
  }
};

TEST_P(Retention, KeepsNewestChainsOfEachResource) {
  // Three chains of one resource, oldest first.
  add(1, 1, days_ago(40));
  add(2, 1, days_ago(39));
  add(3, 3, days_ago(30));
  add(4, 3, days_ago(29));
  add(5, 5, days_ago(20));
  // Another resource's only chain is its newest, however old.
  add_of(6, 6, days_ago(100), 0xB01);

  EXPECT_EQ(expired(2, 10), (Uuids{u(1), u(2)}));
  EXPECT_TRUE(expired(3, 10).empty());
  // The oldest chain's newest set is 39 days old: not past 50 days.
  EXPECT_TRUE(expired(2, 50).empty());
  // Without keeping any, the oldest of all chains goes first.
  EXPECT_EQ(expired(0, 10), Uuids{u(6)});
  // An expired set protects nothing: the third chain kept is still the oldest.
  add(7, 7, days_ago(15), 1 | 8);
  EXPECT_TRUE(expired(3, 10).empty());

  Array rows;
  EXPECT_FALSE(impl_->get_a_expired_set(pool_, rows, 1, -5));
  EXPECT_TRUE(log_.has("Failed to get expired set: retention of -5 days is negative."));
  EXPECT_TRUE(rows.empty());
}

TEST_P(Retention, ChainExactlyAtTheLimitIsNotExpired) {
  add(1, 1, days_ago(40));
  add(2, 2, days_ago(5));  // the chain kept
  // The clock may move on between writing the set and asking: try again
  // until both happen within one second of the database's clock.
  bool same_second = false;
  for (int attempt = 0; attempt < 5 && !same_second; ++attempt) {
    auto clock = db_clock(-10 * 86400);
    ASSERT_TRUE(impl_->update_catalog(pool_, u(1), Object{{"backup_time", clock.second}}));
    Uuids handed = expired(1, 10);
    same_second = db_clock(0).first == clock.first;
    if (same_second) {
      EXPECT_TRUE(handed.empty()) << clock.second;
    }
  }
  ASSERT_TRUE(same_second);
  ASSERT_TRUE(impl_->update_catalog(pool_, u(1), Object{{"backup_time", days_ago(10.01)}}));
  EXPECT_EQ(expired(1, 10), Uuids{u(1)});
}

TEST_P(Retention, VmAgentsShareProtectionByMinorResource) {
  // Two resources whose sets carry the same minor resource.
  add_of(1, 1, days_ago(40), 0xB00, "vm-1", "backup.vmware.vm");
  add_of(2, 2, days_ago(30), 0xB01, "vm-1", "backup.vmware.vm");
  EXPECT_EQ(expired(1, 10), Uuids{u(1)});
  // Ordinary agents keep one chain per resource and minor resource.
  ASSERT_TRUE(impl_->update_catalog(pool_, u(1), Object{{"agent", "backup.file"}}));
  ASSERT_TRUE(impl_->update_catalog(pool_, u(2), Object{{"agent", "backup.file"}}));
  EXPECT_TRUE(expired(1, 10).empty());
}

TEST_P(Retention, SetsWithoutAChainHideNoExpiredChain) {
  Object loose = backup_set(u(1), u(1), days_ago(50), 1 | 8);
  loose.erase("incarnation");
  add_set(loose);
  add_of(2, 2, days_ago(40), 0xB01);
  EXPECT_EQ(expired(0, 10), Uuids{u(2)});
  ASSERT_TRUE(impl_->update_catalog(pool_, u(2), Object{{"state", 1 | 8}}));
  EXPECT_EQ(deletable(false, 0), Uuids{u(2)});
}

TEST_P(Retention, ASetWithoutAChainNeitherProtectsNorDisplacesAChain) {
  add_of(1, 1, days_ago(40), 0xB00);
  Object loose = backup_set(u(2), u(2), days_ago(5), 1);
  loose.erase("incarnation");
  add_set(loose);
  // The resource's only chain is its newest, however many are kept.
  for (int keep : {1, 2, 3})
    EXPECT_TRUE(expired(keep, 10).empty()) << keep;
  // Whatever other resources hold.
  add_of(3, 3, days_ago(60), 0xB01);
  for (int keep : {1, 2, 3})
    EXPECT_TRUE(expired(keep, 10).empty()) << keep;
  EXPECT_EQ(expired(0, 10), Uuids{u(3)});
  // Nor does it count as a chain to skip when deleting.
  ASSERT_TRUE(impl_->update_catalog(pool_, u(2), Object{{"state", 1 | 8}}));
  ASSERT_TRUE(impl_->update_catalog(pool_, u(1), Object{{"state", 1 | 8}}));
  EXPECT_EQ(deletable(false, 0), Uuids{u(1)});
  EXPECT_TRUE(deletable(false, 1).empty());
}

TEST_P(Retention, KeepingMoreChainsThanThereAreStopsEarly) {
  add(1, 1, days_ago(40));
  add(2, 2, days_ago(30));
  add_of(3, 3, days_ago(50), 0xB01);
  add_of(4, 4, days_ago(45), 0xB01, "", "backup.vmware.vm");
  // Each repetition protects nothing new after the second.
  EXPECT_TRUE(expired(2000000000, 10).empty());
  EXPECT_EQ(expired(1, 10), Uuids{u(1)});
}

TEST_P(Retention, RowsLeftInTheTemporaryTablesChangeNoAnswer) {
  add(1, 1, days_ago(40));
  add(2, 2, days_ago(30));
  auto conn = impl_->get_connection();
  Array reports;
  ASSERT_TRUE(impl_->get_incarnation_info(pool_, Array{u(1)}, reports)) << log_.dump();
  // Rows an earlier call on this session failed to clear.
  for (const char* stale : {"insert into exclude_incarnation values (x'%s')",
                            "insert into incarnation_info (uuid) values (x'%s')"}) {
    char statement[128];
    std::snprintf(statement, sizeof statement, stale, u(1).c_str());
    ASSERT_TRUE(conn->execute(std::string(statement))) << log_.dump();
  }
  EXPECT_EQ(expired(1, 10), Uuids{u(1)});
  ASSERT_EQ(temporary_rows(conn, {"exclude_incarnation"}), 0);
  ASSERT_TRUE(
      conn->execute(std::string("insert into incarnation_info (uuid) values (x'") + u(7) + "')"));
  reports.clear();
  ASSERT_TRUE(impl_->get_incarnation_info(pool_, Array{u(2)}, reports)) << log_.dump();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0]["uuid"], u(2));
  EXPECT_EQ(temporary_rows(conn), 0);
}

TEST_P(Retention, AFailedClearOfTheTemporaryTablesFailsTheCall) {
  if (is_mysql())
    GTEST_SKIP() << "MariaDB takes no trigger on a temporary table";
  add(1, 1, days_ago(40));
  add(2, 2, days_ago(30));
  auto conn = impl_->get_connection();
  Array reports;
  ASSERT_TRUE(impl_->get_incarnation_info(pool_, Array{u(1)}, reports)) << log_.dump();
  for (const char* table : {"exclude_incarnation", "incarnation_info"}) {
    ASSERT_TRUE(conn->execute(std::string("CREATE TEMP TRIGGER keep_") + table +
                              " BEFORE DELETE ON " + table +
                              " BEGIN SELECT RAISE(ABORT, 'kept'); END;"));
  }
  Array rows;
  EXPECT_FALSE(impl_->get_a_expired_set(pool_, rows, 1, 10));
  EXPECT_FALSE(impl_->get_incarnation_info(pool_, Array{u(1)}, reports));
}

TEST_P(Retention, ASetWithoutAChainIsNotRestorable) {
  Object loose = backup_set(u(1), u(1), "2024-01-01 00:00:00", 1);
  loose.erase("incarnation");
  add_set(loose);
  Array rows;
  ASSERT_TRUE(impl_->query_catalog(pool_, Object(), "id", true, 0, -1, rows, nullptr, true, false));
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0]["restorable"], false);
  Array reports;
  ASSERT_TRUE(impl_->get_incarnation_info(pool_, Array{u(1)}, reports)) << log_.dump();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0]["restorable"], false);
  EXPECT_EQ(reports[0]["state"], Array{"online"});
}

TEST_P(Retention, ProtectsMoreChainsThanAStatementTakesParameters) {
  // More resources, each with a chain of one set, than MariaDB takes
  // parameters in one statement (65,535).
  const int kResources = 70000;
  const std::string digits =
      "(SELECT 0 d UNION ALL SELECT 1 UNION ALL SELECT 2 UNION ALL SELECT 3 UNION ALL SELECT 4 "
      "UNION ALL SELECT 5 UNION ALL SELECT 6 UNION ALL SELECT 7 UNION ALL SELECT 8 UNION ALL "
      "SELECT 9)";
  const std::string n = "(a.d + 10 * b.d + 100 * c.d + 1000 * e.d + 10000 * f.d)";
  auto random_uuid = [&](const char* salt) {
    return is_mysql() ? "UNHEX(MD5(CONCAT('" + std::string(salt) + "', " + n + ")))"
                      : std::string("randomblob(16)");
  };
  // Times a second apart, as real backups are.
  const std::string time = is_mysql()
                               ? "DATE_SUB('" + days_ago(20) + "', INTERVAL " + n + " SECOND)"
                               : "DATETIME('" + days_ago(20) + "', '-' || " + n + " || ' seconds')";
  auto conn = impl_->get_connection();
  ASSERT_TRUE(conn->execute(
      "INSERT INTO `" + pool_ +
      "` (uuid, incarnation, resource_uuid, agent, backup_time, state, minor_resource_id) "
      "SELECT " +
      random_uuid("u") + ", " + random_uuid("i") + ", " + random_uuid("r") + ", 'backupd', " +
      time + ", 1, '' FROM " + digits + " a, " + digits + " b, " + digits + " c, " + digits +
      " e, " + digits + " f WHERE " + n + " < " + std::to_string(kResources) + ";"))
      << log_.dump();
  // One resource of a virtual machine agent with two chains.
  add_of(1, 1, days_ago(40), 0xB00, "vm-1", "backup.vmware.vm");
  add_of(2, 2, days_ago(30), 0xB00, "vm-1", "backup.vmware.vm");
  EXPECT_EQ(expired(1, 10), Uuids{u(1)});
  EXPECT_EQ(temporary_rows(conn, {"exclude_incarnation"}), 0);
}

// The retention statements as the catalog first ran them: a keep loop of
// grouped inserts over the whole pool table, then the oldest unprotected
// chain (the uuid breaking ties in both). The library's plan reads
// per-chain summaries instead and must agree with this on any catalog.
class Retention_Reference {
 public:
  Retention_Reference(const database::sql::Connection_Ptr& conn, const std::string& pool,
                      bool mysql)
      : conn_(conn), table_("`" + pool + "`"), mysql_(mysql) {}

  Uuids expired(int keep, int days) {
    Uuids chain;
    EXPECT_TRUE(conn_->execute(std::string("CREATE TEMPORARY TABLE IF NOT EXISTS reference_kept(") +
                               (mysql_ ? "k bigint auto_increment primary key, " : "") +
                               "incarnation binary(16) not null)"));
    for (int i = 0; i < keep; ++i) {
      protect("resource_uuid,minor_resource_id", "agent not like 'backup.%.vm'",
              "a.resource_uuid=t.resource_uuid AND ");
      protect("minor_resource_id", "agent like 'backup.%.vm'", "");
    }
    const std::string d = std::to_string(days);
    std::string oldest = first(
        "SELECT hex(incarnation) h FROM (SELECT incarnation, MAX(backup_time) backup_time FROM " +
        table_ + " WHERE incarnation NOT IN (" + kept() +
        ") AND state & 11 = 1 AND incarnation IS NOT NULL GROUP BY incarnation) `t` WHERE "
        "backup_time < " +
        (mysql_ ? "DATE_ADD(NOW(), interval -" + d + " day)"
                : "DATETIME('NOW', '-" + d + " days')") +
        " ORDER BY backup_time, incarnation LIMIT 1");
    EXPECT_TRUE(conn_->execute(std::string("DELETE FROM reference_kept")));
    if (oldest.empty())
      return chain;
    Value rows;
    SQL members("SELECT lower(hex(uuid)) u FROM " + table_ + " WHERE incarnation = x'" + oldest +
                "'");
    Legacy_Cursor cursor(conn_, members, Legacy_Cursor::ROWS_RAW, 0);
    EXPECT_TRUE(cursor.fetch(rows));
    for (const Value& row : rows)
      chain.push_back(row["u"].get<std::string>());
    std::sort(chain.begin(), chain.end());
    return chain;
  }

 private:
  // MySQL reads a temporary table once per statement: the kept chains go
  // in as literals.
  std::string kept() {
    Value rows;
    SQL list("SELECT hex(incarnation) h FROM reference_kept");
    Legacy_Cursor cursor(conn_, list, Legacy_Cursor::ROWS_RAW, 0);
    EXPECT_TRUE(cursor.fetch(rows));
    std::string literals = "x'00'";
    for (const Value& row : rows)
      literals += ",x'" + row["h"].get<std::string>() + "'";
    return literals;
  }

  void protect(const std::string& group, const std::string& agents, const std::string& on) {
    EXPECT_TRUE(conn_->execute(
        SQL("INSERT INTO reference_kept (incarnation) SELECT t.incarnation FROM " + table_ +
            " t JOIN (SELECT " + group + ",MAX(backup_time) backup_time FROM " + table_ +
            " WHERE state & 11 = 1 AND incarnation IS NOT NULL AND incarnation NOT IN (" + kept() +
            ") AND " + agents + " GROUP BY " + group + ") a ON " + on +
            "COALESCE(a.minor_resource_id, '')=COALESCE(t.minor_resource_id, '') AND "
            "a.backup_time=t.backup_time WHERE t.incarnation IS NOT NULL")));
  }

  std::string first(const std::string& text) {
    Value rows;
    SQL query(text);
    Legacy_Cursor cursor(conn_, query, Legacy_Cursor::ROWS_RAW, 0);
    EXPECT_TRUE(cursor.fetch(rows)) << text;
    return rows.is_array() && !rows.empty() ? rows[0]["h"].get<std::string>() : "";
  }

  database::sql::Connection_Ptr conn_;
  std::string table_;
  bool mysql_;
};

TEST_P(Retention, AgreesWithTheFirstRetentionStatementsOnRandomCatalogs) {
  auto conn = impl_->get_connection();
  const char* minors[] = {nullptr, "", "C:", "c:", "D:"};
  const char* agents[] = {"backupd", "backupd", "backup.vmware.vm", "Backup.HyperV.VM", nullptr};
  const int states[] = {1, 1, 1, 1, 1 | 2, 1 | 8, 1 | 32, 0, 1 | 16};
  const double days[] = {70, 60, 50, 45, 40, 35, 30, 22, 12, 3};
  int next = 1;
  for (unsigned seed = 1; seed <= 10; ++seed) {
    const std::string pool = u(0xA10 + seed);
    add_pool(pool);
    Retention_Reference reference(conn, pool, is_mysql());
    std::mt19937 random(seed);
    auto pick = [&](int n) { return static_cast<int>(random() % n); };
    const int first = next;
    for (int set = 0; set < 40; ++set, ++next) {
      // A few chains per resource, sets of a chain mostly alike; equal
      // times across sets and chains are common.
      int chain = pick(10) < 7 && next > first ? next - 1 - pick(std::min(next - first, 12)) : next;
      Object record = backup_set(u(next), u(chain), days_ago(days[pick(10)] + pick(2) * 0.25), 1);
      record["pool_uuid"] = pool;
      record["resource_uuid"] = u(0xB00 + pick(3));
      record["state"] = states[pick(9)];
      const char* minor = minors[pick(5)];
      const char* agent = agents[pick(5)];
      record["minor_resource_id"] = minor != nullptr ? minor : "";
      record["agent"] = agent != nullptr ? agent : "";
      if (pick(12) == 0)
        record.erase("incarnation");
      ASSERT_TRUE(impl_->add_catalog(pool, record)) << log_.dump();
      // The library writes no NULL resource columns; older catalogs hold
      // them.
      for (const char* column :
           {minor == nullptr ? "minor_resource_id" : "", agent == nullptr ? "agent" : ""}) {
        if (*column == '\0')
          continue;
        ASSERT_TRUE(conn->execute(std::string("UPDATE `") + pool + "` SET " + column +
                                  " = NULL WHERE uuid = x'" + u(next) + "'"));
      }
    }
    // Chains handed out are expired one after the other, as a retention
    // run does, so the whole order of unprotected chains is compared.
    for (int keep = 0; keep <= 3; ++keep) {
      const int retention = (int[]){10, 25, 41}[(seed + keep) % 3];
      std::vector<std::pair<std::string, Value>> changed;
      for (int round = 0; round < 40; ++round) {
        Array rows;
        ASSERT_TRUE(impl_->get_a_expired_set(pool, rows, keep, retention)) << log_.dump();
        Uuids handed = sorted(rows);
        ASSERT_EQ(handed, reference.expired(keep, retention))
            << "seed " << seed << ", keep " << keep << ", round " << round;
        if (handed.empty())
          break;
        for (const Value& row : rows) {
          const std::string uuid = row["uuid"].get<std::string>();
          changed.emplace_back(uuid, row["state"]);
          ASSERT_TRUE(impl_->update_catalog(pool, uuid,
                                            Object{{"state", row["state"].get<long long>() | 8}}));
        }
      }
      for (auto it = changed.rbegin(); it != changed.rend(); ++it)
        ASSERT_TRUE(impl_->update_catalog(pool, it->first, Object{{"state", it->second}}));
    }
  }
}

TEST_P(Retention, DeletableSetsAreWholeExpiredChains) {
  add(1, 1, days_ago(40), 1 | 8);
  add(2, 1, days_ago(39), 1);
  add(3, 1, days_ago(38), 2);  // offline: not handed out
  add(4, 4, days_ago(30), 1 | 8 | 32);
  add(5, 5, days_ago(20), 1 | 8);
  EXPECT_EQ(deletable(false, 0), (Uuids{u(1), u(2)}));
  EXPECT_EQ(deletable(false, 1), Uuids{u(4)});
  EXPECT_EQ(deletable(true, 1), Uuids{u(5)});
  EXPECT_TRUE(deletable(false, 3).empty());

  // Listed sets are deletable when none is online unless expired alone.
  EXPECT_TRUE(impl_->is_deletable(pool_, Array{u(1), u(3), u(4)}));
  EXPECT_FALSE(impl_->is_deletable(pool_, Array{u(1), u(2)}));
  ASSERT_TRUE(impl_->update_catalog(pool_, u(3), Object{{"state", 1 | 2 | 8}}));
  EXPECT_FALSE(impl_->is_deletable(pool_, Array{u(3)}));
  EXPECT_FALSE(impl_->is_deletable(pool_, Array{u(1), "x' OR 1=1 --"}));
  EXPECT_TRUE(log_.contains("is not a uuid"));
}

TEST_P(Retention, PoolSizeCountsUsableAndExpiredBytes) {
  long long total = -1, expired_bytes = -1;
  ASSERT_TRUE(impl_->get_pool_size(pool_, total, false));
  EXPECT_EQ(total, 0);  // an empty pool sums to nothing
  add(1, 1, days_ago(3), 1);
  add(2, 1, days_ago(2), 1 | 8);
  add(3, 1, days_ago(1), 2);
  ASSERT_TRUE(impl_->get_pool_size(pool_, total, false));
  EXPECT_EQ(total, 100);
  ASSERT_TRUE(impl_->get_pool_size(pool_, total, &expired_bytes));
  EXPECT_EQ(total + expired_bytes, 300);
  EXPECT_EQ(expired_bytes, 100);
  EXPECT_FALSE(impl_->get_pool_size(u(0xEEE), total, false));
}

TEST_P(Retention, IncarnationInfoReportsChainsStatesAndRestorability) {
  add(1, 1, "2024-01-01 00:00:00");
  add(2, 1, "2024-01-02 00:00:00", 1 | 2);  // offline
  add(3, 1, "2024-01-03 00:00:00");
  add(4, 4, "2024-01-04 00:00:00", 1 | 16);  // replicated, but no job behind it
  add(5, 5, "2024-01-05 00:00:00", 1 | 16);
  add_relation(1);
  add_job("replicate", 5, "succeeded");
  auto conn = impl_->get_connection();
  Array reports;
  ASSERT_TRUE(impl_->get_incarnation_info(pool_, Array{u(1), u(3), u(4), u(5), u(9)}, reports))
      << log_.dump();
  std::map<std::string, Value> by_uuid;
  for (const Value& report : reports)
    by_uuid[report["uuid"].get<std::string>()] = report;
  ASSERT_EQ(by_uuid.size(), 5u);
  Object first{{"uuid", u(1)},
               {"pool_uuid", pool_},
               {"incarnation", u(1)},
               {"restorable", true},
               {"state", Array{"online"}}};
  EXPECT_EQ(by_uuid[u(1)], first);
  // An offline member before it breaks the chain.
  EXPECT_EQ(by_uuid[u(3)]["restorable"], false);
  EXPECT_EQ(by_uuid[u(4)]["state"], Array{"online"});
  EXPECT_EQ(by_uuid[u(5)]["state"], (Array{"online", "replicated"}));
  EXPECT_EQ(by_uuid[u(5)]["target_pool_uuid"], u(0xA01));
  EXPECT_EQ(by_uuid[u(9)], no_info(pool_, u(9)));
  EXPECT_EQ(temporary_rows(conn), 0);
}

TEST_P(Retention, IncarnationInfoOfUnknownPoolsAndBadRequests) {
  Array reports;
  ASSERT_TRUE(impl_->get_incarnation_info(u(0xEEE), Array{u(1)}, reports));
  EXPECT_EQ(reports, Array{no_info(u(0xEEE), u(1))});
  reports.clear();
  auto conn = impl_->get_connection();
  EXPECT_FALSE(impl_->get_incarnation_info(pool_, Array{u(1), 7}, reports));
  EXPECT_TRUE(log_.has("Failed to get incarnation info: ''7' is not a uuid'"));
  // A statement failing half-way still leaves the temporary tables empty.
  add(1, 1, "2024-01-01 00:00:00");
  ASSERT_TRUE(conn->execute("DROP TABLE `" + pool_ + "`"));
  EXPECT_FALSE(impl_->get_incarnation_info(pool_, Array{u(1)}, reports));
  EXPECT_EQ(temporary_rows(conn), 0);
  EXPECT_TRUE(reports.empty());
}

TEST_P(Retention, IncarnationInfoAnswersALongRequestInTheOrderAsked) {
  // More sets than one statement asks for, replicated ones on both sides
  // of the chunk boundary; set 1 has jobs to two targets, set 1029 none.
  const int kSets = 1030;
  std::vector<int> replicated{1, 500, 1023, 1024, 1025, 1029};
  for (int k = 1; k <= kSets; ++k) {
    bool copied = std::find(replicated.begin(), replicated.end(), k) != replicated.end();
    add(k, k, "2024-01-01 00:00:00", copied ? 1 | 16 : 1);
  }
  add_relation(1);
  add_relation(2);
  add_job("replicate", 1, "succeeded", u(0xA02));
  for (int k : replicated) {
    if (k != 1029)
      add_job("replicate", k, "succeeded");
  }
  // Newest first, an unknown set among them, one set twice and one in
  // capitals.
  Array asked;
  for (int k = kSets; k >= 1; --k) {
    asked.push_back(u(k));
    if (k == 700)
      asked.push_back(u(0xEEEE));
  }
  asked.push_back(u(1024));
  for (Value& uuid : asked) {
    if (uuid == u(0x1AB))
      uuid =
          "00000000000000000000000000000"
          "1AB";
  }
  Array reports;
  ASSERT_TRUE(impl_->get_incarnation_info(pool_, asked, reports)) << log_.dump();
  ASSERT_EQ(reports.size(), asked.size());
  // The held sets in the order asked, then the unknown one.
  std::vector<std::string> expected;
  for (const Value& uuid : asked) {
    std::string lower = uuid.get<std::string>();
    std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
    if (lower != u(0xEEEE))
      expected.push_back(lower);
  }
  expected.push_back(u(0xEEEE));
  EXPECT_EQ(uuids(reports), expected);
  EXPECT_EQ(reports.back(), no_info(pool_, u(0xEEEE)));
  std::map<std::string, Value> by_uuid;
  for (const Value& report : reports)
    by_uuid[report["uuid"].get<std::string>()] = report;
  Object plain{{"uuid", u(2)},
               {"pool_uuid", pool_},
               {"incarnation", u(2)},
               {"restorable", true},
               {"state", Array{"online"}}};
  EXPECT_EQ(by_uuid[u(2)], plain);
  for (int k : replicated) {
    const Value& report = by_uuid[u(k)];
    if (k == 1029) {
      EXPECT_EQ(report["state"], Array{"online"});
      EXPECT_FALSE(report.contains("target_pool_uuid"));
      continue;
    }
    EXPECT_EQ(report["state"], (Array{"online", "replicated"})) << k;
    EXPECT_EQ(report["target_pool_uuid"], u(0xA01)) << k;
  }
  EXPECT_EQ(temporary_rows(impl_->get_connection()), 0);
}

TEST_P(Retention, ChainMembersUpToASetOrWholeChain) {
  add(1, 1, "2024-01-01 00:00:00");
  add(2, 1, "2024-01-02 00:00:00");
  add(3, 1, "2024-01-03 00:00:00");
  add(4, 4, "2024-01-02 12:00:00");
  Array rows;
  ASSERT_TRUE(impl_->get_catalogs_with_incarnation(pool_, u(2), u(1), rows, false));
  EXPECT_EQ(sorted(rows), (Uuids{u(1), u(2)}));
  ASSERT_TRUE(impl_->get_catalogs_with_incarnation(pool_, u(2), u(1), rows, true));
  EXPECT_EQ(sorted(rows), (Uuids{u(1), u(2), u(3)}));
}

TEST_P(Retention, UpdateIncarnationStartsANewChainWithTheLaterMembers) {
  struct Case {
    bool start_gone;
    int moved;
    std::vector<int> chains;  // of sets 2 to 4 afterwards
    const char* moved_type;   // backup type of the moved set afterwards
  } cases[] = {
      // The new chain's first set takes the old chain's backup type.
      {false, 3, {1, 3, 3}, "full"},
      // No first set to take a type from: the set keeps its own.
      {true, 3, {1, 3, 3}, "incremental"},
      // A set the pool lacks moves nothing.
      {false, 9, {1, 1, 1}, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.moved);
    for (int i = 1; i <= 4; ++i)
      add(i, 1, "2024-01-0" + std::to_string(i) + " 00:00:00");
    if (c.start_gone) {
      ASSERT_TRUE(impl_->remove_catalog(pool_, u(1)));
    }
    ASSERT_TRUE(impl_->update_incarnation(pool_, u(c.moved), u(1))) << log_.dump();
    for (int i = 2; i <= 4; ++i)
      EXPECT_EQ(stored_set(u(i))["incarnation"], u(c.chains[i - 2])) << i;
    if (c.moved_type) {
      EXPECT_EQ(stored_set(u(c.moved))["backup_type"], c.moved_type);
    }
    EXPECT_EQ(stored_set(u(4))["backup_type"], "incremental");
  }
}

TEST_P(Retention, UpdateIncarnationChangesNothingWhenAStepFails) {
  add(1, 1, "2024-01-01 00:00:00");
  add(2, 1, "2024-01-02 00:00:00");
  add(3, 1, "2024-01-03 00:00:00");
  // Moving a set to another chain fails, after the type was taken.
  auto conn = impl_->get_connection();
  ASSERT_TRUE(conn->execute(
      std::string("CREATE TABLE refuse_moves (") +
      (is_mysql() ? "id bigint NOT NULL AUTO_INCREMENT PRIMARY KEY" : "id INTEGER PRIMARY KEY") +
      ", n integer NOT NULL);"));
  std::string body =
      "INSERT INTO refuse_moves (n) VALUES (CASE WHEN NEW.incarnation <> OLD.incarnation THEN NULL "
      "ELSE 1 END)";
  ASSERT_TRUE(conn->execute("CREATE TRIGGER refuse_moves_trigger BEFORE UPDATE ON `" + pool_ +
                            "` FOR EACH ROW " + (is_mysql() ? body : "BEGIN " + body + "; END") +
                            ";"));
  EXPECT_FALSE(impl_->update_incarnation(pool_, u(2), u(1)));
  EXPECT_EQ(stored_set(u(2))["backup_type"], "incremental");
  EXPECT_EQ(stored_set(u(2))["incarnation"], u(1));
  EXPECT_EQ(stored_set(u(3))["incarnation"], u(1));
  EXPECT_FALSE(impl_->update_incarnation(u(0xEEE), u(2), u(1)));
}

SCAT_INSTANTIATE_ENGINES(Retention);

}  // namespace
