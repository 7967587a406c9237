// The consistency check job's runs.
//
// A run moves the activity record from whatever it held to running (3) and
// then to exactly one ending: completed (7), canceled (9) when a cancel
// request (8) arrived before the run read the state, or failed (10) when
// the start could not be recorded. A record the framework marked 19 keeps
// 19. Every run queues a start event (unless the start failed) and one
// ending event whose cost is at least one second.
#include "storaged/storage_catalog/consistency_check_executor.h"

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <new>

#include <ace/OS_NS_time.h>

#include "platform/job/default_job.h"
#include "platform/job/job_event_manager.h"
#include "platform/job/job_manager.h"
#include "platform/rpc/host_manager.h"
#include "platform/runtime/log.h"
#include "platform/runtime/uuid.h"

const char* const CONSISTENCY_CHECK_JOB_AGENT = "storage.catalog.all";
const char* const CONSISTENCY_CHECK_JOB_NAME = "Backup set consistency";

namespace {

long long system_clock() {
  return static_cast<long long>(ACE_OS::time(nullptr));
}

std::atomic<Consistency_Check_Executor::Clock> the_clock{&system_clock};

long long now() {
  return the_clock.load()();
}

std::atomic<Consistency_Check_Executor::Uuid_Source> the_uuid_source{&vrt::uuid_generate};

int ending_state(int type) {
  switch (type) {
    case JOB_EVENT_COMPLETED:
      return JOB_STATE_COMPLETED;
    case JOB_EVENT_CANCELED:
      return JOB_STATE_CANCELED;
    default:
      return JOB_STATE_FAILED;
  }
}

}  // namespace

bool Consistency_Check_Job_Options::generate(yajl_gen gen) const {
  static const char kKey[] = "channel";
  return yajl_gen_map_open(gen) == yajl_gen_status_ok &&
         yajl_gen_string(gen, reinterpret_cast<const unsigned char*>(kKey), sizeof kKey - 1) ==
             yajl_gen_status_ok &&
         yajl_gen_integer(gen, channel) == yajl_gen_status_ok &&
         yajl_gen_map_close(gen) == yajl_gen_status_ok;
}

void Consistency_Check_Executor::set_clock(Clock clock) {
  the_clock.store(clock != nullptr ? clock : &system_clock);
}

void Consistency_Check_Executor::set_uuid_source(Uuid_Source source) {
  the_uuid_source.store(source != nullptr ? source : &vrt::uuid_generate);
}

int Consistency_Check_Executor::run() {
  if (job_.definition() == nullptr) {
    LOG_ERROR("Job definition is null.");
    return -1;
  }
  if (!start()) {
    job_.activity().finish_time = now();
    end(JOB_EVENT_FAILED, -1, "Failed to start job.");
    LOG_ERROR("Failed to start storage consistency check job.");
    return -1;
  }
  LOG_DEBUG("Storage consistency check job running.");
  job_.activity().finish_time = now();
  int type = job_.state() == JOB_STATE_CANCELING ? JOB_EVENT_CANCELED : JOB_EVENT_COMPLETED;
  return end(type) ? 0 : -1;
}

bool Consistency_Check_Executor::start() {
  Job_Activity& activity = job_.activity();
  // Taken before anything can fail, so a failed start reports its own
  // cost and no earlier run's activity.
  activity.start_time = now();
  activity_id_.clear();
  std::memset(activity.uuid, 0, sizeof activity.uuid);
  unsigned char uuid[16];
  if (!the_uuid_source.load()(uuid)) {
    LOG_ERROR("Failed to generate UUID.");
    return false;
  }
  std::memcpy(activity.uuid, uuid, sizeof uuid);
  activity_id_ = vrt::bytes_to_hex(uuid, sizeof uuid);
  std::string definition_id;
  if (vrt::uuid_hex_to_bytes(job_.definition()->id(), definition_id))
    std::memcpy(activity.job_id, definition_id.data(), sizeof activity.job_id);
  else
    std::memset(activity.job_id, 0, sizeof activity.job_id);
  // A cancel request that came before this run is kept for the run to
  // honour; a set state of 19 is never overwritten.
  set_state_unless(JOB_STATE_RUNNING, JOB_STATE_CANCELING);
  activity.total_bytes = activity.processed_bytes = activity.transferred_bytes = 0;
  activity.progress = 0;
  activity.total_files = activity.processed_files = 0;
  activity.errors = 0;
  activity.warnings = activity.retries = 0;
  activity.finish_time = 0;
  return emit(JOB_EVENT_START, Object{{"start_time", activity.start_time}});
}

void Consistency_Check_Executor::set_state_unless(int state, int kept) {
  std::atomic<std::int32_t>& current = job_.activity().state;
  std::int32_t seen = current.load();
  // Control operations write the state from other threads at any moment.
  while (seen != JOB_STATE_ABORTED && seen != kept && !current.compare_exchange_weak(seen, state)) {
  }
}

bool Consistency_Check_Executor::end(int type, int code, const char* message) {
  Job_Activity& activity = job_.activity();
  set_state_unless(ending_state(type), JOB_STATE_ABORTED);
  long long cost = activity.finish_time - activity.start_time;
  if (cost < 1)
    cost = 1;
  const Job_Definition& definition = *job_.definition();
  const char* ending = type == JOB_EVENT_COMPLETED  ? "is completed"
                       : type == JOB_EVENT_CANCELED ? "canceled"
                                                    : "failed";
  LOG_INFO("Job '%s' (id %s, activity id %s) %s, cost %us", definition.name().c_str(),
           definition.id().c_str(), activity_id_.c_str(), ending, static_cast<unsigned>(cost));
  Object parameters{{"finish_time", activity.finish_time}};
  if (type == JOB_EVENT_FAILED) {
    parameters["code"] = code;
    parameters["message"] = message != nullptr ? message : "";
  }
  return emit(type, parameters);
}

bool Consistency_Check_Executor::emit(int type, const Object& parameters) {
  auto* event = new (std::nothrow)
      Job_Activity_Event(job_.definition_ptr(), activity_id_, job_.state(), type, parameters);
  if (event == nullptr) {
    LOG_ERROR("Failed to make start event.");
    return false;
  }
  if (Job_Event_Manager::instance()->putq(event, nullptr) < 0) {
    LOG_ERROR("Failed to queue job event %d.", type);
    return false;
  }
  return true;
}

Job_Ptr Storage_Catalog_Job_Creator::create_job(const Job_Definition_Ptr& definition) {
  if (definition.null() || definition->type() != CONSISTENCY_CHECK_JOB_TYPE ||
      definition->subtype() != CONSISTENCY_CHECK_JOB_SUBTYPE)
    return Job_Ptr();
  Job* job = new (std::nothrow) Controllable_Job_T<Consistency_Check_Executor>(definition);
  if (job == nullptr)
    errno = ENOMEM;
  return Job_Ptr(job);
}

bool check_consistency_check_job(bool on_backupd, bool on_agent) {
  // The job belongs to storage hosts only.
  if (on_backupd || on_agent)
    return true;
  for (const Job_Ptr& job : Job_Manager::instance()->jobs()) {
    const Job_Definition* d = job->definition();
    if (d != nullptr && d->agent() == CONSISTENCY_CHECK_JOB_AGENT &&
        d->type() == CONSISTENCY_CHECK_JOB_TYPE && d->subtype() == CONSISTENCY_CHECK_JOB_SUBTYPE)
      return true;
  }
  return add_consistency_check_job();
}

bool add_consistency_check_job() {
  auto* definition = new (std::nothrow) Job_Definition;
  auto* schedule = new (std::nothrow) Job_Daily_Schedule;
  auto* source = new (std::nothrow) Job_Source;
  auto* options = new (std::nothrow) Consistency_Check_Job_Options;
  // Owned from here on, whichever allocation failed.
  Job_Definition_Ptr definition_ptr(definition);
  Job_Schedule_Ptr schedule_ptr(schedule);
  Job_Source_Ptr source_ptr(source);
  Job_Options_Ptr options_ptr(options);
  if (definition == nullptr || schedule == nullptr || source == nullptr || options == nullptr) {
    errno = ENOMEM;
    return false;
  }
  Host_Manager* host = Host_Manager::instance();
  definition->type(CONSISTENCY_CHECK_JOB_TYPE);
  definition->subtype(CONSISTENCY_CHECK_JOB_SUBTYPE);
  definition->name(CONSISTENCY_CHECK_JOB_NAME);
  definition->agent(CONSISTENCY_CHECK_JOB_AGENT);
  definition->creation_time(static_cast<long long>(ACE_OS::time(nullptr)));
  definition->id(uuid_string());
  definition->host_id(host->uuid());
  definition->history(false);
  schedule->interval(1);
  schedule->start_time(43200);  // noon
  definition->schedule(schedule_ptr);
  source->id(host->uuid());
  source->name(host->name());
  definition->source(source_ptr);
  definition->options(options_ptr);
  return Job_Manager::instance()->submit_job(definition_ptr, 0);
}

namespace {

void destroy_job_creator(void* creator) {
  delete static_cast<Job_Creator*>(creator);
}

void destroy_parser_creator(void* creator) {
  auto* c = static_cast<Object_Creator_T<YAJL_Handler>*>(creator);
  c->release();
  delete c;
}

template <typename Parser>
Object_Creator_T<YAJL_Handler>* make_parser_creator(Object_Exterminator* exterminator) {
  if (exterminator != nullptr)
    *exterminator = &destroy_parser_creator;
  return new (std::nothrow) Object_Creator_Impl_T<YAJL_Handler, Parser>;
}

}  // namespace

extern "C" Job_Creator* _make_Storage_Catalog_Job_Creator(Object_Exterminator* exterminator) {
  if (exterminator != nullptr)
    *exterminator = &destroy_job_creator;
  return new (std::nothrow) Storage_Catalog_Job_Creator;
}

extern "C" Object_Creator_T<YAJL_Handler>* _make_Consistency_Check_Job_Options_Parser_Creator(
    Object_Exterminator* exterminator) {
  return make_parser_creator<Consistency_Check_Job_Options_Parser>(exterminator);
}

extern "C" Object_Creator_T<YAJL_Handler>* _make_Consistency_Check_Job_Source_Parser_Creator(
    Object_Exterminator* exterminator) {
  return make_parser_creator<Consistency_Check_Job_Source_Parser>(exterminator);
}
