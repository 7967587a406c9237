// The parsers a module gives the job manager for its job type's stored
// options and source: YAJL handlers that build the object as they read.
//
// One parser reads one document; the object it built is shared with the
// caller afterwards.
#ifndef PLATFORM_JOB_JOB_PARSERS_H_
#define PLATFORM_JOB_JOB_PARSERS_H_

#include "platform/job/job_definition.h"
#include "platform/job/yajl_handler.h"

class Job_Options_Handler : public YAJL_Handler {
 public:
  // Empty when the parser could not allocate its options.
  virtual Job_Options_Ptr options() const = 0;
};

class Job_Source_Handler : public YAJL_Handler {
 public:
  // Empty when the parser could not allocate its source.
  virtual Job_Source_Ptr source() const = 0;
};

#endif  // PLATFORM_JOB_JOB_PARSERS_H_
