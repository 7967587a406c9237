// Opening catalogs, the command line and bad input.
#include <string>

#include "platform/sql/connection.h"
#include "tests/support/temp_dir.h"
#include "tests/tools/scatctl_fixture.h"

namespace {

TEST_P(Scatctl_Test, InfoCountsWhatTheCatalogHolds) {
  std::string pool = add_pool("disk");
  add_set(pool, Object{{"backup_type", "FULL"}, {"size", 100}, {"state", "online"}});
  Value info = json({"info"});
  EXPECT_EQ(info["pools"], 1);
  EXPECT_EQ(info["backup_sets"], 1);
  EXPECT_EQ(info["pool_summary"][0]["online_bytes"], 100);
  // A second init finds the catalog and leaves it as it is.
  EXPECT_EQ(json({"init"})["created"], false);
  EXPECT_EQ(json({"info"})["backup_sets"], 1);
}

TEST_P(Scatctl_Test, MalformedJsonIsRefusedAndChangesNothing) {
  EXPECT_TRUE(fails_with(run({"pool", "add", "{\"name\": "}), 2,
                         "the pool record on the argument is not valid JSON"));
  EXPECT_TRUE(fails_with(run({"pool", "add"}, "[1, 2"), 2, "on standard input is not valid JSON"));
  EXPECT_TRUE(fails_with(run({"pool", "add", "-"}, "[1, 2]"), 2, "must be a JSON object"));
  EXPECT_TRUE(fails_with(run({"pool", "list", "--where", "{x"}), 2, "--where"));
  EXPECT_EQ(json({"pool", "list"})["total"], 0);
}

SCAT_INSTANTIATE_ENGINES(Scatctl_Test);

using Scatctl_Catalog = Scatctl_Plain_Test;

TEST_F(Scatctl_Catalog, ReadingAMissingCatalogFailsAndCreatesNothing) {
  std::string file = dir_.file("missing/catalog.db");
  EXPECT_TRUE(fails_with(scatctl_.run({"--catalog", file, "pool", "list"}), 1,
                         "no catalog in SQLite file " + file));
  EXPECT_TRUE(fails_with(scatctl_.run({"pool", "add", "{}", "--catalog", file}), 1, "no catalog"));
  EXPECT_TRUE(read_file(file).empty());
  // Without --catalog the database layer's own file is meant; it is not
  // made either.
  EXPECT_TRUE(fails_with(scatctl_.run({"info"}), 1, dir_.file("db/storage_catalog.db")));
  EXPECT_TRUE(read_file(dir_.file("db/storage_catalog.db")).empty());
}

TEST_F(Scatctl_Catalog, WhatIsNotACatalogIsNeverTouched) {
  std::string text = dir_.file("notes.txt");
  write_file(text, "not a database, by far: it is long enough to look like one to nobody");
  EXPECT_TRUE(fails_with(scatctl_.run({"-c", text, "info"}), 1, "is not a storage catalog"));
  EXPECT_TRUE(fails_with(scatctl_.run({"-c", text, "init"}), 1, "is not a storage catalog"));
  EXPECT_EQ(read_file(text),
            "not a database, by far: it is long enough to look like one to nobody");

  // An SQLite database of something else.
  std::string other = dir_.file("other.db");
  {
    database::Database db;
    db.name("other").type(database::Database::SQLITE).path(other);
    database::sql::Connection_Ptr conn = database::sql::open_connection(db);
    ASSERT_TRUE(conn && conn->execute("CREATE TABLE things (x int);"));
  }
  std::string before = read_file(other);
  EXPECT_TRUE(fails_with(scatctl_.run({"-c", other, "init"}), 1,
                         "it has no storage_catalog_storage_pool table"));
  EXPECT_EQ(read_file(other), before);
}

TEST_F(Scatctl_Catalog, AFolderNamesTheCatalogInIt) {
  ASSERT_EQ(scatctl_.run({"-c", dir_.file("catalog.db"), "init"}).status, 0);
  Scatctl_Result r = scatctl_.run({"-c", dir_.path(), "info", "--json"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find(dir_.file("catalog.db")), std::string::npos);
  EXPECT_TRUE(fails_with(scatctl_.run({"-c", dir_.file("db"), "info"}), 1, ""));
}

TEST_F(Scatctl_Catalog, AMariaDBServerThatIsDownIsOneLine) {
  scatctl_.set_env("STORAGED_DB_ENGINE", "mariadb");
  scatctl_.set_env("STORAGED_DB_SOCKET", dir_.file("no-server.sock"));
  EXPECT_TRUE(fails_with(scatctl_.run({"pool", "list"}), 1, "cannot reach the MariaDB catalog"));
  EXPECT_TRUE(fails_with(scatctl_.run({"init"}), 1, "cannot reach the MariaDB catalog"));
}

TEST_F(Scatctl_Catalog, UnknownCommandsAndOptionsAreUsageErrors) {
  EXPECT_TRUE(fails_with(scatctl_.run({"frobnicate"}), 2, "frobnicate"));
  EXPECT_TRUE(fails_with(scatctl_.run({"pool", "list", "--colour"}), 2, "--colour"));
  EXPECT_TRUE(fails_with(scatctl_.run({"pool"}), 2, "scatctl --help"));
  EXPECT_TRUE(fails_with(scatctl_.run({}), 2, ""));
  EXPECT_TRUE(fails_with(scatctl_.run({"pool", "show", "xyz", "-c", dir_.file("c.db")}), 2,
                         "'xyz' is not a uuid"));
  EXPECT_TRUE(fails_with(scatctl_.run({"set", "list", "--limit", "many", "x"}), 2, "limit"));
}

TEST_F(Scatctl_Catalog, HelpListsEveryCommandWithExamples) {
  Scatctl_Result r = scatctl_.run({"--help"});
  ASSERT_EQ(r.status, 0);
  for (const char* command :
       {"init", "info", "pool list", "pool add", "device update", "set list", "set chain",
        "set restorable", "state set", "state clear", "retention expired", "retention deletable",
        "job show", "serve", "demo"})
    EXPECT_NE(r.out.find(std::string("  ") + command + " "), std::string::npos) << command;
  r = scatctl_.run({"set", "list", "--help"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("--states"), std::string::npos);
  EXPECT_NE(r.out.find("Examples:\n  scatctl set list POOL"), std::string::npos) << r.out;
}

}  // namespace
