// The host's persistent named queues (libmodqueue): modules put messages
// on a queue by name and other modules, possibly in a later process, take
// them off in the order they were put.
//
// Each queue is an SQLite file "<name>.queue" in the queue folder; a
// message is committed to disk before enqueue returns, so it survives a
// crash or restart of the process. Safe for concurrent use from any thread,
// and from several processes sharing the folder. The singleton lives for
// the whole process.
#ifndef PLATFORM_QUEUE_QUEUE_MANAGER_H_
#define PLATFORM_QUEUE_QUEUE_MANAGER_H_

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include <ace/Time_Value.h>

class Queue_Manager {
 public:
  static Queue_Manager* instance();

  // Where the queue files live: environment STORAGED_QUEUE_DIR, else
  // "/var/lib/storaged/queue". The folder is created when first needed.
  std::string directory();
  // Moves to another folder (tests, a daemon's own configuration); queues
  // open in the old folder are closed.
  void set_directory(const std::string& dir);

  // Appends `length` bytes of `data` to the queue `name`, creating the
  // queue when missing. `timeout` bounds the wait for another writer's
  // lock; null waits as long as it takes. Returns 0 once the message is on
  // disk, -1 (logged) when the name is not a queue name (letters, digits,
  // '_', '-', '.'; not starting with '.'), the file cannot be written or
  // the wait ran out.
  int enqueue(const std::string& name, const void* data, std::size_t length,
              const ACE_Time_Value* timeout = nullptr);

  // Takes the oldest message of `name` into `data`. Waits up to `wait` for
  // one to arrive when the queue is empty (null: no wait). Returns 1 when a
  // message was taken, 0 when the queue stayed empty, -1 (logged) on
  // failure; `data` changes only when a message was taken.
  int dequeue(const std::string& name, std::string& data, const ACE_Time_Value* wait = nullptr);

  // Messages waiting on `name`; -1 (logged) on failure.
  long long size(const std::string& name);

  // Closes every open queue file; queues reopen when next used.
  void close_all();

  class Queue;

 private:
  Queue_Manager();
  ~Queue_Manager();

  std::shared_ptr<Queue> get(const std::string& name);

  std::mutex lock_;
  std::string dir_;                                     // guarded by lock_
  std::map<std::string, std::shared_ptr<Queue>> open_;  // guarded by lock_
};

#endif  // PLATFORM_QUEUE_QUEUE_MANAGER_H_
