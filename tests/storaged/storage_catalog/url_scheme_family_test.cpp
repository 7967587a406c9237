// The two tests of URL scheme families: exact scheme of a whole URL, and
// a parsed scheme compared over each member name's length.
#include "storaged/storage_catalog/url_scheme_family.h"

#include <gtest/gtest.h>

namespace {

TEST(Url_Scheme_Family, WholeUrlTestIsAnExactSchemeMatch) {
  EXPECT_TRUE(is_url_of(SCHEME_DEDUP, "dedup://h/p"));
  EXPECT_TRUE(is_url_of(SCHEME_DEDUP, "wss://h/p"));
  EXPECT_FALSE(is_url_of(SCHEME_DEDUP, "dedupx://h/p"));
  EXPECT_FALSE(is_url_of(SCHEME_DEDUP, "dedup:/h"));
  EXPECT_FALSE(is_url_of(SCHEME_DEDUP, "ded"));
  EXPECT_TRUE(is_url_of(SCHEME_FILE, "file:///data"));
  EXPECT_FALSE(is_url_of(SCHEME_FILE, "files:///data"));
  EXPECT_TRUE(is_url_of(SCHEME_BTRFS, "vmcopys://h/v"));
  EXPECT_TRUE(is_url_of(SCHEME_HTTP, "https://h/x"));
  EXPECT_TRUE(is_url_of(SCHEME_LANFREE, "lanfree://h/x"));
  EXPECT_TRUE(is_url_of(SCHEME_REALTIME, "realtimes://h/x"));
  EXPECT_TRUE(is_url_of(SCHEME_SDFS, "sdfss://h/x"));
  EXPECT_TRUE(is_url_of(SCHEME_KXT, "kxt://h/x"));
  EXPECT_TRUE(is_url_of(SCHEME_MTF, "mtfs://h/x"));
  EXPECT_FALSE(is_url_of(SCHEME_OBJECT_STORAGE, "s3://bucket/x"));
}

TEST(Url_Scheme_Family, SchemeNameTestAcceptsLongerSchemes) {
  EXPECT_TRUE(is_scheme_of(SCHEME_FILE, "files"));
  EXPECT_TRUE(is_scheme_of(SCHEME_OBJECT_STORAGE, "s3v4s"));
  EXPECT_TRUE(is_scheme_of(SCHEME_OBJECT_STORAGE, "blobs"));
  EXPECT_TRUE(is_scheme_of(SCHEME_DEDUP, "wss"));
  EXPECT_TRUE(is_scheme_of(SCHEME_BTRFS, "vmcopy"));
  EXPECT_FALSE(is_scheme_of(SCHEME_FILE, "fil"));
  EXPECT_FALSE(is_scheme_of(SCHEME_DEDUP, "http"));
  EXPECT_FALSE(is_scheme_of(SCHEME_OBJECT_STORAGE, "https"));
  EXPECT_FALSE(is_scheme_of(SCHEME_LANFREE, ""));
}

}  // namespace
