// The SCSI target service of this host, which serves the block storage of
// btrfs/vmcopy and LAN-free pools: the figures of one pool and the LUNs it
// exports. Requests go to this host's own HTTP service
// ("/kx/r/scsi/pools/<pool uuid>" and ".../luns") with the host's access
// key. A plain value for one caller.
#ifndef PLATFORM_POOLUTIL_SCSI_TARGET_MANAGER_H_
#define PLATFORM_POOLUTIL_SCSI_TARGET_MANAGER_H_

#include <cstdint>
#include <string>
#include <vector>

#include "platform/json/json.h"

class SCSI_Target_Manager {
 public:
  // `targets`, when given, limits the LUNs listed to those of the named
  // targets.
  SCSI_Target_Manager(const std::string& host, std::uint16_t port, bool ssl,
                      const std::string& access_key, const std::string& pool_uuid,
                      const std::vector<std::string>* targets = nullptr);

  // Longest wait for an answer, in seconds (default 60).
  void set_timeout(int seconds) { timeout_ = seconds > 0 ? seconds : 1; }

  // The pool's figures ("total_size", "used_size", ...) into `info`. False,
  // logged, when the service does not answer with an object; `info` is
  // then untouched.
  bool get_scsi_pool_info(Object& info);
  // The pool's LUNs (objects with "lun_id", "max_size", "size", ...) into
  // `luns`. False, logged, when the service does not answer with an array.
  bool list_scsi_pool_luns(Array& luns);

 private:
  bool get(const std::string& path, Value& answer);

  std::string host_;
  std::uint16_t port_;
  bool ssl_;
  std::string access_key_;
  std::string pool_uuid_;
  std::vector<std::string> targets_;
  int timeout_ = 60;
};

#endif  // PLATFORM_POOLUTIL_SCSI_TARGET_MANAGER_H_
