// The longest-prefix lookup of URL paths in the HTTP service's folder map.
#include "platform/runtime/http_file_uri_map.h"

#include <gtest/gtest.h>

namespace {

class Uri_Map : public ::testing::Test {
 protected:
  void SetUp() override {
    map_->clear();
    map_->add("/a", "/srv/a");
    map_->add("/a/b", "/srv/b");
    map_->add("/a/bcd", "/srv/bcd");
    map_->add("/d/", "/srv/d");
  }
  void TearDown() override { map_->clear(); }

  std::string lookup(const std::string& path) {
    std::string dir = "-", rest = "-";
    if (!map_->find(path, dir, rest))
      return "none";
    return dir + "|" + rest;
  }

  HTTP_File_URI_Map* map_ = HTTP_File_URI_Map::instance();
};

TEST_F(Uri_Map, PicksTheLongestPrefixOnAPathBoundary) {
  EXPECT_EQ(lookup("/a/b"), "/srv/b|");
  EXPECT_EQ(lookup("/a/b/c"), "/srv/b|/c");
  // "/a/b" is no prefix of "/a/bc" on a boundary; "/a" is.
  EXPECT_EQ(lookup("/a/bc"), "/srv/a|/bc");
  EXPECT_EQ(lookup("/a/bcd/e"), "/srv/bcd|/e");
  EXPECT_EQ(lookup("/d/x"), "/srv/d|x");
}

TEST_F(Uri_Map, APathUnderNoPrefixHasNoEntry) {
  EXPECT_EQ(lookup("/ab"), "none");
  EXPECT_EQ(lookup("/"), "none");
  EXPECT_EQ(lookup("/d"), "none");
  map_->remove("/a");
  EXPECT_EQ(lookup("/a/bc"), "none");
}

}  // namespace
