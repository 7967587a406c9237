#include <gtest/gtest.h>

#include <sstream>

#include "platform/runtime/uri.h"

namespace {

URI parsed(const char* text) {
  URI uri;
  EXPECT_TRUE(URI_Parser::parse(text, uri)) << text;
  return uri;
}

std::string built(const URI& uri) {
  std::ostringstream out;
  uri.build(out);
  return out.str();
}

TEST(Uri, SplitsAStorageUrl) {
  URI uri = parsed("DEDUPS://admin@10.0.0.1:8443/ddp/pool%20b?x=1#top");
  EXPECT_EQ(uri.scheme(), "dedups");
  EXPECT_EQ(uri.host(false), "10.0.0.1");
  EXPECT_EQ(uri.host(true), "10.0.0.1:8443");
  EXPECT_EQ(uri.port(), 8443u);
  EXPECT_TRUE(uri.is_ssl());
  EXPECT_EQ(uri.path(true), "/ddp/pool b");
  EXPECT_EQ(uri.path(false), "/ddp/pool%20b");
  EXPECT_EQ(uri.query(), "x=1");
  EXPECT_EQ(uri.fragment(), "top");
  EXPECT_EQ(built(uri), "dedups://admin@10.0.0.1:8443/ddp/pool%20b?x=1#top");
}

TEST(Uri, KeepsWindowsPathsAndBlanksAsWritten) {
  URI drive = parsed("file:///D:/My Pools/a\\b");
  EXPECT_EQ(drive.host(true), "");
  EXPECT_EQ(drive.path(true), "/D:/My Pools/a\\b");
  EXPECT_EQ(built(drive), "file:///D:/My Pools/a\\b");
  URI bare = parsed("lanfree://10.0.0.2");
  EXPECT_EQ(bare.path(true), "");
  EXPECT_EQ(bare.port(), 0u);
  EXPECT_EQ(parsed("urn:x:y").path(true), "x:y");
  EXPECT_EQ(parsed("file:///a/%zz%4").path(true), "/a/%zz%4");
}

TEST(Uri, PortsAndSecureForms) {
  EXPECT_EQ(parsed("https://h/").port(), 443u);
  EXPECT_EQ(parsed("ws://h/").port(), 80u);
  URI ipv6 = parsed("http://[::1]:8080/x");
  EXPECT_EQ(ipv6.host(false), "::1");
  EXPECT_EQ(ipv6.host(true), "[::1]:8080");
  EXPECT_FALSE(ipv6.is_ssl());
  for (const char* secure : {"https://h", "wss://h", "s3s://b", "osss://b", "files:///x"})
    EXPECT_TRUE(parsed(secure).is_ssl()) << secure;
  for (const char* plain : {"oss://b", "obs://b", "kss://b", "dedup://h"})
    EXPECT_FALSE(parsed(plain).is_ssl()) << plain;
}

TEST(Uri, RefusesWhatIsNoUrl) {
  URI uri = parsed("kxt://tape/lib");
  for (const char* bad :
       {"", "/no/scheme", "://h", "1x://h", "http://h:99999/", "http://h:8x/", "http://[::1/"}) {
    EXPECT_FALSE(URI_Parser::parse(bad, uri)) << bad;
  }
  EXPECT_FALSE(URI_Parser::parse(nullptr, uri));
  EXPECT_EQ(uri.scheme(), "kxt");
  EXPECT_EQ(uri.path(true), "/lib");
}

}  // namespace
