#include "tools/scatctl/demo_catalog.h"

#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>
#include <system_error>

#include "platform/runtime/host_id.h"
#include "storaged/storage_catalog/storage_catalog_manager.h"
#include "tools/scatctl/failure.h"
#include "tools/scatctl/log_sink.h"

namespace scatctl {

namespace fs = std::filesystem;

namespace {

const int kDays = 56;  // eight weeks of backups

// A plan is one letter per day of a cycle that starts with the chain's
// FULL: F full, I incremental, C cumulative, D differential; "+L" adds a
// log backup at noon every day.
const std::vector<Demo_Resource> kResources = {
    {"a3c1e5f7092b4d6e8f10213243546576", "mail-server", "backup.file", "", "FIIIIII"},
    {"b4d2f6081a3c4e5f7081920a1b2c3d4e", "erp-database", "backup.mssql", "", "FDDDDDD+L"},
    {"c5e3071b2d4f4a6b8c9d0e1f20314253", "file-share", "backup.file", "", "FIIIIIICIIIIII"},
    {"d6f4182c3e5a4b7c9dae0f1021324354", "web-01", "backup.vmware.vm", "vm-4211", "FIIIIIIIIIIIII"},
};

const std::vector<Demo_Pool> kPools = {
    {"7e3f9a0c41d24b8e9c55a1f0d2b6c301", "primary-disk", "file", 14},
    {"8f4a0b1d52e34c9fad66b201e3c7d402", "offsite-dedup", "dedup", 42},
    {"90a51c2e63f44dab8e77c312f4d8e503", "cloud-archive", "object storage", 365},
};

const char kReplicateUuid[] = "a1b2c3d4e5f60718293a4b5c6d7e8f90";
const char kOffsiteServer[] = "0f1e2d3c4b5a69788796a5b4c3d2e1f0";

const char* type_name(char letter) {
  switch (letter) {
    case 'F':
      return "FULL";
    case 'C':
      return "CUMULATIVE";
    case 'D':
      return "DIFF";
    case 'L':
      return "LOG";
    default:
      return "INCREMENTAL";
  }
}

long long type_bytes(char letter, std::mt19937_64& random) {
  switch (letter) {
    case 'F':
      return 160 * 1024 + static_cast<long long>(random() % 32) * 1024;
    case 'C':
      return 40 * 1024 + static_cast<long long>(random() % 16) * 1024;
    case 'D':
      return 24 * 1024 + static_cast<long long>(random() % 16) * 1024;
    case 'L':
      return 4 * 1024;
    default:
      return 6 * 1024 + static_cast<long long>(random() % 18) * 1024;
  }
}

std::string random_uuid(std::mt19937_64& random) {
  char text[33];
  std::snprintf(text, sizeof text, "%016llx%016llx", static_cast<unsigned long long>(random()),
                static_cast<unsigned long long>(random()));
  return text;
}

// A file of `bytes` bytes of data that does not compress to nothing.
void write_data(const fs::path& file, long long bytes, std::mt19937_64& random) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  std::string block(4096, '\0');
  for (long long written = 0; written < bytes; written += static_cast<long long>(block.size())) {
    for (char& c : block)
      c = static_cast<char>(random() & 0xff);
    out.write(block.data(),
              static_cast<std::streamsize>(std::min<long long>(block.size(), bytes - written)));
  }
  if (!out)
    throw Failure("cannot write the sample file '" + file.string() + "'");
}

void check(bool done, const std::string& what) {
  if (!done) {
    std::string reason = Log_Sink::instance().last_error();
    throw Failure("the demo cannot " + what + (reason.empty() ? "" : ": " + reason));
  }
}

class Builder {
 public:
  Builder(Storage_Catalog_Manager& front, const std::string& folder)
      : front_(front), folder_(folder), random_(20240501) {}

  Demo_Facts build() {
    add_pools();
    for (const Demo_Resource& r : kResources)
      add_resource(r);
    add_replicas();
    add_archive();
    return facts_;
  }

 private:
  struct Written {
    std::string uuid, incarnation, type, time, name;
    const Demo_Resource* resource;
    long long size;
    int days_ago;
  };

  std::string pool_folder() const { return (fs::path(folder_) / "pools" / "primary").string(); }

  void add_pools() {
    const char* urls[] = {nullptr, "dedups://offsite.example.com:9443/pools/offsite",
                          "s3://archive-bucket.example.com/storaged"};
    for (std::size_t i = 0; i < kPools.size(); ++i) {
      const Demo_Pool& p = kPools[i];
      Object pool{{"uuid", p.uuid},        {"name", p.name},
                  {"high_water_mark", 90}, {"retention_days", p.retention_days},
                  {"state", "normal"},     {"extended_attrs", Object{{"kind", p.kind}}}};
      check(front_.add_pool(pool), std::string("add pool ") + p.name);
      std::string folder = fs::absolute(pool_folder()).string();
      std::string url = urls[i] != nullptr ? urls[i] : "file://" + folder;
      Object attrs{{"role", "master"}};
      // A file pool names its folder on each host that holds it: here this
      // host, by its id.
      if (urls[i] == nullptr)
        attrs["attached_hosts"] = Object{{Host_ID::instance().c_str(), folder}};
      Object device{{"uuid", random_uuid(random_)},
                    {"url", url},
                    {"pool_uuid", p.uuid},
                    {"extended_attrs", attrs}};
      check(front_.add_device(device), std::string("add the device of pool ") + p.name);
    }
    std::error_code error;
    fs::create_directories(pool_folder(), error);
    if (error)
      throw Failure("cannot make the sample pool folder '" + pool_folder() + "'");
  }

  void add_resource(const Demo_Resource& r) {
    std::string plan = r.plan;
    bool logs = plan.size() > 2 && plan.compare(plan.size() - 2, 2, "+L") == 0;
    std::string cycle = logs ? plan.substr(0, plan.size() - 2) : plan;
    std::string incarnation;
    // The newest backups ran last night: nothing lies in the future.
    for (int day = 0; day < kDays; ++day) {
      int days_ago = kDays - day;
      char letter = cycle[day % cycle.size()];
      // The noon log belongs to the chain the night's FULL has not yet
      // replaced; before the first FULL there is no chain to log into.
      if (logs && !incarnation.empty())
        add_set(r, 'L', days_ago, 12, incarnation);
      Written set = add_set(r, letter, days_ago, 22, incarnation);
      if (letter == 'F')
        incarnation = set.incarnation;
    }
  }

  // Writes one backup set of resource `r` into the file pool; a FULL
  // starts a chain of its own.
  Written add_set(const Demo_Resource& r, char letter, int days_ago, int hour,
                  const std::string& incarnation) {
    Written w;
    w.resource = &r;
    w.uuid = random_uuid(random_);
    w.incarnation = letter == 'F' ? w.uuid : incarnation;
    w.type = type_name(letter);
    w.time = demo_time(days_ago, hour);
    w.size = type_bytes(letter, random_);
    w.days_ago = days_ago;
    w.name = std::string(r.name) + " " + w.type + " " + w.time.substr(0, 10);
    std::string relative = std::string(r.name) + "/" + w.time.substr(0, 10) + "-" +
                           w.time.substr(11, 2) + "-" + w.type + ".dat";
    fs::path file = fs::path(pool_folder()) / relative;
    std::error_code error;
    fs::create_directories(file.parent_path(), error);
    write_data(file, w.size, random_);
    ++facts_.files;
    facts_.file_bytes += w.size;
    check(front_.add_catalog(kPools[0].uuid, set_record(w, Array{relative})),
          "add backup set " + w.name);
    ++facts_.sets;
    written_.push_back(w);
    return w;
  }

  Object set_record(const Written& w, const Array& files) {
    const Demo_Resource& r = *w.resource;
    return Object{{"uuid", w.uuid},
                  {"uid", random_uuid(random_)},
                  {"host_uuid", r.uuid},
                  {"resource_uuid", r.uuid},
                  {"agent", r.agent},
                  {"backup_type", w.type},
                  {"backup_time", w.time},
                  {"files", files},
                  {"size", w.size},
                  {"name", w.name},
                  {"incarnation", w.incarnation},
                  {"state", static_cast<int>(CST_ONLINE)},
                  {"minor_resource_id", r.minor_resource_id},
                  {"minor_resource_name", r.minor_resource_id[0] != '\0' ? r.name : ""},
                  {"extended_attrs", Object()}};
  }

  // The mail server's sets of the last three weeks went to the offsite
  // pool too: one replicate job each, the copy in the offsite catalog and
  // the replicated mark on the original.
  void add_replicas() {
    const Demo_Pool& source = kPools[0];
    const Demo_Pool& target = kPools[1];
    check(front_.add_replicate(Object{{"uuid", kReplicateUuid},
                                      {"source_uuid", source.uuid},
                                      {"target_uuid", target.uuid},
                                      {"target_server_uuid", kOffsiteServer},
                                      {"extended_attrs", Object()}}),
          "add the replication from primary-disk to offsite-dedup");
    for (const Written& w : written_) {
      if (std::string(w.resource->name) != "mail-server" || w.days_ago > 20)
        continue;
      std::string done = demo_time(w.days_ago, 23);
      long long id = 0;
      check(front_.add_replicate_job(Object{{"type", "replicate"},
                                            {"catalog_uuid", w.uuid},
                                            {"source_pool_uuid", source.uuid},
                                            {"target_pool_uuid", target.uuid},
                                            {"size", w.size},
                                            {"storage_size", w.size / 3},
                                            {"state", "succeeded"},
                                            {"progress", 100},
                                            {"creation_time", w.time},
                                            {"start_time", w.time},
                                            {"finish_time", done},
                                            {"retry", 0},
                                            {"extended_attrs", Object()}},
                                     id),
            "add a replicate job");
      Object copy = set_record(w, Array());
      check(front_.add_catalog(target.uuid, copy), "add the replica of " + w.name);
      ++facts_.sets;
      check(front_.set_state(source.uuid, w.uuid, CST_REPLICATED), "mark " + w.name);
    }
  }

  // The erp database's first two FULL backups also went to long-term
  // storage; the second DIFF of its newest chain was lost (offline).
  void add_archive() {
    int copied = 0;
    std::vector<const Written*> diffs;
    std::string newest;
    for (const Written& w : written_) {
      if (std::string(w.resource->name) != "erp-database")
        continue;
      if (w.type == "FULL" && copied < 2) {
        check(front_.add_catalog(kPools[2].uuid, set_record(w, Array())), "archive " + w.name);
        ++facts_.sets;
        ++copied;
      }
      if (w.type == "FULL")
        newest = w.incarnation;
      if (w.type == "DIFF")
        diffs.push_back(&w);
    }
    int seen = 0;
    for (const Written* w : diffs) {
      if (w->incarnation == newest && ++seen == 2) {
        facts_.offline_set = w->uuid;
        facts_.broken_chain = w->incarnation;
      }
    }
    if (!facts_.offline_set.empty())
      check(front_.set_state(kPools[0].uuid, facts_.offline_set, CST_OFFLINE),
            "mark the lost set offline");
  }

  Storage_Catalog_Manager& front_;
  std::string folder_;
  std::mt19937_64 random_;
  std::vector<Written> written_;
  Demo_Facts facts_;
};

}  // namespace

const std::vector<Demo_Pool>& demo_pools() {
  return kPools;
}

const std::vector<Demo_Resource>& demo_resources() {
  return kResources;
}

const Demo_Pool& demo_pool(const char* name) {
  for (const Demo_Pool& p : kPools)
    if (std::string(p.name) == name)
      return p;
  return kPools.front();
}

std::string demo_time(int days_ago, int hour) {
  std::time_t now = std::time(nullptr);
  std::time_t then = now - static_cast<std::time_t>(days_ago) * 86400;
  std::tm parts;
  gmtime_r(&then, &parts);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:00:00", parts.tm_year + 1900,
                parts.tm_mon + 1, parts.tm_mday, hour);
  return text;
}

Demo_Facts build_demo_catalog(Storage_Catalog_Manager& front, const std::string& folder) {
  return Builder(front, folder).build();
}

}  // namespace scatctl
