// Many daemon threads calling the front at once: every backup set a call
// reported as added, and not as removed, is in the catalog afterwards, and
// nothing else is.
#include "storaged/storage_catalog/storage_catalog_manager.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "tests/support/front_fixture.h"

namespace {

const int kThreads = 8;
const int kSetsPerThread = 30;

// Each thread adds sets to the pools in turn, changes and reads them,
// removes every fifth and lists the pools. Per pool, the number of sets
// reported as added and not removed.
std::map<std::string, long long> run_mixed(Storage_Catalog_Manager* front,
                                           const std::vector<std::string>& pools) {
  std::mutex lock;
  std::map<std::string, long long> kept;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int n = 0; n < kSetsPerThread; ++n) {
        const std::string& pool = pools[(t + n) % pools.size()];
        std::string uuid = Front_Test::uuid_of(1000 * (t + 1) + n);
        if (!front->add_catalog(pool, Front_Test::catalog_record(uuid, pool)))
          continue;
        front->set_state(pool, uuid, CST_OFFLINE);
        Catalog_State state = CST_UNKNOWN;
        front->get_state(pool, uuid, state);
        Array rows;
        front->query_catalog(pool, Object(), "id", false, 0, 5, rows, nullptr, false, false);
        front->query_pool(Object(), 0, -1, rows, nullptr);
        bool removed = n % 5 == 4 && front->remove_catalog(pool, uuid);
        std::lock_guard<std::mutex> guard(lock);
        kept[pool] += removed ? 0 : 1;
      }
    });
  }
  for (std::thread& thread : threads)
    thread.join();
  return kept;
}

using Front_Concurrency_Server = Front_Server_Test;

TEST_P(Front_Concurrency_Server, EveryRowIsAccountedFor) {
  ASSERT_TRUE(front_->add_pool(pool_record(kPoolA)));
  ASSERT_TRUE(front_->add_pool(pool_record(kPoolB)));
  std::map<std::string, long long> kept = run_mixed(front_, {kPoolA, kPoolB});
  EXPECT_EQ(kept[kPoolA] + kept[kPoolB], kThreads * kSetsPerThread * 4 / 5);
  EXPECT_EQ(catalog_count(kPoolA), kept[kPoolA]);
  EXPECT_EQ(catalog_count(kPoolB), kept[kPoolB]);
  EXPECT_FALSE(log_.has_prefix(LM_ERROR, "")) << log_.dump();
}

// The expired-set selection and the incarnation lookup share the back-end's
// temporary tables; run from many threads they answer as they do alone.
TEST_P(Front_Concurrency_Server, ChainQueriesAnswerAsTheyDoAlone) {
  ASSERT_TRUE(front_->add_pool(pool_record(kPoolA)));
  Array asked{uuid_of(99)};
  for (int n = 1; n <= 6; ++n) {
    Object set = catalog_record(uuid_of(n), kPoolA);
    set["backup_time"] = "2020-01-0" + std::to_string(n) + " 00:00:00";
    ASSERT_TRUE(front_->add_catalog(kPoolA, set)) << log_.dump();
    asked.push_back(uuid_of(n));
  }
  Array requests{Object{{"pool_uuid", kPoolA}, {"catalog_uuids", asked}}};
  Array expired;
  Value chains;
  ASSERT_TRUE(front_->get_a_expired_set(kPoolA, expired, 2, 1) && !expired.empty());
  ASSERT_TRUE(front_->get_incarnation_info(requests, chains) && chains.size() == asked.size());

  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int n = 0; n < 10; ++n) {
        Array found_set;
        Value found_chains;
        bool same =
            (t + n) % 2 == 0
                ? front_->get_a_expired_set(kPoolA, found_set, 2, 1) && found_set == expired
                : front_->get_incarnation_info(requests, found_chains) && found_chains == chains;
        wrong += same ? 0 : 1;
      }
    });
  }
  for (std::thread& thread : threads)
    thread.join();
  EXPECT_EQ(wrong, 0) << log_.dump();
}

SCAT_INSTANTIATE_ENGINES(Front_Concurrency_Server);

using Front_Concurrency_Agent = Front_Test;

// While the others work, one more thread keeps detaching and re-attaching
// pool C, which drops and reopens its catalog under the running calls.
TEST_F(Front_Concurrency_Agent, CatalogsSurviveBackEndsComingAndGoing) {
  std::string dir_c = local_dir(kPoolC);
  open_agent({{kPoolA, local_dir(kPoolA)}, {kPoolB, local_dir(kPoolB)}, {kPoolC, dir_c}});
  for (const std::string& pool : {kPoolA, kPoolB, kPoolC})
    ASSERT_TRUE(front_->add_pool(pool_record(pool))) << log_.dump();

  std::atomic<bool> done{false};
  std::atomic<int> reattached{0};
  std::thread churn([&] {
    for (int n = 0; !done; ++n) {
      Object device = device_record(uuid_of(n), kPoolC, dir_c);
      if (!front_->add_device(device))
        continue;
      ++reattached;
      device["extended_attrs"]["attached_hosts"] = Object();
      front_->update_device(uuid_of(n), device);
    }
  });
  std::map<std::string, long long> kept = run_mixed(front_, {kPoolA, kPoolB, kPoolC});
  done = true;
  churn.join();
  if (front_->get_impl(kPoolC, false) == nullptr) {
    ASSERT_TRUE(front_->add_device(device_record(uuid_of(-1), kPoolC, dir_c))) << log_.dump();
  }

  EXPECT_GT(reattached.load(), 0);
  EXPECT_GT(kept[kPoolA], 0);
  for (const std::string& pool : {kPoolA, kPoolB, kPoolC})
    EXPECT_EQ(catalog_count(pool), kept[pool]) << pool;
}

}  // namespace
