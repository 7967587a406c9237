// How a command reports that it cannot do what it was asked: main prints
// the message as one line on standard error and exits with the code.
#ifndef TOOLS_SCATCTL_FAILURE_H_
#define TOOLS_SCATCTL_FAILURE_H_

#include <stdexcept>
#include <string>

namespace scatctl {

enum Exit_Code { EXIT_DONE = 0, EXIT_FAILED = 1, EXIT_USAGE = 2 };

class Failure : public std::runtime_error {
 public:
  Failure(const std::string& message, int code = EXIT_FAILED)
      : std::runtime_error(message), code_(code) {}
  int code() const { return code_; }

 private:
  int code_;
};

// Bad input from the command line or standard input: exit code 2.
inline Failure usage_error(const std::string& message) {
  return Failure(message, EXIT_USAGE);
}

}  // namespace scatctl

#endif  // TOOLS_SCATCTL_FAILURE_H_
