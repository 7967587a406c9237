#include "platform/rpc/host_manager.h"

#include <cstdlib>

namespace {
std::string env(const char* name) {
  const char* v = std::getenv(name);
  return v == nullptr ? std::string() : std::string(v);
}
}  // namespace

Host_Manager* Host_Manager::instance() {
  static Host_Manager manager;
  return &manager;
}

Host_Manager::Host_Manager() {
  reset();
}

void Host_Manager::reset() {
  std::lock_guard<std::mutex> guard(lock_);
  std::string role = env("STORAGED_HOST_ROLE");
  role_ = role == "agent" ? ROLE_AGENT : role == "backupd" ? ROLE_BACKUPD : ROLE_SERVER;
  uuid_ = env("STORAGED_HOST_UUID");
  name_ = env("STORAGED_HOST_NAME");
  key_ = env("STORAGED_HOST_KEY");
  access_key_ = env("STORAGED_HOST_ACCESS_KEY");
}

bool Host_Manager::on_agent() const {
  return role() == ROLE_AGENT;
}
bool Host_Manager::on_backupd() const {
  return role() == ROLE_BACKUPD;
}

Host_Manager::Role Host_Manager::role() const {
  std::lock_guard<std::mutex> guard(lock_);
  return role_;
}

std::string Host_Manager::uuid() const {
  std::lock_guard<std::mutex> guard(lock_);
  return uuid_;
}

std::string Host_Manager::name() const {
  std::lock_guard<std::mutex> guard(lock_);
  return name_;
}

std::string Host_Manager::key() const {
  std::lock_guard<std::mutex> guard(lock_);
  return key_;
}

std::string Host_Manager::access_key() const {
  std::lock_guard<std::mutex> guard(lock_);
  return access_key_;
}

std::size_t Host_Manager::access_key_size() const {
  std::lock_guard<std::mutex> guard(lock_);
  return access_key_.size();
}

void Host_Manager::set_role(Role role) {
  std::lock_guard<std::mutex> guard(lock_);
  role_ = role;
}

void Host_Manager::set_uuid(const std::string& uuid) {
  std::lock_guard<std::mutex> guard(lock_);
  uuid_ = uuid;
}

void Host_Manager::set_name(const std::string& name) {
  std::lock_guard<std::mutex> guard(lock_);
  name_ = name;
}

void Host_Manager::set_key(const std::string& key) {
  std::lock_guard<std::mutex> guard(lock_);
  key_ = key;
}

void Host_Manager::set_access_key(const std::string& access_key) {
  std::lock_guard<std::mutex> guard(lock_);
  access_key_ = access_key;
}
