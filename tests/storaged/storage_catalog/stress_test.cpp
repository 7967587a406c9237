// Sixteen daemon threads mixing every kind of call through the front for a
// bounded time, then the invariants: the catalog holds exactly the sets
// that successful calls added and did not remove, every visible state
// change reached the sync queue in order, no device or usage row outlives
// its pool, and the SQLite file is sound.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <thread>
#include <vector>

#include "platform/queue/queue_manager.h"
#include "storaged/storage_catalog/storage_catalog_utils.h"
#include "tests/support/front_fixture.h"
#include "tests/support/sql_rows.h"
#include "tests/support/sqlite_integrity.h"

namespace {

const int kThreads = 16;
const int kMaxCallsPerThread = 150;
const auto kTimeLimit = std::chrono::seconds(3);
const unsigned kVisible = CST_ONLINE | CST_OFFLINE | CST_EXPIRED;

// What one thread's successful calls promise about its own sets.
struct Ledger {
  std::set<std::string> kept;                               // "pool/uuid"
  std::map<std::string, std::vector<std::string>> notices;  // uuid -> "op:state"
};

class Stress : public Front_Test {
 protected:
  // Runs the threads on `pools`; `churn`, when given, runs beside them.
  Ledger run(const std::vector<std::string>& pools, const std::function<void()>& churn = {}) {
    std::vector<Ledger> ledgers(kThreads);
    std::vector<std::thread> threads;
    const auto deadline = std::chrono::steady_clock::now() + kTimeLimit;
    std::atomic<bool> done{false};
    std::thread churner;
    if (churn)
      churner = std::thread([&] {
        while (!done)
          churn();
      });
    for (int t = 0; t < kThreads; ++t)
      threads.emplace_back([&, t] { work(t, pools, deadline, ledgers[t]); });
    for (std::thread& thread : threads)
      thread.join();
    done = true;
    if (churner.joinable())
      churner.join();
    Ledger all;
    for (Ledger& ledger : ledgers) {
      all.kept.insert(ledger.kept.begin(), ledger.kept.end());
      all.notices.insert(ledger.notices.begin(), ledger.notices.end());
    }
    return all;
  }

  // Each thread works on sets of its own, so it knows what each of its
  // successful calls must have done; its reads touch everybody's.
  void work(int t, const std::vector<std::string>& pools,
            std::chrono::steady_clock::time_point deadline, Ledger& ledger) {
    std::mt19937 random(1000 + t);
    std::vector<std::pair<std::string, std::string>> mine;  // pool, uuid
    std::map<std::string, unsigned> state;
    for (int n = 0; n < kMaxCallsPerThread && std::chrono::steady_clock::now() < deadline; ++n) {
      int action = random() % 10;
      if (mine.empty() || action <= 2) {
        const std::string& pool = pools[random() % pools.size()];
        std::string uuid = uuid_of(0x100000 * (t + 1) + n);
        if (front_->add_catalog(pool, catalog_record(uuid, pool))) {
          mine.emplace_back(pool, uuid);
          state[uuid] = CST_ONLINE;
          ledger.kept.insert(pool + "/" + uuid);
        }
        continue;
      }
      auto& set = mine[random() % mine.size()];
      const std::string& pool = set.first;
      const std::string& uuid = set.second;
      switch (action) {
        case 3:
          front_->update_catalog(pool, uuid, Object{{"name", "n" + std::to_string(n)}});
          break;
        case 4:
        case 5: {
          Catalog_State bits = static_cast<Catalog_State>(1u << (random() % 6));
          bool set_it = random() % 2 == 0;
          if (!(set_it ? front_->set_state(pool, uuid, bits)
                       : front_->unset_state(pool, uuid, bits)))
            break;
          // On an agent the pool's catalog may be detached for a moment.
          Catalog_State now = CST_UNKNOWN;
          int tries = 0;
          while (!front_->get_state(pool, uuid, now) && ++tries < 5000)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
          if (tries == 5000) {
            ADD_FAILURE() << "state of " << uuid << " unreadable";
            break;
          }
          if ((now ^ state[uuid]) & kVisible)
            ledger.notices[uuid].push_back("sync_state:" + std::to_string(now));
          state[uuid] = now;
          break;
        }
        case 6: {
          Array rows;
          front_->query_catalog(pool, Object{{"agent", "backupd"}}, "backup_time", true, 0, 10,
                                rows, nullptr, false, random() % 2 == 0);
          front_->query_pool(Object(), 0, -1, rows, nullptr);
          long long total = 0;
          front_->get_pool_size(pool, total, true);
          break;
        }
        case 7: {
          Array expired;
          front_->get_a_expired_set(pool, expired, 2, 1);
          Array deletable;
          front_->get_a_deletable_set(pool, deletable, true, 1);
          break;
        }
        default:
          if (front_->remove_catalog(pool, uuid)) {
            ledger.kept.erase(pool + "/" + uuid);
            ledger.notices[uuid].push_back("remove_catalog");
            state.erase(uuid);
            set = mine.back();
            mine.pop_back();
          }
      }
    }
  }

  // Every set of `pools` as "pool/uuid".
  std::set<std::string> stored(const std::vector<std::string>& pools) {
    std::set<std::string> found;
    for (const std::string& pool : pools) {
      Array rows;
      EXPECT_TRUE(
          front_->query_catalog(pool, Object(), "id", true, 0, -1, rows, nullptr, false, false))
          << log_.dump();
      for (const Value& row : rows)
        found.insert(pool + "/" + row["uuid"].get<std::string>());
    }
    return found;
  }

  // The sync queue, per set: "op:state" or "op", in the order queued.
  std::map<std::string, std::vector<std::string>> notices() {
    std::map<std::string, std::vector<std::string>> found;
    std::string text;
    while (Queue_Manager::instance()->dequeue("storage_catalog_sync", text) == 1) {
      Value notice;
      EXPECT_TRUE(loads_json(text, notice)) << text;
      EXPECT_EQ(notice["operation"], "SyncBackupSet");
      const Value& params = notice["params"];
      std::string entry = params["op"].get<std::string>();
      if (params.contains("state"))
        entry += ":" + std::to_string(params["state"].get<long long>());
      found[params["uuid"].get<std::string>()].push_back(entry);
    }
    return found;
  }

  void expect_invariants(const std::vector<std::string>& pools, const Ledger& ledger) {
    EXPECT_EQ(stored(pools), ledger.kept);
    auto queued = notices();
    for (const auto& expected : ledger.notices)
      EXPECT_EQ(queued[expected.first], expected.second) << expected.first;
    for (const auto& found : queued)
      EXPECT_TRUE(ledger.notices.count(found.first)) << "unexpected notice for " << found.first;
    expect_no_orphans();
  }

  // Devices and usage rows whose pool is not stored.
  void expect_no_orphans() {
    Array pools, devices;
    ASSERT_TRUE(front_->query_pool(Object(), 0, -1, pools, nullptr));
    ASSERT_TRUE(front_->query_device(Object(), 0, -1, devices, nullptr));
    std::set<std::string> known;
    for (const Value& pool : pools)
      known.insert(pool["uuid"].get<std::string>());
    for (const Value& device : devices)
      EXPECT_TRUE(device["pool_uuid"].is_string() &&
                  known.count(device["pool_uuid"].get<std::string>()))
          << device.dump();
    for (const std::string& pool : known) {
      auto conn = front_->get_connection(pool);
      ASSERT_TRUE(conn);
      EXPECT_TRUE(conn->table_exists(pool)) << pool;
    }
    if (!front_->on_agent()) {
      std::set<std::string> with_usage;
      for (const Value& row : select_rows(
               front_->get_connection(kPoolA),
               "SELECT LOWER(HEX(pool_uuid)) pool_uuid FROM `storage_catalog_pool_usage`")) {
        with_usage.insert(row["pool_uuid"].get<std::string>());
        EXPECT_TRUE(known.count(row["pool_uuid"].get<std::string>())) << row.dump();
      }
      EXPECT_EQ(with_usage, known);
    }
  }

  // A pool registered with one device of its own, then its device dropped
  // and re-added: pools and devices come and go beside the catalog work.
  void churn_pools() {
    std::string pool = uuid_of(0x7000000 + churned_);
    std::string device = uuid_of(0x7100000 + churned_);
    ++churned_;
    Object request = pool_record(pool);
    request["devices"] = Array{Object{{"uuid", device}, {"url", "file:///data/" + pool}}};
    if (!Storage_Catalog_Utils::add_pool_with_devices(request))
      return;
    Object record{{"uuid", device}, {"url", "file:///data/" + pool}, {"pool_uuid", pool}};
    front_->remove_device(device, &record);
    front_->add_device(record);
  }

  int churned_ = 0;
};

class Stress_Server : public Stress, public ::testing::WithParamInterface<Engine> {};

TEST_P(Stress_Server, MixedCallsKeepEveryPromise) {
  open_server(GetParam());
  if (IsSkipped())
    return;
  const std::vector<std::string> pools = {kPoolA, kPoolB, kPoolC};
  for (const std::string& pool : pools)
    ASSERT_TRUE(front_->add_pool(pool_record(pool))) << log_.dump();
  notices();
  Ledger ledger = run(pools, [this] { churn_pools(); });
  expect_invariants(pools, ledger);
  EXPECT_GT(churned_, 0);
  EXPECT_FALSE(ledger.kept.empty());
  if (GetParam() == Engine::SQLITE)
    EXPECT_EQ(sqlite_integrity(dir_.file("shared.db")), "ok");
}

SCAT_INSTANTIATE_ENGINES(Stress_Server);

// An agent whose pool C is detached and re-attached all along: its catalog
// closes and reopens under the running calls.
TEST_F(Stress, AgentPoolsComingAndGoingLoseNothing) {
  std::string dir_c = local_dir(kPoolC);
  open_agent({{kPoolA, local_dir(kPoolA)}, {kPoolB, local_dir(kPoolB)}, {kPoolC, dir_c}});
  const std::vector<std::string> pools = {kPoolA, kPoolB, kPoolC};
  for (const std::string& pool : pools)
    ASSERT_TRUE(front_->add_pool(pool_record(pool))) << log_.dump();
  notices();
  std::atomic<int> reattached{0};
  Ledger ledger = run(pools, [&] {
    Object device = device_record(uuid_of(0x7200000 + reattached), kPoolC, dir_c);
    if (!front_->add_device(device))
      return;
    ++reattached;
    device["extended_attrs"]["attached_hosts"] = Object();
    front_->update_device(device["uuid"].get<std::string>(), device);
  });
  if (front_->get_impl(kPoolC, false) == nullptr)
    ASSERT_TRUE(front_->add_device(device_record(uuid_of(0x73), kPoolC, dir_c))) << log_.dump();
  EXPECT_GT(reattached.load(), 0);
  EXPECT_EQ(stored(pools), ledger.kept);
  auto queued = notices();
  for (const auto& expected : ledger.notices)
    EXPECT_EQ(queued[expected.first], expected.second) << expected.first;
  for (const std::string& pool : pools)
    EXPECT_EQ(sqlite_integrity(dir_.file("LP_" + pool + "/catalog.db")), "ok") << pool;
}

}  // namespace
