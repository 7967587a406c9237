// The host runtime's view of local file systems: disk space, and the
// entries of one directory at a time. The host takes '\' and '/' alike as
// path separators, as Windows does, so both are accepted here.
//
// Functions are safe from any thread; a Directory_Reader is a plain value
// for one caller.
#ifndef PLATFORM_RUNTIME_FILE_SYSTEM_H_
#define PLATFORM_RUNTIME_FILE_SYSTEM_H_

#include <dirent.h>
#include <sys/stat.h>

#include <cstdint>
#include <string>

// `path` with every '\' made the native separator.
std::string native_path(const std::string& path);

// Space of the file system holding a path: `total_units` and `free_units`
// (free to this process) of `unit_size` bytes each.
struct FS_Stat {
  std::uint32_t unit_size = 0;
  std::uint64_t total_units = 0;
  std::uint64_t free_units = 0;
};

// False, with errno set and `stat` untouched, when `path` cannot be
// examined.
bool get_disk_free_space(const std::string& path, FS_Stat& stat);

// Whether `path` names a directory (a link to one counts).
bool is_directory(const std::string& path);

struct Directory_Entry {
  std::string name;
  // Of the entry itself: a symbolic link is reported as a link, never as
  // what it points at.
  struct stat status;
};

// Reads the entries of one directory, never "." and "..". A reader opened
// below another (open_child) is bound to that directory itself, not to a
// path, so renames and links swapped in meanwhile cannot redirect it.
class Directory_Reader {
 public:
  Directory_Reader() = default;
  ~Directory_Reader();

  // 0 on success; -1 with errno set when `path` is not a directory that
  // can be read. `skip_hidden` leaves out names starting with '.'; `flags`
  // is kept for the host's signature and must be 0.
  int open(const std::string& path, bool skip_hidden = false, int flags = 0);
  // Opens the sub-directory `name` of the directory `parent` reads; -1 with
  // errno set when it is not a directory (ELOOP or ENOTDIR for a link).
  int open_child(const Directory_Reader& parent, const std::string& name);

  // The next entry; false at the end or on an error, which error() tells.
  // An entry removed while the directory is read is passed over.
  bool read(Directory_Entry& entry);
  // The errno of the failure that ended reading; 0 after a clean end.
  int error() const { return error_; }

  // The identity of the open directory, as st_dev and st_ino give it.
  dev_t device() const { return device_; }
  ino_t inode() const { return inode_; }

  Directory_Reader(const Directory_Reader&) = delete;
  Directory_Reader& operator=(const Directory_Reader&) = delete;

 private:
  int adopt(int fd, bool skip_hidden);
  void close();

  DIR* dir_ = nullptr;
  bool skip_hidden_ = false;
  int error_ = 0;
  dev_t device_ = 0;
  ino_t inode_ = 0;
};

#endif  // PLATFORM_RUNTIME_FILE_SYSTEM_H_
