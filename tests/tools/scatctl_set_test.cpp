// Backup sets, their states, chains and retention through scatctl.
#include "tests/tools/scatctl_fixture.h"

namespace {

const char kResource[] = "0123456789abcdef0123456789abcdef";

class Scatctl_Sets : public Scatctl_Test {
 protected:
  // A chain of `types` (the first starts it), one set a day from `days`
  // days ago; the uuids in order.
  std::vector<std::string> chain(const std::string& pool, int days,
                                 const std::vector<std::string>& types) {
    std::vector<std::string> uuids;
    for (const std::string& type : types) {
      Object set{{"backup_type", type},        {"backup_time", days_ago(days--)},
                 {"state", "online"},          {"size", 10},
                 {"resource_uuid", kResource}, {"agent", "backup.file"}};
      if (!uuids.empty())
        set["incarnation"] = uuids.front();
      uuids.push_back(add_set(pool, set));
    }
    return uuids;
  }

  static std::vector<std::string> uuids_of(const Value& rows) {
    std::vector<std::string> uuids;
    for (const Value& row : rows)
      uuids.push_back(row.value("uuid", ""));
    return uuids;
  }
};

TEST_P(Scatctl_Sets, ListsWithTheLibrarysFiltersAndPaging) {
  std::string pool = add_pool("disk");
  std::vector<std::string> old = chain(pool, 20, {"FULL", "INCREMENTAL"});
  std::vector<std::string> recent = chain(pool, 5, {"FULL", "INCREMENTAL", "INCREMENTAL"});
  json({"state", "set", pool, recent[2], "offline"});

  Value all = json({"set", "list", pool});
  EXPECT_EQ(all["total"], 5);
  EXPECT_EQ(all["rows"][0]["uuid"], recent[2]);  // newest first
  EXPECT_EQ(all["rows"][0]["state"], Value(Array{"online", "offline"}));
  EXPECT_EQ(json({"set", "list", pool, "--since", days_ago(6), "--not-states", "offline",
                  "--asc"})["rows"]
                .size(),
            2u);
  Value fulls = json({"set", "list", pool, "--where",
                      "{\"type\":\"FULL\",\"GE_backup_time\":\"" + days_ago(10) + "\"}"});
  EXPECT_EQ(uuids_of(fulls["rows"]), std::vector<std::string>{recent[0]});
  Value page = json({"set", "list", pool, "--states", "online", "--order", "backup_time", "--asc",
                     "--offset", "1", "--limit", "2"});
  EXPECT_EQ(page["total"], 5);
  EXPECT_EQ(uuids_of(page["rows"]), (std::vector<std::string>{old[1], recent[0]}));

  EXPECT_TRUE(fails_with(run({"set", "list", pool, "--where", "{\"colour\":1}"}), 2,
                         "unknown filter key 'colour'"));
  EXPECT_TRUE(fails_with(run({"set", "list", pool, "--states", "shiny"}), 2, "unknown state"));
  EXPECT_TRUE(fails_with(run({"set", "list", "11111111111111111111111111111111"}), 1, "no pool"));
}

TEST_P(Scatctl_Sets, ShowsUpdatesAndChangesStates) {
  std::string pool = add_pool("disk");
  std::string set = chain(pool, 1, {"FULL"})[0];
  EXPECT_TRUE(
      fails_with(run({"set", "add", pool, "{\"uuid\":\"" + set + "\"}"}), 1, "already exists"));
  EXPECT_EQ(json({"set", "update", pool, set, "{\"name\":\"weekly\"}"})["name"], "weekly");
  Value shown = json({"set", "show", pool, set});
  EXPECT_EQ(shown["restorable"], true);
  EXPECT_EQ(shown["incarnation"], set);

  EXPECT_EQ(json({"state", "set", pool, set, "offline,nearline"})["state"],
            Value(Array{"online", "offline", "nearline"}));
  EXPECT_EQ(json({"state", "clear", pool, set, "offline"})["state"],
            Value(Array{"online", "nearline"}));
  EXPECT_EQ(json({"state", "show", pool, set})["value"], 5);
  EXPECT_TRUE(fails_with(run({"state", "set", pool, "22222222222222222222222222222222", "online"}),
                         1, "no backup set"));
  EXPECT_TRUE(fails_with(run({"state", "set", pool, set, "online,bogus"}), 2, "'bogus'"));
}

TEST_P(Scatctl_Sets, ChainsAndRestorability) {
  std::string pool = add_pool("disk");
  std::vector<std::string> sets = chain(pool, 3, {"FULL", "INCREMENTAL", "INCREMENTAL"});
  json({"state", "set", pool, sets[1], "offline"});

  Value up_to = json({"set", "chain", pool, sets[1]});
  EXPECT_EQ(up_to["incarnation"], sets[0]);
  EXPECT_EQ(uuids_of(up_to["sets"]), (std::vector<std::string>{sets[0], sets[1]}));
  EXPECT_EQ(up_to["restorable"], false);
  EXPECT_EQ(json({"set", "chain", pool, sets[0], "--whole"})["sets"].size(), 3u);

  Value info =
      json({"set", "restorable", pool, sets[0], sets[2], "33333333333333333333333333333333"});
  ASSERT_EQ(info.size(), 3u);
  std::map<std::string, bool> restorable;
  for (const Value& answer : info)
    restorable[answer.value("uuid", "")] = answer.value("restorable", true);
  EXPECT_TRUE(restorable[sets[0]]);
  EXPECT_FALSE(restorable[sets[2]]);
  EXPECT_FALSE(restorable["33333333333333333333333333333333"]);
}

TEST_P(Scatctl_Sets, RetentionShowsWhatARunGetsAndChangesNothing) {
  std::string pool = add_pool("disk", 10);
  std::vector<std::string> oldest = chain(pool, 40, {"FULL", "INCREMENTAL"});
  std::vector<std::string> older = chain(pool, 30, {"FULL", "INCREMENTAL"});
  chain(pool, 5, {"FULL"});

  for (int i = 0; i < 2; ++i) {
    Value expired = json({"retention", "expired", pool});
    EXPECT_EQ(expired["retention_days"], 10);
    EXPECT_EQ(expired["incarnation"], oldest[0]);
    EXPECT_EQ(uuids_of(expired["sets"]).size(), 2u);
  }
  // Keeping two chains protects the older one too; a longer period
  // protects everything.
  EXPECT_EQ(json({"retention", "expired", pool, "--keep", "3"})["sets"].size(), 0u);
  EXPECT_EQ(json({"retention", "expired", pool, "--days", "50"})["sets"].size(), 0u);
  EXPECT_EQ(json({"set", "list", pool, "--states", "expired"})["total"], 0);

  EXPECT_EQ(json({"retention", "deletable", pool, "--all"})["chains"].size(), 0u);
  for (const std::string& set : {oldest[0], oldest[1], older[0], older[1]})
    json({"state", "set", pool, set, "expired"});
  Value deletable = json({"retention", "deletable", pool, "--all"});
  ASSERT_EQ(deletable["chains"].size(), 2u);
  EXPECT_EQ(deletable["chains"][0]["incarnation"], oldest[0]);
  EXPECT_EQ(deletable["chains"][1]["incarnation"], older[0]);
  EXPECT_EQ(json({"retention", "deletable", pool, "--skip", "1"})["chains"][0]["incarnation"],
            older[0]);
  EXPECT_EQ(json({"set", "list", pool})["total"], 5);
}

TEST_P(Scatctl_Sets, DependentsAndWhatADeletionTakesAlong) {
  scatctl_.set_env("STORAGED_HOST_UUID", kScatctlHost);
  std::string pool = add_pool("disk");
  json({"device", "add", file_device(pool, dir_.path())});
  std::vector<std::string> sets = chain(pool, 4, {"FULL", "INCREMENTAL", "INCREMENTAL"});

  Value dependents = json({"set", "dependents", pool, sets[1]});
  EXPECT_EQ(uuids_of(dependents["dependents"]), std::vector<std::string>{sets[2]});
  Value taken = json({"set", "predelete", pool, sets[0]});
  EXPECT_EQ(taken[sets[0]].size(), 2u) << taken;
  EXPECT_EQ(json({"set", "predelete", pool, "--resource", kResource, "--where",
                  "{\"type\":\"FULL\"}"})["total"],
            3);
  EXPECT_TRUE(fails_with(run({"set", "predelete", pool, "--where", "{\"shade\":1}"}), 2,
                         "unknown filter key 'shade'"));
}

SCAT_INSTANTIATE_ENGINES(Scatctl_Sets);

}  // namespace
