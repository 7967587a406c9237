#include "fuzz/fuzz_entries.h"

#include <stdlib.h>

#include <httplib.h>

#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/job/job_manager.h"
#include "platform/json/json.h"
#include "platform/queue/queue_manager.h"
#include "platform/rpc/host_manager.h"
#include "platform/rpc/http_options.h"
#include "platform/rpc/json_rpc.h"
#include "platform/sql/legacy_manager.h"
#include "platform/sql/metadata.h"
#include "storaged/storage_catalog/catalog_dependence_resolver.h"
#include "storaged/storage_catalog/consistency_check_executor.h"
#include "storaged/storage_catalog/dedup_pool_usage_calculator.h"
#include "storaged/storage_catalog/sdfs_pool_usage_calculator.h"
#include "storaged/storage_catalog/storage_catalog_manager.h"
#include "storaged/storage_catalog/storage_catalog_manager_database_impl.h"
#include "storaged/storage_catalog/storage_catalog_utils.h"
#include "storaged/storage_catalog/target_pool_utils.h"

namespace scat_fuzz {
namespace {

const char kPool[] = "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa";
const char kHostUuid[] = "0123456789abcdef0123456789abcdef";

std::string text_of(const std::uint8_t* data, std::size_t size) {
  return std::string(reinterpret_cast<const char*>(data), size);
}

bool parse(const std::uint8_t* data, std::size_t size, Value& value) {
  return loads_json(reinterpret_cast<const char*>(data), size, value, 0);
}

// A folder of this process, made once and left for the system to clean.
const std::string& scratch() {
  static const std::string dir = [] {
    char pattern[] = "/tmp/scat-fuzz.XXXXXX";
    const char* made = ::mkdtemp(pattern);
    std::string path = made != nullptr ? made : "/tmp";
    Queue_Manager::instance()->set_directory(path + "/queue");
    Job_Manager::configure(path + "/jobs");
    database::Database db;
    db.name("storage_catalog").type(database::Database::SQLITE).path(path + "/shared.db");
    database::Manager::instance()->configure("storage_catalog", db);
    return path;
  }();
  return dir;
}

std::string uuid_of(int n) {
  char text[33];
  std::snprintf(text, sizeof text, "%032x", n);
  return text;
}

Object backup_set(int n, int incarnation, const std::string& type) {
  return Object{{"uuid", uuid_of(n)},
                {"pool_uuid", kPool},
                {"incarnation", uuid_of(incarnation)},
                {"agent", "backupd"},
                {"backup_type", type},
                {"backup_time", "2026-01-0" + std::to_string(n % 9 + 1) + " 00:00:00"},
                {"resource_id", "r"},
                {"files", Array{"/data/" + std::to_string(n)}},
                {"size", 100},
                {"state", 1}};
}

// A back-end of its own, beside the front's catalog.
Storage_Catalog_Manager_Database_Impl* back_end() {
  static std::unique_ptr<Storage_Catalog_Manager_Database_Impl> impl = [] {
    std::unique_ptr<Storage_Catalog_Manager_Database_Impl> made(
        new Storage_Catalog_Manager_Database_Impl(scratch() + "/catalog.db"));
    if (!made->open())
      return std::unique_ptr<Storage_Catalog_Manager_Database_Impl>();
    made->add_pool(Object{{"uuid", kPool}, {"name", "fuzz"}, {"state", "normal"}});
    return made;
  }();
  return impl.get();
}

enum class Front_Mode { NONE, AGENT, SERVER };
Front_Mode front_mode = Front_Mode::NONE;

// The front, freshly made in the given role; on a server host opened on
// the shared catalog, which holds pool kPool with two chains.
Storage_Catalog_Manager* fresh_front(bool agent, const std::string& host, std::uint16_t port) {
  scratch();
  Storage_Catalog_Manager::close_instance();
  Host_Manager* host_manager = Host_Manager::instance();
  host_manager->reset();
  host_manager->set_uuid(kHostUuid);
  host_manager->set_access_key("fuzz-key");
  host_manager->set_role(agent ? Host_Manager::ROLE_AGENT : Host_Manager::ROLE_SERVER);
  Storage_Catalog_Manager* front = Storage_Catalog_Manager::instance();
  front->init(host, port, false);
  front_mode = agent ? Front_Mode::AGENT : Front_Mode::SERVER;
  if (!agent && front->open()) {
    static bool filled = false;
    if (!filled) {
      filled = true;
      front->add_pool(Object{{"uuid", kPool}, {"name", "fuzz"}, {"state", "normal"}});
      front->add_device(Object{{"uuid", uuid_of(0xD1)},
                               {"url", "s3://bucket/fuzz"},
                               {"pool_uuid", kPool},
                               {"extended_attrs", Object{{"role", "master"}}}});
      front->add_catalog(kPool, backup_set(1, 1, "full"));
      front->add_catalog(kPool, backup_set(2, 1, "incremental"));
      front->add_catalog(kPool, backup_set(3, 3, "full"));
    }
  }
  return front;
}

// An HTTP daemon in this process answering every request with `body`.
class Reply_Daemon {
 public:
  Reply_Daemon() {
    server_.Get(".*", [this](const httplib::Request&, httplib::Response& res) { answer(res); });
    server_.Post(".*", [this](const httplib::Request&, httplib::Response& res) { answer(res); });
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    while (port_ > 0 && !server_.is_running())
      std::this_thread::yield();
  }
  ~Reply_Daemon() {
    server_.stop();
    thread_.join();
  }
  void set_body(const std::string& body) {
    std::lock_guard<std::mutex> guard(lock_);
    body_ = body;
  }
  std::uint16_t port() const { return static_cast<std::uint16_t>(port_); }

 private:
  void answer(httplib::Response& res) {
    std::lock_guard<std::mutex> guard(lock_);
    res.set_content(body_, "application/json");
  }
  httplib::Server server_;
  int port_ = 0;
  std::thread thread_;
  std::mutex lock_;
  std::string body_;
};

Object device_at(const std::string& url) {
  return Object{{"uuid", uuid_of(0xD2)},
                {"url", url},
                {"pool_uuid", kPool},
                {"extended_attrs", Object{{"role", "master"}, {"node_id", 1}}}};
}

// The answers of the dedup engine, the tape manager, the storages list and
// the target pools' incarnations, each read by its own client.
void ask_services(std::uint16_t port) {
  HTTP_Options::instance()->set_local_listen_address("127.0.0.1", port, false);
  const std::string local = "127.0.0.1:" + std::to_string(port);
  Object usage;
  Dedup_Pool_Usage_Calculator(Array{device_at("dedup://" + local + "/dedup/fuzz")})
      .calculate(usage);
  KXT_Pool_Usage_Calculator(Array{device_at("kxt://" + local + "/p")}).calculate(usage);
  SDFS_Pool_Usage_Calculator sdfs(Array{device_at("sdfs://" + local + "/p")});
  sdfs.calculate(usage);
  Object space;
  sdfs.get_space(space);
  long long data_size = 0, chunk_size = 0, stored_size = 0;
  Storage_Catalog_Utils::get_local_dedup_summary(device_at("dedup://" + local + "/dedup/fuzz"),
                                                 "fuzz-key", &data_size, &chunk_size,
                                                 &stored_size);
  std::vector<target_pool_utils::Target_State> states;
  target_pool_utils::get_target_states({{uuid_of(1), kPool}, {uuid_of(3), uuid_of(0xB)}}, states);
  Array devices{device_at("file:///data/fuzz")};
  Storage_Catalog_Utils::adjust_devices_by_agent_uuid(kHostUuid, devices);
}

}  // namespace

void json_text(const std::uint8_t* data, std::size_t size) {
  Value value;
  if (parse(data, size, value))
    JSON_Dump(value, false);
}

void request_params(const std::uint8_t* data, std::size_t size) {
  Value request;
  if (!parse(data, size, request) || !request.is_object())
    return;
  Object filter, paging;
  Storage_Catalog_Utils::parse_params(request.get_ref<const Object&>(), filter, paging,
                                      "pool_uuid");
  Object filter2, paging2;
  Storage_Catalog_Utils::parse_params2(request.get_ref<const Object&>(), filter2, paging2,
                                       "pool_uuid");
}

void catalog_records(const std::uint8_t* data, std::size_t size) {
  Storage_Catalog_Manager_Database_Impl* impl = back_end();
  Value input;
  if (impl == nullptr || !parse(data, size, input) || !input.is_object())
    return;
  const Object& in = input.get_ref<const Object&>();
  const Object* record = object_get_object(in, "record");
  const Object* update = object_get_object(in, "update");
  const Object* filter = object_get_object(in, "filter");
  const Array* uuids = object_get_array(in, "uuids");
  const std::string* uuid = object_get_str(in, "uuid");
  const std::string target = uuid != nullptr ? *uuid : uuid_of(7);
  if (record != nullptr) {
    impl->add_catalog(kPool, *record);
    impl->add_pool(*record);
  }
  if (update != nullptr) {
    impl->update_catalog(kPool, target, *update);
    impl->update_pool(kPool, *update);
  }
  Array rows;
  long long total = 0;
  if (filter != nullptr) {
    impl->query_catalog(kPool, *filter, "id", true, 0, 10, rows, &total, true, false);
    impl->query_pool(*filter, 0, 10, rows, &total);
  }
  impl->set_state(kPool, target, CST_OFFLINE);
  long long keep = 1, days = 0;
  object_get(in, "keep", keep);
  object_get(in, "days", days);
  Array handed;
  impl->get_a_expired_set(kPool, handed, static_cast<int>(keep % 5), static_cast<int>(days % 400));
  impl->get_a_deletable_set(kPool, handed, keep % 2 == 0, keep);
  if (uuids != nullptr) {
    impl->set_state(kPool, *uuids, CST_EXPIRED);
    Array removed;
    impl->remove_catalogs(kPool, *uuids, removed);
    Array found;
    impl->get_incarnation_info(kPool, *uuids, found);
  }
  impl->remove_catalog(kPool, target);
  std::string text;
  while (Queue_Manager::instance()->dequeue("storage_catalog_sync", text) == 1) {
  }
}

void predelete_request(const std::uint8_t* data, std::size_t size) {
  if (front_mode != Front_Mode::SERVER)
    fresh_front(false, "127.0.0.1", 1);
  Value request;
  if (!parse(data, size, request) || !request.is_object())
    return;
  Object response;
  predelete_backupset(request.get_ref<const Object&>(), response);
}

void consistency_parsers(const std::uint8_t* data, std::size_t size) {
  const char* text = reinterpret_cast<const char*>(data);
  Consistency_Check_Job_Options_Parser options;
  options.parse(text, size);
  options.options();
  Consistency_Check_Job_Source_Parser source;
  source.parse(text, size);
  source.source();
}

void daemon_replies(const std::uint8_t* data, std::size_t size) {
  static Reply_Daemon daemon;
  daemon.set_body(text_of(data, size));
  Storage_Catalog_Manager* front = fresh_front(true, "127.0.0.1", daemon.port());
  Object pools;
  front->get_local_pools(pools);
  front = fresh_front(false, "127.0.0.1", daemon.port());
  front->sync_pools_state();
  ask_services(daemon.port());
  // A pool the reply marked for deletion is live again for the next input.
  front->update_pool(kPool, Object{{"state", "normal"}});
  Storage_Catalog_Manager::close_instance();
  front_mode = Front_Mode::NONE;
}

const Entry* entries() {
  static const Entry all[] = {{"json_text", json_text},
                              {"request_params", request_params},
                              {"catalog_records", catalog_records},
                              {"predelete_request", predelete_request},
                              {"consistency_parsers", consistency_parsers},
                              {"daemon_replies", daemon_replies},
                              {nullptr, nullptr}};
  return all;
}

}  // namespace scat_fuzz
