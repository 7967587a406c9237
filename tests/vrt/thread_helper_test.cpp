// The worker pool: order of work, urgent work, refusals, stop with and
// without discarding, and what destruction does with queued work.
#include "vrt/thread_helper.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "tests/support/log_capture.h"

namespace {

class Worker_Pool : public ::testing::Test {
 protected:
  // A task that counts its runs; it holds a share of `token_` until freed.
  Thread_Pool_Helper::Task counted() {
    return [this, token = token_] { ++ran_; };
  }
  long unfreed() const { return token_.use_count() - 1; }
  // Blocks its worker until `until` holds.
  template <typename Predicate>
  static Thread_Pool_Helper::Task blocker(Predicate until) {
    return [until] {
      while (!until())
        std::this_thread::yield();
    };
  }

  Log_Capture log_;
  std::atomic<int> ran_{0};
  std::shared_ptr<int> token_ = std::make_shared<int>();
};

TEST_F(Worker_Pool, RunsTasksInOrderAfterUrgentOnes) {
  Thread_Pool_Helper pool(1, "TEST");
  ASSERT_EQ(pool.activate(), 0);
  std::atomic<bool> open{false};
  std::vector<int> order;  // written by the one worker only
  pool.enqueue(blocker([&] { return open.load(); }));
  for (int n = 1; n <= 20; ++n)
    ASSERT_GE(pool.enqueue([&order, n] { order.push_back(n); }), 1);
  pool.enqueue_urgent([&order] { order.push_back(0); });
  open = true;
  EXPECT_EQ(pool.stop(false), 0);
  ASSERT_EQ(order.size(), 21u);
  for (int n = 0; n <= 20; ++n)
    EXPECT_EQ(order[n], n);
}

TEST_F(Worker_Pool, RefusedTasksAreLoggedAndFreed) {
  Thread_Pool_Helper idle(2);
  EXPECT_EQ(idle.enqueue(counted()), -1);
  EXPECT_TRUE(log_.has("No active worker thread!"));

  // A queue without room, and no time allowed to wait for some.
  ACE_Time_Value no_wait = ACE_Time_Value::zero;
  Thread_Pool_Helper pool(1, "TEST", THR_NEW_LWP | THR_JOINABLE | THR_INHERIT_SCHED, 0, &no_wait);
  ASSERT_EQ(pool.activate(), 0);
  pool.msg_queue()->high_water_mark(0);
  EXPECT_LT(pool.enqueue(counted()), 1);
  EXPECT_LT(pool.enqueue_urgent(counted()), 1);
  EXPECT_EQ(log_.count("Failed to schedule task, errno="), 2) << log_.dump();
  EXPECT_FALSE(log_.has_prefix(LM_ERROR, "Failed to schedule task, errno=0,")) << log_.dump();
  EXPECT_EQ(unfreed(), 0);
  EXPECT_EQ(ran_, 0);
}

TEST_F(Worker_Pool, StopEndsEveryWorkerAfterPendingWorkAndAllowsARestart) {
  Thread_Pool_Helper pool(3);
  ASSERT_EQ(pool.activate(), 0);
  pool.enqueue([] { throw std::runtime_error("boom"); });
  for (int n = 0; n < 20; ++n)
    pool.enqueue(counted());
  EXPECT_EQ(pool.stop(false), 0);
  EXPECT_EQ(pool.thr_count(), 0u);
  EXPECT_EQ(ran_, 20);
  EXPECT_TRUE(log_.has("Worker task failed: boom"));
  EXPECT_EQ(pool.enqueue(counted()), -1);

  ASSERT_EQ(pool.activate(), 0);
  pool.enqueue(counted());
  EXPECT_EQ(pool.stop(false), 0);
  EXPECT_EQ(ran_, 21);
}

TEST_F(Worker_Pool, StopWithDiscardDropsPendingWork) {
  Thread_Pool_Helper pool(1);
  ASSERT_EQ(pool.activate(), 0);
  // The worker is held until the five queued tasks have been discarded.
  std::atomic<bool> queued{false};
  pool.enqueue(blocker([&] { return queued && unfreed() == 0; }));
  for (int n = 0; n < 5; ++n)
    pool.enqueue(counted());
  queued = true;
  EXPECT_EQ(pool.stop(true), 0);
  EXPECT_EQ(ran_, 0);
  EXPECT_EQ(pool.thr_count(), 0u);
}

TEST_F(Worker_Pool, DestructionDiscardsQueuedWorkAfterRunningWork) {
  std::atomic<bool> started{false};
  std::atomic<bool> finished{false};
  auto pool = std::make_unique<Thread_Pool_Helper>(1);
  ASSERT_EQ(pool->activate(), 0);
  Thread_Pool_Helper* raw = pool.get();
  // Runs until destruction has begun, then completes. The queue is asked
  // under its own lock: a deactivated queue refuses even a peek.
  pool->enqueue([raw, &started, &finished] {
    started = true;
    for (;;) {
      std::function<void()>* head = nullptr;
      ACE_Time_Value now = ACE_OS::gettimeofday();
      if (raw->msg_queue()->peek_dequeue_head(head, &now) == -1 && errno == ESHUTDOWN)
        break;
      std::this_thread::yield();
    }
    finished = true;
  });
  for (int n = 0; n < 5; ++n)
    pool->enqueue(counted());
  while (!started)
    std::this_thread::yield();
  pool.reset();
  EXPECT_TRUE(finished);
  EXPECT_EQ(ran_, 0);
  EXPECT_EQ(unfreed(), 0);
}

}  // namespace
