#include "tests/support/log_capture.h"

#include <ace/Log_Msg.h>
#include <ace/Log_Record.h>

Log_Capture::Log_Capture() {
  ACE_Log_Msg* log = ACE_LOG_MSG;
  previous_flags_ = log->flags();
  previous_ = ACE_Log_Msg::msg_backend(this);
  log->set_flags(ACE_Log_Msg::CUSTOM);
  log->priority_mask(LM_SHUTDOWN | LM_TRACE | LM_DEBUG | LM_INFO | LM_NOTICE | LM_WARNING |
                         LM_STARTUP | LM_ERROR | LM_CRITICAL | LM_ALERT | LM_EMERGENCY,
                     ACE_Log_Msg::PROCESS);
}

Log_Capture::~Log_Capture() {
  ACE_Log_Msg* log = ACE_LOG_MSG;
  log->clr_flags(ACE_Log_Msg::CUSTOM);
  log->set_flags(previous_flags_);
  ACE_Log_Msg::msg_backend(previous_);
}

int Log_Capture::open(const ACE_TCHAR*) {
  return 0;
}
int Log_Capture::reset() {
  return 0;
}
int Log_Capture::close() {
  return 0;
}

ssize_t Log_Capture::log(ACE_Log_Record& record) {
  std::lock_guard<std::mutex> guard(lock_);
  lines_.push_back(Line{static_cast<ACE_Log_Priority>(record.type()), record.msg_data()});
  return 0;
}

std::vector<Log_Capture::Line> Log_Capture::lines() const {
  std::lock_guard<std::mutex> guard(lock_);
  return lines_;
}

bool Log_Capture::has(const std::string& text) const {
  std::lock_guard<std::mutex> guard(lock_);
  for (const Line& l : lines_)
    if (l.text == text + "\n")
      return true;
  return false;
}

bool Log_Capture::contains(const std::string& text) const {
  return count(text) > 0;
}

int Log_Capture::count(const std::string& text) const {
  std::lock_guard<std::mutex> guard(lock_);
  int n = 0;
  for (const Line& l : lines_)
    if (l.text.find(text) != std::string::npos)
      ++n;
  return n;
}

bool Log_Capture::has_prefix(ACE_Log_Priority priority, const std::string& prefix) const {
  std::lock_guard<std::mutex> guard(lock_);
  for (const Line& l : lines_)
    if (l.priority == priority && l.text.compare(0, prefix.size(), prefix) == 0)
      return true;
  return false;
}

void Log_Capture::clear() {
  std::lock_guard<std::mutex> guard(lock_);
  lines_.clear();
}

std::string Log_Capture::dump() const {
  std::lock_guard<std::mutex> guard(lock_);
  std::string out;
  for (const Line& l : lines_)
    out += l.text;
  return out;
}
