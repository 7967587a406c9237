// Every input fuzzing kept (the seed corpora and the inputs that once
// crashed, fuzz/corpus/<entry>/ and fuzz/regressions/<entry>/) runs again
// through the same entry function, in the sanitizer build of the tests.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/fuzz_entries.h"
#include "tests/support/log_capture.h"

namespace {

namespace fs = std::filesystem;

std::vector<std::string> inputs_of(const std::string& entry) {
  std::vector<std::string> files;
  for (const char* kind : {"corpus", "regressions"}) {
    fs::path dir = fs::path(SCAT_FUZZ_DIR) / kind / entry;
    std::error_code ignored;
    if (!fs::is_directory(dir, ignored))
      continue;
    for (const fs::directory_entry& file : fs::directory_iterator(dir))
      if (file.is_regular_file())
        files.push_back(file.path().string());
  }
  return files;
}

class Fuzz_Regressions : public ::testing::TestWithParam<scat_fuzz::Entry> {
 protected:
  Log_Capture log_;  // the library's complaints about bad input stay quiet
};

TEST_P(Fuzz_Regressions, EveryKeptInputRunsToItsEnd) {
  const scat_fuzz::Entry& entry = GetParam();
  std::vector<std::string> files = inputs_of(entry.name);
  EXPECT_FALSE(files.empty()) << "no seed inputs for " << entry.name;
  for (const std::string& file : files) {
    SCOPED_TRACE(file);
    std::ifstream in(file, std::ios::binary);
    std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    entry.run(reinterpret_cast<const std::uint8_t*>(data.data()), data.size());
  }
}

std::vector<scat_fuzz::Entry> all_entries() {
  std::vector<scat_fuzz::Entry> all;
  for (const scat_fuzz::Entry* e = scat_fuzz::entries(); e->name != nullptr; ++e)
    all.push_back(*e);
  return all;
}

INSTANTIATE_TEST_SUITE_P(Entries, Fuzz_Regressions, ::testing::ValuesIn(all_entries()),
                         [](const ::testing::TestParamInfo<scat_fuzz::Entry>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
