#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "platform/sql/legacy_manager.h"
#include "platform/sql/metadata.h"
#include "tests/storaged/storage_catalog/catalog_back_end_test.h"
#include "tests/support/test_mariadb.h"

namespace {

class States : public Catalog_Back_End_Test {
 protected:
  Value state_notice(const std::string& uuid, long long state) {
    return Object{
        {"operation", "SyncBackupSet"},
        {"params",
         Object{{"uuid", uuid}, {"pool_uuid", pool_}, {"state", state}, {"op", "sync_state"}}}};
  }
  Value remove_notice(const std::string& uuid) {
    return Object{
        {"operation", "SyncBackupSet"},
        {"params", Object{{"uuid", uuid}, {"pool_uuid", pool_}, {"op", "remove_catalog"}}}};
  }

  long long state_of(const std::string& uuid) {
    Value set = stored_set(uuid);
    return set.is_object() ? set["state"].get<long long>() : -1;
  }

  std::set<std::string> uuids_with(const std::string& file) {
    Array rows;
    EXPECT_TRUE(impl_->get_uuids_with_file(pool_, file, rows)) << log_.dump();
    std::vector<std::string> found = uuids(rows);
    return std::set<std::string>(found.begin(), found.end());
  }
};

// Only online, offline and expired are visible to other modules; only a
// usable set can expire.
TEST_P(States, ChangesPublishOnlyVisibleStates) {
  struct Case {
    int stored;
    bool set;  // else unset
    int bits;
    int result;
    int notice;  // the state published, or -1 for none
  } cases[] = {
      {1, true, CST_EXPIRED, 1 | 8, 1 | 8},
      {2, true, CST_EXPIRED, 2, -1},
      {1, true, CST_NEARLINE | CST_WARMUP, 1 | 4 | 32, -1},
      {1 | 4 | 32, false, CST_NEARLINE, 1 | 32, -1},
      {1 | 16, true, CST_ONLINE | CST_REPLICATED, 1 | 16, -1},
      {1 | 16, true, CST_OFFLINE, 1 | 2 | 16, 1 | 2 | 16},
      {1 | 8 | 16, false, CST_ONLINE | CST_EXPIRED, 16, 16},
      {16, false, CST_REPLICATED, 0, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.stored << (c.set ? " + " : " - ") << c.bits);
    add(1, 1, "2024-01-01 00:00:00", c.stored);
    Catalog_State bits = static_cast<Catalog_State>(c.bits);
    ASSERT_TRUE(c.set ? impl_->set_state(pool_, u(1), bits) : impl_->unset_state(pool_, u(1), bits))
        << log_.dump();
    Catalog_State state = CST_UNKNOWN;
    ASSERT_TRUE(impl_->get_state(pool_, u(1), state));
    EXPECT_EQ(state, static_cast<unsigned>(c.result));
    std::vector<Value> expected;
    if (c.notice >= 0)
      expected.push_back(state_notice(u(1), c.notice));
    EXPECT_EQ(take_notices(), expected);
  }
}

TEST_P(States, UnknownStatesAndUnknownSetsAreRefused) {
  add(1, 1, "2024-01-01 00:00:00", 1);
  EXPECT_FALSE(impl_->set_state(pool_, u(1), CST_UNKNOWN));
  EXPECT_TRUE(log_.has("Failed to set state, state(CST_UNKNOWN) is invalid."));
  EXPECT_FALSE(impl_->unset_state(pool_, u(1), CST_UNKNOWN));
  EXPECT_TRUE(log_.has("Failed to unset_state, state=CST_UNKNOWN is invalid"));
  EXPECT_FALSE(impl_->set_state(pool_, u(2), CST_EXPIRED));
  EXPECT_FALSE(impl_->unset_state(pool_, u(2), CST_ONLINE));
  EXPECT_EQ(log_.count("Invalid state on set_state, pool_uuid=" + pool_ + ", uuid=" + u(2)), 2);
  Catalog_State state = CST_ONLINE;
  EXPECT_FALSE(impl_->get_state(pool_, u(2), state));
  EXPECT_EQ(state_of(u(1)), 1);
  EXPECT_TRUE(take_notices().empty());
}

TEST_P(States, FileFormsChangeEverySetListingTheFiles) {
  add_set(backup_set(u(3), u(3), "2024-01-01 00:00:00", 1, Array{"C:\\data\\a.vhd", "b.vhd"}));
  add_set(backup_set(u(1), u(3), "2024-01-02 00:00:00", 1, Array{"c.vhd"}));
  add_set(backup_set(u(2), u(3), "2024-01-03 00:00:00", 1, Array{"d.vhd"}));
  std::set<std::string> found;
  ASSERT_TRUE(impl_->set_state(pool_, Array{"b.vhd", "c.vhd", "none.vhd"}, CST_EXPIRED, found));
  EXPECT_EQ(found, (std::set<std::string>{u(1), u(3)}));
  EXPECT_EQ(state_of(u(2)), 1);
  // One notice per set, in uuid order.
  EXPECT_EQ(take_notices(), (std::vector<Value>{state_notice(u(1), 9), state_notice(u(3), 9)}));
  ASSERT_TRUE(impl_->unset_state(pool_, Array{"C:\\data\\a.vhd"}, CST_EXPIRED));
  EXPECT_EQ(take_notices(), std::vector<Value>{state_notice(u(3), 1)});

  // A list with an entry that is not a string changes nothing.
  found = {"kept"};
  EXPECT_FALSE(impl_->get_uuids_with_files(pool_, Array{"c.vhd", 5}, found));
  EXPECT_TRUE(log_.contains("Failed to get uuid with files: '"));
  EXPECT_EQ(found, std::set<std::string>{"kept"});
  EXPECT_FALSE(impl_->set_state(pool_, Array{"c.vhd", Object()}, CST_OFFLINE));
  EXPECT_EQ(state_of(u(1)), 9);
  EXPECT_TRUE(take_notices().empty());
}

TEST_P(States, HostileFileNamesMatchOnlyThemselves) {
  const char* files[] = {"a_b.vhd", "axb.vhd", "100%.vhd",      "it's \"q\"!.vhd",
                         "x.vhd",   "y.vhd",   "C:\\dir\\z.vhd"};
  for (int i = 0; i < 7; ++i)
    add_set(backup_set(u(i), u(0), "2024-01-01 00:00:00", 1, Array{files[i]}));
  const std::pair<const char*, std::set<std::string>> cases[] = {
      {"a_b.vhd", {u(0)}},
      {"%.vhd", {u(2)}},
      {"it's \"q\"!.vhd", {u(3)}},
      {"C:\\dir\\z.vhd", {u(6)}},
      {"z.vhd", {u(6)}},  // an ordinary name matches the end of an entry
      // A name that would close one entry and open the next in the JSON text.
      {"x.vhd\",\"y.vhd", {}},
      {"' OR 1=1 --", {}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(uuids_with(c.first), c.second) << c.first;
  EXPECT_EQ(raw_rows(pool_).size(), 7u);
}

TEST_P(States, AFileNameMatchesNoPartOfAnEscapeInTheListing) {
  add_set(backup_set(u(1), u(1), "2024-01-01 00:00:00", 1, Array{"esc/x\\\"y"}));
  add_set(backup_set(u(2), u(1), "2024-01-02 00:00:00", 1, Array{"dir\\"}));
  add_set(backup_set(u(3), u(1), "2024-01-03 00:00:00", 1, Array{"say \"hi\""}));
  EXPECT_EQ(uuids_with("\\"), std::set<std::string>{u(2)});
  EXPECT_EQ(uuids_with("\""), std::set<std::string>{u(3)});
  EXPECT_EQ(uuids_with("x\\\"y"), std::set<std::string>{u(1)});
  EXPECT_EQ(uuids_with("DIR\\"), std::set<std::string>{u(2)});  // as LIKE compares letters
  ASSERT_TRUE(impl_->set_state(pool_, Array{"\\"}, CST_EXPIRED));
  EXPECT_EQ(state_of(u(1)), 1);
  EXPECT_EQ(state_of(u(2)), 9);
}

TEST_P(States, RemovalDeletesOrRetiresAndPublishes) {
  add(1, 1, "2024-01-01 00:00:00", 1);           // plain
  add(2, 2, "2024-01-02 00:00:00", 1 | 8 | 16);  // replicated, online
  add(3, 3, "2024-01-03 00:00:00", 2 | 16);      // replicated, offline
  add(5, 5, "2024-01-05 00:00:00", 1);
  Array removed;
  ASSERT_TRUE(impl_->remove_catalogs(pool_, Array{u(1), u(2), u(3), u(4)}, removed)) << log_.dump();
  EXPECT_TRUE(stored_set(u(1)).is_null());
  // A replicated set stays for its copies, no longer usable here.
  EXPECT_EQ(state_of(u(2)), 16);
  EXPECT_EQ(state_of(u(3)), 2 | 16);
  EXPECT_EQ(uuids(removed), (std::vector<std::string>{u(1), u(2), u(3)}));
  EXPECT_EQ(removed[1]["state"], 1 | 8 | 16);  // as it was read
  ASSERT_TRUE(impl_->remove_catalog(pool_, u(5)));
  EXPECT_TRUE(stored_set(u(5)).is_null());
  // A set that is not there is still announced as removed.
  EXPECT_EQ(take_notices(),
            (std::vector<Value>{remove_notice(u(1)), state_notice(u(2), 16), state_notice(u(3), 18),
                                remove_notice(u(4)), remove_notice(u(5))}));
}

TEST_P(States, RemoveCatalogsWithoutADatabaseFails) {
  add(1, 1, "2024-01-01 00:00:00", 1);
  // The catalog can no longer be reached: a folder stands where the file
  // was, or the shared catalog names a database the server lacks.
  if (is_mysql()) {
    database::Database gone = test_mariadb::server("scat_test_no_such_database");
    gone.name("storage_catalog");
    database::Manager::instance()->configure("storage_catalog", gone);
    database::sql::Legacy_Manager::instance()->close("storage_catalog");
  } else {
    impl_->close();
    ASSERT_TRUE(std::filesystem::remove(impl_->path()));
    ASSERT_TRUE(std::filesystem::create_directory(impl_->path()));
  }
  ASSERT_FALSE(impl_->get_connection());
  Array removed;
  EXPECT_FALSE(impl_->remove_catalogs(pool_, Array{u(1)}, removed));
  EXPECT_TRUE(removed.empty());
  EXPECT_TRUE(take_notices().empty());
}

// Writers of different bits of one set neither fail nor lose each
// other's changes, and each visible change is announced once.
TEST_P(States, ConcurrentTogglesOfDifferentBitsAllSucceed) {
  add(1, 1, "2024-01-01 00:00:00", 1);
  // Each change is a commit, and SQLite's syncs each file write.
  const int kRounds = is_mysql() ? 150 : 10;
  std::atomic<int> refused{0};
  std::vector<std::thread> threads;
  for (Catalog_State bit : {CST_OFFLINE, CST_NEARLINE, CST_REPLICATED, CST_WARMUP}) {
    threads.emplace_back([&, bit] {
      for (int i = 0; i < kRounds; ++i) {
        refused += !impl_->set_state(pool_, u(1), bit);
        refused += !impl_->unset_state(pool_, u(1), bit);
      }
    });
  }
  for (std::thread& t : threads)
    t.join();
  EXPECT_EQ(refused, 0) << log_.dump();
  EXPECT_EQ(state_of(u(1)), 1);
  // Only the offline toggles are visible: one notice each, with it or
  // without it.
  int offline = 0;
  int online = 0;
  for (const Value& notice : take_notices())
    ++(notice["params"]["state"].get<long long>() & CST_OFFLINE ? offline : online);
  EXPECT_EQ(offline, kRounds);
  EXPECT_EQ(online, kRounds);
}

SCAT_INSTANTIATE_ENGINES(States);

}  // namespace
