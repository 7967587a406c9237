// Measures the storage behind one pool. Each kind of storage has its own
// calculator; make_usage_calculator picks it from the URL of the pool's
// master device. The usage bookkeeping runs a calculator and reads its
// flags to tell whether a pool's figures are stored in the catalog or asked
// for live.
//
// A calculator is a plain value for one caller: it holds copies of the
// pool's device rows and no connection or lock. The caller owns the
// calculator it gets from the factory. Results go into caller-owned
// objects; failures are logged and give false, nothing is thrown.
#ifndef STORAGED_STORAGE_CATALOG_POOL_USAGE_CALCULATOR_H_
#define STORAGED_STORAGE_CATALOG_POOL_USAGE_CALCULATOR_H_

#include <cstdint>
#include <memory>
#include <string>

#include "platform/json/json.h"

class Pool_Usage_Calculator {
 public:
  enum Flags : std::uint32_t {
    MULTIDEVICE = 0x1,       // file calculator of a pool spanning several devices
    LIVE = 0x2,              // figures are asked for when needed, never stored
    EXTERNAL = 0x4,          // space figures come from the external storage
    COUNTS_FILES = 0x8,      // calculate reports "files" and "file_size"
    PHYSICAL_IS_USED = 0x10  // the stored physical size is the used size
  };

  // `devices` are the pool's rows of "storage_catalog_device" (objects with
  // "uuid", "url", "pool_uuid", "extended_attrs"); the calculator keeps a
  // copy.
  explicit Pool_Usage_Calculator(const Array& devices);
  virtual ~Pool_Usage_Calculator();

  // Writes the pool's figures (bytes) into `usage`. False when they cannot
  // be measured; `usage` may then hold part of them.
  virtual bool calculate(Object& usage) = 0;
  // Writes "size" and "free_size" of the storage behind the pool into
  // `out`. This default writes nothing and returns false.
  virtual bool get_space(Object& out);

  void set_url(const std::string& url) { url_ = url; }
  // Also sets EXTERNAL.
  void set_external_id(const std::string& external_id);
  // Seconds a calculator that asks a service waits for its answer
  // (default 60); a service slower than that counts as down.
  void set_request_timeout(int seconds);

  const Array& devices() const { return devices_; }
  std::uint32_t flags() const { return flags_; }
  bool has_flag(Flags flag) const { return (flags_ & flag) != 0; }
  const std::string& url() const { return url_; }
  const std::string& external_id() const { return external_id_; }
  int request_timeout() const { return request_timeout_; }

  Pool_Usage_Calculator(const Pool_Usage_Calculator&) = delete;
  Pool_Usage_Calculator& operator=(const Pool_Usage_Calculator&) = delete;

 protected:
  Array devices_;
  std::uint32_t flags_ = 0;
  std::string url_;
  std::string external_id_;
  int request_timeout_ = 60;
};

using Pool_Usage_Calculator_Ptr = std::unique_ptr<Pool_Usage_Calculator>;

// The calculator of a pool, chosen by the whole-URL scheme families of the
// master device's "url": dedup, then btrfs or lanfree (SCSI), then kxt
// (tape manager), then sdfs; any other URL gets the file calculator, for
// several devices when `multidevice` (the pool's "multidevice" attribute).
// The calculator carries the URL and the master device's external storage
// id. Empty, logged, when `master_device` has no "url" string or the
// calculator cannot be allocated.
Pool_Usage_Calculator_Ptr make_usage_calculator(const std::string& pool_uuid, const Array& devices,
                                                const Object& master_device, bool multidevice);

// The "external_uuid" string inside a device's "extended_attrs" object;
// empty when either is missing.
std::string device_external_id(const Object& device);

#endif  // STORAGED_STORAGE_CATALOG_POOL_USAGE_CALCULATOR_H_
