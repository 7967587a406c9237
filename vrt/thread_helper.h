// A pool of worker threads running closures from one queue.
//
// Enqueueing is safe from any thread. The pool owns the closures it holds:
// each runs once on some worker and is then freed; closures still queued
// when the pool stops with discard, or is destroyed, are freed unrun.
// Stopping or destroying must not happen on one of the pool's own workers.
#ifndef VRT_THREAD_HELPER_H_
#define VRT_THREAD_HELPER_H_

#include <cerrno>
#include <exception>
#include <functional>
#include <new>
#include <string>
#include <vector>

#include <ace/OS_NS_errno.h>
#include <ace/OS_NS_sys_time.h>
#include <ace/Synch_Traits.h>
#include <ace/Task_Ex_T.h>
#include <ace/Thread_Manager.h>
#include <ace/Time_Value.h>

#include "platform/runtime/log.h"

class Thread_Pool_Helper : public ACE_Task_Ex<ACE_MT_SYNCH, std::function<void()>> {
 public:
  using Task = std::function<void()>;

  // Nothing starts until activate(). `timeout`, when given, bounds how long
  // an enqueue may wait for room in the queue.
  explicit Thread_Pool_Helper(int threads = 2, const std::string& name = std::string(),
                              long flags = THR_NEW_LWP | THR_JOINABLE | THR_INHERIT_SCHED,
                              long priority = 0, const ACE_Time_Value* timeout = nullptr)
      : threads_(threads), flags_(flags), priority_(priority), name_(name) {
    if (timeout != nullptr) {
      has_timeout_ = true;
      timeout_ = *timeout;
    }
    // Room is counted in closure objects; callers such as a reactor timer
    // must never block on a full queue.
    msg_queue()->high_water_mark(kQueueRoom);
    msg_queue()->low_water_mark(kQueueRoom);
  }

  // Wakes the workers, waits for them (a closure already running finishes)
  // and frees what is still queued without running it.
  ~Thread_Pool_Helper() override {
    msg_queue()->deactivate();
    wait();
    msg_queue()->activate();
    discard();
  }

  // Changes the number of threads the next activate() starts.
  void thread_count(int threads) { threads_ = threads; }
  int thread_count() const { return threads_; }

  // Starts the configured number of threads. 0, or -1 when they could not
  // be started (or are already running).
  int activate() {
    std::vector<const char*> names(threads_ > 0 ? threads_ : 0, name_.c_str());
    return ACE_Task_Base::activate(flags_, threads_, 0, priority_, -1, nullptr, nullptr, nullptr,
                                   nullptr, nullptr, name_.empty() ? nullptr : names.data());
  }

  // Queue `task` at the tail, or at the head to run before what waits. The
  // queue's count after the enqueue; -1 when no worker runs (logged), when
  // the closure cannot be allocated (errno ENOMEM) or when the queue
  // refuses it (logged; the closure is freed).
  int enqueue(Task task) { return put(std::move(task), false); }
  int enqueue_urgent(Task task) { return put(std::move(task), true); }

  // Ends every worker once it has finished its current closure; with
  // `discard`, what is queued is dropped first instead of being run. What
  // is left afterwards is freed unrun. 0 (also when no thread ran), or -1
  // when the stop could not be queued or the wait failed.
  virtual int stop(bool discard_pending) {
    if (discard_pending)
      discard();
    if (thr_count() == 0)
      return 0;
    if (putq(&stop_) == -1)
      return -1;
    int result = wait();
    discard();
    return result;
  }

 protected:
  int svc() override {
    for (;;) {
      Task* item = nullptr;
      if (getq(item) == -1 || item == nullptr)
        return 0;
      if (item == &stop_) {
        // Put back first, so that every other worker sees it too.
        ungetq(item);
        return 0;
      }
      run(item);
    }
  }

 private:
  static const size_t kQueueRoom = 1u << 26;

  int put(Task&& task, bool urgent) {
    if (thr_count() == 0) {
      LOG_ERROR("No active worker thread!");
      return -1;
    }
    Task* item = new (std::nothrow) Task(std::move(task));
    if (item == nullptr) {
      errno = ENOMEM;
      return -1;
    }
    ACE_Time_Value deadline;
    ACE_Time_Value* until = nullptr;
    if (has_timeout_) {
      deadline = ACE_OS::gettimeofday() + timeout_;
      until = &deadline;
    }
    int result = urgent ? ungetq(item, until) : putq(item, until);
    if (result < 1) {
      LOG_ERROR("Failed to schedule task, errno=%d, %m", ACE_OS::last_error());
      delete item;
    }
    return result;
  }

  static void run(Task* item) {
    try {
      (*item)();
    } catch (const std::exception& e) {
      LOG_ERROR("Worker task failed: %s", e.what());
    } catch (...) {
      LOG_ERROR("Worker task failed.");
    }
    delete item;
  }

  // Frees every queued closure unrun; the stop item is only taken out.
  void discard() {
    ACE_Time_Value now;
    while (!msg_queue()->is_empty()) {
      Task* item = nullptr;
      now = ACE_OS::gettimeofday();
      if (msg_queue()->dequeue_head(item, &now) == -1)
        break;
      if (item != &stop_)
        delete item;
    }
  }

  int threads_;
  long flags_;
  long priority_;
  std::string name_;
  bool has_timeout_ = false;
  ACE_Time_Value timeout_;
  Task stop_;
};

#endif  // VRT_THREAD_HELPER_H_
