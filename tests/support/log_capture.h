// Captures what the library logs, from every thread, so tests can assert
// the exact texts. One capture at a time; it installs itself as ACE's
// process-wide custom log back-end and removes itself when destroyed.
#ifndef TESTS_SUPPORT_LOG_CAPTURE_H_
#define TESTS_SUPPORT_LOG_CAPTURE_H_

#include <mutex>
#include <string>
#include <vector>

#include <ace/Log_Msg_Backend.h>
#include <ace/Log_Priority.h>

class Log_Capture : public ACE_Log_Msg_Backend {
 public:
  struct Line {
    ACE_Log_Priority priority;
    std::string text;  // as logged, with its final line break
  };

  Log_Capture();
  ~Log_Capture() override;

  std::vector<Line> lines() const;
  // Whether a message equal to `text` followed by a line break was logged.
  bool has(const std::string& text) const;
  // Whether some message contains `text`.
  bool contains(const std::string& text) const;
  // How many messages contain `text`.
  int count(const std::string& text) const;
  // Whether a message at `priority` starts with `prefix`.
  bool has_prefix(ACE_Log_Priority priority, const std::string& prefix) const;
  void clear();
  // All messages, for failure output.
  std::string dump() const;

  int open(const ACE_TCHAR* logger_key) override;
  int reset() override;
  int close() override;
  ssize_t log(ACE_Log_Record& record) override;

 private:
  mutable std::mutex lock_;
  std::vector<Line> lines_;
  ACE_Log_Msg_Backend* previous_;
  unsigned long previous_flags_;
};

#endif  // TESTS_SUPPORT_LOG_CAPTURE_H_
