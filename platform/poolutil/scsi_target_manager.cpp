#include "platform/poolutil/scsi_target_manager.h"

#include <algorithm>

#include "platform/rpc/json_restful_client.h"
#include "platform/runtime/log.h"

namespace {
const char kPoolsPath[] = "/kx/r/scsi/pools/";
}

SCSI_Target_Manager::SCSI_Target_Manager(const std::string& host, std::uint16_t port, bool ssl,
                                         const std::string& access_key,
                                         const std::string& pool_uuid,
                                         const std::vector<std::string>* targets)
    : host_(host), port_(port), ssl_(ssl), access_key_(access_key), pool_uuid_(pool_uuid) {
  if (targets != nullptr)
    targets_ = *targets;
}

bool SCSI_Target_Manager::get(const std::string& path, Value& answer) {
  JSON_RESTful_Client client(host_, port_, ssl_, false);
  if (!access_key_.empty())
    client.set_header(HTTP_HEADER_ACCESS_KEY, access_key_);
  client.set_timeouts(std::min(3, timeout_), timeout_, timeout_);
  HTTP_Request request(HTTP_METHOD_GET, path);
  for (const std::string& target : targets_)
    request.query_string().append("target", target);
  return client.get(request, answer);
}

bool SCSI_Target_Manager::get_scsi_pool_info(Object& info) {
  Value answer;
  if (!get(kPoolsPath + pool_uuid_, answer))
    return false;
  if (!answer.is_object()) {
    LOG_ERROR("Failed to get scsi pool info of '%s': the answer is %s.", pool_uuid_.c_str(),
              json_type_name(answer));
    return false;
  }
  info = answer.get<Object>();
  return true;
}

bool SCSI_Target_Manager::list_scsi_pool_luns(Array& luns) {
  Value answer;
  if (!get(kPoolsPath + pool_uuid_ + "/luns", answer))
    return false;
  if (!answer.is_array()) {
    LOG_ERROR("Failed to list scsi luns of '%s': the answer is %s.", pool_uuid_.c_str(),
              json_type_name(answer));
    return false;
  }
  luns = answer.get<Array>();
  return true;
}
