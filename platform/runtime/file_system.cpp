#include "platform/runtime/file_system.h"

#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

std::string native_path(const std::string& path) {
  std::string out = path;
  for (char& c : out)
    if (c == '\\')
      c = '/';
  return out;
}

bool get_disk_free_space(const std::string& path, FS_Stat& stat) {
  struct statvfs vfs;
  if (path.empty()) {
    errno = ENOENT;
    return false;
  }
  if (::statvfs(native_path(path).c_str(), &vfs) != 0)
    return false;
  stat.unit_size = static_cast<std::uint32_t>(vfs.f_frsize != 0 ? vfs.f_frsize : vfs.f_bsize);
  stat.total_units = vfs.f_blocks;
  stat.free_units = vfs.f_bavail;
  return true;
}

bool is_directory(const std::string& path) {
  struct stat status;
  return !path.empty() && ::stat(native_path(path).c_str(), &status) == 0 &&
         S_ISDIR(status.st_mode);
}

Directory_Reader::~Directory_Reader() {
  close();
}

void Directory_Reader::close() {
  if (dir_ != nullptr)
    ::closedir(dir_);
  dir_ = nullptr;
}

int Directory_Reader::open(const std::string& path, bool skip_hidden, int flags) {
  close();
  if (path.empty() || flags != 0) {
    errno = EINVAL;
    return -1;
  }
  return adopt(::open(native_path(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC), skip_hidden);
}

int Directory_Reader::open_child(const Directory_Reader& parent, const std::string& name) {
  close();
  if (parent.dir_ == nullptr || name.empty() || name.find('/') != std::string::npos) {
    errno = EINVAL;
    return -1;
  }
  return adopt(
      ::openat(::dirfd(parent.dir_), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC),
      parent.skip_hidden_);
}

int Directory_Reader::adopt(int fd, bool skip_hidden) {
  if (fd < 0)
    return -1;
  struct stat status;
  if (::fstat(fd, &status) != 0) {
    int saved = errno;
    ::close(fd);
    errno = saved;
    return -1;
  }
  dir_ = ::fdopendir(fd);
  if (dir_ == nullptr) {
    int saved = errno;
    ::close(fd);
    errno = saved;
    return -1;
  }
  skip_hidden_ = skip_hidden;
  error_ = 0;
  device_ = status.st_dev;
  inode_ = status.st_ino;
  return 0;
}

bool Directory_Reader::read(Directory_Entry& entry) {
  if (dir_ == nullptr) {
    error_ = EBADF;
    return false;
  }
  for (;;) {
    errno = 0;
    struct dirent* found = ::readdir(dir_);
    if (found == nullptr) {
      error_ = errno;
      return false;
    }
    const char* name = found->d_name;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0 ||
        (skip_hidden_ && name[0] == '.'))
      continue;
    if (::fstatat(::dirfd(dir_), name, &entry.status, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno == ENOENT)
        continue;
      error_ = errno;
      return false;
    }
    entry.name = name;
    return true;
  }
}
