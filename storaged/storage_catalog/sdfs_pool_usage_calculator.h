// The usage of pools whose storage the backup daemon manages: sdfs pools
// (flag PHYSICAL_IS_USED), asked at "/kx/r/v2/storages", and tape-manager
// pools (flag LIVE), asked at "/kx/r/tapemgr/pool/usage". Requests go to
// the daemon the catalog front talks to. Plain values for one caller; see
// pool_usage_calculator.h.
#ifndef STORAGED_STORAGE_CATALOG_SDFS_POOL_USAGE_CALCULATOR_H_
#define STORAGED_STORAGE_CATALOG_SDFS_POOL_USAGE_CALCULATOR_H_

#include "storaged/storage_catalog/pool_usage_calculator.h"

class SDFS_Pool_Usage_Calculator : public Pool_Usage_Calculator {
 public:
  explicit SDFS_Pool_Usage_Calculator(const Array& devices);

  // "used_size": the "used_bytes" of the first storage the daemon lists for
  // the first device (null when it names none). False, logged, when the
  // daemon cannot be asked or lists no storage.
  bool calculate(Object& usage) override;
  // "size" and "free_size" of the disk holding the directory the first
  // device's URL path maps to. False, logged, when there is none.
  bool get_space(Object& out) override;
};

class KXT_Pool_Usage_Calculator : public Pool_Usage_Calculator {
 public:
  explicit KXT_Pool_Usage_Calculator(const Array& devices);

  // "size" and "used_size" of the pool (null when the daemon names none),
  // and "devices" holding the daemon's answer as the first device's entry.
  // False, logged, when the daemon cannot be asked or answers otherwise.
  bool calculate(Object& usage) override;
};

#endif  // STORAGED_STORAGE_CATALOG_SDFS_POOL_USAGE_CALCULATOR_H_
