#include <gtest/gtest.h>

#include <sstream>

#include "platform/runtime/uri.h"

namespace {

URI parsed(const char* text) {
  URI uri;
  EXPECT_TRUE(URI_Parser::parse(text, uri)) << text;
  return uri;
}

TEST(Uri, SplitsAStorageUrlAndBuildsItAgain) {
  URI uri = parsed("DEDUPS://admin@10.0.0.1:8443/ddp/pool%20b?x=1#top");
  EXPECT_EQ(uri.scheme(), "dedups");
  EXPECT_TRUE(uri.is_ssl());
  EXPECT_EQ(uri.host(true), "10.0.0.1:8443");
  EXPECT_EQ(uri.port(), 8443u);
  EXPECT_EQ(uri.path(true), "/ddp/pool b");
  EXPECT_EQ(uri.path(false), "/ddp/pool%20b");
  std::ostringstream built;
  uri.build(built);
  EXPECT_EQ(built.str(), "dedups://admin@10.0.0.1:8443/ddp/pool%20b?x=1#top");
  EXPECT_EQ(parsed("file:///D:/My Pools/a\\b").path(true), "/D:/My Pools/a\\b");
  EXPECT_EQ(parsed("file:///a/%zz%4").path(true), "/a/%zz%4");
  EXPECT_EQ(parsed("http://[::1]:8080/x").host(false), "::1");
  EXPECT_EQ(parsed("https://h/").port(), 443u);
  EXPECT_FALSE(parsed("dedup://h").is_ssl());
}

TEST(Uri, RefusesWhatIsNoUrlAndKeepsTheLastOne) {
  URI uri = parsed("kxt://tape/lib");
  for (const char* bad :
       {"", "/no/scheme", "://h", "1x://h", "http://h:99999/", "http://h:8x/", "http://[::1/"})
    EXPECT_FALSE(URI_Parser::parse(bad, uri)) << bad;
  EXPECT_FALSE(URI_Parser::parse(nullptr, uri));
  EXPECT_EQ(uri.path(true), "/lib");
}

}  // namespace
