// Jobs built around an executor, the class a module writes to do a job
// type's work. Default_Job_T owns the executor and forwards the framework's
// checks to it; Controllable_Job_T adds the run on a thread of its own and
// the control operations, which act only through the activity state.
//
// An Executor provides Executor(Job&), int run(), int prepare() and
// int finalize(); run() executes on the job's thread.
#ifndef PLATFORM_JOB_DEFAULT_JOB_H_
#define PLATFORM_JOB_DEFAULT_JOB_H_

#include <cstring>
#include <exception>
#include <future>
#include <memory>
#include <string>

#include <ace/Thread_Manager.h>

#include "platform/job/job.h"
#include "platform/runtime/log.h"
#include "platform/runtime/uuid.h"

template <typename Executor>
class Default_Job_T : public Job {
 public:
  explicit Default_Job_T(const Job_Definition_Ptr& definition)
      : Job(definition), executor_(*this) {}

  int prepare() override { return executor_.prepare(); }

  // The executor's clean-up runs on a short-lived thread of its own, so it
  // never runs on a thread the executor may have left in a state of its
  // own (cancelled, say). -1 when the thread cannot start.
  int finalize() override {
    auto result = std::make_shared<std::promise<int>>();
    std::future<int> done = result->get_future();
    auto* arg = new (std::nothrow) Finalize_Arg{Job_Ptr(this), result};
    if (arg == nullptr) {
      errno = ENOMEM;
      return -1;
    }
    if (ACE_Thread_Manager::instance()->spawn(&Default_Job_T::finalize_thread, arg, THR_DETACHED) ==
        -1) {
      delete arg;
      return -1;
    }
    return done.get();
  }

  Executor& executor() { return executor_; }

 protected:
  Executor executor_;

 private:
  struct Finalize_Arg {
    Job_Ptr job;
    std::shared_ptr<std::promise<int>> result;
  };

  static ACE_THR_FUNC_RETURN finalize_thread(void* p) {
    std::unique_ptr<Finalize_Arg> arg(static_cast<Finalize_Arg*>(p));
    auto* job = static_cast<Default_Job_T*>(arg->job.get());
    int result = -1;
    try {
      result = job->executor_.finalize();
    } catch (const std::exception& e) {
      LOG_ERROR("Job clean-up failed: %s", e.what());
    }
    arg->result->set_value(result);
    return 0;
  }
};

template <typename Executor>
class Controllable_Job_T : public Default_Job_T<Executor> {
 public:
  explicit Controllable_Job_T(const Job_Definition_Ptr& definition)
      : Default_Job_T<Executor>(definition) {}

  // Runs the executor on a new detached thread. -1 when the thread cannot
  // be created.
  int start() override {
    this->begin_run();
    // The thread's own count keeps the job alive until its run ends.
    Job::intrusive_add_ref(this);
    ACE_thread_t id;
    if (ACE_Thread_Manager::instance()->spawn(&Controllable_Job_T::run_thread, this, THR_DETACHED,
                                              &id) == -1) {
      this->complete();
      Job::intrusive_remove_ref(this);
      return -1;
    }
    // Kept at once, so a stop right after the start reaches the thread.
    this->set_job_thread(id);
    return 0;
  }

  int cancel() override { return this->state_i(JOB_STATE_CANCELING); }

  int stop() override {
    this->state_i(JOB_STATE_CANCELING);
    ACE_Thread_Manager::instance()->cancel(this->job_thread());
    return 0;
  }

  int suspend() override { return this->state_i(JOB_STATE_SUSPENDED); }
  int resume() override { return this->state_i(JOB_STATE_RUNNING); }
  int hold() override { return this->state_i(JOB_STATE_HELD); }
  int wait() override { return this->state_i(JOB_STATE_WAITING); }
  int setup_on_demand() override { return -1; }

 private:
  static ACE_THR_FUNC_RETURN run_thread(void* p) {
    Job_Ptr hold(static_cast<Job*>(p), false);  // adopts the count start() took
    auto* job = static_cast<Controllable_Job_T*>(p);
    job->set_job_thread();
    std::string uid;
    if (job->definition() != nullptr && vrt::uuid_hex_to_bytes(job->definition()->uid(), uid))
      std::memcpy(job->activity().job_uid, uid.data(), sizeof job->activity().job_uid);
    try {
      job->executor_.run();
    } catch (const std::exception& e) {
      LOG_ERROR("Job run failed: %s", e.what());
    }
    job->complete();
    return 0;
  }
};

#endif  // PLATFORM_JOB_DEFAULT_JOB_H_
