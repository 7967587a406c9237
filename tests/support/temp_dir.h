// A fresh folder for one test, removed with everything in it afterwards.
#ifndef TESTS_SUPPORT_TEMP_DIR_H_
#define TESTS_SUPPORT_TEMP_DIR_H_

#include <string>

class Temp_Dir {
 public:
  Temp_Dir();
  ~Temp_Dir();
  const std::string& path() const { return path_; }
  // path() + "/" + name
  std::string file(const std::string& name) const { return path_ + "/" + name; }

  Temp_Dir(const Temp_Dir&) = delete;
  Temp_Dir& operator=(const Temp_Dir&) = delete;

 private:
  std::string path_;
};

// While it lives, file access on the calling thread is checked as for an
// ordinary user, also when the tests run as root, so that a test can meet
// a folder it may not read.
class Unprivileged_Files {
 public:
  Unprivileged_Files();
  ~Unprivileged_Files();

  Unprivileged_Files(const Unprivileged_Files&) = delete;
  Unprivileged_Files& operator=(const Unprivileged_Files&) = delete;

 private:
  bool was_root_;
};

// Reads a whole file; empty when it cannot be read.
std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& content);

#endif  // TESTS_SUPPORT_TEMP_DIR_H_
