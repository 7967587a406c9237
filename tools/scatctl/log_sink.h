// Where the library's log lines go while scatctl runs: kept, so that a
// failure can name the library's own reason in its one-line error, and
// written to standard error only when asked (--verbose). Installed as
// ACE's process-wide log back-end, so lines from every thread arrive here.
#ifndef TOOLS_SCATCTL_LOG_SINK_H_
#define TOOLS_SCATCTL_LOG_SINK_H_

#include <mutex>
#include <string>

#include <ace/Log_Msg_Backend.h>

namespace scatctl {

class Log_Sink : public ACE_Log_Msg_Backend {
 public:
  // The process's sink, installed on first use.
  static Log_Sink& instance();

  void set_echo(bool echo);
  // The text of the last error (or worse) logged, without its line break;
  // empty when none was.
  std::string last_error() const;
  // Forgets the last error, so the next failure names its own reason.
  void clear();

  int open(const ACE_TCHAR* logger_key) override { return 0; }
  int reset() override { return 0; }
  int close() override { return 0; }
  ssize_t log(ACE_Log_Record& record) override;

 private:
  Log_Sink();

  mutable std::mutex lock_;
  bool echo_ = false;       // guarded by lock_
  std::string last_error_;  // guarded by lock_
};

}  // namespace scatctl

#endif  // TOOLS_SCATCTL_LOG_SINK_H_
