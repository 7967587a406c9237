#include "platform/runtime/simple_reactor.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>

#include <ace/TP_Reactor.h>
#include <ace/Thread.h>

#include "platform/runtime/log.h"

namespace {

// A notification that the loop thread answers once it has returned from
// whatever it was dispatching. Reference counted: the reactor keeps it alive
// while the notification is queued, even after the waiter gave up.
class Loop_Barrier : public ACE_Event_Handler {
 public:
  Loop_Barrier() {
    reference_counting_policy().value(ACE_Event_Handler::Reference_Counting_Policy::ENABLED);
  }

  int handle_exception(ACE_HANDLE) override {
    std::lock_guard<std::mutex> guard(lock_);
    passed_ = true;
    passed_cond_.notify_all();
    return 0;
  }

  bool wait(std::chrono::seconds limit) {
    std::unique_lock<std::mutex> guard(lock_);
    return passed_cond_.wait_for(guard, limit, [this] { return passed_; });
  }

 private:
  std::mutex lock_;
  std::condition_variable passed_cond_;
  bool passed_ = false;
};

// Long enough for any timer callback of this library, which only posts work.
const std::chrono::seconds kDrainLimit(30);

}  // namespace

Simple_Reactor* Simple_Reactor::instance() {
  try {
    static Simple_Reactor reactor;
    return &reactor;
  } catch (const std::exception& e) {
    // A failed start is retried by the next call.
    LOG_ERROR("Failed to start the process reactor: %s", e.what());
    errno = ENOMEM;
    return nullptr;
  }
}

Simple_Reactor::Simple_Reactor() {
  ACE_TP_Reactor* impl = new ACE_TP_Reactor;
  reactor_.reset(new ACE_Reactor(impl, true));
  ACE_Reactor* r = reactor_.get();
  loop_ = std::thread([r] {
    r->owner(ACE_Thread::self());
    r->run_reactor_event_loop();
  });
}

Simple_Reactor::~Simple_Reactor() {
  reactor_->end_reactor_event_loop();
  if (loop_.joinable())
    loop_.join();
  reactor_->close();
}

long Simple_Reactor::schedule_timer(ACE_Event_Handler* handler, const void* act,
                                    const ACE_Time_Value& delay, const ACE_Time_Value& interval) {
  if (handler == nullptr)
    return -1;
  return reactor_->schedule_timer(handler, act, delay, interval);
}

int Simple_Reactor::cancel_timer(ACE_Event_Handler* handler, int dont_call_handle_close) {
  if (handler == nullptr)
    return 0;
  int cancelled = reactor_->cancel_timer(handler, dont_call_handle_close);
  if (std::this_thread::get_id() != loop_.get_id())
    drain();
  return cancelled;
}

void Simple_Reactor::drain() {
  Loop_Barrier* barrier = new (std::nothrow) Loop_Barrier;
  if (barrier == nullptr)
    return;
  ACE_Event_Handler_var hold(barrier);
  if (reactor_->notify(barrier, ACE_Event_Handler::EXCEPT_MASK) == -1)
    return;
  if (!barrier->wait(kDrainLimit))
    LOG_ERROR("The process reactor did not finish its callbacks in time.");
}
