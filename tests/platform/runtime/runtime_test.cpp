// The host runtime stand-ins: the process reactor's timers and recursive
// deletion.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/runtime/rm_rf.h"
#include "platform/runtime/simple_reactor.h"
#include "tests/support/temp_dir.h"

namespace {

class Counting_Handler : public ACE_Event_Handler {
 public:
  int handle_timeout(const ACE_Time_Value&, const void* act) override {
    std::unique_lock<std::mutex> guard(lock_);
    entered_ = true;
    last_act_ = act;
    thread_ = std::this_thread::get_id();
    changed_.notify_all();
    guard.unlock();
    if (linger_)
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
    finished_ = true;
    return 0;
  }

  void wait_entered() {
    std::unique_lock<std::mutex> guard(lock_);
    changed_.wait(guard, [this] { return entered_; });
  }

  std::mutex lock_;
  std::condition_variable changed_;
  bool entered_ = false;
  const void* last_act_ = nullptr;
  std::thread::id thread_;
  bool linger_ = false;
  std::atomic<bool> finished_{false};
};

bool exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

TEST(Process_Reactor, RunsTimersOnItsOwnThread) {
  Counting_Handler handler;
  Simple_Reactor* reactor = Simple_Reactor::instance();
  ASSERT_NE(reactor, nullptr);
  const void* act = reinterpret_cast<const void*>(7);
  ASSERT_GE(reactor->schedule_timer(&handler, act, ACE_Time_Value::zero), 0);
  handler.wait_entered();
  reactor->cancel_timer(&handler);
  EXPECT_EQ(handler.last_act_, act);
  EXPECT_NE(handler.thread_, std::this_thread::get_id());
}

TEST(Process_Reactor, CancelWaitsForACallbackInProgress) {
  Counting_Handler handler;
  handler.linger_ = true;
  Simple_Reactor* reactor = Simple_Reactor::instance();
  ASSERT_GE(reactor->schedule_timer(&handler, nullptr, ACE_Time_Value::zero), 0);
  handler.wait_entered();
  reactor->cancel_timer(&handler);
  // The handler may now go away: its callback has returned.
  EXPECT_TRUE(handler.finished_);
}

TEST(Recursive_Delete, RemovesATreeWithoutFollowingLinks) {
  Temp_Dir dir;
  std::string tree = dir.file("tree");
  ASSERT_EQ(::mkdir(tree.c_str(), 0750), 0);
  ASSERT_EQ(::mkdir((tree + "/sub").c_str(), 0750), 0);
  write_file(tree + "/sub/file", "x");
  write_file(dir.file("outside"), "keep");
  ASSERT_EQ(::symlink(dir.file("outside").c_str(), (tree + "/link").c_str()), 0);

  EXPECT_EQ(rm_rf(tree), 0);
  EXPECT_FALSE(exists(tree));
  EXPECT_EQ(read_file(dir.file("outside")), "keep");
  EXPECT_EQ(rm_rf(tree), 0);
}

}  // namespace
