// One libFuzzer target: SCAT_FUZZ_ENTRY names the entry it drives.
#include "fuzz/fuzz_entries.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  scat_fuzz::SCAT_FUZZ_ENTRY(data, size);
  return 0;
}
