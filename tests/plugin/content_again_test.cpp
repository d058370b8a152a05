// The same content again gives the same bytes: every entry of every corpus
// database and probe extracted, tested and extracted again, and extracted
// with every other entry skipped (so that an alias is read after its
// target, or with its target never read). Streams come out as they are
// produced, in pieces, and a host that stops in the middle keeps what was
// written.
#include <map>

#include "support/export_support.h"

using namespace plugin_test;

namespace {

::testing::Environment* const kModule =
    ::testing::AddGlobalTestEnvironment(new ModuleEnvironment);

std::vector<int> reported;  // the totals the progress callback was given
int stopAt = 0;             // the call that says stop; 0: never

int WINAPI Progress(WCHAR*, int total) {
  reported.push_back(total);
  return static_cast<int>(reported.size()) == stopAt ? 0 : 1;
}

struct Outcome {
  int result;
  std::string bytes;
};

class ContentAgain : public ::testing::Test {
 protected:
  TempFolder folder;
  void SetUp() override { SetProcessDataProcW(nullptr, Progress); }
  void TearDown() override {
    SetProcessDataProcW(nullptr, nullptr);
    stopAt = 0;
  }
  // One operation on the current entry; extracted bytes are read back.
  Outcome Run(HANDLE archive, int operation) {
    const fs::path file = folder.path() / "out";
    fs::remove(file);
    WString name = PathText(file);
    reported.clear();
    const int result = ProcessFileW(archive, operation, nullptr, name.data());
    return {result, operation == 2 ? ReadAll(file) : std::string()};
  }
};

std::vector<std::string> Databases() {
  std::vector<std::string> all;
  for (const char* name : {"alias-probes.msi", "multi-key.msi", "windows-names.msi",
                           "large-content.msi", "types.msi", "ren-csv.msi", "tables-text.msi",
                           "cut-in-stream.msi"}) {
    all.push_back(FixtureFile(name));
  }
  for (const fs::path& path : test_support::CorpusDatabases()) all.push_back(path.string());
  return all;
}

// Per entry: extracted, tested, extracted again, each giving the same
// answer, the same bytes and the same reports; an entry that succeeds holds
// its listed size. Then, in archives of their own, each half of the entries
// extracted while the other half is skipped gives the same again.
TEST_F(ContentAgain, EveryEntryExtractedTestedAndExtractedAgain) {
  for (const std::string& database : Databases()) {
    SCOPED_TRACE(database);
    std::vector<Outcome> first;
    {
      OpenedArchive archive(database);
      HeaderDataExW header{};
      while (ReadHeaderExW(archive.get(), &header) == 0) {
        const std::string entry = fs::path(header.fileName).string();
        const Outcome extracted = Run(archive.get(), 2);
        const std::vector<int> extractReports = reported;
        const Outcome tested = Run(archive.get(), 1);
        EXPECT_EQ(extractReports, reported) << entry;
        const Outcome again = Run(archive.get(), 2);
        EXPECT_EQ(extracted.result, tested.result) << entry;
        EXPECT_EQ(extracted.result, again.result) << entry;
        EXPECT_TRUE(extracted.bytes == again.bytes) << entry;
        if (extracted.result == 0) {
          EXPECT_EQ(static_cast<size_t>(header.unpSize), extracted.bytes.size()) << entry;
        }
        first.push_back(extracted);
      }
    }
    for (size_t parity = 0; parity < 2; ++parity) {
      OpenedArchive archive(database);
      HeaderDataExW header{};
      for (size_t i = 0; ReadHeaderExW(archive.get(), &header) == 0; ++i) {
        ASSERT_LT(i, first.size());
        if (i % 2 == parity) {
          EXPECT_EQ(0, ProcessFileW(archive.get(), 0, nullptr, nullptr));
          continue;
        }
        const Outcome extracted = Run(archive.get(), 2);
        EXPECT_EQ(first[i].result, extracted.result) << fs::path(header.fileName).string();
        EXPECT_TRUE(first[i].bytes == extracted.bytes) << fs::path(header.fileName).string();
      }
    }
  }
}

// Content longer than one write comes in writes of 64 KiB or more (but the
// last), each reported beforehand with the running total. A host that
// stops before any write keeps exactly what was written before it, and the
// next extraction of the entry gives it whole.
TEST_F(ContentAgain, StoppedMidwayKeepsWhatWasWritten) {
  const std::map<std::string, std::string> entries = {
      {"Blobs\\several", "Blobs.several"},
      {"_Streams\\several", "Blobs.several"},
      {"Text.csv", ""},
  };
  const std::string database = FixtureFile("large-content.msi");
  for (const auto& [entry, stream] : entries) {
    SCOPED_TRACE(entry);
    OpenedArchive archive(database);
    HeaderDataExW header{};
    ASSERT_TRUE(archive.ListUntil(HostName(entry), &header));
    const Outcome whole = Run(archive.get(), 2);
    ASSERT_EQ(0, whole.result);
    ASSERT_EQ(static_cast<size_t>(header.unpSize), whole.bytes.size());
    if (!stream.empty()) {
      // The stream as msitools reads it, named by its name's bytes in hex.
      std::string hex;
      for (unsigned char c : stream) {
        hex += "0123456789abcdef"[c >> 4];
        hex += "0123456789abcdef"[c & 15];
      }
      EXPECT_TRUE(ReadAll(fs::path(FixtureFile("large-content.msi")).replace_extension(".streams") / hex) ==
                  whole.bytes);
    }
    const std::vector<int> totals = reported;
    ASSERT_GE(totals.size(), 3u) << "more than one write";
    for (size_t k = 1; k + 1 < totals.size(); ++k) {
      EXPECT_GE(totals[k] - totals[k - 1], 64 * 1024) << "write " << k;
    }
    EXPECT_EQ(static_cast<int>(whole.bytes.size()), totals.back());

    for (size_t k = 1; k <= totals.size(); ++k) {
      stopAt = static_cast<int>(k);
      const Outcome stopped = Run(archive.get(), 2);
      stopAt = 0;
      EXPECT_EQ(kHostAborted, stopped.result) << "stopped at call " << k;
      EXPECT_TRUE(stopped.bytes == whole.bytes.substr(0, static_cast<size_t>(totals[k - 1])))
          << "stopped at call " << k;
      const Outcome next = Run(archive.get(), 2);
      EXPECT_EQ(0, next.result);
      EXPECT_TRUE(next.bytes == whole.bytes) << "after the stop at call " << k;
    }
  }
}

}  // namespace
