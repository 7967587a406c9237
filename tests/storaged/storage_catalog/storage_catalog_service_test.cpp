#include "storaged/storage_catalog/storage_catalog_service.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include <ace/ARGV.h>
#include <ace/Service_Config.h>

#include "platform/job/job_manager.h"
#include "platform/rpc/host_manager.h"
#include "platform/sql/legacy_manager.h"
#include "platform/sql/metadata.h"
#include "storaged/storage_catalog/catalog_settings.h"
#include "storaged/storage_catalog/storage_catalog_manager.h"
#include "tests/support/log_capture.h"
#include "tests/support/temp_dir.h"

namespace {

const char kPool[] = "11111111111111111111111111111111";

TEST(Service_Options, NumbersAreReadUpToTheFirstOtherCharacter) {
  using S = Storage_Catalog_Service;
  EXPECT_EQ((std::vector<int>{S::parse_port("+80x1"), S::parse_port("-80"), S::parse_port("abc"),
                              S::parse_port("99999999999999999999999")}),
            (std::vector<int>{80, 0, 0, 65535}));
  EXPECT_EQ(
      (std::vector<int>{S::parse_seconds("3600s"), S::parse_seconds("-5"), S::parse_seconds(""),
                        S::parse_seconds("99999999999"), S::parse_seconds("-99999999999")}),
      (std::vector<int>{3600, -5, 0, INT_MAX, INT_MIN}));
}

// A storage host whose catalog and jobs live in a fresh folder.
class Catalog_Service : public ::testing::Test {
 protected:
  void SetUp() override {
    configure_catalog(dir_.file("catalog.db"));
    Job_Manager::configure(dir_.file("jobs"));
    Job_Manager::close_instance();
    Host_Manager::instance()->set_role(Host_Manager::ROLE_SERVER);
    Host_Manager::instance()->set_uuid("0123456789abcdef0123456789abcdef");
  }

  void TearDown() override {
    ACE_Service_Config::remove(ACE_TEXT("Storage_Catalog_Service"));
    Storage_Catalog_Manager::close_instance();
    Job_Manager::close_instance();
    Job_Manager::configure("");
    Host_Manager::instance()->reset();
    database::sql::Legacy_Manager::instance()->close("storage_catalog");
    database::Manager::instance()->unconfigure("storage_catalog");
  }

  static void configure_catalog(const std::string& file) {
    database::Database db;
    db.name("storage_catalog").type(database::Database::SQLITE).path(file);
    database::Manager::instance()->configure("storage_catalog", db);
    database::sql::Legacy_Manager::instance()->close("storage_catalog");
  }

  // The manager's settings: "host:port [ssl] r=<resync> [opened]".
  static std::string settings() {
    Storage_Catalog_Manager* m = Storage_Catalog_Manager::instance();
    return m->host() + ":" + std::to_string(m->port()) + (m->ssl() ? " ssl" : "") +
           " r=" + std::to_string(m->usage_resync_interval()) +
           (m->get_connection(kPool) ? " opened" : "");
  }

  // init with `options` on a service of our own, then fini; `seen_` gets
  // the settings in between.
  int run(const char* options) {
    Storage_Catalog_Service service;
    ACE_ARGV argv(ACE_TEXT(options));
    int result = service.init(argv.argc(), argv.argv());
    seen_ = settings();
    EXPECT_EQ(service.fini(), 0);
    return result;
  }

  Temp_Dir dir_;
  Log_Capture log_;
  std::string seen_;
};

TEST_F(Catalog_Service, LoadsFromADirectiveWithItsOptions) {
  std::string directive = std::string("dynamic Storage_Catalog_Service Service_Object * ") +
                          SCAT_LIBRARY_PATH +
                          ":_make_Storage_Catalog_Service() \"-h 127.0.0.1 -p 8080 -r 3600 -t 7\"";
  ASSERT_EQ(ACE_Service_Config::process_directive(ACE_TEXT(directive.c_str())), 0) << log_.dump();
  // A storage host opens its catalog and registers the consistency check.
  EXPECT_EQ(settings(), "127.0.0.1:8080 r=3600 opened");
  EXPECT_EQ(Job_Manager::instance()->jobs().size(), 1u);
  EXPECT_EQ(get_daemon_timeout(60), 7);
  set_daemon_timeout(0);
  // fini destroys the manager: the next one starts from scratch.
  ASSERT_EQ(ACE_Service_Config::remove(ACE_TEXT("Storage_Catalog_Service")), 0);
  EXPECT_EQ(Storage_Catalog_Manager::instance()->usage_resync_interval(), 86400);
}

TEST_F(Catalog_Service, ResyncIntervalOfZeroOrLessMeansADay) {
  ASSERT_EQ(run("-s -h daemon.example -p 443"), 0);
  EXPECT_EQ(seen_, "daemon.example:443 ssl r=86400 opened");
  for (const char* options : {"-r 0", "-r -5", "-r -99999999999"}) {
    ASSERT_EQ(run(options), 0);
    EXPECT_EQ(seen_, ":0 r=86400 opened") << options;
  }
}

TEST_F(Catalog_Service, UnknownOptionsAreLoggedAndSkipped) {
  ASSERT_EQ(run("-x -p 81 -r"), 0);
  EXPECT_TRUE(log_.has("Unknown Storage_Catalog_Service option: 'x'.")) << log_.dump();
  EXPECT_EQ(seen_, ":81 r=86400 opened");
  // -r without its number is reported too.
  EXPECT_EQ(log_.count("Unknown Storage_Catalog_Service option:"), 2);
}

TEST_F(Catalog_Service, AgentHostIsNotOpened) {
  Host_Manager::instance()->set_role(Host_Manager::ROLE_AGENT);
  ASSERT_EQ(run("-h 127.0.0.1 -p 1"), 0);
  EXPECT_EQ(seen_, "127.0.0.1:1 r=86400");
  EXPECT_TRUE(Job_Manager::instance()->jobs().empty());
}

TEST_F(Catalog_Service, CatalogThatCannotOpenFailsInit) {
  write_file(dir_.file("blocker"), "a file, not a folder");
  configure_catalog(dir_.file("blocker/catalog.db"));
  EXPECT_EQ(run("-p 1"), -1);
  EXPECT_TRUE(log_.has("Failed to open storage catalog manager.")) << log_.dump();
}

}  // namespace
