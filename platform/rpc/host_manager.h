// The host's role and identity, as the daemon's configuration gives them.
//
// Values start from the environment (STORAGED_HOST_ROLE "server", "agent"
// or "backupd"; STORAGED_HOST_UUID, STORAGED_HOST_NAME, STORAGED_HOST_KEY,
// STORAGED_HOST_ACCESS_KEY) and may be set by the daemon (and by tests).
// Safe for concurrent use.
#ifndef PLATFORM_RPC_HOST_MANAGER_H_
#define PLATFORM_RPC_HOST_MANAGER_H_

#include <mutex>
#include <string>

class Host_Manager {
 public:
  enum Role {
    ROLE_SERVER,  // a storage host
    ROLE_AGENT,   // an agent host with local pools
    ROLE_BACKUPD  // the backup daemon's own host
  };

  static Host_Manager* instance();

  bool on_agent() const;
  bool on_backupd() const;
  Role role() const;
  std::string uuid() const;
  std::string name() const;
  // The key that encrypts pool attributes on this host.
  std::string key() const;
  // The key that authenticates this host's requests to the daemon.
  std::string access_key() const;
  std::size_t access_key_size() const;

  void set_role(Role role);
  void set_uuid(const std::string& uuid);
  void set_name(const std::string& name);
  void set_key(const std::string& key);
  void set_access_key(const std::string& access_key);
  // Back to the environment's values.
  void reset();

 private:
  Host_Manager();

  mutable std::mutex lock_;
  Role role_;
  std::string uuid_;
  std::string name_;
  std::string key_;
  std::string access_key_;
};

#endif  // PLATFORM_RPC_HOST_MANAGER_H_
