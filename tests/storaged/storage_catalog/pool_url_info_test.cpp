// Resolving a pool's URL, local folder and external storage from its master
// device, for each family of schemes, on each engine.
#include "storaged/storage_catalog/pool_url_info.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "platform/common/mtf_params.h"
#include "platform/runtime/host_id.h"
#include "platform/runtime/http_file_uri_map.h"
#include "tests/support/front_fixture.h"

namespace {

const std::string kDevice = "dddddddddddddddddddddddddddddddd";

// `path` with this platform's separator.
std::string native(std::string path) {
  std::replace(path.begin(), path.end(), '/', Pool_URL_Info::kPathSeparator);
  return path;
}

class Pool_Url : public Front_Server_Test {
 protected:
  void SetUp() override {
    Front_Server_Test::SetUp();
    Host_ID::instance().set(kHostUuid);
    HTTP_File_URI_Map::instance()->clear();
  }
  void TearDown() override {
    Host_ID::instance().set("");
    HTTP_File_URI_Map::instance()->clear();
    MTF_Params::instance().set_data_dir("");
    Front_Server_Test::TearDown();
  }

  // The pool's master device at `url`, with `attrs` as its extended_attrs.
  void master_at(const std::string& url, const Object& attrs = Object()) {
    Object device{{"uuid", kDevice}, {"url", url}, {"pool_uuid", kPoolA}};
    if (!attrs.empty())
      device["extended_attrs"] = attrs;
    ASSERT_TRUE(front_->add_device(device)) << log_.dump();
  }

  static Object attached(const Value& path) {
    return Object{{"attached_hosts", Object{{kHostUuid, path}}}};
  }
};

TEST_P(Pool_Url, FilePoolsGetAFileUrlOfTheirAttachedFolder) {
  master_at("file:///ignored", attached("/data/pool"));
  Pool_URL_Info info(kPoolA);
  ASSERT_TRUE(info.init()) << log_.dump();
  EXPECT_EQ(info.url(), "file:///data/pool");
  EXPECT_EQ(info.path(), native("/data/pool"));
  EXPECT_EQ(info.uri().path(true), "/ignored");
  EXPECT_EQ(info.pool_uuid(), kPoolA);

  Object attrs = attached("D:/pool");
  attrs["external_uuid"] = "ext-1";
  ASSERT_TRUE(
      front_->update_device(kDevice, Object{{"url", "files://h/x"}, {"extended_attrs", attrs}}));
  Pool_URL_Info drive(kPoolA);
  ASSERT_TRUE(drive.init()) << log_.dump();
  EXPECT_EQ(drive.url(), "file:///D:/pool");
  EXPECT_EQ(drive.path(), native("D:/pool"));
  EXPECT_EQ(drive.external_uuid(), "ext-1");
}

TEST_P(Pool_Url, AFilePoolNotAttachedHereFails) {
  master_at("file:///x", Object{{"attached_hosts", Object{{"someone-else", "/x"}}}});
  Pool_URL_Info info(kPoolA);
  EXPECT_FALSE(info.init());
  EXPECT_TRUE(log_.has_prefix(LM_ERROR, "Failed to get url info: "));
  ASSERT_TRUE(front_->update_device(kDevice, Object{{"extended_attrs", attached("")}}));
  EXPECT_FALSE(Pool_URL_Info(kPoolA).init());
  EXPECT_TRUE(log_.has(std::string("Failed to host(") + kHostUuid + ") path info."));
  Host_ID::instance().set("");
  EXPECT_FALSE(Pool_URL_Info(kPoolA).init());
  EXPECT_TRUE(log_.has("Failed to get host id"));
  Host_ID::instance().set(kHostUuid);
  ASSERT_TRUE(front_->update_device(kDevice, Object{{"extended_attrs", attached(7)}}));
  EXPECT_FALSE(Pool_URL_Info(kPoolA).init());
}

TEST_P(Pool_Url, RemoteKindsHaveNoLocalFolder) {
  for (const char* url : {"s3://bucket/x", "s3v4s://bucket/x", "kxt://h/t", "lanfree://h/l"}) {
    ASSERT_TRUE(front_->add_device(Object{{"uuid", kDevice}, {"url", url}, {"pool_uuid", kPoolA}}));
    Pool_URL_Info info(kPoolA);
    EXPECT_TRUE(info.init()) << url << log_.dump();
    EXPECT_EQ(info.url(), url);
    EXPECT_EQ(info.path(), "");
    EXPECT_EQ(info.external_uuid(), "");
    ASSERT_TRUE(front_->remove_device(kDevice, nullptr));
  }
}

TEST_P(Pool_Url, LocalKindsFindTheirFolder) {
  master_at("btrfs://h/vol/pool");
  Pool_URL_Info btrfs(kPoolA);
  ASSERT_TRUE(btrfs.init()) << log_.dump();
  EXPECT_EQ(btrfs.path(), native("/vol/pool"));

  MTF_Params::instance().set_data_dir("/mtf");
  ASSERT_TRUE(front_->update_device(kDevice, Object{{"url", "mtf://h/tapes1/set"}}));
  Pool_URL_Info mtf(kPoolA);
  ASSERT_TRUE(mtf.init()) << log_.dump();
  EXPECT_EQ(mtf.path(), native("/mtf/set"));
  ASSERT_TRUE(front_->update_device(kDevice, Object{{"url", "mtf://h/t"}}));
  EXPECT_FALSE(Pool_URL_Info(kPoolA).init());
  EXPECT_TRUE(log_.has_prefix(LM_ERROR, "Failed to get url info: URL path '/t' is shorter"));
  MTF_Params::instance().set_data_dir("");
  ASSERT_TRUE(front_->update_device(kDevice, Object{{"url", "mtf://h/tapes1/set"}}));
  EXPECT_FALSE(Pool_URL_Info(kPoolA).init());
  EXPECT_TRUE(log_.has("Failed to get MTF data directory."));

  // Without the deduplication engine's library its folder is unknown.
  log_.clear();
  ASSERT_TRUE(front_->update_device(kDevice, Object{{"url", "dedup://h/ddp/pool/x"}}));
  EXPECT_FALSE(Pool_URL_Info(kPoolA).init());
  EXPECT_EQ(log_.dump(), "");
}

TEST_P(Pool_Url, HttpPoolsTakeTheFolderOfTheLongestPrefix) {
  HTTP_File_URI_Map::instance()->add("/a/b", "/srv/b");
  master_at("http://h/a/b");
  Pool_URL_Info whole(kPoolA);
  ASSERT_TRUE(whole.init()) << log_.dump();
  EXPECT_EQ(whole.path(), native("/srv/b"));

  ASSERT_TRUE(front_->update_device(kDevice, Object{{"url", "https://h/a/b/c"}}));
  Pool_URL_Info below(kPoolA);
  ASSERT_TRUE(below.init()) << log_.dump();
  EXPECT_EQ(below.path(), native("/srv/b/c"));

  ASSERT_TRUE(front_->update_device(kDevice, Object{{"url", "http://h/a/bc"}}));
  EXPECT_FALSE(Pool_URL_Info(kPoolA).init());
  EXPECT_TRUE(log_.has("Failed to find entry for /a/bc."));

  HTTP_File_URI_Map::instance()->add("/d/", "/srv/d");
  ASSERT_TRUE(front_->update_device(kDevice, Object{{"url", "http://h/d/x"}}));
  Pool_URL_Info slash(kPoolA);
  ASSERT_TRUE(slash.init()) << log_.dump();
  EXPECT_EQ(slash.path(), native("/srv/d/x"));
}

TEST_P(Pool_Url, UnusableDevicesFail) {
  EXPECT_FALSE(Pool_URL_Info(kPoolA).init());
  EXPECT_EQ(log_.dump(), "");
  master_at("not a url");
  EXPECT_FALSE(Pool_URL_Info(kPoolA).init());
  EXPECT_TRUE(log_.has("Failed to parse url: not a url"));
  ASSERT_TRUE(front_->update_device(kDevice, Object{{"url", nullptr}}));
  EXPECT_FALSE(Pool_URL_Info(kPoolA).init());
  EXPECT_TRUE(log_.has_prefix(LM_ERROR, "Failed to get url info: "));
}

TEST_P(Pool_Url, UpdateChangesTheUrlButNotTheFolder) {
  master_at("btrfs://h/vol/pool");
  Pool_URL_Info info(kPoolA);
  ASSERT_TRUE(info.init());
  URI other;
  ASSERT_TRUE(URI_Parser::parse("btrfss://10.0.0.9:9000/other", other));
  info.update(other);
  EXPECT_EQ(info.url(), "btrfss://10.0.0.9:9000/other");
  EXPECT_EQ(info.uri().host(true), "10.0.0.9:9000");
  EXPECT_EQ(info.path(), native("/vol/pool"));
}

SCAT_INSTANTIATE_ENGINES(Pool_Url);

}  // namespace
