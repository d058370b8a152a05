// Extraction through the exports: chunks and the progress protocol, stops,
// refusals, and the conversions of the ANSI entry point.
#include <chrono>
#include <fstream>

#include "support/export_support.h"
#include "plugin/host_conventions.h"

using namespace plugin_test;

namespace {

::testing::Environment* const kModule =
    ::testing::AddGlobalTestEnvironment(new ModuleEnvironment);

std::vector<int> wideCalls;
std::vector<int> narrowCalls;
std::string narrowPath;
int stopAtCall = -1;

WString widePath;

#ifdef _WIN32
constexpr WCHAR kJoint = WTEXT('\\');
#else
constexpr WCHAR kJoint = WTEXT('/');
#endif

int WINAPI WideProgress(WCHAR* path, int total) {
  wideCalls.push_back(total);
  widePath = path;
  return static_cast<int>(wideCalls.size()) == stopAtCall ? 0 : 1;
}

int WINAPI NarrowProgress(char* path, int total) {
  narrowCalls.push_back(total);
  narrowPath = path;
  return static_cast<int>(narrowCalls.size()) == stopAtCall ? 0 : 1;
}

class ExtractionTest : public ::testing::Test {
 protected:
  TempFolder folder;
  void SetUp() override {
    wideCalls.clear();
    narrowCalls.clear();
    narrowPath.clear();
    stopAtCall = -1;
    SetProcessDataProcW(nullptr, nullptr);
    SetProcessDataProc(nullptr, nullptr);
  }
  void TearDown() override { SetUp(); }

  // Lists the fixture up to `entry` and extracts it to `file`.
  int Extract(const char* entry, const fs::path& file) {
    OpenedArchive archive(FixtureFile("ren-csv.msi"));
    HeaderDataExW header{};
    EXPECT_TRUE(archive.ListUntil(HostName(entry), &header)) << entry;
    WString name = PathText(file);
    return ProcessFileW(archive.get(), 2, nullptr, name.data());
  }
};

uintmax_t SizeOf(const fs::path& file) {
  std::error_code error;
  const uintmax_t size = fs::file_size(file, error);
  return error ? static_cast<uintmax_t>(-1) : size;
}

// Each write is reported beforehand with the running total, and the end
// once more; an entry shorter than a piece is one write.
TEST_F(ExtractionTest, WritesReportRunningTotals) {
  SetProcessDataProcW(nullptr, WideProgress);
  EXPECT_EQ(0, Extract("Binary\\ten", folder.path() / "ten"));
  EXPECT_EQ((std::vector<int>{0, 10000}), wideCalls);
  EXPECT_EQ(10000u, SizeOf(folder.path() / "ten"));

  wideCalls.clear();
  EXPECT_EQ(0, Extract("Binary\\page", folder.path() / "page"));
  EXPECT_EQ((std::vector<int>{0, 4096}), wideCalls);

  wideCalls.clear();
  EXPECT_EQ(0, Extract("Binary\\empty", folder.path() / "empty"));
  EXPECT_EQ((std::vector<int>{0}), wideCalls);
  EXPECT_EQ(0u, SizeOf(folder.path() / "empty"));
}

TEST_F(ExtractionTest, CallbackStopsTheWrite) {
  SetProcessDataProcW(nullptr, WideProgress);
  stopAtCall = 1;  // before the write
  EXPECT_EQ(kHostAborted, Extract("Binary\\ten", folder.path() / "ten"));
  EXPECT_EQ((std::vector<int>{0}), wideCalls);
  EXPECT_EQ(0u, SizeOf(folder.path() / "ten"));

  wideCalls.clear();
  stopAtCall = 2;  // at the end: the bytes stay, the answer is a stop
  EXPECT_EQ(kHostAborted, Extract("Binary\\ten", folder.path() / "ten"));
  EXPECT_EQ((std::vector<int>{0, 10000}), wideCalls);
  EXPECT_EQ(10000u, SizeOf(folder.path() / "ten"));
}

TEST_F(ExtractionTest, OnlyTheWideCallbackWhenBothAreSet) {
  SetProcessDataProc(nullptr, NarrowProgress);
  SetProcessDataProcW(nullptr, WideProgress);
  OpenedArchive archive(FixtureFile("ren-csv.msi"));
  HeaderDataExW header{};
  ASSERT_TRUE(archive.ListUntil(HostName("Binary\\page"), &header));
  const std::string target = (folder.path() / "page").string();
  EXPECT_EQ(0, ProcessFile(archive.get(), 2, nullptr,
                           const_cast<char*>(target.c_str())));
  EXPECT_EQ((std::vector<int>{0, 4096}), wideCalls);
  EXPECT_TRUE(narrowCalls.empty());

  // The ANSI callback alone gets the path in the ANSI code page.
  SetProcessDataProcW(nullptr, nullptr);
  wideCalls.clear();
  EXPECT_EQ(0, ProcessFile(archive.get(), 2, nullptr,
                           const_cast<char*>(target.c_str())));
  EXPECT_EQ((std::vector<int>{0, 4096}), narrowCalls);
  EXPECT_EQ(target, narrowPath);
}

TEST_F(ExtractionTest, OperationsAndOrder) {
  OpenedArchive archive(FixtureFile("ren-csv.msi"));
  const fs::path file = folder.path() / "x";
  WString name = PathText(file);
  // Nothing listed yet: nothing to extract, nothing created.
  EXPECT_EQ(kHostNotSupported, ProcessFileW(archive.get(), 2, nullptr, name.data()));
  EXPECT_FALSE(fs::exists(file));
  EXPECT_EQ(kHostNotSupported, ProcessFileW(nullptr, 0, nullptr, nullptr));

  HeaderDataExW header{};
  ASSERT_EQ(0, ReadHeaderExW(archive.get(), &header));
  EXPECT_EQ(0, ProcessFileW(archive.get(), 0, nullptr, name.data()));
  EXPECT_EQ(0, ProcessFileW(archive.get(), 1, nullptr, name.data()));
  EXPECT_EQ(kHostNotSupported, ProcessFileW(archive.get(), 3, nullptr, name.data()));
  EXPECT_FALSE(fs::exists(file));

  // After the end the last entry listed is still the one extracted.
  std::vector<WString> names;
  do {
    names.push_back(header.fileName);
  } while (ReadHeaderExW(archive.get(), &header) == 0);
  EXPECT_EQ(kHostEndArchive, ReadHeaderExW(archive.get(), &header));
  EXPECT_EQ(0, ProcessFileW(archive.get(), 2, nullptr, name.data()));
  EXPECT_TRUE(fs::exists(file));
}

// Every extracted file, a stream's or a table's, carries the archive's
// last-write time, the time the listing shows for it.
TEST_F(ExtractionTest, FilesCarryTheArchiveTime) {
  const fs::path database = folder.path() / "timed.msi";
  fs::copy_file(FixtureFile("ren-csv.msi"), database);
  const auto stamp = fs::last_write_time(database) - std::chrono::hours(24 * 400);
  fs::last_write_time(database, std::chrono::floor<std::chrono::seconds>(stamp));
  OpenedArchive archive(database);
  HeaderDataExW header{};
  int extracted = 0;
  while (ReadHeaderExW(archive.get(), &header) == 0 && extracted < 3) {
    const fs::path file = folder.path() / std::to_string(extracted++);
    WString name = PathText(file);
    ASSERT_EQ(0, ProcessFileW(archive.get(), 2, nullptr, name.data()));
    EXPECT_EQ(fs::last_write_time(database), fs::last_write_time(file))
        << fs::path(header.fileName).string();
  }
  EXPECT_EQ(3, extracted);
}

TEST_F(ExtractionTest, RefusedDestinationsCreateNothing) {
  OpenedArchive archive(FixtureFile("ren-csv.msi"));
  HeaderDataExW header{};
  ASSERT_EQ(0, ReadHeaderExW(archive.get(), &header));

  // A missing folder is not created.
  WString missing = PathText(folder.path() / "missing" / "x.csv");
  EXPECT_EQ(kHostCreateFailed, ProcessFileW(archive.get(), 2, nullptr, missing.data()));
  EXPECT_FALSE(fs::exists(folder.path() / "missing"));

  // Too long for the destination buffer: refused, not cut to a name that
  // nobody asked for.
  WString prefix = PathText(folder.path());
  prefix.push_back(WTEXT('/'));
  WString longName = prefix;
  longName.append(kDestinationUnits - prefix.size(), WTEXT('n'));
  EXPECT_EQ(kHostCreateFailed, ProcessFileW(archive.get(), 2, nullptr, longName.data()));
  EXPECT_TRUE(fs::is_empty(folder.path()));
  WString folderPath = PathText(folder.path());
  WString longLeaf(kDestinationUnits - prefix.size(), WTEXT('n'));
  EXPECT_EQ(kHostCreateFailed,
            ProcessFileW(archive.get(), 2, folderPath.data(), longLeaf.data()));
  EXPECT_TRUE(fs::is_empty(folder.path()));
}

// A file as long a path as it has: on Windows past 259 units only in the
// \\?\ form.
std::string ReadLong(const fs::path& file) {
#ifdef _WIN32
  return ReadAll(L"\\\\?\\" + fs::absolute(file).wstring());
#else
  return ReadAll(file);
#endif
}

// Keys of 230 to 255 units under destination folders of some 30 and of 200
// units, given as a host gives them: each entry in a file of its own, with
// its own bytes, and the progress reported under the path the host gave.
TEST_F(ExtractionTest, LongKeysLandUnderDeepFolders) {
  SetProcessDataProcW(nullptr, WideProgress);
  for (const size_t depth : {30, 200}) {
    fs::path destination = folder.path() / std::to_string(depth);
    const size_t length = PathText(fs::absolute(destination)).size();
    if (length + 1 < depth) destination += std::string(depth - length - 1, 'd');
    fs::create_directories(destination / "L");
    OpenedArchive archive(FixtureFile("long-keys.msi"));
    HeaderDataExW header{};
    WString path = PathText(fs::absolute(destination));
    int extracted = 0;
    while (ReadHeaderExW(archive.get(), &header) == 0) {
      const WString name = header.fileName;
      if (name.compare(0, 2, HostName("L\\")) != 0) continue;
      ASSERT_EQ(0, ProcessFileW(archive.get(), 2, path.data(), header.fileName))
          << depth << " " << name.size();
      EXPECT_EQ("stream " + std::to_string(name.size() - 2), ReadLong(destination / name))
          << depth << " " << name.size();
      EXPECT_EQ(path + kJoint + name, widePath);
      ++extracted;
    }
    EXPECT_EQ(5, extracted);
  }
}

TEST_F(ExtractionTest, AnsiEntryPointDecodesTheNameAsUtf8) {
  OpenedArchive archive(FixtureFile("ren-csv.msi"));
  HeaderData header{};
  ASSERT_EQ(0, ReadHeader(archive.get(), &header));
  std::string path = folder.path().string();
  std::string name = "caf\xC3\xA9.csv";  // UTF-8
  EXPECT_EQ(0, ProcessFile(archive.get(), 2, path.data(), name.data()));
  const WString expected = WString{'c', 'a', 'f', 0xE9, '.', 'c', 's', 'v'};
#ifdef _WIN32
  EXPECT_TRUE(fs::exists(folder.path() / std::wstring(expected.begin(), expected.end())));
#else
  EXPECT_TRUE(fs::exists(folder.path() / std::u16string(expected)));
#endif
}

}  // namespace
