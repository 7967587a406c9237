// The catalog front's frame: lifecycle, routing on a server host and on an
// agent, the back-end map of an agent, and the usage timer.
#include "storaged/storage_catalog/storage_catalog_manager.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <map>
#include <vector>

#include <ace/Reactor.h>
#include <ace/Timer_Queue.h>
#include <ace/Timer_Queue_Iterator.h>

#include "platform/rpc/http_options.h"
#include "platform/runtime/simple_reactor.h"
#include "platform/sql/metadata.h"
#include "storaged/storage_catalog/storage_catalog_manager_database_impl.h"
#include "tests/support/front_fixture.h"

namespace {

using Timers = std::vector<std::pair<const void*, ACE_Time_Value>>;

// The (act, interval) of each timer the process reactor holds for `handler`.
Timers armed_timers(const ACE_Event_Handler* handler) {
  ACE_Reactor* reactor = Simple_Reactor::instance()->reactor();
  Timers armed;
  ACE_Guard<ACE_Lock> guard(reactor->lock());
  ACE_Timer_Queue_Iterator_T<ACE_Event_Handler*>& it = reactor->timer_queue()->iter();
  for (it.first(); !it.isdone(); it.next())
    if (it.item()->get_type() == handler)
      armed.emplace_back(it.item()->get_act(), it.item()->get_interval());
  return armed;
}

using Front_Server = Front_Server_Test;

TEST_P(Front_Server, RoutesEveryPoolToTheDefaultCatalogUntilClosed) {
  Storage_Catalog_Manager_Impl* central = front_->get_default_impl(nullptr);
  ASSERT_NE(central, nullptr);
  EXPECT_EQ(front_->get_impl("not a pool at all"), central);
  EXPECT_EQ(front_->get_impl(kPoolB, false), central);
  ASSERT_TRUE(front_->add_pool(pool_record(kPoolA))) << log_.dump();
  EXPECT_TRUE(front_->add_replicate(
      Object{{"uuid", kSetB}, {"source_uuid", kPoolA}, {"target_uuid", kPoolB}}))
      << log_.dump();
  // Never deletes files.
  std::string dir = local_dir(kPoolA);
  EXPECT_TRUE(front_->insert_into_map(kPoolA, dir));
  front_->erase_out_of_map(kPoolA, true, &dir);
  EXPECT_TRUE(exists(dir));

  front_->close();
  EXPECT_FALSE(front_->add_catalog(kPoolA, catalog_record(kSetA, kPoolA)));
  EXPECT_TRUE(log_.has("Failed to get default storage catalog manager."));
  ASSERT_TRUE(front_->open());
  EXPECT_TRUE(front_->add_catalog(kPoolA, catalog_record(kSetA, kPoolA))) << log_.dump();
  EXPECT_EQ(catalog_count(kPoolA), 1);
}

SCAT_INSTANTIATE_ENGINES(Front_Server);

using Front_Agent = Front_Test;

TEST_F(Front_Agent, OpensTheCatalogOfEachLocalPoolThatOpens) {
  open_agent({{kPoolA, local_dir(kPoolA)}, {kPoolB, local_dir(kPoolB)}, {kPoolC, 5}});
  EXPECT_EQ(front_->get_default_impl(nullptr), nullptr);
  for (const std::string& pool : {kPoolA, kPoolB})
    ASSERT_TRUE(front_->add_pool(pool_record(pool))) << log_.dump();
  ASSERT_TRUE(front_->add_catalog(kPoolA, catalog_record(kSetA, kPoolA))) << log_.dump();
  EXPECT_EQ(catalog_count(kPoolA), 1);
  EXPECT_EQ(catalog_count(kPoolB), 0);
  EXPECT_FALSE(front_->add_catalog(kPoolC, catalog_record(kSetA, kPoolC)));
  EXPECT_TRUE(log_.has("Failed to get storage catalog manager by pool " + kPoolC + "."));
  std::set<std::string> uuids;
  EXPECT_FALSE(front_->get_uuids_with_files(kPoolC, Array{"/data/x"}, uuids));

  std::vector<Test_Daemon::Request> asked = daemon_.requests_to("/kx/r/v2/storages");
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(asked[0].query, "scope=authorized_or_account&scheme=file");
  EXPECT_EQ(asked[0].headers["X-Access-Key"], kAccessKey);
}

// An empty entry (the daemon's own database) would make the host's shared
// catalog the pool's; a relative one would depend on where the process runs.
TEST_F(Front_Agent, SkipsLocalPoolsWithoutAnAbsoluteExistingFolder) {
  std::string relative = std::filesystem::relative(local_dir(kPoolB)).string();
  std::map<std::string, std::string> refused{
      {kPoolA, ""}, {kPoolB, relative}, {kPoolC, dir_.file("missing/deeper")}};
  std::map<std::string, Value> listed{{uuid_of(4), local_dir(uuid_of(4))}};
  listed.insert(refused.begin(), refused.end());
  open_agent(listed);
  for (const auto& pool : refused) {
    EXPECT_EQ(front_->get_impl(pool.first, false), nullptr) << pool.second;
    EXPECT_TRUE(log_.has("Skipped local pool " + pool.first + ": '" + pool.second +
                         "' is not an existing absolute folder."))
        << log_.dump();
  }
  EXPECT_NE(front_->get_impl(uuid_of(4)), nullptr);
  EXPECT_FALSE(front_->insert_into_map(kPoolB, relative));
  EXPECT_FALSE(front_->insert_into_map(kPoolA, ""));
  EXPECT_FALSE(exists(relative + "/catalog.db"));
}

// A daemon that is slow or silent holds up open, not the lock-holding
// lookups of other threads: they answer as before the pools were loaded.
TEST_F(Front_Agent, LockedLookupsGoOnWhileOpenWaitsForTheDaemon) {
  const std::string storages = "/kx/r/v2/storages";
  std::string dir = local_dir(kPoolA);
  daemon_.hang("GET", storages);
  init_agent();
  std::future<bool> opened = std::async(std::launch::async, [this] { return front_->open(); });
  ASSERT_TRUE(wait_until([&] { return !daemon_.requests_to(storages).empty(); }));
  std::future<bool> looked_up = std::async(std::launch::async, [this] {
    Array rows;
    return front_->query_device(Object{{"pool_uuid", kPoolA}}, 0, -1, rows, nullptr);
  });
  bool answered = wait_until(
      [&] { return looked_up.wait_for(std::chrono::seconds(0)) == std::future_status::ready; });
  Object row{{"pool_uuid", kPoolA},
             {"extended_attrs", Object{{"attached_hosts", Object{{kHostUuid, dir}}}}}};
  daemon_.reply("GET", storages, 200, JSON_Dump(Object{{"rows", Array{row}}}));
  EXPECT_TRUE(opened.get()) << log_.dump();
  EXPECT_TRUE(answered);
  EXPECT_FALSE(looked_up.get());
  EXPECT_TRUE(log_.has("Local pool has not been synchronized."));
  EXPECT_NE(front_->get_impl(kPoolA), nullptr);
}

TEST_F(Front_Agent, RefusesCheckedLookupsUntilPoolsAreLoaded) {
  init_agent();
  std::string dir = local_dir(kPoolA);
  {
    // The pool's catalog as an earlier run of the agent left it.
    Storage_Catalog_Manager_Database_Impl earlier(dir + "/catalog.db");
    ASSERT_TRUE(earlier.open() && earlier.add_pool(pool_record(kPoolA)));
  }
  ASSERT_TRUE(front_->insert_into_map(kPoolA, dir));
  EXPECT_FALSE(front_->add_catalog(kPoolA, catalog_record(kSetA, kPoolA)));
  EXPECT_FALSE(front_->add_pool(pool_record(kPoolA)));
  Value chains;
  EXPECT_FALSE(front_->get_incarnation_info(
      Array{Object{{"pool_uuid", kPoolA}, {"catalog_uuids", Array{kSetA}}}}, chains));
  EXPECT_EQ(log_.count("Local pool has not been synchronized."), 3);
  // The unchecked lookups find the back-end already.
  Array found;
  EXPECT_TRUE(front_->get_uuids_with_file(kPoolA, "/data/x", found)) << log_.dump();

  // A folder that is gone leaves the pool's catalog in place.
  Storage_Catalog_Manager_Impl* before = front_->get_impl(kPoolA, false);
  EXPECT_FALSE(front_->insert_into_map(kPoolA, dir_.file("gone")));
  EXPECT_TRUE(log_.has("Failed to find local pool token '" + dir_.file("gone") + "'."));
  EXPECT_EQ(front_->get_impl(kPoolA, false), before);
}

// The folder comes from the daemon's device record, which may be wrong.
TEST_F(Front_Agent, DroppingAPoolDeletesOnlyItsOwnFolder) {
  open_agent({});
  std::string named = local_dir(kPoolA);  // deleted by its name, without a catalog
  write_file(named + "/data", "x");
  std::string custom = dir_.file("custom");  // deleted as it holds only the catalog
  ASSERT_EQ(::mkdir(custom.c_str(), 0750), 0);
  ASSERT_TRUE(front_->insert_into_map(kPoolB, custom));
  std::string with_slash = named + "/";
  front_->erase_out_of_map(kPoolA, true, &with_slash);
  front_->erase_out_of_map(kPoolB, true, &custom);
  EXPECT_FALSE(exists(named) || exists(custom));
  EXPECT_EQ(front_->get_impl(kPoolB, false), nullptr);

  // Kept: without remove_files; "/"-like and shared folders; another
  // pool's folder; a file.
  std::string root = dir_.file("root");
  std::string pool_dir = Storage_Catalog_Manager::gen_local_pool_path(kPoolA, root, true);
  ASSERT_TRUE(front_->insert_into_map(kPoolA, pool_dir));
  front_->erase_out_of_map(kPoolA, false, &pool_dir);
  front_->erase_out_of_map(kPoolA, true, &root);
  EXPECT_TRUE(log_.has("Kept '" + root + "': it is not the local folder of pool " + kPoolA + "."));
  ASSERT_TRUE(front_->insert_into_map(kPoolA, root));  // now holds a catalog and more
  front_->erase_out_of_map(kPoolA, true, &root);
  std::string other = local_dir(kPoolB);
  front_->erase_out_of_map(kPoolA, true, &other);
  std::string file = dir_.file("LP_" + kPoolC);
  write_file(file, "x");
  front_->erase_out_of_map(kPoolC, true, &file);
  for (const std::string& path : {pool_dir + "/catalog.db", root + "/catalog.db", other, file})
    EXPECT_TRUE(exists(path)) << path;
}

// A call that holds its back-end finishes on it while another thread drops
// the pool.
TEST_F(Front_Agent, AHeldBackEndOutlivesItsEntry) {
  std::string dir = local_dir(kPoolA);
  open_agent({{kPoolA, dir}});
  ASSERT_TRUE(front_->add_pool(pool_record(kPoolA)));
  std::shared_ptr<Storage_Catalog_Manager_Impl> held = front_->share_impl(kPoolA);
  ASSERT_NE(held, nullptr);
  EXPECT_EQ(held.get(), front_->get_impl(kPoolA));
  front_->erase_out_of_map(kPoolA, false, nullptr);
  EXPECT_EQ(front_->get_impl(kPoolA, false), nullptr);
  EXPECT_TRUE(held->add_catalog(kPoolA, catalog_record(kSetA, kPoolA))) << log_.dump();
  held.reset();
  ASSERT_TRUE(front_->insert_into_map(kPoolA, dir));
  EXPECT_EQ(catalog_count(kPoolA), 1);
  EXPECT_EQ(front_->share_impl(kPoolB), nullptr);
}

using Front_Frame = Front_Test;

TEST_F(Front_Frame, NamesLocalPoolFoldersAfterThePool) {
  EXPECT_EQ(Storage_Catalog_Manager::gen_local_pool_path("abc", "/srv/pools", false),
            "/srv/pools/LP_abc");
  EXPECT_TRUE(front_->check_pool_token(dir_.path()));
  write_file(dir_.file("plain"), "x");
  EXPECT_FALSE(front_->check_pool_token(dir_.file("plain")));
}

TEST_F(Front_Frame, UsesTheDaemonsOwnAddressOnItsHost) {
  HTTP_Options::instance()->set_local_listen_address(daemon_.host(), daemon_.port(), false);
  Host_Manager::instance()->set_role(Host_Manager::ROLE_BACKUPD);
  database::Database db;
  db.name("storage_catalog").path(dir_.file("shared.db"));
  database::Manager::instance()->configure("storage_catalog", db);
  front_->init("unreachable.invalid", 9, true);
  ASSERT_TRUE(front_->open() && front_->add_pool(pool_record(kPoolA)));
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

TEST_F(Front_Frame, OpenArmsOneUsageTimerAndCloseOrDestructionCancelsIt) {
  open_server();
  const Timers one{{reinterpret_cast<const void*>(1), ACE_Time_Value(30)}};
  EXPECT_EQ(armed_timers(front_), one);
  ASSERT_TRUE(front_->open());
  EXPECT_EQ(armed_timers(front_), one);
  front_->close();
  EXPECT_TRUE(armed_timers(front_).empty());
  ASSERT_TRUE(front_->open());
  const ACE_Event_Handler* destroyed = front_;
  Storage_Catalog_Manager::close_instance();
  front_ = Storage_Catalog_Manager::instance();
  EXPECT_TRUE(armed_timers(destroyed).empty());
  EXPECT_EQ(front_->get_default_impl(nullptr), nullptr);
}

}  // namespace
