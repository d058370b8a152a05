// What an entry's content comes out as, seen through the exports: the whole
// summary file written out here from its label texts, a database without
// summary information, the test operation producing content as extraction
// does without creating a file, and ANSI names under a UTF-8 code page.
#include "support/export_support.h"
#include "plugin/host_conventions.h"

using namespace plugin_test;

namespace {

::testing::Environment* const kModule =
    ::testing::AddGlobalTestEnvironment(new ModuleEnvironment);

std::string Utf8(const WString& text) {
  std::string out(text.size() * 3, '\0');
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(),
                                    static_cast<int>(text.size()), out.data(),
                                    static_cast<int>(out.size()), nullptr, nullptr);
  out.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return out;
}

// The user's short date, a space and the 24-hour time, as the platform
// formats them for this calendar time.
std::string LocalDateTime(WORD year, WORD month, WORD day, WORD hour,
                          WORD minute, WORD second) {
  SYSTEMTIME time{};
  time.wYear = year;
  time.wMonth = month;
  time.wDay = day;
  time.wHour = hour;
  time.wMinute = minute;
  time.wSecond = second;
  WCHAR date[128] = {};
  WCHAR clock[128] = {};
  EXPECT_GT(GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &time, nullptr,
                           date, 128), 0);
  EXPECT_GT(GetTimeFormatW(LOCALE_USER_DEFAULT, TIME_FORCE24HOURFORMAT, &time,
                           nullptr, clock, 128), 0);
  return Utf8(WString(date)) + " " + Utf8(WString(clock));
}

// Lists up to the entry and extracts it; the file's bytes.
std::string ExtractEntry(const char* database, const char* entry, int* result) {
  OpenedArchive archive(FixtureFile(database));
  HeaderDataExW header{};
  EXPECT_TRUE(archive.ListUntil(HostName(entry), &header)) << entry;
  TempFolder folder;
  const fs::path file = folder.path() / "out";
  WString name = PathText(file);
  *result = ProcessFileW(archive.get(), 2, nullptr, name.data());
  return ReadAll(file);
}

TEST(SummaryFile, EveryPropertyUnderItsLabel) {
  const char* lines[][2] = {
      {"Codepage", "1252"},
      {"Title", "Installation Database"},
      {"Subject", "Types fixture"},
      {"Author", "msiarc tests"},
      {"Keywords", "Installer,MSI,Database"},
      {"Comments", "Every column type and width"},
      {"Template", "x64;1033"},
      {"Last Saved By", "last saver"},
      {"Revision Number", "{01234567-89AB-CDEF-0123-456789ABCDEF}"},
      {"Last Printed", nullptr},
      {"Create Time / Date", nullptr},
      {"Last Save Time / Date", nullptr},
      {"Page Count", "200"},
      {"Word Count", "2"},
      {"Character Count", "7"},
      {"Creating Application", "msibuild"},
      {"Security", "2"},
  };
  const std::string times[] = {LocalDateTime(2009, 4, 12, 15, 46, 21),
                               LocalDateTime(2010, 1, 2, 3, 4, 5),
                               LocalDateTime(2011, 12, 31, 23, 59, 59)};
  std::string expected = "\xEF\xBB\xBF\"Name\",\"Value\"\r\n";
  int time = 0;
  for (const auto& line : lines) {
    expected += std::string("\"") + line[0] + "\",\"" +
                (line[1] != nullptr ? line[1] : times[time++]) + "\"\r\n";
  }
  int result = -1;
  EXPECT_EQ(expected, ExtractEntry("types.msi", "_SummaryInformation.csv", &result));
  EXPECT_EQ(0, result);
}

// Without the summary stream the engine answers with an empty property
// set: the file holds the header line alone.
TEST(SummaryFile, DatabaseWithoutSummaryInformation) {
  int result = -1;
  EXPECT_EQ("\xEF\xBB\xBF\"Name\",\"Value\"\r\n",
            ExtractEntry("no-summary.msi", "_SummaryInformation.csv", &result));
  EXPECT_EQ(0, result);
}

std::vector<int> totals;
int stopAtCall = 0;
int WINAPI Progress(WCHAR*, int total) {
  totals.push_back(total);
  return static_cast<int>(totals.size()) == stopAtCall ? 0 : 1;
}

// Testing an entry produces its content as extraction does, reporting the
// same running totals, and creates nothing; a stop from the host ends it
// with 21. Before anything is listed there is nothing to test.
TEST(TestOperation, ProducesTheContentWithoutAFile) {
  TempFolder folder;
  const fs::path file = folder.path() / "never";
  WString name = PathText(file);
  OpenedArchive archive(FixtureFile("ren-csv.msi"));
  EXPECT_EQ(kHostNotSupported, ProcessFileW(archive.get(), 1, nullptr, name.data()));

  SetProcessDataProcW(nullptr, Progress);
  HeaderDataExW header{};
  size_t tested = 0;
  while (ReadHeaderExW(archive.get(), &header) == 0) {
    totals.clear();
    stopAtCall = 0;
    EXPECT_EQ(0, ProcessFileW(archive.get(), 1, nullptr, name.data()));
    ASSERT_FALSE(totals.empty());
    EXPECT_EQ(static_cast<int>(header.unpSize), totals.back());
    // Stopped at the first report, or at the last.
    stopAtCall = tested % 2 == 0 ? 1 : static_cast<int>(totals.size());
    totals.clear();
    EXPECT_EQ(kHostAborted, ProcessFileW(archive.get(), 1, nullptr, name.data()));
    ++tested;
  }
  SetProcessDataProcW(nullptr, nullptr);
  EXPECT_GT(tested, 10u);
  EXPECT_FALSE(fs::exists(file));
}

// Windows refuses WC_COMPOSITECHECK for the UTF-8 code page (the ANSI code
// page of a system set to "use Unicode UTF-8"): the name is converted again
// without it rather than left empty.
TEST(AnsiNames, Utf8CodePageTakesNoFlags) {
  const WString name = {'T', '\\', 'c', 'a', 'f', 0xE9};
  char field[16];
  std::memset(field, 'x', sizeof field);
  StoreNameInCodePage(CP_UTF8, field, sizeof field, name);
  EXPECT_EQ(std::string("T\\caf\xC3\xA9"), std::string(field));
}

}  // namespace
