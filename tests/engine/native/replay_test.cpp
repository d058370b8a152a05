// Every input the fuzzer ever found trouble with, and every corpus file
// (the broken ones included), driven through every engine call. Sanitizers
// turn any out-of-bounds read or leak into a failure.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/native/engine_driver.h"

namespace msiarc::testing {
namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void DriveAll(const fs::path& folder, bool recursive) {
  if (!fs::is_directory(folder)) GTEST_SKIP() << folder << " is not there";
  std::vector<fs::path> files;
  if (recursive) {
    for (const auto& e : fs::recursive_directory_iterator(folder)) {
      if (e.is_regular_file()) files.push_back(e.path());
    }
  } else {
    for (const auto& e : fs::directory_iterator(folder)) {
      if (e.is_regular_file()) files.push_back(e.path());
    }
  }
  for (const fs::path& file : files) {
    SCOPED_TRACE(file.string());
    std::vector<uint8_t> bytes = ReadFile(file);
    DriveEngine(bytes.data(), bytes.size());
  }
}

TEST(Replay, FuzzFindings) {
  DriveAll(fs::path(__FILE__).parent_path() / "fuzz_findings", false);
}

#ifdef MSIARC_CORPUS_DIR
TEST(Replay, Corpus) { DriveAll(MSIARC_CORPUS_DIR, true); }
#endif

}  // namespace
}  // namespace msiarc::testing
