// The daily consistency check job: whether this host's job framework has
// it, and registering it the way a storage host does at start-up.
#include <ctime>

#include "platform/job/job_manager.h"
#include "storaged/storage_catalog/consistency_check_executor.h"
#include "tools/scatctl/command.h"
#include "tools/scatctl/options.h"
#include "tools/scatctl/session.h"

namespace scatctl {

namespace {

const char* state_name(int state) {
  switch (state) {
    case JOB_STATE_IDLE:
      return "idle";
    case JOB_STATE_RUNNING:
      return "running";
    case JOB_STATE_SUSPENDED:
      return "suspended";
    case JOB_STATE_COMPLETED:
      return "completed";
    case JOB_STATE_CANCELING:
      return "canceling";
    case JOB_STATE_CANCELED:
      return "canceled";
    case JOB_STATE_FAILED:
      return "failed";
    case JOB_STATE_ABORTED:
      return "aborted";
    case JOB_STATE_WAITING:
      return "waiting";
    case JOB_STATE_HELD:
      return "held";
    default:
      return "unknown";
  }
}

std::string clock_time(int seconds) {
  char text[16];
  std::snprintf(text, sizeof text, "%02d:%02d", seconds / 3600 % 24, seconds / 60 % 60);
  return text;
}

bool is_consistency_job(const Job_Definition* d) {
  return d != nullptr && d->agent() == CONSISTENCY_CHECK_JOB_AGENT &&
         d->type() == CONSISTENCY_CHECK_JOB_TYPE && d->subtype() == CONSISTENCY_CHECK_JOB_SUBTYPE;
}

Object describe(const Job_Ptr& job) {
  const Job_Definition* d = job->definition();
  Object out{{"registered", true},
             {"id", d->id()},
             {"name", d->name()},
             {"agent", d->agent()},
             {"type", d->type()},
             {"subtype", d->subtype()},
             {"host_id", d->host_id()},
             {"creation_time", d->creation_time()},
             {"state", state_name(job->state())}};
  if (const Job_Schedule* schedule = d->schedule().get()) {
    Object when{{"kind", schedule->kind()}};
    if (auto daily = dynamic_cast<const Job_Daily_Schedule*>(schedule)) {
      when["every_days"] = daily->interval();
      when["at"] = clock_time(daily->start_time());
    }
    out["schedule"] = when;
  }
  if (d->options().get() != nullptr) {
    Value options;
    if (loads_json(d->options()->to_json(), options))
      out["options"] = options;
  }
  return out;
}

// The consistency job the job folder holds; an object with "registered"
// false when there is none.
Object consistency_job(const Command_Args& a) {
  if (!a.jobs_dir.empty()) {
    Job_Manager::configure(a.jobs_dir);
    Job_Manager::close_instance();
  }
  Job_Manager* jobs = Job_Manager::instance();
  for (const Job_Ptr& job : jobs->jobs()) {
    if (is_consistency_job(job->definition())) {
      Object out = describe(job);
      out["folder"] = jobs->directory();
      return out;
    }
  }
  return Object{{"registered", false}, {"folder", jobs->directory()}};
}

int run_job_show(Session& session, const Command_Args& a) {
  session.print(consistency_job(a));
  return EXIT_DONE;
}

int run_job_ensure(Session& session, const Command_Args& a) {
  Object before = consistency_job(a);
  session.forget_reason();
  if (!check_consistency_check_job(false, false))
    throw session.failed("cannot register the consistency check job in " +
                         Job_Manager::instance()->directory());
  Object out = consistency_job(Command_Args());
  out["added"] = !before["registered"].get<bool>();
  session.print(out);
  return EXIT_DONE;
}

}  // namespace

void add_job_commands(Command_Table& table) {
  table.push_back({"job", "show", "The daily consistency check job: registered, schedule, state",
                   "  scatctl job show\n  scatctl job show --jobs /var/lib/storaged/jobs\n",
                   Catalog_Use::NONE, opt::jobs_dir, run_job_show});
  table.push_back({"job", "ensure", "Register the consistency check job unless it exists",
                   "  scatctl job ensure --jobs /var/lib/storaged/jobs\n", Catalog_Use::NONE,
                   opt::jobs_dir, run_job_ensure});
}

}  // namespace scatctl
