// Host faults around extraction: a progress callback that stops (or throws,
// or closes the archive) at every point, destinations that cannot be
// created or filled, and handles that are not live archives. Each leaves
// the archive usable and loses or leaks nothing.
#include <algorithm>
#include <cstring>
#include <fstream>
#include <stdexcept>

#include "support/export_support.h"
#include "archive/archive.h"

#ifdef __linux__
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

using namespace plugin_test;

namespace {

int calls = 0;
int stopAt = 0;  // the call that says stop (or throws); 0: never
std::vector<int> totals;  // what each call reported
HANDLE closeFromCallback = nullptr;

int WINAPI StopWide(WCHAR*, int total) {
  totals.push_back(total);
  return ++calls == stopAt ? 0 : 1;
}
int WINAPI StopNarrow(char*, int total) {
  totals.push_back(total);
  return ++calls == stopAt ? 0 : 1;
}
int WINAPI ThrowWide(WCHAR*, int) {
  if (++calls == stopAt) throw std::runtime_error("host callback failed");
  return 1;
}
int WINAPI CloseWide(WCHAR*, int) {
  if (++calls == 1) CloseArchive(closeFromCallback);
  return 1;
}

#ifdef __linux__
// Open descriptors of this process: a handle left open shows here.
size_t OpenDescriptors() {
  size_t n = 0;
  std::error_code error;
  for (fs::directory_iterator it("/proc/self/fd", error), end; !error && it != end;
       it.increment(error)) {
    ++n;
  }
  EXPECT_FALSE(error) << "cannot read /proc/self/fd: " << error.message();
  return n;
}
#endif

class HostFaults : public ::testing::Test {
 protected:
  TempFolder folder;
  const fs::path out = folder.path() / "out";
  WString outText = PathText(out);

  void SetUp() override { Reset(); }
  void TearDown() override { Reset(); }
  static void Reset() {
    calls = 0;
    stopAt = 0;
    totals.clear();
    SetProcessDataProcW(nullptr, nullptr);
    SetProcessDataProc(nullptr, nullptr);
  }
  int ExtractTo(HANDLE archive, WString destination) {
    return ProcessFileW(archive, 2, nullptr, destination.data());
  }
  // The archive still lists and extracts: the entry after the current one
  // comes out whole.
  void ExpectNextEntryExtracts(HANDLE archive) {
    HeaderDataExW header{};
    ASSERT_EQ(0, ReadHeaderExW(archive, &header));
    const fs::path next = folder.path() / "next";
    EXPECT_EQ(0, ExtractTo(archive, PathText(next)));
    EXPECT_EQ(header.unpSize, ReadAll(next).size());
  }
};

TEST_F(HostFaults, CallbackStopsAtEveryChunkAndKeepsWhatWasWritten) {
  struct Case {
    std::string database;
    const char* entry;
  };
  // Entries of one write or none (the corpus's and the fixtures' own).
  const Case cases[] = {{CorpusFile("wix3__SimpleBinary.msi"), "Binary\\Binary1"},
                        {FixtureFile("types.msi"), "Binary\\big"},
                        {FixtureFile("types.msi"), "Binary\\alphabet"},
                        {FixtureFile("types.msi"), "Binary\\empty"}};
  for (const Case& c : cases) {
    for (const bool narrow : {false, true}) {
      SCOPED_TRACE(std::string(c.entry) + (narrow ? " (ANSI callback)" : ""));
      Reset();
      if (narrow) {
        SetProcessDataProc(nullptr, StopNarrow);
      } else {
        SetProcessDataProcW(nullptr, StopWide);
      }
      OpenedArchive archive(c.database);
      HeaderDataExW header{};
      ASSERT_TRUE(archive.ListUntil(HostName(c.entry), &header));
      ASSERT_EQ(0, ExtractTo(archive.get(), outText));
      const std::string whole = ReadAll(out);
      const std::vector<int> reported = totals;
      const int total = calls;
      ASSERT_EQ(header.unpSize, whole.size());
      ASSERT_FALSE(reported.empty());
      EXPECT_EQ(0, reported.front());
      EXPECT_EQ(static_cast<int>(whole.size()), reported.back());

      for (int k = 1; k <= total; ++k) {
        calls = 0;
        stopAt = k;
        EXPECT_EQ(kHostAborted, ExtractTo(archive.get(), outText)) << k;
        EXPECT_EQ(k, calls);
        // What was written before the call that said stop stays.
        const size_t kept = static_cast<size_t>(reported[static_cast<size_t>(k - 1)]);
        EXPECT_TRUE(ReadAll(out) == whole.substr(0, kept)) << "stopped at call " << k;
      }
      // Stopped extractions leave the entry intact for the next one.
      stopAt = 0;
      EXPECT_EQ(0, ExtractTo(archive.get(), outText));
      EXPECT_TRUE(ReadAll(out) == whole);
      ExpectNextEntryExtracts(archive.get());
    }
  }
}

// What the host is told about damage. A stream cut short in a damaged file
// is damaged data (12), tested or extracted through either entry point,
// after the bytes the file still holds were written; the entry beside it
// comes out whole. A file the engine cannot open is a damaged archive (13)
// when it is a compound file cut short, of an unknown format (14) when it
// is no compound file at all.
TEST_F(HostFaults, DamageIsReportedAsDamage) {
  std::string numbers;
  for (int i = 1; i <= 20000; ++i) numbers += std::to_string(i) + "\n";
  std::string narrowOut = out.string();
  for (const int operation : {1, 2}) {
    for (const bool narrow : {false, true}) {
      SCOPED_TRACE(std::to_string(operation) + (narrow ? " ANSI" : ""));
      fs::remove(out);
      OpenedArchive archive(FixtureFile("cut-in-stream.msi"));
      HeaderDataExW header{};
      ASSERT_TRUE(archive.ListUntil(HostName("Binary\\cut"), &header));
      EXPECT_EQ(30000u, header.unpSize);
      EXPECT_EQ(kHostBadData, narrow ? ProcessFile(archive.get(), operation, nullptr, narrowOut.data())
                                     : ProcessFileW(archive.get(), operation, nullptr, outText.data()));
      EXPECT_EQ(operation == 2, fs::exists(out));
      if (operation == 2) {
        EXPECT_TRUE(ReadAll(out) == numbers.substr(0, 3684));
      }
      ASSERT_TRUE(archive.ListUntil(HostName("Binary\\whole"), &header));
      EXPECT_EQ(0, ExtractTo(archive.get(), outText));
      EXPECT_TRUE(ReadAll(out) == numbers.substr(0, 300));
    }
  }

  const std::string database = ReadAll(FixtureFile("types.msi"));
  const struct {
    const char* what;
    std::string bytes;
    int expected;
  } files[] = {
      {"text", "not a database\r\n", kHostUnknownFormat},
      {"empty", "", kHostUnknownFormat},
      {"signature alone", database.substr(0, 8), kHostBadArchive},
      {"header alone", database.substr(0, 512), kHostBadArchive},
      {"cut in half", database.substr(0, database.size() / 2), kHostBadArchive},
  };
  for (const auto& file : files) {
    const fs::path path = folder.path() / (std::string(file.what) + ".msi");
    std::ofstream(path, std::ios::binary) << file.bytes;
    WString wide = PathText(path);
    std::string narrow = path.string();
    OpenArchiveDataW wideData{};
    wideData.arcName = wide.data();
    OpenArchiveData narrowData{};
    narrowData.arcName = narrow.data();
    EXPECT_EQ(nullptr, OpenArchiveW(&wideData)) << file.what;
    EXPECT_EQ(nullptr, OpenArchive(&narrowData)) << file.what;
    EXPECT_EQ(file.expected, wideData.openResult) << file.what;
    EXPECT_EQ(file.expected, narrowData.openResult) << file.what;
  }
}

// An exception thrown by the host's callback does not escape, and the
// output file is closed: it can be written again straight away (Windows
// refuses while the first handle is open) and no descriptor is left.
TEST_F(HostFaults, ThrowingCallbackIsContainedAndTheFileClosed) {
  OpenedArchive archive(FixtureFile("types.msi"));
  HeaderDataExW header{};
  ASSERT_TRUE(archive.ListUntil(HostName("Binary\\big"), &header));
#ifdef __linux__
  const size_t before = OpenDescriptors();
#endif
  SetProcessDataProcW(nullptr, ThrowWide);
  for (stopAt = 1; stopAt <= 2; ++stopAt) {  // before the write, at the end
    calls = 0;
    EXPECT_EQ(kHostNotSupported, ExtractTo(archive.get(), outText)) << stopAt;
  }
#ifdef __linux__
  EXPECT_EQ(before, OpenDescriptors());
#endif
  stopAt = 0;
  EXPECT_EQ(0, ExtractTo(archive.get(), outText));
  EXPECT_EQ(5000u, ReadAll(out).size());
  ExpectNextEntryExtracts(archive.get());
}

// A host that closes the archive from inside its own callback: the
// extraction under way holds its references and finishes; the handle is
// refused from then on.
TEST_F(HostFaults, CallbackThatClosesTheArchive) {
  OpenedArchive archive(FixtureFile("types.msi"));
  HeaderDataExW header{};
  ASSERT_TRUE(archive.ListUntil(HostName("Binary\\big"), &header));
  closeFromCallback = archive.get();
  SetProcessDataProcW(nullptr, CloseWide);
  EXPECT_EQ(0, ExtractTo(archive.get(), outText));
  EXPECT_EQ(5000u, ReadAll(out).size());
  EXPECT_EQ(kHostNotSupported, ReadHeaderExW(archive.get(), &header));
  EXPECT_EQ(kHostNotSupported, ExtractTo(archive.get(), outText));
  EXPECT_EQ(kHostNotSupported, CloseArchive(archive.get()));
}

TEST_F(HostFaults, DestinationThatCannotBeCreated) {
  OpenedArchive archive(FixtureFile("types.msi"));
  HeaderDataExW header{};
  ASSERT_TRUE(archive.ListUntil(HostName("Binary\\big"), &header));

  // A folder that is a file: refused for every user, root included.
  const fs::path plain = folder.path() / "plain";
  { std::ofstream(plain) << "x"; }
  EXPECT_EQ(kHostCreateFailed, ExtractTo(archive.get(), PathText(plain / "x")));
  EXPECT_EQ("x", ReadAll(plain));
#ifdef __linux__
  EXPECT_EQ(kHostCreateFailed, ExtractTo(archive.get(), W("/proc/msiarc-cannot-be-here")));
  if (geteuid() != 0) {
    const fs::path locked = folder.path() / "locked";
    fs::create_directory(locked);
    fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_EQ(kHostCreateFailed, ExtractTo(archive.get(), PathText(locked / "x")));
    fs::permissions(locked, fs::perms::owner_all);
    EXPECT_TRUE(fs::is_empty(locked));
  }
#endif
  EXPECT_EQ(0, ExtractTo(archive.get(), outText));
  EXPECT_EQ(5000u, ReadAll(out).size());
  ExpectNextEntryExtracts(archive.get());
}

#ifdef __linux__
// A full disk (/dev/full refuses every byte) and a file-size limit that
// cuts a write short: 19, the bytes that fitted kept, nothing left open.
TEST_F(HostFaults, FullDiskAndFileSizeLimitGiveWriteError) {
  OpenedArchive archive(CorpusFile("wix3__SimpleBinary.msi"));
  HeaderDataExW header{};
  ASSERT_TRUE(archive.ListUntil(HostName("Binary\\Binary1"), &header));
  const size_t before = OpenDescriptors();
  ASSERT_EQ(0, ExtractTo(archive.get(), outText));
  const std::string whole = ReadAll(out);

  EXPECT_EQ(kHostWriteFailed, ExtractTo(archive.get(), W("/dev/full")));

  rlimit saved{};
  ASSERT_EQ(0, getrlimit(RLIMIT_FSIZE, &saved));
  constexpr rlim_t kLimit = 6000;  // the second chunk fits only in part
  ASSERT_GT(whole.size(), kLimit);
  if (saved.rlim_max != RLIM_INFINITY && saved.rlim_max < kLimit) GTEST_SKIP();
  const fs::path cut = folder.path() / "cut";
  void (*savedSignal)(int) = signal(SIGXFSZ, SIG_IGN);
  rlimit limited = saved;
  limited.rlim_cur = kLimit;
  ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &limited));
  const int result = ExtractTo(archive.get(), PathText(cut));
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, savedSignal);
  EXPECT_EQ(kHostWriteFailed, result);
  EXPECT_TRUE(ReadAll(cut) == whole.substr(0, kLimit));
  EXPECT_EQ(before, OpenDescriptors());
  ExpectNextEntryExtracts(archive.get());
}
#endif

// Every export that takes a handle refuses one that is not a live archive
// and touches nothing: not the record, not the disk.
TEST_F(HostFaults, HandlesThatAreNotArchives) {
  HANDLE closed = nullptr;
  {
    OpenedArchive archive(FixtureFile("types.msi"));
    HeaderDataExW header{};
    ASSERT_EQ(0, ReadHeaderExW(archive.get(), &header));
    closed = archive.get();
  }
  uint64_t madeUp[1024] = {kArchiveMagic, kArchiveMagic};
  const HANDLE handles[] = {nullptr, INVALID_HANDLE_VALUE, madeUp, closed};
  SetProcessDataProcW(nullptr, StopWide);
  for (HANDLE handle : handles) {
    HeaderRecords records(0x5A);
    const HeaderRecords untouched(0x5A);
    EXPECT_EQ(kHostNotSupported, ReadHeader(handle, &records.narrow));
    EXPECT_EQ(kHostNotSupported, ReadHeaderEx(handle, &records.ex));
    EXPECT_EQ(kHostNotSupported, ReadHeaderExW(handle, &records.wide));
    EXPECT_EQ(0, std::memcmp(&untouched.narrow, &records.narrow, sizeof records.narrow));
    EXPECT_EQ(0, std::memcmp(&untouched.ex, &records.ex, sizeof records.ex));
    EXPECT_EQ(0, std::memcmp(&untouched.wide, &records.wide, sizeof records.wide));
    for (int operation = 0; operation <= 2; ++operation) {
      std::string path = out.string();
      EXPECT_EQ(kHostNotSupported, ProcessFile(handle, operation, nullptr, path.data()));
      EXPECT_EQ(kHostNotSupported, ProcessFileW(handle, operation, nullptr, outText.data()));
    }
  }
  EXPECT_EQ(0, calls);
  EXPECT_FALSE(fs::exists(out));
}

}  // namespace
