// The backup daemon's attribute store; here only its key, which encrypts
// pool attributes on the daemon's own host. Starts from the environment
// (STORAGED_ATTRIBUTE_KEY). Safe for concurrent use.
#ifndef PLATFORM_COMMON_ATTRIBUTE_MANAGER_H_
#define PLATFORM_COMMON_ATTRIBUTE_MANAGER_H_

#include <mutex>
#include <string>

class Attribute_Manager {
 public:
  static Attribute_Manager* instance();

  std::string key() const;
  void set_key(const std::string& key);

 private:
  Attribute_Manager();

  mutable std::mutex lock_;
  std::string key_;
};

#endif  // PLATFORM_COMMON_ATTRIBUTE_MANAGER_H_
