#include "vrt/directory_iterator.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "tests/support/log_capture.h"
#include "tests/support/temp_dir.h"

namespace {

// Every path of a walk below `root`, without the root and with '/' between
// names, in the order given; links marked "@", directories "/".
std::vector<std::string> walk(const std::string& root, vrt::Directory_Iterator& tree) {
  std::vector<std::string> seen;
  EXPECT_TRUE(tree.open(root));
  std::string path;
  Directory_Entry entry;
  while (tree.next(path, entry)) {
    std::string name = native_path(path).substr(root.size() + 1);
    if (S_ISLNK(entry.status.st_mode))
      name += "@";
    if (S_ISDIR(entry.status.st_mode))
      name += "/";
    seen.push_back(name);
  }
  return seen;
}

class Directory_Walk : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = dir_.file("pool");
    mkdir(root_.c_str(), 0755);
    chmod(dir_.path().c_str(), 0755);
  }
  void make_dir(const std::string& name, mode_t mode = 0755) {
    ASSERT_EQ(mkdir((root_ + "/" + name).c_str(), mode), 0);
    chmod((root_ + "/" + name).c_str(), mode);
  }
  void make_file(const std::string& name) { write_file(root_ + "/" + name, "data"); }
  void make_link(const std::string& name, const std::string& target) {
    ASSERT_EQ(symlink(target.c_str(), (root_ + "/" + name).c_str()), 0);
  }

  Temp_Dir dir_;
  Log_Capture log_;
  std::string root_;
};

TEST_F(Directory_Walk, GivesEachDirectoryBeforeItsEntries) {
  make_dir("a");
  make_dir("a/b");
  make_file("a/b/f");
  make_file("top");
  vrt::Directory_Iterator tree('/');
  std::vector<std::string> seen = walk(root_, tree);
  std::map<std::string, std::size_t> at;
  for (std::size_t i = 0; i < seen.size(); ++i)
    at[seen[i]] = i;
  ASSERT_EQ(seen.size(), 4u) << ::testing::PrintToString(seen);
  EXPECT_LT(at.at("a/"), at.at("a/b/"));
  EXPECT_LT(at.at("a/b/"), at.at("a/b/f"));
  EXPECT_EQ(at.count("top"), 1u);
  EXPECT_FALSE(tree.failed());
}

TEST_F(Directory_Walk, NeverFollowsLinksSoLoopsAndEscapesEnd) {
  make_dir("a");
  make_link("a/loop", "..");
  make_link("self", ".");
  make_link("out", dir_.path());
  vrt::Directory_Iterator tree('\\');
  std::vector<std::string> seen = walk(root_, tree);
  std::sort(seen.begin(), seen.end());
  EXPECT_EQ(seen, (std::vector<std::string>{"a/", "a/loop@", "out@", "self@"}));
}

TEST_F(Directory_Walk, StartsThroughALinkedRoot) {
  make_file("f");
  std::string link = dir_.file("link");
  ASSERT_EQ(symlink(root_.c_str(), link.c_str()), 0);
  vrt::Directory_Iterator tree('/');
  EXPECT_EQ(walk(link, tree), std::vector<std::string>{"f"});
}

TEST_F(Directory_Walk, PassesOverUnreadableSubdirectoriesAndFailsOnlyForTheRoot) {
  make_dir("closed", 0);
  make_file("f");
  {
    Unprivileged_Files user;
    vrt::Directory_Iterator tree('/');
    std::vector<std::string> seen = walk(root_, tree);
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(seen, (std::vector<std::string>{"closed/", "f"}));
    EXPECT_FALSE(tree.failed());
    EXPECT_EQ(tree.skipped(), 1);
    EXPECT_TRUE(log_.has("Failed to open directory '" + root_ + "/closed': Permission denied"))
        << log_.dump();

    vrt::Directory_Iterator closed('/');
    EXPECT_FALSE(closed.open(root_ + "/closed"));
    EXPECT_TRUE(closed.failed());
  }
  chmod((root_ + "/closed").c_str(), 0755);
  vrt::Directory_Iterator missing('/');
  EXPECT_FALSE(missing.open(dir_.file("absent")));
  std::string path;
  Directory_Entry entry;
  EXPECT_FALSE(missing.next(path, entry));
}

}  // namespace
