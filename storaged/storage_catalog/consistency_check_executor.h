// The daily "Backup set consistency" job that every storage host keeps
// registered with the job framework: its options, the executor that
// records each run's activity and events, the creator and parsers the job
// framework loads from this library, and the check that the job exists.
//
// An executor belongs to its job and runs on the job's thread; creators
// and parsers hold no shared state.
#ifndef STORAGED_STORAGE_CATALOG_CONSISTENCY_CHECK_EXECUTOR_H_
#define STORAGED_STORAGE_CATALOG_CONSISTENCY_CHECK_EXECUTOR_H_

#include <string>
#include <vector>

#include "platform/job/job.h"
#include "platform/job/job_creator.h"
#include "platform/job/job_parsers.h"
#include "platform/job/object_creator.h"
#include "platform/json/json.h"

// The job's identity in the job framework.
enum { CONSISTENCY_CHECK_JOB_TYPE = 4, CONSISTENCY_CHECK_JOB_SUBTYPE = 31 };
extern const char* const CONSISTENCY_CHECK_JOB_AGENT;  // "storage.catalog.all"
extern const char* const CONSISTENCY_CHECK_JOB_NAME;   // "Backup set consistency"

class Consistency_Check_Job_Options : public Job_Options {
 public:
  Consistency_Check_Job_Options() : channel(1) {}
  // {"channel": <channel>}
  bool generate(yajl_gen gen) const override;

  int channel;
};

class Consistency_Check_Executor {
 public:
  typedef long long (*Clock)();
  typedef bool (*Uuid_Source)(unsigned char out[16]);

  explicit Consistency_Check_Executor(Job& job) : job_(job) {}

  // One run: records the start, then the completion, or the cancellation
  // when one was requested meanwhile. 0 when the ending event was queued;
  // -1 (logged) without a definition or when an event cannot be queued.
  int run();
  // Hooks of further job operations; the job has nothing to do there.
  int prepare() { return 0; }
  int finalize() { return 0; }

  const std::string& activity_id() const { return activity_id_; }

  // The seconds-since-the-epoch clock of every executor; null restores the
  // system clock.
  static void set_clock(Clock clock);
  // Where every executor's activity uuids come from; null restores the
  // runtime's generator.
  static void set_uuid_source(Uuid_Source source);

 private:
  // False (logged) when no activity uuid can be made or the start event
  // cannot be queued; the start time is set either way.
  bool start();
  // Moves the activity state to `state` unless it holds 19 or `kept`.
  void set_state_unless(int state, int kept);
  // Sets the final state (unless it is 19), logs the cost and emits the
  // ending event of `type`. `code` and `message` go with a failure.
  bool end(int type, int code = 0, const char* message = nullptr);
  bool emit(int type, const Object& parameters);

  Job& job_;
  std::string activity_id_;  // uuid text of the current run
};

class Storage_Catalog_Job_Creator : public Job_Creator {
 public:
  // A controllable consistency check job for a definition of type 4 and
  // subtype 31; empty for any other definition, and with errno ENOMEM when
  // the job cannot be allocated.
  Job_Ptr create_job(const Job_Definition_Ptr& definition) override;
};

// Reads {"channel": <integer>}. Status 3 for integers out of place, a
// "channel" member holding a container, or unbalanced maps.
class Consistency_Check_Job_Options_Parser : public Job_Options_Handler {
 public:
  Consistency_Check_Job_Options_Parser();
  Job_Options_Ptr options() const override { return options_; }
  const Consistency_Check_Job_Options* channel_options() const { return typed_; }

  int on_integer(const char* text, std::size_t length) override;
  int on_double(const char* text, std::size_t length) override;
  int on_null() override;
  int on_boolean(bool value) override;
  int on_string(const unsigned char* text, std::size_t length) override;
  int on_start_map() override;
  int on_map_key(const unsigned char* key, std::size_t length) override;
  int on_end_map() override;
  int on_start_array() override;
  int on_end_array() override;

 private:
  struct Frame {
    bool is_map;
    bool channel_next;  // the next value of this map is the channel
  };
  int fail();
  int value_seen();
  int open(bool is_map);

  Consistency_Check_Job_Options* typed_;  // owned by options_
  Job_Options_Ptr options_;
  std::vector<Frame> frames_;
};

// Reads {"id": <text>, "name": <text>}; other members are ignored.
class Consistency_Check_Job_Source_Parser : public Job_Source_Handler {
 public:
  Consistency_Check_Job_Source_Parser();
  Job_Source_Ptr source() const override { return source_; }

  int on_string(const unsigned char* text, std::size_t length) override;
  int on_integer(const char* text, std::size_t length) override;
  int on_double(const char* text, std::size_t length) override;
  int on_null() override;
  int on_boolean(bool value) override;
  int on_start_map() override;
  int on_map_key(const unsigned char* key, std::size_t length) override;
  int on_end_map() override;
  int on_start_array() override;
  int on_end_array() override;

 private:
  enum Key { KEY_NONE = 0, KEY_ID = 1, KEY_NAME = 2 };
  struct Frame {
    bool is_map;
    int pending;  // Key of the member whose value comes next
  };
  int fail();
  int value_seen();

  Job_Source_Ptr source_;
  std::vector<Frame> frames_;
};

// Makes sure this host has the consistency check job: nothing to do on the
// backup daemon's host or on an agent (true); true when the job framework
// already knows a type 4/subtype 31 job of agent "storage.catalog.all";
// else the result of add_consistency_check_job.
bool check_consistency_check_job(bool on_backupd, bool on_agent);
// Submits a new daily definition (12:00, channel 1) for this host. False
// when it cannot be allocated (errno ENOMEM) or the job framework refuses.
bool add_consistency_check_job();

// Factories the job framework finds by name, in the ACE factory shape.
extern "C" {
Job_Creator* _make_Storage_Catalog_Job_Creator(Object_Exterminator* exterminator);
Object_Creator_T<YAJL_Handler>* _make_Consistency_Check_Job_Options_Parser_Creator(
    Object_Exterminator* exterminator);
Object_Creator_T<YAJL_Handler>* _make_Consistency_Check_Job_Source_Parser_Creator(
    Object_Exterminator* exterminator);
}

#endif  // STORAGED_STORAGE_CATALOG_CONSISTENCY_CHECK_EXECUTOR_H_
