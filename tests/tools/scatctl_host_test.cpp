// The commands that work beside the catalog: the consistency check job,
// the sample catalog and the service host.
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "tests/support/temp_dir.h"
#include "tests/support/test_daemon.h"
#include "tests/tools/scatctl_fixture.h"

namespace {

class Scatctl_Host : public Scatctl_Plain_Test {
 protected:
  Value json(const std::vector<std::string>& args) {
    Scatctl_Result r = scatctl_.run(args);
    EXPECT_EQ(r.status, 0) << r.err;
    Value value;
    EXPECT_TRUE(loads_json(r.out, value)) << r.out;
    return value;
  }

  static bool exists(const std::string& path) { return std::filesystem::exists(path); }
};

TEST_F(Scatctl_Host, ConsistencyJobIsShownAndRegisteredOnce) {
  scatctl_.set_env("STORAGED_HOST_UUID", kScatctlHost);
  EXPECT_EQ(json({"job", "show", "--json"})["registered"], false);
  Value added = json({"job", "ensure", "--json"});
  EXPECT_EQ(added["added"], true);
  EXPECT_EQ(added["name"], "Backup set consistency");
  Value shown = json({"job", "show", "--jobs", dir_.file("jobs"), "--json"});
  EXPECT_EQ(shown["registered"], true);
  EXPECT_EQ(shown["schedule"]["at"], "12:00");
  EXPECT_EQ(shown["state"], "idle");
  EXPECT_EQ(json({"job", "ensure", "--json"})["added"], false);
}

TEST_F(Scatctl_Host, DemoBuildsASampleCatalogAndWalksThroughIt) {
  std::string folder = dir_.file("demo");
  Scatctl_Result r = scatctl_.run({"demo", folder});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  for (const char* heading : {"1/5  Pools", "2/5  Backup chains", "3/5  Restorability",
                              "4/5  Retention", "5/5  Usage", "Try it yourself"})
    EXPECT_NE(r.out.find(heading), std::string::npos) << heading;
  EXPECT_NE(r.out.find("FULL + 6 DIFF + 6 LOG since"), std::string::npos) << r.out;

  // The sample is a catalog like any other, and its files are on disk.
  Value info = json({"-c", folder, "info", "--json"});
  EXPECT_EQ(info["pools"], 3);
  EXPECT_GT(info["backup_sets"].get<long long>(), 250);
  EXPECT_TRUE(exists(folder + "/pools/primary/mail-server"));
  // A second run builds it afresh; a folder of someone else's is refused.
  EXPECT_EQ(scatctl_.run({"demo", folder, "--quiet"}).status, 0);
  EXPECT_EQ(json({"-c", folder, "info", "--json"})["backup_sets"], info["backup_sets"]);
  std::filesystem::create_directories(dir_.file("mine"));
  write_file(dir_.file("mine/notes.txt"), "keep me");
  EXPECT_TRUE(fails_with(scatctl_.run({"demo", dir_.file("mine")}), 1, "did not make"));
  EXPECT_EQ(read_file(dir_.file("mine/notes.txt")), "keep me");
}

class Scatctl_Serve : public Scatctl_Host {
 protected:
  std::string config(const std::string& directive) {
    std::string file = dir_.file("svc.conf");
    write_file(file, directive + "\n");
    return file;
  }
  std::string service_line() {
    return "dynamic Storage_Catalog_Service Service_Object * "
           "storage_catalog:_make_Storage_Catalog_Service() \"-h " +
           daemon_.host() + " -p " + std::to_string(daemon_.port()) + "\"";
  }
  Test_Daemon daemon_;
};

TEST_F(Scatctl_Serve, RunsTheServiceUntilSigtermAndFinishesIt) {
  scatctl_.set_env("STORAGED_HOST_ROLE", "server");
  scatctl_.set_env("STORAGED_HOST_UUID", kScatctlHost);
  std::string line;
  ASSERT_TRUE(scatctl_.start({"serve", "--config", config(service_line())}, line));
  EXPECT_NE(line.find("are running"), std::string::npos) << line;
  // init opened the storage host's catalog and registered its job.
  EXPECT_TRUE(exists(dir_.file("db/storage_catalog.db")));
  EXPECT_FALSE(std::filesystem::is_empty(dir_.file("jobs")));

  Scatctl_Result r = scatctl_.stop(SIGTERM);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("SIGTERM received"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("stopped"), std::string::npos) << r.out;
  // fini closed the catalog: its last connection folded the write-ahead
  // log back into the file.
  EXPECT_FALSE(exists(dir_.file("db/storage_catalog.db-wal")));
  EXPECT_EQ(json({"-c", dir_.file("db"), "pool", "list", "--json"})["total"], 0);
}

// The front's timer fires 30 s after the service opened the catalog: this
// test waits for the first report.
TEST_F(Scatctl_Serve, ReportsUsageToTheConfiguredDaemon) {
  std::string catalog = dir_.file("catalog.db");
  std::filesystem::create_directories(dir_.file("pool"));
  write_file(dir_.file("pool/full.dat"), std::string(4096, 'x'));
  auto ok = [&](const std::vector<std::string>& args) {
    std::vector<std::string> full = {"-c", catalog};
    full.insert(full.end(), args.begin(), args.end());
    full.push_back("--json");
    return json(full);
  };
  scatctl_.set_env("STORAGED_HOST_UUID", kScatctlHost);
  ok({"init"});
  std::string pool = ok({"pool", "add", "{\"name\":\"disk\",\"state\":\"normal\"}"})["uuid"];
  ok({"device", "add", file_device(pool, dir_.file("pool"))});
  ok({"set", "add", pool, "{\"size\":4096,\"state\":\"online\",\"files\":[\"full.dat\"]}"});
  // Freshly measured figures are due for the next report.
  ok({"pool", "resync", pool});

  daemon_.reply("POST", "/kx/jr", 200, R"({"jsonrpc": "2.0", "id": "1", "result": true})");
  scatctl_.set_env("STORAGED_HOST_ROLE", "server");
  scatctl_.set_env("STORAGED_UPSTREAM_HOST", daemon_.host());
  scatctl_.set_env("STORAGED_UPSTREAM_PORT", std::to_string(daemon_.port()));
  std::string line;
  ASSERT_TRUE(scatctl_.start({"serve", "--config", config(service_line()), "-c", catalog}, line));
  for (int i = 0; i < 900 && daemon_.requests_to("/kx/jr").empty(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  Scatctl_Result r = scatctl_.stop(SIGTERM);
  EXPECT_EQ(r.status, 0) << r.err;
  std::vector<Test_Daemon::Request> reports = daemon_.requests_to("/kx/jr");
  ASSERT_FALSE(reports.empty()) << r.err;
  Value body = Value::parse(reports[0].body);
  EXPECT_EQ(body["method"], "pool.status.update");
  EXPECT_EQ(body["params"][0]["uuid"], pool);
}

TEST_F(Scatctl_Serve, SigintStopsItToo) {
  std::string line;
  ASSERT_TRUE(scatctl_.start(
      {"serve", "--config", config(service_line()), "-c", dir_.file("catalog.db")}, line));
  EXPECT_TRUE(exists(dir_.file("catalog.db")));
  Scatctl_Result r = scatctl_.stop(SIGINT);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("SIGINT received"), std::string::npos) << r.out;
  EXPECT_FALSE(exists(dir_.file("catalog.db-wal")));
}

TEST_F(Scatctl_Serve, AServiceThatCannotLoadFails) {
  Scatctl_Result r = scatctl_.run(
      {"serve", "--config", config("dynamic X Service_Object * no_such_library:_make_X() \"\"")});
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.err.find("scatctl: cannot start the services of"), std::string::npos) << r.err;
  EXPECT_TRUE(
      fails_with(scatctl_.run({"serve", "--config", dir_.file("none.conf")}), 2, "none.conf"));
}

}  // namespace
