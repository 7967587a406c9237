// This host's id, the key under which a pool's devices name their local
// folder on this host ("attached_hosts"). Starts from the environment
// (STORAGED_HOST_UUID, as the host manager does); the daemon, and tests,
// may set it at start-up. Reading is safe from any thread; set it before
// other threads read it, since c_str() points into the stored text.
#ifndef PLATFORM_RUNTIME_HOST_ID_H_
#define PLATFORM_RUNTIME_HOST_ID_H_

#include <string>

class Host_ID {
 public:
  static Host_ID& instance();

  // The id; empty when the host has none.
  const char* c_str() const { return id_.c_str(); }
  void set(const std::string& id) { id_ = id; }

 private:
  Host_ID();
  std::string id_;
};

#endif  // PLATFORM_RUNTIME_HOST_ID_H_
