// A depth-first walk of the tree below one directory.
//
// The walk never leaves the tree: symbolic links are reported as links and
// never followed, sub-directories are opened relative to their parent, and
// a directory reached a second time (a bind mount of an ancestor) is not
// entered again, so the walk always ends. A sub-directory that cannot be
// opened or read to the end is logged and its entries are given as far as
// they could be read; only the root failing makes the walk fail.
//
// A plain value for one caller. It holds one open directory per level of
// the current path.
#ifndef VRT_DIRECTORY_ITERATOR_H_
#define VRT_DIRECTORY_ITERATOR_H_

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "platform/runtime/file_system.h"
#include "platform/runtime/log.h"

namespace vrt {

// What tells one file or directory from another on this host, links and
// mounts included.
struct File_Identity {
  dev_t device;
  ino_t inode;
  bool operator==(const File_Identity& other) const {
    return device == other.device && inode == other.inode;
  }
};

struct File_Identity_Hash {
  std::size_t operator()(const File_Identity& id) const {
    return std::hash<unsigned long long>()(static_cast<unsigned long long>(id.inode) * 31u +
                                           static_cast<unsigned long long>(id.device));
  }
};

class Directory_Iterator {
 public:
  // Entry paths are the root and the names below it joined by `separator`.
  explicit Directory_Iterator(char separator = '\\') : separator_(separator) {}

  // Starts a walk at `root`, which may itself be a link to a directory.
  // False, with errno set, when it cannot be opened as a directory.
  bool open(const std::string& root) {
    stack_.clear();
    visited_.clear();
    failed_ = false;
    skipped_ = 0;
    std::unique_ptr<Directory_Reader> reader(new Directory_Reader);
    if (reader->open(root, false, 0) != 0) {
      failed_ = true;
      return false;
    }
    visited_.insert(File_Identity{reader->device(), reader->inode()});
    stack_.push_back(Level{std::move(reader), root});
    return true;
  }

  // The next entry of the tree and its path; a directory's entries follow
  // the directory itself. False when the walk is over.
  bool next(std::string& path, Directory_Entry& entry) {
    while (!stack_.empty()) {
      Level& top = stack_.back();
      if (!top.reader->read(entry)) {
        if (top.reader->error() != 0)
          give_up(top.path, "read", top.reader->error(), stack_.size() == 1);
        stack_.pop_back();
        continue;
      }
      path = top.path + separator_ + entry.name;
      if (S_ISDIR(entry.status.st_mode))
        enter(path, entry.name);
      return true;
    }
    return false;
  }

  // Whether the root could not be opened or read to the end.
  bool failed() const { return failed_; }
  // Sub-directories that could not be opened or read to the end.
  int skipped() const { return skipped_; }

 private:
  struct Level {
    std::unique_ptr<Directory_Reader> reader;
    std::string path;
  };

  // Requires: the top of the stack reads the directory holding `name`.
  void enter(const std::string& path, const std::string& name) {
    std::unique_ptr<Directory_Reader> reader(new Directory_Reader);
    if (reader->open_child(*stack_.back().reader, name) != 0) {
      give_up(path, "open", errno, false);
      return;
    }
    if (!visited_.insert(File_Identity{reader->device(), reader->inode()}).second) {
      LOG_WARNING("Skipped directory '%s': already walked.", path.c_str());
      return;
    }
    stack_.push_back(Level{std::move(reader), path});
  }

  void give_up(const std::string& path, const char* what, int error, bool root) {
    LOG_ERROR("Failed to %s directory '%s': %s", what, path.c_str(), std::strerror(error));
    if (root)
      failed_ = true;
    else
      ++skipped_;
  }

  char separator_;
  std::vector<Level> stack_;
  std::unordered_set<File_Identity, File_Identity_Hash> visited_;
  bool failed_ = false;
  int skipped_ = 0;
};

}  // namespace vrt

#endif  // VRT_DIRECTORY_ITERATOR_H_
