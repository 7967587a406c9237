#include "platform/poolutil/storaged_space.h"

#include "platform/rpc/json_restful_client.h"
#include "platform/runtime/log.h"

bool get_storaged_space_info(const std::string& host, std::uint16_t port, bool secure,
                             const std::string& access_key, Object& info) {
  JSON_RESTful_Client client(host, port, secure);
  client.set_header(HTTP_HEADER_ACCESS_KEY, access_key);
  Value answer;
  if (!client.get("/kx/r/storaged/space", answer) || !answer.is_object()) {
    LOG_ERROR("Failed to get space info of storage server %s:%d.", host.c_str(),
              static_cast<int>(port));
    return false;
  }
  info = answer.get<Object>();
  return true;
}
