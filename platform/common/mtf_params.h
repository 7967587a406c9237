// The tape library's parameters (libmtf_common); here only the folder that
// holds tape data on this host. Starts from the environment
// (STORAGED_MTF_DATA_DIR); the daemon, and tests, may set it at start-up.
// Safe for concurrent use.
#ifndef PLATFORM_COMMON_MTF_PARAMS_H_
#define PLATFORM_COMMON_MTF_PARAMS_H_

#include <mutex>
#include <string>

class MTF_Params {
 public:
  static MTF_Params& instance();

  // Empty when the host keeps no tape data.
  std::string data_dir() const;
  void set_data_dir(const std::string& dir);

 private:
  MTF_Params();
  mutable std::mutex lock_;
  std::string data_dir_;
};

#endif  // PLATFORM_COMMON_MTF_PARAMS_H_
