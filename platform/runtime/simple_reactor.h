// The process reactor: one ACE reactor with its own event-loop thread, on
// which timer callbacks run. Safe for concurrent use. The loop starts with
// the first use and ends when the process exits; handlers stay owned by
// their callers.
#ifndef PLATFORM_RUNTIME_SIMPLE_REACTOR_H_
#define PLATFORM_RUNTIME_SIMPLE_REACTOR_H_

#include <memory>
#include <thread>

#include <ace/Event_Handler.h>
#include <ace/Reactor.h>
#include <ace/Time_Value.h>

class Simple_Reactor {
 public:
  // Null, with errno ENOMEM, when the reactor cannot be built.
  static Simple_Reactor* instance();

  // Arms a timer that calls handler->handle_timeout(now, act) after `delay`
  // and then every `interval` (zero: once). The timer id, or -1 when it
  // cannot be armed.
  long schedule_timer(ACE_Event_Handler* handler, const void* act, const ACE_Time_Value& delay,
                      const ACE_Time_Value& interval = ACE_Time_Value::zero);

  // Cancels every timer of `handler`; the number cancelled. Called off the
  // loop thread it returns only once a callback of `handler` that was
  // already running has returned, so the caller may then destroy it.
  int cancel_timer(ACE_Event_Handler* handler, int dont_call_handle_close = 1);

  ACE_Reactor* reactor() { return reactor_.get(); }

  ~Simple_Reactor();
  Simple_Reactor(const Simple_Reactor&) = delete;
  Simple_Reactor& operator=(const Simple_Reactor&) = delete;

 private:
  Simple_Reactor();
  // Waits until the loop thread has finished what it was dispatching.
  void drain();

  std::unique_ptr<ACE_Reactor> reactor_;
  std::thread loop_;
};

#endif  // PLATFORM_RUNTIME_SIMPLE_REACTOR_H_
