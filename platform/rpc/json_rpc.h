// JSON-RPC with the backup daemon: the channel of a registered host, the
// request envelope and request ids. All safe for concurrent use.
#ifndef PLATFORM_RPC_JSON_RPC_H_
#define PLATFORM_RPC_JSON_RPC_H_

#include <cstdint>
#include <memory>
#include <string>

#include "platform/json/json.h"

// Where the daemon this host registered with listens.
struct JSON_RPC_Channel {
  std::string host;
  std::uint16_t port = 0;
  bool ssl = false;
};

using JSON_RPC_Channel_Ptr = std::shared_ptr<const JSON_RPC_Channel>;

// The host's channel to its daemon: empty until the host has registered.
// It starts from the environment (STORAGED_UPSTREAM_HOST,
// STORAGED_UPSTREAM_PORT, STORAGED_UPSTREAM_SSL "1"), present when both host
// and port are given, and is set by the daemon's registration (and tests).
class Global_JSON_RPC_Channel {
 public:
  static JSON_RPC_Channel_Ptr instance();
  // A null channel unregisters.
  static void set(JSON_RPC_Channel_Ptr channel);
  // Back to the environment's channel.
  static void reset();
};

// The envelope of a JSON-RPC 2.0 request.
class JSON_RPC_Request {
 public:
  static const char* const VERSION;  // "2.0"

  // {"id", "jsonrpc", "method", "params"}.
  static Object make(const std::string& id, const std::string& method, const Value& params);
};

class JSON_RPC_Id_Generator {
 public:
  // A request id not handed out before in this process.
  static std::string get();
};

#endif  // PLATFORM_RPC_JSON_RPC_H_
