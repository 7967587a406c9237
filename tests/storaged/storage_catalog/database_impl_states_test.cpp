#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "platform/sql/cursor.h"
#include "platform/sql/legacy_manager.h"
#include "platform/sql/metadata.h"
#include "tests/storaged/storage_catalog/catalog_back_end_test.h"
#include "tests/support/test_mariadb.h"

namespace {

class States : public Catalog_Back_End_Test {
 protected:
  long long state_of(const std::string& uuid) {
    Value set = stored_set(uuid);
    return set.is_object() ? set["state"].get<long long>() : -1;
  }

  std::set<std::string> uuids_with(const std::string& file) {
    Array rows;
    EXPECT_TRUE(impl_->get_uuids_with_file(pool_, file, rows)) << log_.dump();
    std::set<std::string> out;
    for (const Value& row : rows)
      out.insert(row["uuid"].get<std::string>());
    return out;
  }

  // Counts the UPDATEs the pool's table receives from now on.
  void count_updates() {
    auto conn = impl_->get_connection();
    ASSERT_TRUE(conn->execute(std::string("CREATE TABLE updates_seen (n integer);")));
    std::string body = "INSERT INTO updates_seen VALUES (1)";
    ASSERT_TRUE(conn->execute("CREATE TRIGGER count_updates AFTER UPDATE ON `" + pool_ +
                              "` FOR EACH ROW " + (is_mysql() ? body : "BEGIN " + body + "; END") +
                              ";"));
  }
  long long updates_seen() {
    database::sql::SQL count("SELECT COUNT(*) FROM updates_seen");
    database::sql::Legacy_Cursor cursor(impl_->get_connection(), count,
                                        database::sql::Legacy_Cursor::SCALAR, 0);
    long long n = -1;
    EXPECT_TRUE(cursor.fetch());
    cursor >> n;
    return n;
  }
};

TEST_P(States, GetStateReadsTheStoredBits) {
  add_set(backup_set(u(1), u(1), "2024-01-01 00:00:00", 1 | 16));
  Catalog_State state = CST_UNKNOWN;
  ASSERT_TRUE(impl_->get_state(pool_, u(1), state));
  EXPECT_EQ(state, 17u);
  EXPECT_FALSE(impl_->get_state(pool_, u(2), state));
  EXPECT_FALSE(impl_->get_state(pool_, "not a uuid", state));
  EXPECT_EQ(state, 17u);
}

TEST_P(States, ExpiringAnOnlineSetPublishesItsNewState) {
  add_set(backup_set(u(1), u(1), "2024-01-01 00:00:00", 1));
  ASSERT_TRUE(impl_->set_state(pool_, u(1), CST_EXPIRED)) << log_.dump();
  EXPECT_EQ(state_of(u(1)), 9);
  EXPECT_EQ(take_notices(), std::vector<Value>{state_notice(pool_, u(1), 9)});
}

TEST_P(States, ExpiringASetThatIsNotOnlineChangesNothing) {
  add_set(backup_set(u(1), u(1), "2024-01-01 00:00:00", 2));
  ASSERT_TRUE(impl_->set_state(pool_, u(1), CST_EXPIRED));
  ASSERT_TRUE(impl_->set_state(pool_, u(1), static_cast<Catalog_State>(CST_EXPIRED | CST_WARMUP)));
  EXPECT_EQ(state_of(u(1)), 2);
  EXPECT_TRUE(take_notices().empty());
}

TEST_P(States, NearlineAndWarmupChangeTheRowWithoutANotice) {
  add_set(backup_set(u(1), u(1), "2024-01-01 00:00:00", 1));
  ASSERT_TRUE(impl_->set_state(pool_, u(1), CST_NEARLINE));
  ASSERT_TRUE(impl_->set_state(pool_, u(1), CST_WARMUP));
  EXPECT_EQ(state_of(u(1)), 1 | 4 | 32);
  ASSERT_TRUE(impl_->unset_state(pool_, u(1), CST_NEARLINE));
  EXPECT_EQ(state_of(u(1)), 1 | 32);
  EXPECT_TRUE(take_notices().empty());
}

TEST_P(States, BitsAlreadySetOrClearAreNotWrittenAgain) {
  add_set(backup_set(u(1), u(1), "2024-01-01 00:00:00", 1 | 16));
  count_updates();
  ASSERT_TRUE(impl_->set_state(pool_, u(1), CST_ONLINE));
  ASSERT_TRUE(impl_->set_state(pool_, u(1), CST_REPLICATED));
  ASSERT_TRUE(impl_->unset_state(pool_, u(1), CST_OFFLINE));
  EXPECT_EQ(updates_seen(), 0);
  ASSERT_TRUE(impl_->set_state(pool_, u(1), CST_OFFLINE));
  EXPECT_EQ(updates_seen(), 1);
  EXPECT_EQ(take_notices(), std::vector<Value>{state_notice(pool_, u(1), 19)});
}

TEST_P(States, UnsettingClearsBitsAndPublishesVisibleChanges) {
  add_set(backup_set(u(1), u(1), "2024-01-01 00:00:00", 1 | 8 | 16));
  ASSERT_TRUE(
      impl_->unset_state(pool_, u(1), static_cast<Catalog_State>(CST_ONLINE | CST_EXPIRED)));
  EXPECT_EQ(state_of(u(1)), 16);
  ASSERT_TRUE(impl_->unset_state(pool_, u(1), CST_REPLICATED));
  EXPECT_EQ(state_of(u(1)), 0);
  EXPECT_EQ(take_notices(), std::vector<Value>{state_notice(pool_, u(1), 16)});
}

TEST_P(States, UnknownStatesAndUnknownSetsAreRefused) {
  add_set(backup_set(u(1), u(1), "2024-01-01 00:00:00", 1));
  EXPECT_FALSE(impl_->set_state(pool_, u(1), CST_UNKNOWN));
  EXPECT_TRUE(log_.has("Failed to set state, state(CST_UNKNOWN) is invalid."));
  EXPECT_FALSE(impl_->unset_state(pool_, u(1), CST_UNKNOWN));
  EXPECT_TRUE(log_.has("Failed to unset_state, state=CST_UNKNOWN is invalid"));
  EXPECT_FALSE(impl_->set_state(pool_, u(2), CST_EXPIRED));
  EXPECT_FALSE(impl_->unset_state(pool_, u(2), CST_ONLINE));
  EXPECT_EQ(log_.count("Invalid state on set_state, pool_uuid=" + pool_ + ", uuid=" + u(2)), 2);
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
  EXPECT_EQ(state_of(u(1)), 9);
  EXPECT_EQ(state_of(u(2)), 1);
  EXPECT_EQ(state_of(u(3)), 9);
  // One notice per set, in uuid order.
  EXPECT_EQ(take_notices(),
            (std::vector<Value>{state_notice(pool_, u(1), 9), state_notice(pool_, u(3), 9)}));

  ASSERT_TRUE(impl_->unset_state(pool_, Array{"C:\\data\\a.vhd"}, CST_EXPIRED));
  EXPECT_EQ(state_of(u(3)), 1);
  EXPECT_EQ(take_notices(), std::vector<Value>{state_notice(pool_, u(3), 1)});
}

TEST_P(States, HostileFileNamesMatchOnlyThemselves) {
  add_set(backup_set(u(1), u(1), "2024-01-01 00:00:00", 1, Array{"a_b.vhd"}));
  add_set(backup_set(u(2), u(1), "2024-01-02 00:00:00", 1, Array{"axb.vhd"}));
  add_set(backup_set(u(3), u(1), "2024-01-03 00:00:00", 1, Array{"100%.vhd"}));
  add_set(backup_set(u(4), u(1), "2024-01-04 00:00:00", 1, Array{"it's \"q\"!.vhd"}));
  add_set(backup_set(u(5), u(1), "2024-01-05 00:00:00", 1, Array{"x.vhd", "y.vhd"}));
  add_set(backup_set(u(6), u(1), "2024-01-06 00:00:00", 1, Array{"C:\\dir\\z.vhd"}));

  EXPECT_EQ(uuids_with("a_b.vhd"), std::set<std::string>{u(1)});
  EXPECT_EQ(uuids_with("axb.vhd"), std::set<std::string>{u(2)});
  EXPECT_EQ(uuids_with("%.vhd"), std::set<std::string>{u(3)});
  EXPECT_EQ(uuids_with("it's \"q\"!.vhd"), std::set<std::string>{u(4)});
  EXPECT_EQ(uuids_with("C:\\dir\\z.vhd"), std::set<std::string>{u(6)});
  // A name that would close one entry and open the next in the JSON text.
  EXPECT_TRUE(uuids_with("x.vhd\",\"y.vhd").empty());
  EXPECT_TRUE(uuids_with("' OR 1=1 --").empty());
  EXPECT_TRUE(uuids_with("_").empty());
  EXPECT_TRUE(uuids_with("%").empty());
  // An ordinary name matches the end of an entry.
  EXPECT_EQ(uuids_with("z.vhd"), std::set<std::string>{u(6)});
  EXPECT_EQ(uuids_with("y.vhd"), std::set<std::string>{u(5)});
  EXPECT_EQ(raw_rows(pool_).size(), 6u);
}

TEST_P(States, AFileListWithANonStringEntryChangesNothing) {
  add_set(backup_set(u(1), u(1), "2024-01-01 00:00:00", 1, Array{"a.vhd"}));
  std::set<std::string> found{"kept"};
  EXPECT_FALSE(impl_->get_uuids_with_files(pool_, Array{"a.vhd", 5}, found));
  EXPECT_TRUE(log_.contains("Failed to get uuid with files: '"));
  EXPECT_EQ(found, std::set<std::string>{"kept"});
  EXPECT_FALSE(impl_->set_state(pool_, Array{"a.vhd", Object()}, CST_EXPIRED));
  EXPECT_EQ(state_of(u(1)), 1);
  EXPECT_TRUE(take_notices().empty());
}

TEST_P(States, RemovingASetDeletesItAndPublishes) {
  add_set(backup_set(u(1), u(1), "2024-01-01 00:00:00", 1));
  ASSERT_TRUE(impl_->remove_catalog(pool_, u(1)));
  EXPECT_TRUE(stored_set(u(1)).is_null());
  // A set that is not there is still announced as removed.
  ASSERT_TRUE(impl_->remove_catalog(pool_, u(2)));
  EXPECT_EQ(take_notices(),
            (std::vector<Value>{remove_notice(pool_, u(1)), remove_notice(pool_, u(2))}));
}

TEST_P(States, RemoveCatalogsRetiresReplicatedSets) {
  add_set(backup_set(u(1), u(1), "2024-01-01 00:00:00", 1));           // plain
  add_set(backup_set(u(2), u(2), "2024-01-02 00:00:00", 1 | 8 | 16));  // replicated, online
  add_set(backup_set(u(3), u(3), "2024-01-03 00:00:00", 2 | 16));      // replicated, offline
  Array removed;
  ASSERT_TRUE(impl_->remove_catalogs(pool_, Array{u(1), u(2), u(3), u(4)}, removed)) << log_.dump();

  EXPECT_TRUE(stored_set(u(1)).is_null());
  EXPECT_EQ(state_of(u(2)), 16);
  EXPECT_EQ(state_of(u(3)), 2 | 16);
  ASSERT_EQ(removed.size(), 3u);
  EXPECT_EQ(removed[0]["uuid"], u(1));
  EXPECT_EQ(removed[1]["uuid"], u(2));
  EXPECT_EQ(removed[1]["state"], 1 | 8 | 16);  // as it was read
  EXPECT_EQ(removed[1]["files"], Array());
  EXPECT_EQ(removed[2]["uuid"], u(3));
  EXPECT_EQ(take_notices(),
            (std::vector<Value>{remove_notice(pool_, u(1)), state_notice(pool_, u(2), 16),
                                state_notice(pool_, u(3), 18), remove_notice(pool_, u(4))}));
}

TEST_P(States, RemoveCatalogsStopsAtAnEntryThatIsNotAString) {
  add_set(backup_set(u(1), u(1), "2024-01-01 00:00:00", 1));
  add_set(backup_set(u(2), u(2), "2024-01-02 00:00:00", 1));
  Array removed;
  EXPECT_FALSE(impl_->remove_catalogs(pool_, Array{u(1), 7, u(2)}, removed));
  EXPECT_TRUE(log_.contains("entry 1 of the list is integer"));
  EXPECT_TRUE(stored_set(u(1)).is_null());
  EXPECT_FALSE(stored_set(u(2)).is_null());
  EXPECT_EQ(removed.size(), 1u);
  EXPECT_EQ(take_notices().size(), 1u);
}

TEST_P(States, RemoveCatalogsWithoutADatabaseFails) {
  add_set(backup_set(u(1), u(1), "2024-01-01 00:00:00", 1));
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

TEST_P(States, ConcurrentChangesOfDifferentBitsAreAllKept) {
  const int kSets = 8;
  for (int i = 1; i <= kSets; ++i)
    add_set(backup_set(u(i), u(1), "2024-01-01 00:00:00", 1));
  std::vector<std::thread> threads;
  for (Catalog_State bit : {CST_OFFLINE, CST_NEARLINE, CST_REPLICATED, CST_WARMUP}) {
    threads.emplace_back([this, bit] {
      for (int i = 1; i <= kSets; ++i)
        EXPECT_TRUE(impl_->set_state(pool_, u(i), bit));
    });
  }
  for (std::thread& t : threads)
    t.join();
  for (int i = 1; i <= kSets; ++i)
    EXPECT_EQ(state_of(u(i)), 1 | 2 | 4 | 16 | 32) << i;
  EXPECT_EQ(take_notices().size(), static_cast<std::size_t>(kSets));
}

SCAT_INSTANTIATE_ENGINES(States);

}  // namespace
