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
#include "support/helpers.h"

namespace msiarc::testing {
namespace {

namespace fs = std::filesystem;

void DriveAll(const fs::path& folder, bool recursive) {
  for (const fs::path& file : test_support::FilesIn(folder, recursive)) {
    SCOPED_TRACE(file.string());
    std::vector<uint8_t> bytes = test_support::ReadBytes(file);
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
