// The usage of deduplication pools, asked of the dedup engine through this
// host's own HTTP service ("/kx/r/dedup/gstat/<pool directory>"). Each
// device is reported with the figures of the dedup node it lives on.
// Flags LIVE and PHYSICAL_IS_USED. A plain value for one caller; see
// pool_usage_calculator.h.
#ifndef STORAGED_STORAGE_CATALOG_DEDUP_POOL_USAGE_CALCULATOR_H_
#define STORAGED_STORAGE_CATALOG_DEDUP_POOL_USAGE_CALCULATOR_H_

#include <cstdint>
#include <map>
#include <string>

#include "storaged/storage_catalog/pool_usage_calculator.h"

class Dedup_Pool_Usage_Calculator : public Pool_Usage_Calculator {
 public:
  // One node of the engine, as its status reports it; members the status
  // leaves out stay zero or empty.
  struct Node {
    std::uint64_t data_size = 0;
    std::uint64_t max_fp_list_db_size = 0;
    std::uint64_t capacity = 0;
    std::string state;
    std::uint64_t storage_size = 0;
    std::uint64_t free_size = 0;
    std::uint64_t db_size = 0;
    std::uint32_t fp_list_db_shards = 0;
    std::uint64_t total_size = 0;
  };

  explicit Dedup_Pool_Usage_Calculator(const Array& devices);

  // "devices": per device ("uuid", "data_size", "db_size", "size",
  // "free_size", "used_size", "capacity", "dedup_rate") from the node named
  // by its "extended_attrs" "node_id" (node 1 without one); devices on
  // unknown nodes are left out. Pool "primary_size" (null when the engine
  // names none), "size" (bytes stored), "data_size" (bytes written) and
  // "dedup_rate" over the reported devices. False when the engine cannot be
  // asked or its answer is not a status.
  bool calculate(Object& usage) override;

  // Hundredths of a percent of `data` that was not stored again; 0 when
  // nothing was written or more was stored than written.
  static long long dedup_rate(std::uint64_t data, std::uint64_t stored);

 private:
  struct Status {
    bool has_primary_size = false;
    std::uint64_t primary_size = 0;
    std::map<std::uint32_t, Node> nodes;
  };
  // False, logged, when the engine cannot be asked, its answer is not a
  // status or it names no node.
  bool read_status(Status& status) const;
};

#endif  // STORAGED_STORAGE_CATALOG_DEDUP_POOL_USAGE_CALCULATOR_H_
