// The usage of btrfs/vmcopy and LAN-free pools, asked of this host's SCSI
// target service. Every device is reported with the pool's own figures,
// except LAN-free devices, which get the figures of the LUN their URL
// names. Flag LIVE. A plain value for one caller; see
// pool_usage_calculator.h.
#ifndef STORAGED_STORAGE_CATALOG_SCSI_POOL_USAGE_CALCULATOR_H_
#define STORAGED_STORAGE_CATALOG_SCSI_POOL_USAGE_CALCULATOR_H_

#include <string>

#include "storaged/storage_catalog/pool_usage_calculator.h"

class SCSI_Pool_Usage_Calculator : public Pool_Usage_Calculator {
 public:
  SCSI_Pool_Usage_Calculator(const std::string& pool_uuid, const Array& devices);

  // Pool "size" and "used_size", and "devices" ("uuid", "size",
  // "used_size", "free_size") when the pool has devices. A LAN-free device
  // whose LUN the service does not list is left out. False, logged, when
  // the service cannot be asked or its figures are missing or negative.
  bool calculate(Object& usage) override;

  const std::string& pool_uuid() const { return pool_uuid_; }

 private:
  std::string pool_uuid_;
};

#endif  // STORAGED_STORAGE_CATALOG_SCSI_POOL_USAGE_CALCULATOR_H_
