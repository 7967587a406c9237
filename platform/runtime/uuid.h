// Uuid text and binary forms. The text form is 32 hexadecimal characters
// without separators, written in lower case; the binary form is 16 bytes.
#ifndef PLATFORM_RUNTIME_UUID_H_
#define PLATFORM_RUNTIME_UUID_H_

#include <cstddef>
#include <string>

namespace vrt {

// True for exactly 32 hexadecimal characters (either case).
bool is_uuid_hex(const std::string& text);

// 32 hexadecimal characters to 16 bytes. False, `bytes` untouched, for any
// other text.
bool uuid_hex_to_bytes(const std::string& hex, std::string& bytes);

// Bytes to lower-case hexadecimal text (two characters per byte).
std::string bytes_to_hex(const void* data, std::size_t size);

// A new random uuid: 16 bytes into `out`. False when none could be made.
bool uuid_generate(unsigned char out[16]);

}  // namespace vrt

// A new random uuid as text; empty when none could be made.
std::string uuid_string();

#endif  // PLATFORM_RUNTIME_UUID_H_
