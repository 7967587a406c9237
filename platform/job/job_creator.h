// Makes the job objects of the job types a module serves. The job manager
// gets one from each module it loads (job_manager.h) and asks it for a job
// whenever it meets a definition of the module's type.
//
// Called from any thread; returned jobs belong to the caller.
#ifndef PLATFORM_JOB_JOB_CREATOR_H_
#define PLATFORM_JOB_JOB_CREATOR_H_

#include "platform/job/job.h"

class Job_Creator {
 public:
  virtual ~Job_Creator() = default;
  // The job for `definition`; empty when the creator does not serve its
  // type or the job cannot be allocated.
  virtual Job_Ptr create_job(const Job_Definition_Ptr& definition) = 0;
};

#endif  // PLATFORM_JOB_JOB_CREATOR_H_
