// Many daemon threads calling the front at once: every backup set a call
// reported as added, and not as removed, is in the catalog afterwards, and
// nothing else is.
#include "storaged/storage_catalog/storage_catalog_manager.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

#include "tests/support/front_fixture.h"

namespace {

const std::string kPoolA = "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa";
const std::string kPoolB = "bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb";
const std::string kPoolC = "cccccccccccccccccccccccccccccccc";
const std::string kDevice = "dddddddddddddddddddddddddddddddd";
const int kThreads = 8;
const int kSetsPerThread = 30;

std::string set_uuid(int thread, int n) {
  char text[33];
  std::snprintf(text, sizeof text, "%016x%016x", thread + 1, n + 1);
  return text;
}

class Front_Concurrency : public Front_Test {
 protected:
  // Each thread adds sets to the pools in turn, changes and reads some,
  // removes every fifth and lists the pools; `expected` receives, per
  // pool, the sets that must remain.
  void run_mixed(const std::vector<std::string>& pools,
                 std::map<std::string, std::atomic<long long>>& expected) {
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&, t] {
        for (int n = 0; n < kSetsPerThread; ++n) {
          const std::string& pool = pools[(t + n) % pools.size()];
          std::string uuid = set_uuid(t, n);
          if (!front_->add_catalog(pool, catalog_record(uuid, pool)))
            continue;
          ++expected[pool];
          front_->set_state(pool, uuid, CST_OFFLINE);
          Catalog_State state = CST_UNKNOWN;
          front_->get_state(pool, uuid, state);
          Array rows;
          front_->query_catalog(pool, Object(), "id", false, 0, 5, rows, nullptr, false, false);
          Array pools_seen;
          front_->query_pool(Object(), 0, -1, pools_seen, nullptr);
          if (n % 5 == 4 && front_->remove_catalog(pool, uuid))
            --expected[pool];
        }
      });
    }
    for (std::thread& thread : threads)
      thread.join();
  }

  long long catalog_total(const std::string& pool) {
    Array rows;
    long long total = -1;
    EXPECT_TRUE(
        front_->query_catalog(pool, Object(), "id", true, 0, -1, rows, &total, false, false))
        << log_.dump();
    EXPECT_EQ(static_cast<long long>(rows.size()), total);
    return total;
  }
};

class Front_Concurrency_Server : public Front_Concurrency,
                                 public ::testing::WithParamInterface<Engine> {
 protected:
  void SetUp() override {
    Front_Concurrency::SetUp();
    open_server(GetParam());
  }
};

TEST_P(Front_Concurrency_Server, EveryRowIsAccountedFor) {
  ASSERT_TRUE(front_->add_pool(pool_record(kPoolA)));
  ASSERT_TRUE(front_->add_pool(pool_record(kPoolB)));
  std::map<std::string, std::atomic<long long>> expected;
  expected[kPoolA] = 0;
  expected[kPoolB] = 0;
  run_mixed({kPoolA, kPoolB}, expected);

  EXPECT_EQ(expected[kPoolA] + expected[kPoolB], kThreads * kSetsPerThread * 4 / 5);
  EXPECT_EQ(catalog_total(kPoolA), expected[kPoolA]);
  EXPECT_EQ(catalog_total(kPoolB), expected[kPoolB]);
  EXPECT_FALSE(log_.has_prefix(LM_ERROR, "")) << log_.dump();
}

// The expired-set selection and the incarnation lookup share the back-end's
// temporary tables; run from many threads they answer as they do alone.
TEST_P(Front_Concurrency_Server, ChainQueriesAnswerAsTheyDoAlone) {
  ASSERT_TRUE(front_->add_pool(pool_record(kPoolA)));
  Array asked;
  for (int n = 0; n < 6; ++n) {
    Object set = catalog_record(set_uuid(0, n), kPoolA);
    set["backup_time"] = "2020-01-0" + std::to_string(n + 1) + " 00:00:00";
    ASSERT_TRUE(front_->add_catalog(kPoolA, set)) << log_.dump();
    asked.push_back(set_uuid(0, n));
  }
  asked.push_back(set_uuid(1, 0));
  Array requests{Object{{"pool_uuid", kPoolA}, {"catalog_uuids", asked}}};
  Array expired;
  ASSERT_TRUE(front_->get_a_expired_set(kPoolA, expired, 2, 1)) << log_.dump();
  ASSERT_FALSE(expired.empty());
  Value chains;
  ASSERT_TRUE(front_->get_incarnation_info(requests, chains)) << log_.dump();
  ASSERT_EQ(chains.size(), asked.size());

  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int n = 0; n < 10; ++n) {
        if ((t + n) % 2 == 0) {
          Array found;
          if (!front_->get_a_expired_set(kPoolA, found, 2, 1) || found != expired)
            ++wrong;
        } else {
          Value found;
          if (!front_->get_incarnation_info(requests, found) || found != chains)
            ++wrong;
        }
      }
    });
  }
  for (std::thread& thread : threads)
    thread.join();
  EXPECT_EQ(wrong, 0) << log_.dump();
}

SCAT_INSTANTIATE_ENGINES(Front_Concurrency_Server);

// While the others work, one more thread keeps detaching and re-attaching
// pool C, which drops and reopens its catalog under the running calls.
TEST_F(Front_Concurrency, AgentCatalogsSurviveBackEndsComingAndGoing) {
  std::string dir_c = local_dir(kPoolC);
  open_agent({{kPoolA, local_dir(kPoolA)}, {kPoolB, local_dir(kPoolB)}, {kPoolC, dir_c}});
  for (const std::string& pool : {kPoolA, kPoolB, kPoolC})
    ASSERT_TRUE(front_->add_pool(pool_record(pool))) << log_.dump();
  Object attached = device_record(kDevice, kPoolC, dir_c);
  ASSERT_TRUE(front_->add_device(attached));

  std::atomic<bool> done{false};
  std::atomic<int> reattached{0};
  std::thread churn([&] {
    for (int n = 0; !done; ++n) {
      Object device = device_record(set_uuid(100, n), kPoolC, dir_c);
      if (!front_->add_device(device))
        continue;
      ++reattached;
      device["extended_attrs"]["attached_hosts"] = Object();
      front_->update_device(set_uuid(100, n), device);
    }
  });
  std::map<std::string, std::atomic<long long>> expected;
  expected[kPoolA] = 0;
  expected[kPoolB] = 0;
  expected[kPoolC] = 0;
  run_mixed({kPoolA, kPoolB, kPoolC}, expected);
  done = true;
  churn.join();
  if (front_->get_impl(kPoolC, false) == nullptr) {
    ASSERT_TRUE(front_->add_device(device_record(set_uuid(200, 0), kPoolC, dir_c))) << log_.dump();
  }

  EXPECT_GT(reattached.load(), 0);
  EXPECT_EQ(catalog_total(kPoolA), expected[kPoolA]);
  EXPECT_EQ(catalog_total(kPoolB), expected[kPoolB]);
  EXPECT_EQ(catalog_total(kPoolC), expected[kPoolC]);
  EXPECT_GT(expected[kPoolA], 0);
  EXPECT_GT(expected[kPoolB], 0);
}

}  // namespace
