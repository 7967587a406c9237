// The host runtime stand-ins: the process reactor's timers and recursive
// deletion.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/runtime/rm_rf.h"
#include "platform/runtime/simple_reactor.h"
#include "tests/support/temp_dir.h"

namespace {

// Records its call, then lingers so that a cancel can overlap it.
struct Lingering_Handler : ACE_Event_Handler {
  int handle_timeout(const ACE_Time_Value&, const void* act) override {
    act_ = act;
    thread_ = std::this_thread::get_id();
    entered_ = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    finished_ = true;
    return 0;
  }
  const void* act_ = nullptr;
  std::thread::id thread_;
  std::atomic<bool> entered_{false};
  std::atomic<bool> finished_{false};
};

TEST(Process_Reactor, RunsTimersOnItsOwnThreadAndCancelWaitsForThem) {
  Lingering_Handler handler;
  Simple_Reactor* reactor = Simple_Reactor::instance();
  const void* act = reinterpret_cast<const void*>(7);
  ASSERT_GE(reactor->schedule_timer(&handler, act, ACE_Time_Value::zero), 0);
  while (!handler.entered_)
    std::this_thread::yield();
  reactor->cancel_timer(&handler);
  // The handler may now go away: its callback has returned.
  EXPECT_TRUE(handler.finished_);
  EXPECT_EQ(handler.act_, act);
  EXPECT_NE(handler.thread_, std::this_thread::get_id());
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
  struct stat st;
  EXPECT_NE(::lstat(tree.c_str(), &st), 0);
  EXPECT_EQ(read_file(dir.file("outside")), "keep");
  EXPECT_EQ(rm_rf(tree), 0);
}

}  // namespace
