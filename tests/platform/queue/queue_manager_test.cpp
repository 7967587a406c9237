#include "platform/queue/queue_manager.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

#include "tests/support/log_capture.h"
#include "tests/support/temp_dir.h"

namespace {

class Queue : public ::testing::Test {
 protected:
  void SetUp() override { queues_->set_directory(dir_.file("queue")); }
  void TearDown() override { queues_->close_all(); }

  int put(const std::string& name, const std::string& text) {
    return queues_->enqueue(name, text.data(), text.size());
  }
  std::string take(const std::string& name) {
    std::string data = "<none>";
    EXPECT_EQ(queues_->dequeue(name, data), 1) << log_.dump();
    return data;
  }

  Temp_Dir dir_;
  Log_Capture log_;
  Queue_Manager* queues_ = Queue_Manager::instance();
};

TEST_F(Queue, HandsMessagesOutOnceInTheOrderTheyCame) {
  const std::string binary("a\0b", 3);
  for (const std::string& text : {std::string("first"), binary, std::string()})
    EXPECT_EQ(put("jobs", text), 0);
  EXPECT_EQ(put("other", "elsewhere"), 0);
  EXPECT_EQ(queues_->size("jobs"), 3);
  EXPECT_EQ(take("jobs"), "first");
  EXPECT_EQ(take("jobs"), binary);
  EXPECT_EQ(take("jobs"), "");
  std::string data = "untouched";
  EXPECT_EQ(queues_->dequeue("jobs", data), 0);
  EXPECT_EQ(data, "untouched");
  EXPECT_EQ(take("other"), "elsewhere");
}

TEST_F(Queue, MessagesOutliveTheProcessThatPutThem) {
  pid_t child = fork();
  ASSERT_NE(child, -1);
  if (child == 0) {
    // A fresh queue name: the child must not use handles it inherited.
    _exit(put("from_child", "written before exit") == 0 ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(take("from_child"), "written before exit");
}

TEST_F(Queue, AWaitingConsumerGetsTheNextMessage) {
  ACE_Time_Value wait(60);
  std::string data;
  std::thread producer([this] { put("later", "arrived"); });
  EXPECT_EQ(queues_->dequeue("later", data, &wait), 1);
  producer.join();
  EXPECT_EQ(data, "arrived");
}

TEST_F(Queue, OddNamesAndFoldersThatCannotBeMadeFailTheEnqueue) {
  for (const char* name : {"", "../escape", "a/b", ".hidden"})
    EXPECT_EQ(put(name, "x"), -1) << name;
  EXPECT_TRUE(log_.has("Invalid queue name '../escape'."));
  std::string data;
  EXPECT_EQ(queues_->dequeue("../escape", data), -1);
  write_file(dir_.file("plain-file"), "x");
  queues_->set_directory(dir_.file("plain-file") + "/queue");
  EXPECT_EQ(put("jobs", "x"), -1);
  EXPECT_TRUE(log_.contains("Failed to create queue folder"));
}

}  // namespace
