#include "platform/job/job_event_manager.h"

#include <chrono>

Job_Activity_Event::Job_Activity_Event(const Job_Definition_Ptr& definition,
                                       const std::string& activity, int state, int type,
                                       const Object& parameters)
    : definition_(definition),
      activity_(activity),
      state_(state),
      type_(type),
      parameters_(parameters) {}

Job_Event_Manager* Job_Event_Manager::instance() {
  static Job_Event_Manager manager;
  return &manager;
}

int Job_Event_Manager::putq(Job_Activity_Event* event, ACE_Time_Value*) {
  std::unique_ptr<Job_Activity_Event> owned(event);
  if (!owned)
    return -1;
  std::lock_guard<std::mutex> guard(lock_);
  events_.push_back(std::move(owned));
  not_empty_.notify_one();
  return static_cast<int>(events_.size());
}

int Job_Event_Manager::getq(std::unique_ptr<Job_Activity_Event>& event,
                            const ACE_Time_Value* timeout) {
  std::unique_lock<std::mutex> guard(lock_);
  auto ready = [this] { return !events_.empty(); };
  if (timeout == nullptr)
    not_empty_.wait(guard, ready);
  else if (!not_empty_.wait_for(guard, std::chrono::milliseconds(timeout->msec()), ready))
    return -1;
  event = std::move(events_.front());
  events_.pop_front();
  return static_cast<int>(events_.size());
}

void Job_Event_Manager::clear() {
  std::lock_guard<std::mutex> guard(lock_);
  events_.clear();
}
