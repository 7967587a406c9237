// Device URLs corrected through the backup daemon ("pool.device.query"),
// against a test daemon that answers, errs, answers garbage or is down.
#include <gtest/gtest.h>

#include <memory>

#include "storaged/storage_catalog/storage_catalog_utils.h"
#include "tests/support/front_fixture.h"

namespace {

using Utils = Storage_Catalog_Utils;

const std::string kAgent = "12121212121212121212121212121212";
const std::string kDevA = "dddddddddddddddddddddddddddddddd";
const std::string kDevB = "eeeeeeeeeeeeeeeeeeeeeeeeeeeeeeee";

class Utils_Adjust : public Front_Test {
 protected:
  void SetUp() override {
    Front_Test::SetUp();
    Host_Manager::instance()->set_role(Host_Manager::ROLE_SERVER);
    front_->init(daemon_.host(), daemon_.port(), false);
  }

  void answer(const Value& result) {
    daemon_.reply("POST", "/kx/jr", 200,
                  JSON_Dump(Object{{"id", "1"}, {"jsonrpc", "2.0"}, {"result", result}}));
  }

  static Array devices() {
    return Array{Object{{"uuid", kDevA}, {"url", "dedup://agent-side/a"}},
                 Object{{"uuid", kDevB}, {"url", "dedup://agent-side/b"}}, "not a device"};
  }
};

TEST_F(Utils_Adjust, CorrectsTheUrlsOfDevicesTheDaemonKnows) {
  answer(Object{{kDevA, Object{{"url", "dedup://10.0.0.5/a"}}}, {kDevB, "garbage"}});
  Array list = devices();
  ASSERT_TRUE(Utils::adjust_devices_by_agent_uuid(kAgent, list)) << log_.dump();
  EXPECT_EQ(list[0]["url"], "dedup://10.0.0.5/a");
  EXPECT_EQ(list[1]["url"], "dedup://agent-side/b");
  EXPECT_EQ(list[2], "not a device");

  auto sent = daemon_.requests_to("/kx/jr");
  ASSERT_EQ(sent.size(), 1u);
  Value body;
  ASSERT_TRUE(loads_json(sent[0].body, body));
  EXPECT_EQ(body["jsonrpc"], "2.0");
  EXPECT_EQ(body["method"], "pool.device.query");
  EXPECT_TRUE(body["id"].is_string());
  EXPECT_EQ(body["params"],
            (Object{{"type", "data"}, {"agent_uuid", kAgent}, {"devices", devices()}}));
  EXPECT_EQ(sent[0].headers["X-Access-Key"], kAccessKey);

  Object one{{"uuid", kDevA}, {"url", "dedup://agent-side/a"}};
  ASSERT_TRUE(Utils::adjust_device_by_agent_uuid(kAgent, one));
  EXPECT_EQ(one["url"], "dedup://10.0.0.5/a");
}

TEST_F(Utils_Adjust, AnUnusableAnswerLeavesTheDevicesAsTheyWere) {
  Array list = devices();
  std::string text = JSON_Dump(Value(list));
  // No answer for the path: the daemon errs.
  EXPECT_FALSE(Utils::adjust_devices_by_agent_uuid(kAgent, list));
  EXPECT_TRUE(log_.has("Failed to get device info for agent(" + kAgent + "): " + text +
                       ", result type 6."));
  daemon_.reply("POST", "/kx/jr", 200, "[1,2]");
  EXPECT_FALSE(Utils::adjust_devices_by_agent_uuid(kAgent, list));
  EXPECT_TRUE(log_.has("Failed to get device info for agent(" + kAgent + "): " + text +
                       ", result type 1."));
  daemon_.reply("POST", "/kx/jr", 200, "{\"result\": [");
  EXPECT_FALSE(Utils::adjust_devices_by_agent_uuid(kAgent, list));
  std::string reply = "{\"error\":{\"code\":-32601},\"id\":\"1\"}";
  daemon_.reply("POST", "/kx/jr", 200, reply);
  EXPECT_FALSE(Utils::adjust_devices_by_agent_uuid(kAgent, list));
  EXPECT_TRUE(log_.has("Failed to get device info for agent(" + kAgent + "): " + text +
                       ", response: " + reply + "."));
  Object one{{"uuid", kDevA}, {"url", "dedup://agent-side/a"}};
  EXPECT_FALSE(Utils::adjust_device_by_agent_uuid(kAgent, one));
  EXPECT_EQ(one["url"], "dedup://agent-side/a");
  EXPECT_EQ(JSON_Dump(Value(list)), text);
}

TEST_F(Utils_Adjust, ADaemonThatIsDownFails) {
  std::uint16_t port = 0;
  {
    Test_Daemon gone;
    port = gone.port();
  }
  Storage_Catalog_Manager::close_instance();
  front_ = Storage_Catalog_Manager::instance();
  front_->init("127.0.0.1", port, false);
  Array list = devices();
  EXPECT_FALSE(Utils::adjust_devices_by_agent_uuid(kAgent, list));
  EXPECT_TRUE(log_.contains("Failed to get device info for agent(" + kAgent + ")"));
}

}  // namespace
