// Runs the real scatctl binary for a test: arguments, standard input and
// environment in; exit status, standard output and standard error out.
// A started `serve` can be stopped with a signal once it said it runs.
#ifndef TESTS_TOOLS_SCATCTL_RUNNER_H_
#define TESTS_TOOLS_SCATCTL_RUNNER_H_

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

struct Scatctl_Result {
  int status = -1;  // exit code; 128 + signal when killed
  std::string out;
  std::string err;
};

class Scatctl_Runner {
 public:
  // Variables set for every run; an empty value unsets the variable.
  void set_env(const std::string& name, const std::string& value) { env_[name] = value; }

  Scatctl_Result run(const std::vector<std::string>& args, const std::string& input = "") const;

  // Starts scatctl in the background and returns once it printed its first
  // line on standard output (which `first_line` receives); false when it
  // ended before.
  bool start(const std::vector<std::string>& args, std::string& first_line);
  // Sends `signal` to the started process and waits for its end.
  Scatctl_Result stop(int signal);

  ~Scatctl_Runner();

 private:
  pid_t spawn(const std::vector<std::string>& args, int in, int out, int err) const;

  std::map<std::string, std::string> env_;
  pid_t child_ = -1;
  int child_out_ = -1;
  int child_err_ = -1;
  std::string child_out_text_;
};

#endif  // TESTS_TOOLS_SCATCTL_RUNNER_H_
