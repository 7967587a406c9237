// What a job is: its kind, owner, schedule, source and options. The job
// framework keeps every submitted definition on disk (job_manager.h).
//
// A definition is filled in by its creator and then only read; readers on
// several threads share it through Job_Definition_Ptr.
#ifndef PLATFORM_JOB_JOB_DEFINITION_H_
#define PLATFORM_JOB_JOB_DEFINITION_H_

#include <string>

#include <ace/Refcounted_Auto_Ptr.h>
#include <ace/Thread_Mutex.h>
#include <yajl/yajl_gen.h>

// When a job runs.
class Job_Schedule {
 public:
  virtual ~Job_Schedule() = default;
  // The kind's name in the stored definition ("daily").
  virtual const char* kind() const = 0;
};

// Every `interval` days at `start_time` seconds after midnight.
class Job_Daily_Schedule : public Job_Schedule {
 public:
  const char* kind() const override { return "daily"; }
  void interval(int days) { interval_ = days; }
  int interval() const { return interval_; }
  void start_time(int seconds) { start_time_ = seconds; }
  int start_time() const { return start_time_; }

 private:
  int interval_ = 1;
  int start_time_ = 0;
};

// What the job works on: an id and a display name.
class Job_Source {
 public:
  void id(const std::string& id) { id_ = id; }
  const std::string& id() const { return id_; }
  void name(const std::string& name) { name_ = name; }
  const std::string& name() const { return name_; }

 private:
  std::string id_;
  std::string name_;
};

// The options of one job type. Each type writes its own JSON form.
class Job_Options {
 public:
  virtual ~Job_Options() = default;
  // Writes the options as one JSON value. False when the generator
  // refuses.
  virtual bool generate(yajl_gen gen) const = 0;
  // The JSON text of generate(); empty when it fails.
  std::string to_json() const;
};

using Job_Schedule_Ptr = ACE_Refcounted_Auto_Ptr<Job_Schedule, ACE_Thread_Mutex>;
using Job_Source_Ptr = ACE_Refcounted_Auto_Ptr<Job_Source, ACE_Thread_Mutex>;
using Job_Options_Ptr = ACE_Refcounted_Auto_Ptr<Job_Options, ACE_Thread_Mutex>;

class Job_Definition {
 public:
  void type(int v) { type_ = v; }
  int type() const { return type_; }
  void subtype(int v) { subtype_ = v; }
  int subtype() const { return subtype_; }
  void name(const std::string& v) { name_ = v; }
  const std::string& name() const { return name_; }
  // The agent (module) the job belongs to.
  void agent(const std::string& v) { agent_ = v; }
  const std::string& agent() const { return agent_; }
  // Seconds since the epoch.
  void creation_time(long long v) { creation_time_ = v; }
  long long creation_time() const { return creation_time_; }
  // A uuid text naming the definition; also its file name on disk.
  void id(const std::string& v) { id_ = v; }
  const std::string& id() const { return id_; }
  // The host the job runs on.
  void host_id(const std::string& v) { host_id_ = v; }
  const std::string& host_id() const { return host_id_; }
  // Whether the job's runs are written to the job history.
  void history(bool v) { history_ = v; }
  bool history() const { return history_; }
  // A uuid text the job manager gives each submitted definition.
  void uid(const std::string& v) { uid_ = v; }
  const std::string& uid() const { return uid_; }

  void schedule(const Job_Schedule_Ptr& v) { schedule_ = v; }
  const Job_Schedule_Ptr& schedule() const { return schedule_; }
  void source(const Job_Source_Ptr& v) { source_ = v; }
  const Job_Source_Ptr& source() const { return source_; }
  void options(const Job_Options_Ptr& v) { options_ = v; }
  const Job_Options_Ptr& options() const { return options_; }

 private:
  int type_ = 0;
  int subtype_ = 0;
  std::string name_;
  std::string agent_;
  long long creation_time_ = 0;
  std::string id_;
  std::string host_id_;
  bool history_ = true;
  std::string uid_;
  Job_Schedule_Ptr schedule_;
  Job_Source_Ptr source_;
  Job_Options_Ptr options_;
};

using Job_Definition_Ptr = ACE_Refcounted_Auto_Ptr<Job_Definition, ACE_Thread_Mutex>;

#endif  // PLATFORM_JOB_JOB_DEFINITION_H_
