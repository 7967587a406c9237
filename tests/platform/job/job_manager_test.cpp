#include "platform/job/job_manager.h"

#include <gtest/gtest.h>

#include "platform/job/job_store.h"
#include "tests/support/log_capture.h"
#include "tests/support/temp_dir.h"

namespace {

class Job_Manager_Test : public ::testing::Test {
 protected:
  void SetUp() override {
    Job_Manager::configure(dir_.path() + "/jobs");
    Job_Manager::close_instance();
  }
  void TearDown() override {
    Job_Manager::close_instance();
    Job_Manager::configure("");
  }

  static Job_Definition_Ptr definition(const std::string& id) {
    Job_Definition_Ptr d(new Job_Definition);
    d->type(2);
    d->subtype(5);
    d->name("nightly");
    d->agent("test.agent");
    d->creation_time(1700000000);
    d->id(id);
    d->host_id("host-1");
    d->history(false);
    auto* schedule = new Job_Daily_Schedule;
    schedule->interval(3);
    schedule->start_time(3600);
    d->schedule(Job_Schedule_Ptr(schedule));
    Job_Source_Ptr source(new Job_Source);
    source->id("src-id");
    source->name("src name");
    d->source(source);
    d->options(Job_Options_Ptr(new job_store::Stored_Job_Options(Object{{"level", 7}})));
    return d;
  }

  Temp_Dir dir_;
  Log_Capture log_;
};

TEST_F(Job_Manager_Test, DefinitionsSurviveARestart) {
  ASSERT_TRUE(Job_Manager::instance()->submit_job(definition("0123abcd"), 0)) << log_.dump();
  std::string uid = Job_Manager::instance()->jobs().at(0)->definition()->uid();
  EXPECT_EQ(uid.size(), 32u);

  Job_Manager::close_instance();
  std::vector<Job_Ptr> jobs = Job_Manager::instance()->jobs();
  ASSERT_EQ(jobs.size(), 1u) << log_.dump();
  // Without the type's module the options come back as they were stored.
  EXPECT_EQ(Value(job_store::to_json(*jobs[0]->definition())), Value::parse(R"({
      "id": "0123abcd", "uid": ")" + uid + R"(", "type": 2, "subtype": 5, "name": "nightly",
      "agent": "test.agent", "creation_time": 1700000000, "host_id": "host-1", "history": false,
      "schedule": {"kind": "daily", "interval": 3, "start_time": 3600},
      "source": {"id": "src-id", "name": "src name"}, "options": {"level": 7}})"));
  // No module serves the type: the job refuses to run.
  EXPECT_EQ(jobs[0]->start(), -1);
  Job_Module module;
  module.type = 2;
  module.library = dir_.path() + "/libnothing.so";
  EXPECT_FALSE(Job_Manager::instance()->load_module(module));
  EXPECT_TRUE(log_.contains("Failed to load job module"));
}

TEST_F(Job_Manager_Test, RefusesDuplicateAndUnsafeIds) {
  ASSERT_TRUE(Job_Manager::instance()->submit_job(definition("a1"), 0));
  EXPECT_FALSE(Job_Manager::instance()->submit_job(definition("a1"), 0));
  EXPECT_TRUE(log_.has("Failed to submit job 'nightly': job id 'a1' exists."));
  EXPECT_FALSE(Job_Manager::instance()->submit_job(definition("../a2"), 0));
  EXPECT_FALSE(Job_Manager::instance()->submit_job(definition(""), 0));
  EXPECT_FALSE(Job_Manager::instance()->submit_job(Job_Definition_Ptr(), 0));
  EXPECT_EQ(Job_Manager::instance()->jobs().size(), 1u);
  EXPECT_EQ(read_file(dir_.path() + "/a2.json"), "");
}

TEST_F(Job_Manager_Test, UnwritableFolderAddsNoJob) {
  write_file(dir_.path() + "/blocker", "a file, not a folder");
  Job_Manager::configure(dir_.path() + "/blocker/jobs");
  Job_Manager::close_instance();
  EXPECT_FALSE(Job_Manager::instance()->submit_job(definition("b1"), 0));
  EXPECT_TRUE(log_.contains("Failed to store job 'nightly'"));
  EXPECT_TRUE(Job_Manager::instance()->jobs().empty());
}

TEST_F(Job_Manager_Test, DamagedFilesAreSkippedWithAReason) {
  ASSERT_TRUE(Job_Manager::instance()->submit_job(definition("good"), 0));
  write_file(dir_.path() + "/jobs/torn.json", "{\"id\": \"torn\", ");
  write_file(dir_.path() + "/jobs/partial.json", "{\"id\": \"partial\"}");
  Job_Manager::close_instance();
  ASSERT_EQ(Job_Manager::instance()->jobs().size(), 1u);
  EXPECT_TRUE(log_.contains("Failed to read job definition '" + dir_.path() + "/jobs/torn.json'"));
  EXPECT_TRUE(log_.contains("partial.json"));
}

}  // namespace
