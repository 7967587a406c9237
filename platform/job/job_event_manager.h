// Events of job runs (start, completion, cancellation, failure) and the
// process-wide queue that carries them from the jobs to whoever reports
// them (the job history in the host; tests here).
//
// Safe for concurrent use: any number of jobs put, any number of readers
// take. The queue owns an event from putq until a reader takes it.
#ifndef PLATFORM_JOB_JOB_EVENT_MANAGER_H_
#define PLATFORM_JOB_JOB_EVENT_MANAGER_H_

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

#include <ace/Time_Value.h>

#include "platform/job/job_definition.h"
#include "platform/json/json.h"

class Job_Activity_Event {
 public:
  // `activity` is the activity's uuid text; `type` a Job_Event_Type;
  // `parameters` the event's own values ("start_time", "finish_time", ...).
  Job_Activity_Event(const Job_Definition_Ptr& definition, const std::string& activity, int state,
                     int type, const Object& parameters);

  const Job_Definition_Ptr& definition() const { return definition_; }
  const std::string& activity() const { return activity_; }
  int state() const { return state_; }
  int type() const { return type_; }
  const Object& parameters() const { return parameters_; }

 private:
  Job_Definition_Ptr definition_;
  std::string activity_;
  int state_;
  int type_;
  Object parameters_;
};

class Job_Event_Manager {
 public:
  static Job_Event_Manager* instance();

  // Queues `event`, taking it over (also on failure, when it is deleted).
  // The queue has no bound, so `timeout` is never reached. Returns the
  // number of queued events, or -1 for a null event.
  int putq(Job_Activity_Event* event, ACE_Time_Value* timeout = nullptr);

  // Takes the oldest event, waiting for one at most `timeout` (relative)
  // when given. -1, `event` untouched, on time-out.
  int getq(std::unique_ptr<Job_Activity_Event>& event, const ACE_Time_Value* timeout = nullptr);

  // Drops every queued event.
  void clear();

 private:
  std::mutex lock_;
  std::condition_variable not_empty_;
  std::deque<std::unique_ptr<Job_Activity_Event>> events_;  // guarded by lock_
};

#endif  // PLATFORM_JOB_JOB_EVENT_MANAGER_H_
