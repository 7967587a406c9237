// A job the framework can run: its definition, the activity record of its
// current run and the control operations the framework calls.
//
// Jobs are shared through intrusive counts (Job_Ptr); the job's thread
// holds a count while it runs. Control operations may come from any
// thread. A plain Job stands for a definition whose type has no module
// loaded: it refuses every control operation.
#ifndef PLATFORM_JOB_JOB_H_
#define PLATFORM_JOB_JOB_H_

#include <atomic>
#include <condition_variable>
#include <mutex>

#include <ace/Intrusive_Auto_Ptr.h>
#include <ace/OS_NS_Thread.h>

#include "platform/job/job_activity.h"
#include "platform/job/job_definition.h"

class Job {
 public:
  static void intrusive_add_ref(Job* job);
  static void intrusive_remove_ref(Job* job);

  explicit Job(const Job_Definition_Ptr& definition);
  virtual ~Job() = default;

  // Null when the job was made without one.
  Job_Definition* definition() const { return definition_.get(); }
  const Job_Definition_Ptr& definition_ptr() const { return definition_; }
  Job_Activity& activity() { return activity_; }

  int state() const { return activity_.state.load(); }
  // Sets the activity state. Returns 0.
  int state_i(int state);

  // A run is about to start: wait_complete waits for its end.
  void begin_run();
  // Marks the calling thread (or thread `id`) as the one running this job.
  void set_job_thread();
  void set_job_thread(ACE_thread_t id);
  ACE_thread_t job_thread() const;
  // Ends the current run: whoever waits in wait_complete wakes.
  void complete();
  // Waits until complete() ran, at most `timeout` (relative) when given.
  // False on time-out.
  bool wait_complete(const ACE_Time_Value* timeout = nullptr);

  // Control operations, in the framework's order. Each returns 0 on
  // success, -1 when refused or failed.
  virtual int start() { return -1; }
  virtual int cancel() { return -1; }
  virtual int stop() { return -1; }
  virtual int suspend() { return -1; }
  virtual int resume() { return -1; }
  virtual int hold() { return -1; }
  virtual int wait() { return -1; }
  virtual int setup_on_demand() { return -1; }
  // Checks before a run and clean-up after one.
  virtual int prepare() { return -1; }
  virtual int finalize() { return -1; }

  Job(const Job&) = delete;
  Job& operator=(const Job&) = delete;

 private:
  std::atomic<long> refcount_{0};
  Job_Definition_Ptr definition_;
  Job_Activity activity_;

  mutable std::mutex lock_;
  std::condition_variable completed_cond_;
  ACE_thread_t job_thread_;  // guarded by lock_
  bool completed_ = true;    // guarded by lock_; no run is going on
};

using Job_Ptr = ACE_Intrusive_Auto_Ptr<Job>;

#endif  // PLATFORM_JOB_JOB_H_
