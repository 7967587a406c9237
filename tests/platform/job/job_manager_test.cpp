#include "platform/job/job_manager.h"

#include <gtest/gtest.h>

#include "platform/job/job_event_manager.h"
#include "platform/job/yajl_handler.h"
#include "tests/support/log_capture.h"
#include "tests/support/temp_dir.h"

namespace {

class Test_Options : public Job_Options {
 public:
  bool generate(yajl_gen gen) const override {
    const unsigned char key[] = "level";
    return yajl_gen_map_open(gen) == yajl_gen_status_ok &&
           yajl_gen_string(gen, key, 5) == yajl_gen_status_ok &&
           yajl_gen_integer(gen, 7) == yajl_gen_status_ok &&
           yajl_gen_map_close(gen) == yajl_gen_status_ok;
  }
};

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
    d->options(Job_Options_Ptr(new Test_Options));
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
  const Job_Definition* d = jobs[0]->definition();
  EXPECT_EQ(d->id(), "0123abcd");
  EXPECT_EQ(d->uid(), uid);
  EXPECT_EQ(d->type(), 2);
  EXPECT_EQ(d->subtype(), 5);
  EXPECT_EQ(d->name(), "nightly");
  EXPECT_EQ(d->agent(), "test.agent");
  EXPECT_EQ(d->creation_time(), 1700000000);
  EXPECT_EQ(d->host_id(), "host-1");
  EXPECT_FALSE(d->history());
  auto* schedule = dynamic_cast<Job_Daily_Schedule*>(d->schedule().get());
  ASSERT_NE(schedule, nullptr);
  EXPECT_EQ(schedule->interval(), 3);
  EXPECT_EQ(schedule->start_time(), 3600);
  EXPECT_EQ(d->source()->id(), "src-id");
  EXPECT_EQ(d->source()->name(), "src name");
  // Without the type's module the options come back as they were stored.
  EXPECT_EQ(d->options()->to_json(), "{\"level\":7}");
  // No module serves the type: the job refuses to run.
  EXPECT_EQ(jobs[0]->start(), -1);
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

TEST_F(Job_Manager_Test, MissingModuleIsReported) {
  Job_Module module;
  module.type = 2;
  module.library = dir_.path() + "/libnothing.so";
  EXPECT_FALSE(Job_Manager::instance()->load_module(module));
  EXPECT_TRUE(log_.contains("Failed to load job module"));
}

TEST(Job_Events, ComeOutInTheOrderTheyWentIn) {
  Job_Event_Manager* events = Job_Event_Manager::instance();
  events->clear();
  EXPECT_EQ(events->putq(nullptr), -1);
  events->putq(new Job_Activity_Event(Job_Definition_Ptr(), "a", 3, JOB_EVENT_START, Object()));
  events->putq(new Job_Activity_Event(Job_Definition_Ptr(), "a", 7, JOB_EVENT_COMPLETED, Object()));
  std::unique_ptr<Job_Activity_Event> event;
  ASSERT_GE(events->getq(event), 0);
  EXPECT_EQ(event->type(), JOB_EVENT_START);
  ASSERT_GE(events->getq(event), 0);
  EXPECT_EQ(event->type(), JOB_EVENT_COMPLETED);
  ACE_Time_Value none(0);
  EXPECT_EQ(events->getq(event, &none), -1);
}

class Depth_Counter : public YAJL_Handler {
 public:
  int on_start_map() override { return ++depth < 3 ? 1 : (status_ = ERROR, 0); }
  int on_end_map() override { return --depth, 1; }
  int on_integer(const char* text, std::size_t length) override {
    integers.emplace_back(text, length);
    return 1;
  }
  int on_double(const char* text, std::size_t length) override {
    doubles.emplace_back(text, length);
    return 1;
  }
  int depth = 0;
  std::vector<std::string> integers;
  std::vector<std::string> doubles;
};

TEST(YAJL_Handler_Test, TellsSyntaxErrorsFromStoppedParses) {
  Depth_Counter numbers;
  EXPECT_EQ(numbers.parse("{\"a\": 12345678901234567890, \"b\": 1.5, \"c\": -2e3}"),
            YAJL_Handler::PARSED);
  EXPECT_EQ(numbers.integers, std::vector<std::string>{"12345678901234567890"});
  EXPECT_EQ(numbers.doubles, (std::vector<std::string>{"1.5", "-2e3"}));

  Depth_Counter deep;
  EXPECT_EQ(deep.parse("{\"a\": {\"b\": {}}}"), YAJL_Handler::STOPPED);
  EXPECT_EQ(deep.status(), YAJL_Handler::ERROR);

  Depth_Counter broken;
  EXPECT_EQ(broken.parse("{\"a\": "), YAJL_Handler::SYNTAX_ERROR);
  EXPECT_EQ(broken.status(), YAJL_Handler::OK);
  EXPECT_FALSE(broken.error().empty());
  EXPECT_EQ(broken.parse(nullptr, 0), YAJL_Handler::SYNTAX_ERROR);
}

}  // namespace
