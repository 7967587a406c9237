#include "storaged/storage_catalog/consistency_check_executor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <tuple>

#include <ace/Thread_Manager.h>

#include "platform/job/default_job.h"
#include "platform/job/job_event_manager.h"
#include "platform/job/job_manager.h"
#include "platform/job/job_store.h"
#include "platform/rpc/host_manager.h"
#include "platform/runtime/uuid.h"
#include "tests/support/log_capture.h"
#include "tests/support/temp_dir.h"

namespace {

const char kHostUuid[] = "0123456789abcdef0123456789abcdef";

using Consistency_Job = Controllable_Job_T<Consistency_Check_Executor>;

TEST(Consistency_Check_Options, ChannelIsReadByItsKeyOrALeadingPartOfIt) {
  const int PARSED = YAJL_Handler::PARSED, STOPPED = YAJL_Handler::STOPPED;
  const int OK = YAJL_Handler::OK, ERROR = YAJL_Handler::ERROR;
  struct {
    const char* json;
    int result, status, channel;
  } cases[] = {{"{\"channel\": 5}", PARSED, OK, 5},
               {"{\"chan\": 5, \"other\": \"x\"}", PARSED, OK, 5},
               {"{\"channels\": 5, \"note\": 6}", PARSED, OK, 1},
               {"{\"channel\": {\"a\": 1}}", STOPPED, ERROR, 1},
               {"{\"channel\": [2]}", STOPPED, ERROR, 1},
               {"{\"other\": {\"x\": 1}}", STOPPED, ERROR, 1},
               {"7", STOPPED, ERROR, 1},
               {"{\"channel\": 99999999999}", STOPPED, ERROR, 1},
               {"{\"channel\": ", YAJL_Handler::SYNTAX_ERROR, OK, 1}};
  for (const auto& c : cases) {
    Consistency_Check_Job_Options_Parser parser;
    EXPECT_EQ(parser.parse(c.json), c.result) << c.json;
    EXPECT_EQ(parser.status(), c.status) << c.json;
    EXPECT_EQ(parser.channel_options()->channel, c.channel) << c.json;
  }
}

TEST(Consistency_Check_Source, ReadsIdAndNameByExactKey) {
  Consistency_Check_Job_Source_Parser parser;
  EXPECT_EQ(parser.parse("{\"id\": \"h1\", \"more\": {\"id\": \"inner\"}, \"name\": \"host one\"}"),
            YAJL_Handler::PARSED);
  EXPECT_EQ(parser.source()->id() + "/" + parser.source()->name(), "h1/host one");
  Consistency_Check_Job_Source_Parser prefixed;
  EXPECT_EQ(prefixed.parse("{\"idx\": \"a\", \"i\": \"b\", \"names\": \"c\", \"id\": 4}"),
            YAJL_Handler::PARSED);
  EXPECT_EQ(prefixed.source()->id() + "/" + prefixed.source()->name(), "/");
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
  EXPECT_NE(dynamic_cast<Consistency_Job*>(make(4, 31).get()), nullptr);
  EXPECT_EQ(make(4, 30).get(), nullptr);
  EXPECT_EQ(make(5, 31).get(), nullptr);
  EXPECT_EQ(creator->create_job(Job_Definition_Ptr()).get(), nullptr);
  exterminator(creator);
}

std::atomic<long long> clock_value{1700000000};
std::atomic<int> clock_calls{0};
std::atomic<int> state_on_second_call{-1};
Job* clock_job = nullptr;

// Stands still at clock_value; on its second call (the run reading its
// finish time) it sets the job's state, when told to, as another thread
// would.
long long test_clock() {
  if (++clock_calls == 2 && state_on_second_call >= 0)
    clock_job->state_i(state_on_second_call.load());
  return clock_value;
}

bool failing_uuid_source(unsigned char*) {
  return false;
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
    clock_value = 1700000000;
    state_on_second_call = -1;
    Consistency_Check_Executor::set_clock(&test_clock);
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
    load_module();
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

  // Runs `job` to its end on the test clock, setting `during` (unless
  // negative) while it runs. Returns its start event; `end` gets the last.
  std::unique_ptr<Job_Activity_Event> run(Consistency_Job* job, int during,
                                          std::unique_ptr<Job_Activity_Event>& end) {
    clock_calls = 0;
    state_on_second_call = during;
    clock_job = job;
    EXPECT_EQ(job->start(), 0);
    EXPECT_TRUE(job->wait_complete());
    std::unique_ptr<Job_Activity_Event> start = next_event();
    end = next_event();
    return start;
  }

  Temp_Dir dir_;
  Log_Capture log_;
  Job_Ptr job_;
};

TEST_F(Consistency_Check_Job, StorageHostRegistersTheJobOnceAcrossRestarts) {
  ASSERT_NE(registered_job(), nullptr);
  ASSERT_TRUE(check_consistency_check_job(false, false));
  Job_Manager::close_instance();
  ASSERT_TRUE(check_consistency_check_job(false, false));
  // Read back through this library's creator and parsers.
  Consistency_Job* job = registered_job();
  ASSERT_NE(job, nullptr);
  EXPECT_NE(dynamic_cast<const Consistency_Check_Job_Options*>(job->definition()->options().get()),
            nullptr);
  Value stored(job_store::to_json(*job->definition()));
  EXPECT_TRUE(vrt::is_uuid_hex(stored["id"].get<std::string>()));
  EXPECT_GT(stored["creation_time"], 1600000000);
  for (const char* made_here : {"id", "uid", "creation_time"})
    stored.erase(made_here);
  EXPECT_EQ(stored, Value::parse(R"({"type": 4, "subtype": 31, "name": "Backup set consistency",
      "agent": "storage.catalog.all", "host_id": "0123456789abcdef0123456789abcdef",
      "history": false, "schedule": {"kind": "daily", "interval": 1, "start_time": 43200},
      "source": {"id": "0123456789abcdef0123456789abcdef", "name": "store-1"},
      "options": {"channel": 1}})"));
}

TEST_F(Consistency_Check_Job, BackupDaemonAndAgentHostsRegisterNothing) {
  EXPECT_TRUE(check_consistency_check_job(true, false));
  EXPECT_TRUE(check_consistency_check_job(false, true));
  EXPECT_TRUE(Job_Manager::instance()->jobs().empty());
}

TEST_F(Consistency_Check_Job, RunsRecordTheirEndHonourCancelRequestsAndKeepState19) {
  Consistency_Job* job = registered_job();
  ASSERT_NE(job, nullptr);
  const int RUNNING = JOB_STATE_RUNNING, CANCELING = JOB_STATE_CANCELING,
            ABORTED = JOB_STATE_ABORTED, COMPLETED = JOB_EVENT_COMPLETED;
  struct {
    int before, during, start_state, end_type, end_state;
  } cases[] = {{-1, -1, RUNNING, COMPLETED, JOB_STATE_COMPLETED},
               // cancelled before the run reads the state
               {-1, CANCELING, RUNNING, JOB_EVENT_CANCELED, JOB_STATE_CANCELED},
               {-1, ABORTED, RUNNING, COMPLETED, ABORTED},
               {ABORTED, -1, ABORTED, COMPLETED, ABORTED},
               // a cancel that came before the run started
               {CANCELING, -1, CANCELING, JOB_EVENT_CANCELED, JOB_STATE_CANCELED}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.before) + " " + std::to_string(c.during));
    log_.clear();
    job->state_i(c.before >= 0 ? c.before : JOB_STATE_IDLE);
    std::unique_ptr<Job_Activity_Event> end;
    std::unique_ptr<Job_Activity_Event> start = run(job, c.during, end);
    ASSERT_TRUE(start && end);
    const std::string activity = job->executor().activity_id();
    EXPECT_EQ(
        std::make_tuple(start->type(), start->state(), start->activity(), start->parameters()),
        std::make_tuple(int(JOB_EVENT_START), c.start_state, activity,
                        Object{{"start_time", 1700000000}}));
    EXPECT_EQ(
        std::make_tuple(end->type(), end->state(), end->activity(), end->parameters()),
        std::make_tuple(c.end_type, c.end_state, activity, Object{{"finish_time", 1700000000}}));
    EXPECT_EQ(job->state(), c.end_state);
    EXPECT_TRUE(log_.has("Job 'Backup set consistency' (id " + job->definition()->id() +
                         ", activity id " + activity +
                         (c.end_type == COMPLETED ? ") is completed" : ") canceled") + ", cost 1s"))
        << log_.dump();
  }
  EXPECT_TRUE(log_.has_prefix(LM_DEBUG, "Storage consistency check job running.\n"));
  EXPECT_EQ(vrt::bytes_to_hex(job->activity().uuid, 16), job->executor().activity_id());
  EXPECT_EQ(vrt::bytes_to_hex(job->activity().job_id, 16), job->definition()->id());
  EXPECT_EQ(vrt::bytes_to_hex(job->activity().job_uid, 16), job->definition()->uid());
}

TEST_F(Consistency_Check_Job, FailedStartIsReportedWithItsOwnCost) {
  Consistency_Job* job = registered_job();
  ASSERT_NE(job, nullptr);
  clock_value = 1000000000;
  ASSERT_EQ(job->executor().run(), 0);
  Job_Event_Manager::instance()->clear();

  // Much later, a run that cannot make its activity uuid.
  clock_value = 1700000000;
  Consistency_Check_Executor::set_uuid_source(&failing_uuid_source);
  EXPECT_EQ(job->executor().run(), -1);
  EXPECT_TRUE(log_.has("Failed to generate UUID."));
  EXPECT_TRUE(log_.has("Failed to start storage consistency check job."));
  EXPECT_TRUE(log_.has("Job 'Backup set consistency' (id " + job->definition()->id() +
                       ", activity id ) failed, cost 1s"))
      << log_.dump();
  EXPECT_EQ(job->state(), JOB_STATE_FAILED);
  std::unique_ptr<Job_Activity_Event> end = next_event();
  ASSERT_NE(end, nullptr);
  EXPECT_EQ(std::make_tuple(end->type(), end->state(), end->activity(), Value(end->parameters())),
            std::make_tuple(int(JOB_EVENT_FAILED), int(JOB_STATE_FAILED), std::string(),
                            Value::parse(R"({"code": -1, "message": "Failed to start job.",
                                             "finish_time": 1700000000})")));
  ACE_Time_Value none(0);
  EXPECT_EQ(Job_Event_Manager::instance()->getq(end, &none), -1);

  Consistency_Job orphan{Job_Definition_Ptr()};
  EXPECT_EQ(orphan.executor().run(), -1);
  EXPECT_TRUE(log_.has("Job definition is null."));
  EXPECT_EQ(Job_Event_Manager::instance()->getq(end, &none), -1);
}

}  // namespace
