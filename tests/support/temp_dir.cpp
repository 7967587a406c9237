#include "tests/support/temp_dir.h"

#include <stdlib.h>
#include <sys/fsuid.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

Temp_Dir::Temp_Dir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "scat-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr)
    throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

Temp_Dir::~Temp_Dir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void write_file(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

// Dropping the file system uid from 0 also drops the capabilities that
// override permission checks; setting it back restores them.
Unprivileged_Files::Unprivileged_Files() : was_root_(geteuid() == 0) {
  if (was_root_)
    setfsuid(65534);
}

Unprivileged_Files::~Unprivileged_Files() {
  if (was_root_)
    setfsuid(0);
}
