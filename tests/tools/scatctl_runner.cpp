#include "tests/tools/scatctl_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

namespace {

int exit_status(int status) {
  if (WIFEXITED(status))
    return WEXITSTATUS(status);
  if (WIFSIGNALED(status))
    return 128 + WTERMSIG(status);
  return -1;
}

// Reads both pipes to their end, so that neither writer blocks.
void drain(int out, int err, std::string& out_text, std::string& err_text) {
  struct pollfd fds[2] = {{out, POLLIN, 0}, {err, POLLIN, 0}};
  std::string* texts[2] = {&out_text, &err_text};
  int open_count = 2;
  char buffer[4096];
  while (open_count > 0) {
    if (poll(fds, 2, -1) < 0)
      break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0)
        continue;
      ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        texts[i]->append(buffer, static_cast<std::size_t>(n));
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open_count;
      }
    }
  }
}

}  // namespace

pid_t Scatctl_Runner::spawn(const std::vector<std::string>& args, int in, int out, int err) const {
  pid_t pid = fork();
  if (pid != 0)
    return pid;
  dup2(in, STDIN_FILENO);
  dup2(out, STDOUT_FILENO);
  dup2(err, STDERR_FILENO);
  // The child must hold no other end of the pipes: standard input would
  // never end while it holds the writing end itself.
  for (int fd = 3; fd < 1024; ++fd)
    close(fd);
  for (const auto& e : env_) {
    if (e.second.empty())
      unsetenv(e.first.c_str());
    else
      setenv(e.first.c_str(), e.second.c_str(), 1);
  }
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(SCATCTL_PATH));
  for (const std::string& a : args)
    argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  execv(SCATCTL_PATH, argv.data());
  _exit(127);
}

Scatctl_Result Scatctl_Runner::run(const std::vector<std::string>& args,
                                   const std::string& input) const {
  int in[2], out[2], err[2];
  Scatctl_Result result;
  if (pipe(in) != 0 || pipe(out) != 0 || pipe(err) != 0)
    return result;
  pid_t pid = spawn(args, in[0], out[1], err[1]);
  close(in[0]);
  close(out[1]);
  close(err[1]);
  // Small inputs fit the pipe; the child reads them once it starts.
  if (!input.empty() && write(in[1], input.data(), input.size()) < 0)
    result.err = "cannot write standard input";
  close(in[1]);
  drain(out[0], err[0], result.out, result.err);
  int status = 0;
  waitpid(pid, &status, 0);
  result.status = exit_status(status);
  return result;
}

bool Scatctl_Runner::start(const std::vector<std::string>& args, std::string& first_line) {
  int in = open("/dev/null", O_RDONLY);
  int out[2], err[2];
  if (in < 0 || pipe(out) != 0 || pipe(err) != 0)
    return false;
  child_ = spawn(args, in, out[1], err[1]);
  close(in);
  close(out[1]);
  close(err[1]);
  child_out_ = out[0];
  child_err_ = err[0];
  // Standard error is read at the end; a host that logs a lot must not
  // block on it meanwhile.
  fcntl(child_err_, F_SETPIPE_SZ, 1 << 20);
  char c;
  while (read(child_out_, &c, 1) == 1) {
    child_out_text_.push_back(c);
    if (c == '\n') {
      first_line = child_out_text_;
      return true;
    }
  }
  return false;
}

Scatctl_Result Scatctl_Runner::stop(int signal) {
  Scatctl_Result result;
  if (child_ < 0)
    return result;
  kill(child_, signal);
  result.out = child_out_text_;
  drain(child_out_, child_err_, result.out, result.err);
  int status = 0;
  waitpid(child_, &status, 0);
  result.status = exit_status(status);
  child_ = -1;
  return result;
}

Scatctl_Runner::~Scatctl_Runner() {
  if (child_ >= 0)
    stop(SIGKILL);
}
