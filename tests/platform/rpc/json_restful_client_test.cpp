// The daemon clients against a test daemon on 127.0.0.1: what they send,
// which replies count as success, and that a daemon that is down, answers
// garbage or never answers gives a logged failure.
#include "platform/rpc/json_restful_client.h"

#include <gtest/gtest.h>

#include "platform/rpc/host_manager.h"
#include "platform/rpc/http_session.h"
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

TEST_F(Daemon_Client, PathFormsNeedASuccessStatus) {
  JSON_RESTful_Client client(daemon_.host(), daemon_.port(), false);
  Value reply = "untouched";
  EXPECT_FALSE(client.get("/kx/r/missing", reply));
  EXPECT_TRUE(log_.has("Failed to GET /kx/r/missing: status 404."));
  EXPECT_EQ(reply, "untouched");
  EXPECT_FALSE(client.post("/kx/r/missing", Value(Object())));
}

TEST_F(Daemon_Client, RequestFormsReportAnyStatus) {
  daemon_.reply("POST", "/kx/r/busy", 503, "<html/>");
  JSON_RESTful_Client client(daemon_.host(), daemon_.port(), false);
  HTTP_Request request(HTTP_METHOD_POST, "/kx/r/busy");
  request.query_string().append("a b", "x&y");
  HTTP_Response response;
  Value reply;
  ASSERT_TRUE(client.post(request, Value(Object()), response, reply));
  EXPECT_EQ(response.status(), 503);
  EXPECT_TRUE(reply.is_null());
  EXPECT_EQ(daemon_.requests_to("/kx/r/busy")[0].query, "a%20b=x%26y");
}

TEST_F(Daemon_Client, ARepliedBodyThatIsNotJsonFails) {
  daemon_.reply("GET", "/kx/r/garbage", 200, "{not json");
  JSON_RESTful_Client client(daemon_.host(), daemon_.port(), false);
  Value reply;
  EXPECT_FALSE(client.get("/kx/r/garbage", reply));
  EXPECT_TRUE(log_.contains("Failed to parse the reply of GET /kx/r/garbage"));
}

TEST_F(Daemon_Client, ADaemonThatIsDownFails) {
  std::uint16_t closed_port;
  {
    Test_Daemon gone;
    closed_port = gone.port();
  }
  JSON_RESTful_Client client("127.0.0.1", closed_port, false);
  Value reply;
  EXPECT_FALSE(client.get("/kx/r/anything", reply));
  EXPECT_TRUE(log_.has_prefix(LM_ERROR, "Failed to GET /kx/r/anything on 127.0.0.1:"));
}

TEST_F(Daemon_Client, ADaemonThatNeverAnswersTimesOut) {
  daemon_.hang("GET", "/kx/r/stuck");
  JSON_RESTful_Client client(daemon_.host(), daemon_.port(), false);
  client.set_timeouts(1, 1, 1);
  Value reply;
  EXPECT_FALSE(client.get("/kx/r/stuck", reply));
  EXPECT_TRUE(log_.has_prefix(LM_ERROR, "Failed to GET /kx/r/stuck on "));
}

TEST_F(Daemon_Client, SessionRetriesWhenNoReplyCame) {
  daemon_.hang("GET", "/kx/r/stuck");
  JSON_HTTP_Session session(HTTP_Session_Factory::create(daemon_.host(), daemon_.port(), false,
                                                         nullptr, 1, nullptr, false, 1, 1, 0, 0),
                            5, 300);
  ASSERT_TRUE(session.usable());
  session.retries(1);
  HTTP_Request request(HTTP_METHOD_GET, "/kx/r/stuck");
  HTTP_Response response;
  Value reply;
  EXPECT_FALSE(session.get(request, response, reply));
  EXPECT_EQ(response.status(), 0);
  EXPECT_EQ(daemon_.requests_to("/kx/r/stuck").size(), 2u);
}

TEST_F(Daemon_Client, NoSessionWithoutAnAddress) {
  EXPECT_FALSE(HTTP_Session_Factory::create("", 80, false, nullptr, 1, nullptr, false, 1, 1, 0, 0));
  EXPECT_FALSE(
      HTTP_Session_Factory::create("127.0.0.1", 0, false, nullptr, 1, nullptr, false, 1, 1, 0, 0));
  JSON_HTTP_Session session(HTTP_Session_Ptr(), 5, 300);
  EXPECT_FALSE(session.usable());
}

TEST_F(Daemon_Client, UpstreamClientTalksToTheRegisteredDaemon) {
  Global_JSON_RPC_Channel::set(nullptr);
  Value reply;
  {
    Upstream_JSON_RESTful_Client unregistered;
    EXPECT_FALSE(unregistered.get("/kx/r/v2/storages", reply));
  }
  EXPECT_TRUE(daemon_.requests().empty());

  auto channel = std::make_shared<JSON_RPC_Channel>();
  channel->host = daemon_.host();
  channel->port = daemon_.port();
  Global_JSON_RPC_Channel::set(channel);
  Upstream_JSON_RESTful_Client client;
  ASSERT_TRUE(client.get("/kx/r/v2/storages", reply)) << log_.dump();
  EXPECT_EQ(reply, Value(Object{{"rows", Array()}}));
  EXPECT_EQ(daemon_.requests_to("/kx/r/v2/storages")[0].headers["X-Access-Key"], "secret");
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

TEST_F(Daemon_Client, JsonRpcRequestsCarryFreshIds) {
  std::string first = JSON_RPC_Id_Generator::get();
  std::string second = JSON_RPC_Id_Generator::get();
  EXPECT_NE(first, second);
  Object request = JSON_RPC_Request::make(first, "pool.status.update", Array());
  EXPECT_EQ(Value(request), Value(Object{{"id", first},
                                         {"jsonrpc", "2.0"},
                                         {"method", "pool.status.update"},
                                         {"params", Array()}}));
}

}  // namespace
