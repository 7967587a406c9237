// The catalog front's frame: lifecycle, routing on a server host and on an
// agent, the back-end map of an agent, and the usage timer's callback.
#include "storaged/storage_catalog/storage_catalog_manager.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <vector>

#include <ace/Reactor.h>
#include <ace/Timer_Queue.h>
#include <ace/Timer_Queue_Iterator.h>

#include "platform/rpc/http_options.h"
#include "platform/rpc/json_rpc.h"
#include "platform/runtime/simple_reactor.h"
#include "platform/sql/metadata.h"
#include "storaged/storage_catalog/storage_catalog_manager_database_impl.h"
#include "tests/support/front_fixture.h"

namespace {

const std::string kPoolA = "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa";
const std::string kPoolB = "bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb";
const std::string kPoolC = "cccccccccccccccccccccccccccccccc";
const std::string kSetA = "11111111111111111111111111111111";
const std::string kSetB = "22222222222222222222222222222222";

bool exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

struct Armed_Timer {
  const void* act;
  ACE_Time_Value due;
  ACE_Time_Value interval;
};

// The timers the process reactor holds for `handler`.
std::vector<Armed_Timer> armed_timers(const ACE_Event_Handler* handler) {
  ACE_Reactor* reactor = Simple_Reactor::instance()->reactor();
  std::vector<Armed_Timer> armed;
  ACE_Guard<ACE_Lock> guard(reactor->lock());
  ACE_Timer_Queue_Iterator_T<ACE_Event_Handler*>& it = reactor->timer_queue()->iter();
  for (it.first(); !it.isdone(); it.next()) {
    ACE_Timer_Node_T<ACE_Event_Handler*>* node = it.item();
    if (node->get_type() == handler)
      armed.push_back({node->get_act(), node->get_timer_value(), node->get_interval()});
  }
  return armed;
}

class Front_Server : public Front_Test, public ::testing::WithParamInterface<Engine> {
 protected:
  void SetUp() override {
    Front_Test::SetUp();
    open_server(GetParam());
  }
};

TEST_P(Front_Server, RoutesEveryPoolToTheDefaultCatalog) {
  Storage_Catalog_Manager_Impl* central = front_->get_default_impl(nullptr);
  ASSERT_NE(central, nullptr);
  EXPECT_EQ(front_->get_impl(kPoolA), central);
  EXPECT_EQ(front_->get_impl("not a pool at all"), central);
  EXPECT_EQ(front_->get_impl(kPoolB, false), central);
  EXPECT_TRUE(front_->get_connection(kPoolC));

  ASSERT_TRUE(front_->add_pool(pool_record(kPoolA))) << log_.dump();
  ASSERT_TRUE(front_->add_catalog(kPoolA, catalog_record(kSetA, kPoolA))) << log_.dump();
  Array rows;
  long long total = 0;
  ASSERT_TRUE(
      front_->query_catalog(kPoolA, Object(), "id", true, 0, -1, rows, &total, false, false));
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0]["uuid"], kSetA);
  EXPECT_EQ(total, 1);
}

TEST_P(Front_Server, ServesReplicateAndMergeOperations) {
  ASSERT_TRUE(front_->add_pool(pool_record(kPoolA)));
  ASSERT_TRUE(front_->add_pool(pool_record(kPoolB)));
  Object relation{{"uuid", kSetA}, {"source_uuid", kPoolA}, {"target_uuid", kPoolB}};
  EXPECT_TRUE(front_->add_replicate(relation)) << log_.dump();
  long long id = 0;
  EXPECT_TRUE(front_->add_merge_backup_job(
      Object{{"type", "merge"}, {"pool_uuid", kPoolA}, {"state", "pending"}}, id))
      << log_.dump();
  EXPECT_GT(id, 0);
  Array rows;
  EXPECT_TRUE(front_->query_replicate(Object(), 0, -1, rows, nullptr));
  EXPECT_EQ(rows.size(), 1u);
}

TEST_P(Front_Server, ReopenReplacesTheDefaultCatalog) {
  ASSERT_TRUE(front_->add_pool(pool_record(kPoolA)));
  front_->close();
  EXPECT_EQ(front_->get_default_impl(nullptr), nullptr);
  EXPECT_TRUE(log_.has("Failed to get default storage catalog manager."));
  EXPECT_FALSE(front_->add_catalog(kPoolA, catalog_record(kSetA, kPoolA)));

  ASSERT_TRUE(front_->open());
  EXPECT_TRUE(front_->add_catalog(kPoolA, catalog_record(kSetA, kPoolA))) << log_.dump();
}

TEST_P(Front_Server, NeverDeletesFilesWhenDroppingAPool) {
  std::string dir = local_dir(kPoolA);
  EXPECT_TRUE(front_->insert_into_map(kPoolA, dir));
  front_->erase_out_of_map(kPoolA, true, &dir);
  EXPECT_TRUE(exists(dir));
  EXPECT_NE(front_->get_default_impl(nullptr), nullptr);
}

SCAT_INSTANTIATE_ENGINES(Front_Server);

using Front_Agent = Front_Test;

TEST_F(Front_Agent, OpensTheCatalogOfEachLocalPool) {
  std::string dir_a = local_dir(kPoolA);
  std::string dir_b = local_dir(kPoolB);
  open_agent({{kPoolA, dir_a}, {kPoolB, dir_b}, {kPoolC, 5}});

  EXPECT_NE(front_->get_impl(kPoolA), nullptr);
  EXPECT_NE(front_->get_impl(kPoolB), nullptr);
  EXPECT_NE(front_->get_impl(kPoolA), front_->get_impl(kPoolB));
  EXPECT_TRUE(exists(dir_a + "/catalog.db"));
  EXPECT_TRUE(exists(dir_b + "/catalog.db"));
  EXPECT_EQ(front_->get_impl(kPoolC), nullptr);
  EXPECT_TRUE(log_.has("Failed to get storage catalog manager by pool " + kPoolC + "."));
  EXPECT_EQ(front_->get_default_impl(nullptr), nullptr);

  std::vector<Test_Daemon::Request> asked = daemon_.requests_to("/kx/r/v2/storages");
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(asked[0].method, "GET");
  EXPECT_EQ(asked[0].query, "scope=authorized_or_account&scheme=file");
  EXPECT_EQ(asked[0].headers["X-Access-Key"], kAccessKey);
}

TEST_F(Front_Agent, SkipsAPoolWhoseCatalogCannotOpen) {
  std::string dir_a = local_dir(kPoolA);
  open_agent({{kPoolA, dir_a}, {kPoolB, dir_.file("missing/deeper")}});
  EXPECT_NE(front_->get_impl(kPoolA), nullptr);
  EXPECT_EQ(front_->get_impl(kPoolB), nullptr);
  EXPECT_TRUE(
      log_.has("Failed to open SQLite database: " + dir_.file("missing/deeper") + "/catalog.db."));
}

TEST_F(Front_Agent, RoutesEachPoolToItsOwnCatalog) {
  open_agent({{kPoolA, local_dir(kPoolA)}, {kPoolB, local_dir(kPoolB)}});
  ASSERT_TRUE(front_->add_pool(pool_record(kPoolA))) << log_.dump();
  ASSERT_TRUE(front_->add_pool(pool_record(kPoolB))) << log_.dump();
  ASSERT_TRUE(front_->add_catalog(kPoolA, catalog_record(kSetA, kPoolA))) << log_.dump();
  ASSERT_TRUE(front_->add_catalog(kPoolB, catalog_record(kSetB, kPoolB))) << log_.dump();

  Array rows;
  ASSERT_TRUE(
      front_->query_catalog(kPoolA, Object(), "id", true, 0, -1, rows, nullptr, false, false));
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0]["uuid"], kSetA);

  log_.clear();
  EXPECT_FALSE(front_->add_catalog(kPoolC, catalog_record(kSetA, kPoolC)));
  EXPECT_TRUE(log_.has("Failed to get storage catalog manager by pool " + kPoolC + "."));
  std::set<std::string> uuids;
  EXPECT_FALSE(front_->get_uuids_with_files(kPoolC, Array{"/data/x"}, uuids));
}

TEST_F(Front_Agent, RefusesCentralOperations) {
  open_agent({{kPoolA, local_dir(kPoolA)}});
  EXPECT_FALSE(front_->add_replicate(Object{{"uuid", kSetA}}));
  EXPECT_TRUE(log_.has("Do not support replicate in local pool"));
  Array rows;
  EXPECT_FALSE(front_->query_replicate_job(Object(), 0, -1, rows, nullptr));
  EXPECT_EQ(log_.count("Do not support replicate in local pool"), 2);
  long long id = 0;
  EXPECT_FALSE(front_->add_merge_backup_job(Object{{"type", "merge"}}, id));
  EXPECT_TRUE(log_.has("Do not support merge backup in local pool"));
  EXPECT_EQ(front_->get_default_impl(""), nullptr);
  EXPECT_EQ(front_->get_default_impl(nullptr), nullptr);
}

TEST_F(Front_Agent, RefusesCheckedLookupsUntilPoolsAreLoaded) {
  init_agent();
  std::string dir = local_dir(kPoolA);
  {
    // The pool's catalog as an earlier run of the agent left it.
    Storage_Catalog_Manager_Database_Impl earlier(dir + "/catalog.db");
    ASSERT_TRUE(earlier.open());
    ASSERT_TRUE(earlier.add_pool(pool_record(kPoolA)));
  }
  ASSERT_TRUE(front_->insert_into_map(kPoolA, dir));

  EXPECT_FALSE(front_->add_catalog(kPoolA, catalog_record(kSetA, kPoolA)));
  EXPECT_TRUE(log_.has("Local pool has not been synchronized."));
  EXPECT_FALSE(front_->get_connection(kPoolA));
  EXPECT_FALSE(front_->add_pool(pool_record(kPoolA)));

  // The unchecked lookups find the back-end already.
  EXPECT_NE(front_->get_impl(kPoolA, false), nullptr);
  Array found;
  EXPECT_TRUE(front_->get_uuids_with_file(kPoolA, "/data/x", found)) << log_.dump();
}

TEST_F(Front_Agent, OpenFailsWhenTheDaemonCannotListThePools) {
  daemon_.reply("GET", "/kx/r/v2/storages", 500, "{}");
  init_agent();
  EXPECT_FALSE(front_->open());
  EXPECT_TRUE(log_.has("Failed to get storages info from backupd."));
  EXPECT_TRUE(log_.has("Failed to get local pools for sync."));
  EXPECT_FALSE(front_->add_pool(pool_record(kPoolA)));
  EXPECT_TRUE(log_.has("Local pool has not been synchronized."));
}

TEST_F(Front_Agent, KeepsTheOldCatalogWhenTheNewFolderIsMissing) {
  open_agent({{kPoolA, local_dir(kPoolA)}});
  Storage_Catalog_Manager_Impl* before = front_->get_impl(kPoolA);
  std::string missing = dir_.file("nowhere");
  EXPECT_FALSE(front_->insert_into_map(kPoolA, missing));
  EXPECT_TRUE(log_.has("Failed to find local pool token '" + missing + "'."));
  EXPECT_EQ(front_->get_impl(kPoolA), before);
}

TEST_F(Front_Agent, DeletesTheFolderOfADroppedPoolEvenWithoutCatalog) {
  open_agent({});
  std::string dir = local_dir(kPoolB);
  front_->erase_out_of_map(kPoolB, true, &dir);
  EXPECT_FALSE(exists(dir));

  std::string kept = local_dir(kPoolA);
  ASSERT_TRUE(front_->insert_into_map(kPoolA, kept));
  front_->erase_out_of_map(kPoolA, false, &kept);
  EXPECT_TRUE(exists(kept + "/catalog.db"));
  EXPECT_EQ(front_->get_impl(kPoolA, false), nullptr);
}

TEST_F(Front_Agent, KeepsAFolderThatIsNotThePoolsOwn) {
  // A stand-in for "/": system-like folders and files, and a pool folder.
  std::string root = dir_.file("root");
  std::string pool_dir = Storage_Catalog_Manager::gen_local_pool_path(kPoolA, root, true);
  ASSERT_TRUE(front_->check_pool_token(pool_dir));
  ASSERT_EQ(::mkdir((root + "/etc").c_str(), 0750), 0);
  write_file(root + "/etc/hosts", "127.0.0.1 localhost");
  open_agent({{kPoolA, pool_dir}});

  front_->erase_out_of_map(kPoolA, true, &root);
  EXPECT_TRUE(exists(root + "/etc/hosts"));
  EXPECT_TRUE(exists(pool_dir + "/catalog.db"));
  EXPECT_TRUE(log_.has("Kept '" + root + "': it is not the local folder of pool " + kPoolA + "."));
  EXPECT_EQ(front_->get_impl(kPoolA), nullptr);

  // The parent of the pool's folder, once a catalog was opened there too.
  ASSERT_TRUE(front_->insert_into_map(kPoolA, root));
  front_->erase_out_of_map(kPoolA, true, &root);
  EXPECT_TRUE(exists(root + "/catalog.db"));
  EXPECT_TRUE(exists(pool_dir));

  // Another pool's folder, and a plain file named like the pool's folder.
  std::string other = local_dir(kPoolB);
  front_->erase_out_of_map(kPoolA, true, &other);
  EXPECT_TRUE(exists(other));
  std::string file = dir_.file("LP_" + kPoolC);
  write_file(file, "x");
  front_->erase_out_of_map(kPoolC, true, &file);
  EXPECT_TRUE(exists(file));
}

TEST_F(Front_Agent, DeletesAPoolFolderByItsNameOrItsLoneCatalog) {
  std::string named = local_dir(kPoolA);
  write_file(named + "/data", "x");
  std::string custom = dir_.file("custom");
  ASSERT_EQ(::mkdir(custom.c_str(), 0750), 0);
  open_agent({{kPoolA, named}, {kPoolB, custom}});
  ASSERT_TRUE(exists(custom + "/catalog.db"));

  std::string with_slash = named + "/";
  front_->erase_out_of_map(kPoolA, true, &with_slash);
  EXPECT_FALSE(exists(named));
  front_->erase_out_of_map(kPoolB, true, &custom);
  EXPECT_FALSE(exists(custom));
  EXPECT_FALSE(log_.has_prefix(LM_ERROR, "Kept ")) << log_.dump();
}

using Front_Frame = Front_Test;

TEST_F(Front_Frame, NamesLocalPoolFoldersAfterThePool) {
  EXPECT_EQ(Storage_Catalog_Manager::gen_local_pool_path("abc", "/srv/pools", false),
            "/srv/pools/LP_abc");
  std::string made = Storage_Catalog_Manager::gen_local_pool_path("abc", dir_.file("a/b"), true);
  EXPECT_EQ(made, dir_.file("a/b/LP_abc"));
  struct stat st;
  ASSERT_EQ(::stat(made.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777 & ~0750, 0u);
  EXPECT_TRUE(front_->check_pool_token(made));
  write_file(dir_.file("plain"), "x");
  EXPECT_FALSE(front_->check_pool_token(dir_.file("plain")));
}

TEST_F(Front_Frame, IsRegisteredOnTheDaemonHostOrOnceAChannelExists) {
  Host_Manager::instance()->set_role(Host_Manager::ROLE_SERVER);
  front_->init(daemon_.host(), daemon_.port(), false);
  EXPECT_FALSE(front_->is_registered());
  auto channel = std::make_shared<JSON_RPC_Channel>();
  channel->host = daemon_.host();
  channel->port = daemon_.port();
  Global_JSON_RPC_Channel::set(channel);
  EXPECT_TRUE(front_->is_registered());

  Storage_Catalog_Manager::close_instance();
  Global_JSON_RPC_Channel::set(nullptr);
  front_ = Storage_Catalog_Manager::instance();
  Host_Manager::instance()->set_role(Host_Manager::ROLE_BACKUPD);
  front_->init("elsewhere", 1, false);
  EXPECT_TRUE(front_->is_registered());
}

TEST_F(Front_Frame, UsesTheDaemonsOwnAddressOnItsHost) {
  daemon_.reply("POST", "/kx/r/v2/storage/pools/sync", 200, "[]");
  HTTP_Options::instance()->set_local_listen_address(daemon_.host(), daemon_.port(), false);
  Host_Manager::instance()->set_role(Host_Manager::ROLE_BACKUPD);
  database::Database db;
  db.name("storage_catalog").path(dir_.file("shared.db"));
  database::Manager::instance()->configure("storage_catalog", db);
  front_->init("unreachable.invalid", 9, true);
  ASSERT_TRUE(front_->open());
  ASSERT_TRUE(front_->add_pool(pool_record(kPoolA)));
  EXPECT_TRUE(front_->sync_pools_state()) << log_.dump();
  EXPECT_EQ(daemon_.requests_to("/kx/r/v2/storage/pools/sync").size(), 1u);
}

TEST_F(Front_Frame, TimerQueuesWorkOnlyForItsOwnAct) {
  // Before open no worker runs, so a queued report shows as a refusal.
  ACE_Time_Value now;
  EXPECT_EQ(front_->handle_timeout(now, reinterpret_cast<const void*>(2)), 0);
  EXPECT_EQ(front_->handle_timeout(now, nullptr), 0);
  EXPECT_FALSE(log_.contains("No active worker thread!"));
  EXPECT_EQ(front_->handle_timeout(now, reinterpret_cast<const void*>(1)), 0);
  EXPECT_TRUE(log_.has("No active worker thread!"));
}

TEST_F(Front_Frame, OpenArmsTheUsageTimerAndCloseCancelsIt) {
  ACE_Timer_Queue* queue = Simple_Reactor::instance()->reactor()->timer_queue();
  const ACE_Time_Value period(30);
  ACE_Time_Value before = queue->gettimeofday();
  open_server();
  ACE_Time_Value after = queue->gettimeofday();
  std::vector<Armed_Timer> armed = armed_timers(front_);
  ASSERT_EQ(armed.size(), 1u);
  EXPECT_EQ(armed[0].act, reinterpret_cast<const void*>(1));
  EXPECT_EQ(armed[0].interval, period);
  EXPECT_GE(armed[0].due, before + period);
  EXPECT_LE(armed[0].due, after + period);

  ASSERT_TRUE(front_->open());
  EXPECT_EQ(armed_timers(front_).size(), 1u);
  front_->close();
  EXPECT_TRUE(armed_timers(front_).empty());

  ASSERT_TRUE(front_->open());
  ASSERT_EQ(armed_timers(front_).size(), 1u);
  const ACE_Event_Handler* destroyed = front_;
  Storage_Catalog_Manager::close_instance();
  front_ = Storage_Catalog_Manager::instance();
  EXPECT_TRUE(armed_timers(destroyed).empty());
}

TEST_F(Front_Frame, UsageReportSendsNothingYet) {
  open_server();
  EXPECT_FALSE(front_->sync_usages());
  EXPECT_TRUE(daemon_.requests().empty());
  EXPECT_EQ(front_->usage_resync_interval(), 86400);
}

TEST_F(Front_Frame, CloseInstanceGivesAFreshManager) {
  open_server();
  ASSERT_NE(front_->get_default_impl(nullptr), nullptr);
  Storage_Catalog_Manager::close_instance();
  front_ = Storage_Catalog_Manager::instance();
  ASSERT_NE(front_, nullptr);
  EXPECT_EQ(front_->get_default_impl(nullptr), nullptr);
}

}  // namespace
