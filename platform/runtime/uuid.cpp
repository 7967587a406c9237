#include "platform/runtime/uuid.h"

#include <uuid/uuid.h>

namespace vrt {

namespace {
int hex_value(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return -1;
}
}  // namespace

bool is_uuid_hex(const std::string& text) {
  if (text.size() != 32)
    return false;
  for (char c : text)
    if (hex_value(c) < 0)
      return false;
  return true;
}

bool uuid_hex_to_bytes(const std::string& hex, std::string& bytes) {
  if (!is_uuid_hex(hex))
    return false;
  std::string out(16, '\0');
  for (std::size_t i = 0; i < 16; ++i)
    out[i] = static_cast<char>(hex_value(hex[2 * i]) * 16 + hex_value(hex[2 * i + 1]));
  bytes.swap(out);
  return true;
}

std::string bytes_to_hex(const void* data, std::size_t size) {
  static const char digits[] = "0123456789abcdef";
  const unsigned char* p = static_cast<const unsigned char*>(data);
  std::string out;
  out.reserve(size * 2);
  for (std::size_t i = 0; i < size; ++i) {
    out.push_back(digits[p[i] >> 4]);
    out.push_back(digits[p[i] & 0x0f]);
  }
  return out;
}

bool uuid_generate(unsigned char out[16]) {
  uuid_t u;
  ::uuid_generate(u);
  for (int i = 0; i < 16; ++i)
    out[i] = u[i];
  return true;
}

}  // namespace vrt

std::string uuid_string() {
  unsigned char u[16];
  if (!vrt::uuid_generate(u))
    return std::string();
  return vrt::bytes_to_hex(u, sizeof u);
}
