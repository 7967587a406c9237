// The worker pool: order of work, urgent work, stop with and without
// discarding, and what destruction does with queued work.
#include "vrt/thread_helper.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "tests/support/log_capture.h"

namespace {

// Counts the tasks freed, run or not.
struct Freed_Counter {
  explicit Freed_Counter(std::atomic<int>& freed) : freed_(freed) {}
  ~Freed_Counter() { ++freed_; }
  std::atomic<int>& freed_;
};

class Worker_Pool : public ::testing::Test {
 protected:
  // A task that records that it ran; freeing it is counted.
  Thread_Pool_Helper::Task counted() {
    auto token = std::make_shared<Freed_Counter>(freed_);
    return [this, token] { ++ran_; };
  }
  // A task that records `n` in `order_`.
  Thread_Pool_Helper::Task record(int n) {
    return [this, n] {
      std::lock_guard<std::mutex> guard(order_lock_);
      order_.push_back(n);
    };
  }
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
  std::atomic<int> freed_{0};
  std::mutex order_lock_;
  std::vector<int> order_;
};

TEST_F(Worker_Pool, RunsQueuedTasksInOrder) {
  Thread_Pool_Helper pool(1, "TEST");
  ASSERT_EQ(pool.activate(), 0);
  for (int n = 0; n < 50; ++n)
    ASSERT_GE(pool.enqueue(record(n)), 1);
  EXPECT_EQ(pool.stop(false), 0);
  ASSERT_EQ(order_.size(), 50u);
  for (int n = 0; n < 50; ++n)
    EXPECT_EQ(order_[n], n);
}

TEST_F(Worker_Pool, UrgentTasksGoFirst) {
  Thread_Pool_Helper pool(1);
  ASSERT_EQ(pool.activate(), 0);
  std::atomic<bool> open{false};
  pool.enqueue(blocker([&] { return open.load(); }));
  pool.enqueue(record(1));
  pool.enqueue(record(2));
  pool.enqueue_urgent(record(0));
  open = true;
  pool.stop(false);
  EXPECT_EQ(order_, (std::vector<int>{0, 1, 2}));
}

TEST_F(Worker_Pool, RefusesWorkWithoutWorkers) {
  Thread_Pool_Helper pool(2);
  EXPECT_EQ(pool.enqueue(counted()), -1);
  EXPECT_TRUE(log_.has("No active worker thread!"));
  EXPECT_EQ(freed_, 1);
  EXPECT_EQ(pool.stop(false), 0);
}

TEST_F(Worker_Pool, ARefusedTaskIsLoggedAndFreed) {
  // A queue without room, and no time allowed to wait for some.
  ACE_Time_Value no_wait = ACE_Time_Value::zero;
  Thread_Pool_Helper pool(1, "TEST", THR_NEW_LWP | THR_JOINABLE | THR_INHERIT_SCHED, 0, &no_wait);
  ASSERT_EQ(pool.activate(), 0);
  pool.msg_queue()->high_water_mark(0);
  EXPECT_LT(pool.enqueue(counted()), 1);
  EXPECT_LT(pool.enqueue_urgent(counted()), 1);
  EXPECT_EQ(log_.count("Failed to schedule task, errno="), 2) << log_.dump();
  EXPECT_TRUE(log_.has_prefix(LM_ERROR, "Failed to schedule task, errno="));
  EXPECT_FALSE(log_.has_prefix(LM_ERROR, "Failed to schedule task, errno=0,")) << log_.dump();
  EXPECT_EQ(freed_, 2);
  EXPECT_EQ(ran_, 0);

  pool.msg_queue()->high_water_mark(1u << 20);
  EXPECT_GE(pool.enqueue(counted()), 1);
  EXPECT_EQ(pool.stop(false), 0);
  EXPECT_EQ(ran_, 1);
}

TEST_F(Worker_Pool, StopEndsEveryWorkerAfterPendingWork) {
  Thread_Pool_Helper pool(3);
  ASSERT_EQ(pool.activate(), 0);
  for (int n = 0; n < 20; ++n)
    pool.enqueue(counted());
  EXPECT_EQ(pool.stop(false), 0);
  EXPECT_EQ(pool.thr_count(), 0u);
  EXPECT_EQ(ran_, 20);
  EXPECT_EQ(freed_, 20);
  EXPECT_EQ(pool.enqueue(counted()), -1);

  // The pool can start again: the stop mark is gone.
  ASSERT_EQ(pool.activate(), 0);
  pool.enqueue(counted());
  EXPECT_EQ(pool.stop(false), 0);
  EXPECT_EQ(ran_, 21);
}

TEST_F(Worker_Pool, StopWithDiscardDropsPendingWork) {
  Thread_Pool_Helper pool(1);
  ASSERT_EQ(pool.activate(), 0);
  // The worker is held until the five queued tasks have been discarded.
  pool.enqueue(blocker([&] { return freed_.load() == 5; }));
  for (int n = 0; n < 5; ++n)
    pool.enqueue(counted());
  EXPECT_EQ(pool.stop(true), 0);
  EXPECT_EQ(ran_, 0);
  EXPECT_EQ(freed_, 5);
  EXPECT_EQ(pool.thr_count(), 0u);
}

TEST_F(Worker_Pool, DestructionDiscardsQueuedWorkAfterRunningWork) {
  std::atomic<bool> started{false};
  std::atomic<bool> finished{false};
  auto pool = std::make_unique<Thread_Pool_Helper>(1);
  ASSERT_EQ(pool->activate(), 0);
  Thread_Pool_Helper* raw = pool.get();
  // Runs until destruction has begun, then completes.
  pool->enqueue([raw, &started, &finished] {
    started = true;
    while (!raw->msg_queue()->deactivated())
      std::this_thread::yield();
    finished = true;
  });
  for (int n = 0; n < 5; ++n)
    pool->enqueue(counted());
  while (!started)
    std::this_thread::yield();
  pool.reset();
  EXPECT_TRUE(finished);
  EXPECT_EQ(ran_, 0);
  EXPECT_EQ(freed_, 5);
}

TEST_F(Worker_Pool, AFailingTaskDoesNotEndItsWorker) {
  Thread_Pool_Helper pool(1);
  ASSERT_EQ(pool.activate(), 0);
  pool.enqueue([] { throw std::runtime_error("boom"); });
  pool.enqueue(counted());
  pool.stop(false);
  EXPECT_TRUE(log_.has("Worker task failed: boom"));
  EXPECT_EQ(ran_, 1);
}

}  // namespace
