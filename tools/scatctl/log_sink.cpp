#include "tools/scatctl/log_sink.h"

#include <cstdio>

#include <ace/Log_Msg.h>
#include <ace/Log_Record.h>

namespace scatctl {

Log_Sink& Log_Sink::instance() {
  // Never destroyed: threads of the library may still log during exit.
  static Log_Sink* sink = new Log_Sink;
  return *sink;
}

Log_Sink::Log_Sink() {
  ACE_Log_Msg::msg_backend(this);
  ACE_Log_Msg* log = ACE_LOG_MSG;
  log->clr_flags(ACE_Log_Msg::STDERR);
  log->set_flags(ACE_Log_Msg::CUSTOM);
  log->priority_mask(LM_SHUTDOWN | LM_TRACE | LM_DEBUG | LM_INFO | LM_NOTICE | LM_WARNING |
                         LM_STARTUP | LM_ERROR | LM_CRITICAL | LM_ALERT | LM_EMERGENCY,
                     ACE_Log_Msg::PROCESS);
}

void Log_Sink::set_echo(bool echo) {
  std::lock_guard<std::mutex> guard(lock_);
  echo_ = echo;
}

std::string Log_Sink::last_error() const {
  std::lock_guard<std::mutex> guard(lock_);
  return last_error_;
}

void Log_Sink::clear() {
  std::lock_guard<std::mutex> guard(lock_);
  last_error_.clear();
}

ssize_t Log_Sink::log(ACE_Log_Record& record) {
  std::string text = record.msg_data();
  std::lock_guard<std::mutex> guard(lock_);
  if (echo_)
    std::fprintf(stderr, "%s%s", text.c_str(), !text.empty() && text.back() == '\n' ? "" : "\n");
  unsigned long type = record.type();
  if (type != LM_ERROR && type != LM_CRITICAL && type != LM_ALERT && type != LM_EMERGENCY)
    return 0;
  // A precondition report carries a stack trace after its first line.
  std::string::size_type end = text.find('\n');
  std::string first = text.substr(0, end);
  if (!first.empty() && first.back() == ':')
    first.pop_back();
  last_error_ = first;
  return 0;
}

}  // namespace scatctl
