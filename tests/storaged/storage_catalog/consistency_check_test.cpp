#include "storaged/storage_catalog/consistency_check_executor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>

#include <ace/Thread_Manager.h>

#include "platform/job/default_job.h"
#include "platform/job/job_event_manager.h"
#include "platform/job/job_manager.h"
#include "platform/rpc/host_manager.h"
#include "platform/runtime/uuid.h"
#include "tests/support/log_capture.h"
#include "tests/support/temp_dir.h"

namespace {

const char kHostUuid[] = "0123456789abcdef0123456789abcdef";

using Consistency_Job = Controllable_Job_T<Consistency_Check_Executor>;

int parse_options(const std::string& json, int& channel, int& status) {
  Consistency_Check_Job_Options_Parser parser;
  int result = parser.parse(json);
  channel = parser.channel_options()->channel;
  status = parser.status();
  return result;
}

TEST(Consistency_Check_Options, ChannelIsReadByItsKeyOrALeadingPartOfIt) {
  int channel = 0;
  int status = -1;
  EXPECT_EQ(parse_options("{\"channel\": 5}", channel, status), YAJL_Handler::PARSED);
  EXPECT_EQ(channel, 5);
  EXPECT_EQ(parse_options("{\"chan\": 5, \"other\": \"x\"}", channel, status),
            YAJL_Handler::PARSED);
  EXPECT_EQ(channel, 5);
  EXPECT_EQ(parse_options("{\"channels\": 5, \"note\": 6}", channel, status), YAJL_Handler::PARSED);
  EXPECT_EQ(channel, 1);
  EXPECT_EQ(status, YAJL_Handler::OK);
}

TEST(Consistency_Check_Options, MisplacedValuesFailWithStatusThree) {
  int channel = 0;
  int status = 0;
  for (const char* json : {"{\"channel\": {\"a\": 1}}", "{\"channel\": {}}", "{\"channel\": [2]}",
                           "{\"other\": {\"x\": 1}}", "7", "{\"channel\": 99999999999}"}) {
    EXPECT_EQ(parse_options(json, channel, status), YAJL_Handler::STOPPED) << json;
    EXPECT_EQ(status, YAJL_Handler::ERROR) << json;
    EXPECT_EQ(channel, 1) << json;
  }
  EXPECT_EQ(parse_options("{\"channel\": ", channel, status), YAJL_Handler::SYNTAX_ERROR);
}

TEST(Consistency_Check_Options, WriteTheChannelAsJSON) {
  Consistency_Check_Job_Options options;
  EXPECT_EQ(options.channel, 1);
  options.channel = -3;
  EXPECT_EQ(options.to_json(), "{\"channel\":-3}");
}

TEST(Consistency_Check_Source, ReadsIdAndNameByExactKey) {
  Consistency_Check_Job_Source_Parser parser;
  EXPECT_EQ(parser.parse("{\"id\": \"h1\", \"more\": {\"id\": \"inner\"}, \"name\": \"host one\"}"),
            YAJL_Handler::PARSED);
  EXPECT_EQ(parser.source()->id(), "h1");
  EXPECT_EQ(parser.source()->name(), "host one");

  Consistency_Check_Job_Source_Parser prefixed;
  EXPECT_EQ(prefixed.parse("{\"idx\": \"a\", \"i\": \"b\", \"names\": \"c\", \"id\": 4}"),
            YAJL_Handler::PARSED);
  EXPECT_EQ(prefixed.source()->id(), "");
  EXPECT_EQ(prefixed.source()->name(), "");

  Consistency_Check_Job_Source_Parser broken;
  EXPECT_EQ(broken.parse("{\"id\" \"a\"}"), YAJL_Handler::SYNTAX_ERROR);
}

TEST(Consistency_Check_Creator, MakesJobsOfType4Subtype31Only) {
  Object_Exterminator exterminator = nullptr;
  Job_Creator* creator = _make_Storage_Catalog_Job_Creator(&exterminator);
  ASSERT_NE(creator, nullptr);
  ASSERT_NE(exterminator, nullptr);
  auto make = [&](int type, int subtype) {
    Job_Definition_Ptr d(new Job_Definition);
    d->type(type);
    d->subtype(subtype);
    return creator->create_job(d);
  };
  Job_Ptr job = make(4, 31);
  EXPECT_NE(dynamic_cast<Consistency_Job*>(job.get()), nullptr);
  EXPECT_EQ(make(4, 30).get(), nullptr);
  EXPECT_EQ(make(5, 31).get(), nullptr);
  EXPECT_EQ(creator->create_job(Job_Definition_Ptr()).get(), nullptr);
  exterminator(creator);

  for (auto factory : {&_make_Consistency_Check_Job_Options_Parser_Creator,
                       &_make_Consistency_Check_Job_Source_Parser_Creator}) {
    Object_Exterminator destroy = nullptr;
    Object_Creator_T<YAJL_Handler>* parsers = factory(&destroy);
    std::unique_ptr<YAJL_Handler> parser(parsers->create());
    EXPECT_NE(parser, nullptr);
    destroy(parsers);
  }
}

// A storage host with an empty jobs folder; the job framework loads this
// library as the module of the job type.
class Consistency_Check_Job : public ::testing::Test {
 protected:
  void SetUp() override {
    Job_Manager::configure(dir_.path() + "/jobs");
    Job_Manager::close_instance();
    Job_Event_Manager::instance()->clear();
    Host_Manager::instance()->set_role(Host_Manager::ROLE_SERVER);
    Host_Manager::instance()->set_uuid(kHostUuid);
    Host_Manager::instance()->set_name("store-1");
  }
  void TearDown() override {
    ACE_Thread_Manager::instance()->wait();
    Consistency_Check_Executor::set_clock(nullptr);
    Consistency_Check_Executor::set_uuid_source(nullptr);
    Job_Manager::close_instance();
    Job_Manager::configure("");
    Host_Manager::instance()->reset();
  }

  static void load_module() {
    Job_Module module;
    module.type = 4;
    module.subtype = 31;
    module.library = SCAT_LIBRARY_PATH;
    module.job_creator = "_make_Storage_Catalog_Job_Creator";
    module.options_parser = "_make_Consistency_Check_Job_Options_Parser_Creator";
    module.source_parser = "_make_Consistency_Check_Job_Source_Parser_Creator";
    ASSERT_TRUE(Job_Manager::instance()->load_module(module));
  }

  // The registered job, made by this library's creator.
  Consistency_Job* registered_job() {
    EXPECT_TRUE(check_consistency_check_job(false, false)) << log_.dump();
    std::vector<Job_Ptr> jobs = Job_Manager::instance()->jobs();
    EXPECT_EQ(jobs.size(), 1u);
    if (jobs.size() != 1)
      return nullptr;
    job_ = jobs[0];
    return dynamic_cast<Consistency_Job*>(job_.get());
  }

  static std::unique_ptr<Job_Activity_Event> next_event() {
    std::unique_ptr<Job_Activity_Event> event;
    ACE_Time_Value wait(30);
    Job_Event_Manager::instance()->getq(event, &wait);
    return event;
  }

  Temp_Dir dir_;
  Log_Capture log_;
  Job_Ptr job_;
};

TEST_F(Consistency_Check_Job, StorageHostRegistersTheJobOnceAcrossRestarts) {
  load_module();
  ASSERT_TRUE(check_consistency_check_job(false, false)) << log_.dump();
  ASSERT_TRUE(check_consistency_check_job(false, false));
  Job_Manager::close_instance();
  ASSERT_TRUE(check_consistency_check_job(false, false));
  load_module();
  ASSERT_TRUE(check_consistency_check_job(false, false));

  std::vector<Job_Ptr> jobs = Job_Manager::instance()->jobs();
  ASSERT_EQ(jobs.size(), 1u);
  const Job_Definition* d = jobs[0]->definition();
  EXPECT_EQ(d->type(), 4);
  EXPECT_EQ(d->subtype(), 31);
  EXPECT_EQ(d->name(), "Backup set consistency");
  EXPECT_EQ(d->agent(), "storage.catalog.all");
  EXPECT_TRUE(vrt::is_uuid_hex(d->id()));
  EXPECT_EQ(d->host_id(), kHostUuid);
  EXPECT_FALSE(d->history());
  EXPECT_GT(d->creation_time(), 1600000000);
  auto* schedule = dynamic_cast<const Job_Daily_Schedule*>(d->schedule().get());
  ASSERT_NE(schedule, nullptr);
  EXPECT_EQ(schedule->interval(), 1);
  EXPECT_EQ(schedule->start_time(), 43200);
  EXPECT_EQ(d->source()->id(), kHostUuid);
  EXPECT_EQ(d->source()->name(), "store-1");
  // Read back through this library's options parser.
  auto* options = dynamic_cast<const Consistency_Check_Job_Options*>(d->options().get());
  ASSERT_NE(options, nullptr);
  EXPECT_EQ(options->channel, 1);
  EXPECT_NE(dynamic_cast<Consistency_Job*>(jobs[0].get()), nullptr);
}

TEST_F(Consistency_Check_Job, BackupDaemonAndAgentHostsRegisterNothing) {
  EXPECT_TRUE(check_consistency_check_job(true, false));
  EXPECT_TRUE(check_consistency_check_job(false, true));
  EXPECT_TRUE(Job_Manager::instance()->jobs().empty());
}

TEST_F(Consistency_Check_Job, RunRecordsStartAndCompletion) {
  load_module();
  Consistency_Job* job = registered_job();
  ASSERT_NE(job, nullptr);
  ASSERT_EQ(job->start(), 0);
  ASSERT_TRUE(job->wait_complete());

  std::unique_ptr<Job_Activity_Event> start = next_event();
  ASSERT_NE(start, nullptr);
  EXPECT_EQ(start->type(), JOB_EVENT_START);
  EXPECT_EQ(start->state(), JOB_STATE_RUNNING);
  EXPECT_TRUE(start->parameters().count("start_time"));
  std::unique_ptr<Job_Activity_Event> end = next_event();
  ASSERT_NE(end, nullptr);
  EXPECT_EQ(end->type(), JOB_EVENT_COMPLETED);
  EXPECT_EQ(end->state(), JOB_STATE_COMPLETED);
  EXPECT_EQ(end->activity(), start->activity());
  EXPECT_TRUE(end->parameters().count("finish_time"));

  const Job_Definition* d = job->definition();
  const std::string activity = job->executor().activity_id();
  EXPECT_EQ(activity, start->activity());
  EXPECT_EQ(vrt::bytes_to_hex(job->activity().uuid, 16), activity);
  EXPECT_EQ(vrt::bytes_to_hex(job->activity().job_id, 16), d->id());
  EXPECT_EQ(vrt::bytes_to_hex(job->activity().job_uid, 16), d->uid());
  EXPECT_EQ(job->state(), JOB_STATE_COMPLETED);
  EXPECT_TRUE(log_.has_prefix(LM_DEBUG, "Storage consistency check job running.\n"));
  EXPECT_TRUE(log_.has_prefix(LM_INFO, "Job 'Backup set consistency' (id " + d->id() +
                                           ", activity id " + activity + ") is completed, cost "));
}

std::atomic<int> clock_calls{0};
std::atomic<int> state_on_second_call{JOB_STATE_CANCELING};
Job* clock_job = nullptr;

// Always the same second; on its second call (the run reading its finish
// time) it changes the job's state the way another thread would.
long long frozen_clock() {
  if (++clock_calls == 2)
    clock_job->state_i(state_on_second_call.load());
  return 1700000000;
}

TEST_F(Consistency_Check_Job, CancelBeforeTheStateIsReadEndsCanceledWithOneSecondCost) {
  load_module();
  Consistency_Job* job = registered_job();
  ASSERT_NE(job, nullptr);
  clock_calls = 0;
  state_on_second_call = JOB_STATE_CANCELING;
  clock_job = job;
  Consistency_Check_Executor::set_clock(&frozen_clock);
  ASSERT_EQ(job->start(), 0);
  ASSERT_TRUE(job->wait_complete());

  ASSERT_NE(next_event(), nullptr);
  std::unique_ptr<Job_Activity_Event> end = next_event();
  ASSERT_NE(end, nullptr);
  EXPECT_EQ(end->type(), JOB_EVENT_CANCELED);
  EXPECT_EQ(end->state(), JOB_STATE_CANCELED);
  EXPECT_EQ(end->parameters().at("finish_time"), 1700000000);
  const Job_Definition* d = job->definition();
  EXPECT_TRUE(log_.has("Job 'Backup set consistency' (id " + d->id() + ", activity id " +
                       job->executor().activity_id() + ") canceled, cost 1s"))
      << log_.dump();
}

TEST_F(Consistency_Check_Job, AbortedStateIsNeverOverwritten) {
  load_module();
  Consistency_Job* job = registered_job();
  ASSERT_NE(job, nullptr);
  clock_calls = 0;
  state_on_second_call = JOB_STATE_ABORTED;
  clock_job = job;
  Consistency_Check_Executor::set_clock(&frozen_clock);
  ASSERT_EQ(job->start(), 0);
  ASSERT_TRUE(job->wait_complete());
  ASSERT_NE(next_event(), nullptr);
  std::unique_ptr<Job_Activity_Event> end = next_event();
  ASSERT_NE(end, nullptr);
  EXPECT_EQ(end->type(), JOB_EVENT_COMPLETED);
  EXPECT_EQ(end->state(), JOB_STATE_ABORTED);
  EXPECT_EQ(job->state(), JOB_STATE_ABORTED);
}

TEST_F(Consistency_Check_Job, StateSetBeforeTheRunIsKept) {
  load_module();
  Consistency_Job* job = registered_job();
  ASSERT_NE(job, nullptr);

  job->state_i(JOB_STATE_ABORTED);
  ASSERT_EQ(job->start(), 0);
  ASSERT_TRUE(job->wait_complete());
  std::unique_ptr<Job_Activity_Event> start = next_event();
  ASSERT_NE(start, nullptr);
  EXPECT_EQ(start->state(), JOB_STATE_ABORTED);
  std::unique_ptr<Job_Activity_Event> end = next_event();
  ASSERT_NE(end, nullptr);
  EXPECT_EQ(end->state(), JOB_STATE_ABORTED);
  EXPECT_EQ(job->state(), JOB_STATE_ABORTED);

  // A cancel that came before the run started is honoured by the run.
  job->state_i(JOB_STATE_IDLE);
  EXPECT_EQ(job->cancel(), 0);
  ASSERT_EQ(job->start(), 0);
  ASSERT_TRUE(job->wait_complete());
  ASSERT_NE(next_event(), nullptr);
  end = next_event();
  ASSERT_NE(end, nullptr);
  EXPECT_EQ(end->type(), JOB_EVENT_CANCELED);
  EXPECT_EQ(end->state(), JOB_STATE_CANCELED);
  EXPECT_EQ(job->state(), JOB_STATE_CANCELED);
  EXPECT_TRUE(log_.contains(job->executor().activity_id() + ") canceled, cost ")) << log_.dump();
}

std::atomic<long long> clock_value{0};

long long settable_clock() {
  return clock_value.load();
}

bool failing_uuid_source(unsigned char*) {
  return false;
}

TEST_F(Consistency_Check_Job, FailedStartIsReportedWithItsOwnCost) {
  Job_Definition_Ptr d(new Job_Definition);
  d->type(4);
  d->subtype(31);
  d->name("Backup set consistency");
  d->id(uuid_string());
  Consistency_Job job(d);
  Consistency_Check_Executor::set_clock(&settable_clock);
  clock_value = 1000000000;
  ASSERT_EQ(job.executor().run(), 0);
  Job_Event_Manager::instance()->clear();

  // Much later, a run that cannot make its activity uuid.
  clock_value = 1700000000;
  Consistency_Check_Executor::set_uuid_source(&failing_uuid_source);
  EXPECT_EQ(job.executor().run(), -1);
  EXPECT_TRUE(log_.has("Failed to generate UUID."));
  EXPECT_TRUE(log_.has("Failed to start storage consistency check job."));
  EXPECT_TRUE(
      log_.has("Job 'Backup set consistency' (id " + d->id() + ", activity id ) failed, cost 1s"))
      << log_.dump();
  EXPECT_EQ(job.executor().activity_id(), "");
  EXPECT_EQ(job.state(), JOB_STATE_FAILED);
  std::unique_ptr<Job_Activity_Event> end = next_event();
  ASSERT_NE(end, nullptr);
  EXPECT_EQ(end->type(), JOB_EVENT_FAILED);
  EXPECT_EQ(end->state(), JOB_STATE_FAILED);
  EXPECT_EQ(end->activity(), "");
  EXPECT_EQ(end->parameters().at("code"), -1);
  EXPECT_EQ(end->parameters().at("message"), "Failed to start job.");
  EXPECT_EQ(end->parameters().at("finish_time"), 1700000000);
  ACE_Time_Value none(0);
  EXPECT_EQ(Job_Event_Manager::instance()->getq(end, &none), -1);
}

TEST_F(Consistency_Check_Job, ControlOperationsOnlySetTheState) {
  Job_Definition_Ptr d(new Job_Definition);
  d->type(4);
  d->subtype(31);
  Job_Ptr job(new Consistency_Job(d));
  EXPECT_EQ(job->cancel(), 0);
  EXPECT_EQ(job->state(), JOB_STATE_CANCELING);
  EXPECT_EQ(job->suspend(), 0);
  EXPECT_EQ(job->state(), JOB_STATE_SUSPENDED);
  EXPECT_EQ(job->resume(), 0);
  EXPECT_EQ(job->state(), JOB_STATE_RUNNING);
  EXPECT_EQ(job->hold(), 0);
  EXPECT_EQ(job->state(), JOB_STATE_HELD);
  EXPECT_EQ(job->wait(), 0);
  EXPECT_EQ(job->state(), JOB_STATE_WAITING);
  EXPECT_EQ(job->stop(), 0);
  EXPECT_EQ(job->state(), JOB_STATE_CANCELING);
  EXPECT_EQ(job->setup_on_demand(), -1);
  EXPECT_EQ(job->prepare(), 0);
  EXPECT_EQ(job->finalize(), 0);
}

TEST_F(Consistency_Check_Job, RunWithoutDefinitionFails) {
  Consistency_Job job{Job_Definition_Ptr()};
  EXPECT_EQ(job.executor().run(), -1);
  EXPECT_TRUE(log_.has("Job definition is null."));
  ACE_Time_Value none(0);
  std::unique_ptr<Job_Activity_Event> event;
  EXPECT_EQ(Job_Event_Manager::instance()->getq(event, &none), -1);
}

}  // namespace
