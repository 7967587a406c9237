#include "platform/job/job.h"

#include <chrono>

void Job::intrusive_add_ref(Job* job) {
  if (job != nullptr)
    job->refcount_.fetch_add(1);
}

void Job::intrusive_remove_ref(Job* job) {
  if (job != nullptr && job->refcount_.fetch_sub(1) == 1)
    delete job;
}

Job::Job(const Job_Definition_Ptr& definition)
    : definition_(definition), job_thread_(ACE_OS::NULL_thread) {}

int Job::state_i(int state) {
  activity_.state.store(state);
  return 0;
}

void Job::begin_run() {
  std::lock_guard<std::mutex> guard(lock_);
  completed_ = false;
}

void Job::set_job_thread() {
  set_job_thread(ACE_OS::thr_self());
}

void Job::set_job_thread(ACE_thread_t id) {
  std::lock_guard<std::mutex> guard(lock_);
  job_thread_ = id;
}

ACE_thread_t Job::job_thread() const {
  std::lock_guard<std::mutex> guard(lock_);
  return job_thread_;
}

void Job::complete() {
  std::lock_guard<std::mutex> guard(lock_);
  completed_ = true;
  completed_cond_.notify_all();
}

bool Job::wait_complete(const ACE_Time_Value* timeout) {
  std::unique_lock<std::mutex> guard(lock_);
  if (timeout == nullptr) {
    completed_cond_.wait(guard, [this] { return completed_; });
    return true;
  }
  return completed_cond_.wait_for(guard, std::chrono::milliseconds(timeout->msec()),
                                  [this] { return completed_; });
}
