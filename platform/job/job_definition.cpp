#include "platform/job/job_definition.h"

std::string Job_Options::to_json() const {
  yajl_gen gen = yajl_gen_alloc(nullptr);
  if (gen == nullptr)
    return std::string();
  std::string text;
  const unsigned char* buffer = nullptr;
  size_t length = 0;
  if (generate(gen) && yajl_gen_get_buf(gen, &buffer, &length) == yajl_gen_status_ok)
    text.assign(reinterpret_cast<const char*>(buffer), length);
  yajl_gen_free(gen);
  return text;
}
