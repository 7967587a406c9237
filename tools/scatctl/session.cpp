#include "tools/scatctl/session.h"

#include <filesystem>
#include <system_error>

#include "platform/rpc/host_manager.h"
#include "platform/runtime/simple_reactor.h"
#include "platform/sql/legacy_manager.h"
#include "platform/sql/metadata.h"
#include "tools/scatctl/json_io.h"
#include "tools/scatctl/log_sink.h"

namespace scatctl {

namespace {

const char kCatalogName[] = "storage_catalog";

}  // namespace

Session::~Session() {
  close_catalog();
}

Storage_Catalog_Manager& Session::front() {
  if (front_ == nullptr)
    open_catalog(use_);
  return *front_;
}

void Session::open_catalog(Catalog_Use use) {
  open_at(locate_catalog(args_.catalog), use);
}

void Session::open_catalog_file(const std::string& file, Catalog_Use use, bool relaxed_sync) {
  Catalog_Location where;
  where.db.name(kCatalogName).type(database::Database::SQLITE).path(file);
  if (relaxed_sync)
    where.db.synchronous("NORMAL");
  open_at(where, use);
}

void Session::open_at(const Catalog_Location& where, Catalog_Use use) {
  close_catalog();
  location_ = where;
  bool exists = catalog_exists(where);
  if (!exists && use != Catalog_Use::CREATE)
    throw Failure("no catalog in " + where.describe() + " (make one with 'scatctl init')");
  if (!exists && where.is_sqlite()) {
    std::error_code error;
    std::filesystem::path parent = std::filesystem::path(where.db.path()).parent_path();
    if (!parent.empty())
      std::filesystem::create_directories(parent, error);
    if (error)
      throw Failure("cannot make the folder '" + parent.string() + "': " + error.message());
  }
  created_ = !exists;

  database::Manager::instance()->configure(kCatalogName, where.db);
  database::sql::Legacy_Manager::instance()->close(kCatalogName);
  Host_Manager::instance()->set_role(Host_Manager::ROLE_BACKUPD);
  front_ = Storage_Catalog_Manager::instance();
  if (front_ == nullptr)
    throw Failure("cannot make the catalog front: out of memory");
  forget_reason();
  front_->init(std::string(), 0, false);
  if (!front_->open()) {
    Failure failure = failed("cannot open the " + where.describe());
    close_catalog();
    throw failure;
  }
  if (Simple_Reactor* reactor = Simple_Reactor::instance())
    reactor->cancel_timer(front_);
}

void Session::close_catalog() {
  if (front_ == nullptr)
    return;
  front_->close();
  Storage_Catalog_Manager::close_instance();
  front_ = nullptr;
  database::sql::Legacy_Manager::instance()->close_all();
}

void Session::print(const Value& value) const {
  print_json(value, args_.compact);
}

Failure Session::failed(const std::string& what) const {
  std::string reason = Log_Sink::instance().last_error();
  return Failure(reason.empty() ? what : what + ": " + reason);
}

void Session::forget_reason() const {
  Log_Sink::instance().clear();
}

}  // namespace scatctl
