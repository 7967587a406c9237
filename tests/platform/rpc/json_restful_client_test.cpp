// The daemon clients against a test daemon on 127.0.0.1: what they send,
// which replies count as success, TLS, and that a daemon that never answers
// cannot hang a caller. (A daemon that is down or answers garbage is tested
// through the catalog front.)
#include "platform/rpc/json_restful_client.h"

#include <gtest/gtest.h>

#include "platform/rpc/host_manager.h"
#include "platform/rpc/json_rpc.h"
#include "tests/support/log_capture.h"
#include "tests/support/test_daemon.h"

namespace {

class Daemon_Client : public ::testing::Test {
 protected:
  void SetUp() override { Host_Manager::instance()->set_access_key("secret"); }
  void TearDown() override {
    Host_Manager::instance()->reset();
    Global_JSON_RPC_Channel::reset();
  }

  Test_Daemon daemon_;
  Log_Capture log_;
};

TEST_F(Daemon_Client, SendsTheAccessKeyAndJsonBody) {
  daemon_.reply("POST", "/kx/r/thing", 200, "{\"ok\": true}");
  Common_JSON_RESTful_Client client(daemon_.host(), daemon_.port(), false, false, false);
  Value reply;
  ASSERT_TRUE(client.post("/kx/r/thing", Value(Array{1, "two"}), reply)) << log_.dump();
  EXPECT_EQ(reply, Value(Object{{"ok", true}}));
  std::vector<Test_Daemon::Request> seen = daemon_.requests_to("/kx/r/thing");
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].headers["X-Access-Key"], "secret");
  EXPECT_EQ(seen[0].headers["Content-Type"], "application/json");
  EXPECT_EQ(seen[0].body, "[1,\"two\"]");
}

TEST_F(Daemon_Client, PathFormsNeedASuccessStatusRequestFormsReportAny) {
  daemon_.reply("POST", "/kx/r/busy", 503, "<html/>");
  JSON_RESTful_Client client(daemon_.host(), daemon_.port(), false);
  Value reply = "untouched";
  EXPECT_FALSE(client.get("/kx/r/missing", reply));
  EXPECT_TRUE(log_.has("Failed to GET /kx/r/missing: status 404."));
  EXPECT_EQ(reply, "untouched");

  HTTP_Request request(HTTP_METHOD_POST, "/kx/r/busy");
  request.query_string().append("a b", "x&y");
  HTTP_Response response;
  reply = Value();
  ASSERT_TRUE(client.post(request, Value(Object()), response, reply));
  EXPECT_EQ(response.status(), 503);
  EXPECT_TRUE(reply.is_null());
  EXPECT_EQ(daemon_.requests_to("/kx/r/busy").at(0).query, "a%20b=x%26y");
}

TEST_F(Daemon_Client, ADaemonThatNeverAnswersTimesOut) {
  daemon_.hang("GET", "/kx/r/stuck");
  JSON_RESTful_Client client(daemon_.host(), daemon_.port(), false);
  client.set_timeouts(1, 1, 1);
  Value reply;
  EXPECT_FALSE(client.get("/kx/r/stuck", reply));
  EXPECT_TRUE(log_.has_prefix(LM_ERROR, "Failed to GET /kx/r/stuck on "));
}

TEST_F(Daemon_Client, UpstreamClientTalksToTheRegisteredDaemon) {
  Global_JSON_RPC_Channel::set(nullptr);
  Value reply;
  EXPECT_FALSE(Upstream_JSON_RESTful_Client().get("/kx/r/v2/storages", reply));
  EXPECT_TRUE(daemon_.requests().empty());

  auto channel = std::make_shared<JSON_RPC_Channel>();
  channel->host = daemon_.host();
  channel->port = daemon_.port();
  Global_JSON_RPC_Channel::set(channel);
  ASSERT_TRUE(Upstream_JSON_RESTful_Client().get("/kx/r/v2/storages", reply)) << log_.dump();
  EXPECT_EQ(reply, Value(Object{{"rows", Array()}}));
  EXPECT_EQ(daemon_.requests_to("/kx/r/v2/storages").at(0).headers["X-Access-Key"], "secret");
}

TEST_F(Daemon_Client, SpeaksTlsWhenAsked) {
  Test_Daemon tls_daemon(true);
  Value reply;
  JSON_RESTful_Client client(tls_daemon.host(), tls_daemon.port(), true);
  ASSERT_TRUE(client.get("/kx/r/v2/storages", reply)) << log_.dump();
  EXPECT_EQ(reply, Value(Object{{"rows", Array()}}));

  // Its certificate is its own: a client that checks certificates refuses it.
  JSON_RESTful_Client checking(tls_daemon.host(), tls_daemon.port(), true, true);
  EXPECT_FALSE(checking.get("/kx/r/v2/storages", reply));
  EXPECT_TRUE(log_.has_prefix(LM_ERROR, "Failed to GET /kx/r/v2/storages on "));
  EXPECT_EQ(tls_daemon.requests().size(), 1u);
}

}  // namespace
