#include "platform/common/attribute_manager.h"

#include <cstdlib>

Attribute_Manager* Attribute_Manager::instance() {
  static Attribute_Manager manager;
  return &manager;
}

Attribute_Manager::Attribute_Manager() {
  const char* v = std::getenv("STORAGED_ATTRIBUTE_KEY");
  if (v != nullptr)
    key_ = v;
}

std::string Attribute_Manager::key() const {
  std::lock_guard<std::mutex> guard(lock_);
  return key_;
}

void Attribute_Manager::set_key(const std::string& key) {
  std::lock_guard<std::mutex> guard(lock_);
  key_ = key;
}
