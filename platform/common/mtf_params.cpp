#include "platform/common/mtf_params.h"

#include <cstdlib>

MTF_Params& MTF_Params::instance() {
  static MTF_Params params;
  return params;
}

MTF_Params::MTF_Params() {
  const char* v = std::getenv("STORAGED_MTF_DATA_DIR");
  if (v != nullptr)
    data_dir_ = v;
}

std::string MTF_Params::data_dir() const {
  std::lock_guard<std::mutex> guard(lock_);
  return data_dir_;
}

void MTF_Params::set_data_dir(const std::string& dir) {
  std::lock_guard<std::mutex> guard(lock_);
  data_dir_ = dir;
}
