// One run of a job as the job framework records it: the activity record
// (in the host a memory-mapped slot other processes watch) and the states
// and event kinds of a run.
//
// The job's own thread writes the record; other threads only request
// state changes through Job::state_i, so `state` is atomic.
#ifndef PLATFORM_JOB_JOB_ACTIVITY_H_
#define PLATFORM_JOB_JOB_ACTIVITY_H_

#include <atomic>
#include <cstdint>

enum Job_State {
  JOB_STATE_IDLE = 0,
  JOB_STATE_RUNNING = 3,
  JOB_STATE_SUSPENDED = 4,
  JOB_STATE_COMPLETED = 7,
  JOB_STATE_CANCELING = 8,  // cancellation requested, not yet seen by the run
  JOB_STATE_CANCELED = 9,
  JOB_STATE_FAILED = 10,
  JOB_STATE_ABORTED = 19,  // set by the framework; a run never overwrites it
  JOB_STATE_WAITING = 20,
  JOB_STATE_HELD = 23
};

enum Job_Event_Type {
  JOB_EVENT_START = 0,
  JOB_EVENT_COMPLETED = 1,
  JOB_EVENT_CANCELED = 2,
  JOB_EVENT_FAILED = 3
};

struct Job_Activity {
  unsigned char uuid[16] = {};     // this activity
  unsigned char job_id[16] = {};   // the definition's id
  unsigned char job_uid[16] = {};  // the definition's uid
  std::atomic<std::int32_t> state{JOB_STATE_IDLE};
  std::int64_t finish_time = 0;  // seconds since the epoch
  std::int64_t start_time = 0;
  // Progress counters.
  std::int64_t total_bytes = 0;
  std::int64_t processed_bytes = 0;
  std::int64_t transferred_bytes = 0;
  std::int32_t progress = 0;  // percent
  std::int64_t total_files = 0;
  std::int64_t processed_files = 0;
  std::int32_t errors = 0;
  std::int16_t warnings = 0;
  std::int16_t retries = 0;
};

#endif  // PLATFORM_JOB_JOB_ACTIVITY_H_
