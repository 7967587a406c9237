// The job framework's registry: every submitted job definition, kept on
// disk so a restarted host still knows it, and the job object made for
// each. Modules that serve a job type are loaded by library and factory
// names; their creators make the jobs and their parsers read the stored
// options and sources back.
//
// One process-wide instance, safe for concurrent use. Definitions live in
// one JSON file each, "<id>.json", in the jobs folder: configure() (for the
// next instance), else the environment's STORAGED_JOB_DIR, else
// "/var/lib/storaged/jobs". This stand-in schedules nothing: callers start
// jobs themselves.
#ifndef PLATFORM_JOB_JOB_MANAGER_H_
#define PLATFORM_JOB_JOB_MANAGER_H_

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/job/job.h"
#include "platform/job/job_definition.h"

// Where a job type's code lives.
struct Job_Module {
  int type = 0;
  int subtype = 0;
  std::string library;  // the shared library, as the loader finds it
  // Names of the module's factories; an empty name means the module has
  // no such factory. Each takes a pointer to an exterminator slot.
  std::string job_creator;
  std::string options_parser;
  std::string source_parser;
};

class Job_Manager {
 public:
  static Job_Manager* instance();
  // Forgets the instance (jobs still running keep running); the next
  // instance() reads the jobs folder again, as after a restart.
  static void close_instance();
  // The jobs folder of the next instance; empty for the default.
  static void configure(const std::string& directory);

  const std::string& directory() const { return directory_; }

  // Every known job, in no particular order.
  std::vector<Job_Ptr> jobs();

  // Stores `definition` and adds its job. A definition without a uid gets a
  // new one. `flags` is reserved (0). False, with a logged reason, for a
  // null definition, an id that is not a plain name, an id already known,
  // or a file that cannot be written; nothing is added then.
  bool submit_job(const Job_Definition_Ptr& definition, int flags);

  // Loads a module and reads the definitions of its type again with its
  // parsers and creator. False, with a logged reason, when the library or a
  // named factory cannot be found or a factory returns nothing.
  bool load_module(const Job_Module& module);

  Job_Manager(const Job_Manager&) = delete;
  Job_Manager& operator=(const Job_Manager&) = delete;

 private:
  struct Loaded_Module;

  explicit Job_Manager(const std::string& directory);
  ~Job_Manager();

  // Requires: lock_ held.
  void load_definitions();
  Job_Definition_Ptr read_definition(const std::string& file);
  Job_Ptr make_job(const Job_Definition_Ptr& definition);
  const Loaded_Module* module_of(int type, int subtype) const;

  const std::string directory_;
  std::mutex lock_;
  std::vector<Job_Ptr> jobs_;                            // guarded by lock_
  std::vector<std::unique_ptr<Loaded_Module>> modules_;  // guarded by lock_
};

#endif  // PLATFORM_JOB_JOB_MANAGER_H_
