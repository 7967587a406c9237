// The usage of pools whose data lies in local directories: the file
// calculator, which also serves every scheme without a calculator of its
// own, and the object-storage calculator, which measures nothing.
//
// A single-device pool is measured by walking its directory (COUNTS_FILES);
// a pool spread over several devices by the device metadata of each device
// (MULTIDEVICE, LIVE). Plain values for one caller; see
// pool_usage_calculator.h.
#ifndef STORAGED_STORAGE_CATALOG_HTTP_POOL_USAGE_CALCULATOR_H_
#define STORAGED_STORAGE_CATALOG_HTTP_POOL_USAGE_CALCULATOR_H_

#include <string>

#include "storaged/storage_catalog/pool_usage_calculator.h"

class HTTP_Pool_Usage_Calculator : public Pool_Usage_Calculator {
 public:
  HTTP_Pool_Usage_Calculator(const Array& devices, bool multidevice);

  // Single device: "files", "file_size" and "used_size" of the tree below
  // the device's directory (zeros when it does not exist yet), and "size"
  // and "free_size" of the disk holding it (left out when the disk cannot
  // be examined). False when the device has no local directory or the
  // directory cannot be read.
  //
  // Several devices: "devices", one entry per device the device metadata
  // knows ("uuid", "size", "used_size", "free_size", "files"), and the
  // pool's "size" and "used_size" summed over them. Always true.
  bool calculate(Object& usage) override;
  // Single device: "size" and "free_size" of the disk holding the device's
  // directory (its parent while it does not exist). Several devices: true,
  // nothing written.
  bool get_space(Object& out) override;

  // The local directory of a device row; empty, logged, when the row is
  // malformed or names no directory on this host.
  static std::string local_directory(const Object& device);

 private:
  bool calculate_single(Object& usage);
  bool calculate_multiple(Object& usage);
  // The directory of the first device; empty when there is none.
  std::string first_directory() const;
};

// Object storage reports no usage: calculate is always false.
class S3_Pool_Usage_Calculator : public Pool_Usage_Calculator {
 public:
  explicit S3_Pool_Usage_Calculator(const Array& devices);
  bool calculate(Object& usage) override;
};

#endif  // STORAGED_STORAGE_CATALOG_HTTP_POOL_USAGE_CALCULATOR_H_
