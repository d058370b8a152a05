// The Windows calls the system makes, with the expectations it relies on.
// The same assertions run against the real runtime (under Wine) and against
// the Linux stand-ins, so the two cannot drift apart.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "platform/win32.h"
#include "text/text.h"

namespace {

WString Lower(WCHAR c) {
  return WString(1, static_cast<WCHAR>(reinterpret_cast<uintptr_t>(
                        CharLowerW(reinterpret_cast<LPWSTR>(
                            static_cast<uintptr_t>(c))))));
}

TEST(PlatformText, CaseInsensitiveComparisonFoldsAsciiOnly) {
  EXPECT_EQ(0, _wcsicmp(WTEXT("_Validation"), WTEXT("_VALIDATION")));
  EXPECT_LT(_wcsicmp(WTEXT("abc"), WTEXT("ABD")), 0);
  EXPECT_GT(_wcsicmp(WTEXT("abcd"), WTEXT("ABC")), 0);
  const WCHAR upper[] = {0xC9, 0}, lower[] = {0xE9, 0};
  EXPECT_NE(0, _wcsicmp(upper, lower));
  EXPECT_EQ(0, _wcsnicmp(WTEXT("Binary.Key"), WTEXT("BINARY.other"), 7));
  EXPECT_NE(0, _wcsnicmp(WTEXT("Binary.Key"), WTEXT("BINARY.other"), 8));
  EXPECT_EQ(0, _wcsnicmp(WTEXT("ab"), WTEXT("AB"), 10));
}

TEST(PlatformText, SearchLengthAndNumbers) {
  const WCHAR* text = WTEXT("Name.Key");
  EXPECT_EQ(text + 4, wcschr(text, WTEXT('.')));
  EXPECT_EQ(text + 8, wcschr(text, 0));
  EXPECT_EQ(nullptr, wcschr(text, WTEXT('!')));
  EXPECT_EQ(8u, wcslen(text));
  EXPECT_EQ(0u, wcslen(WTEXT("")));

  WCHAR* end = nullptr;
  const WCHAR* digits = WTEXT("  72abc");
  EXPECT_EQ(72ul, wcstoul(digits, &end, 10));
  EXPECT_EQ(digits + 4, end);
  EXPECT_EQ(0x1Ful, wcstoul(WTEXT("0x1F"), &end, 16));
  const WCHAR* none = WTEXT("xyz");
  EXPECT_EQ(0ul, wcstoul(none, &end, 10));
  EXPECT_EQ(none, end);
  errno = 0;
  EXPECT_EQ(0xFFFFFFFFul, wcstoul(WTEXT("4294967296"), &end, 10));
  EXPECT_EQ(ERANGE, errno);
  EXPECT_EQ(0xFFFFFFFFul, wcstoul(WTEXT("-1"), &end, 10));
  EXPECT_EQ(4294967295ul, wcstoul(WTEXT("4294967295"), &end, 10));
}

TEST(PlatformText, CharLowerSingleCharacterForm) {
  EXPECT_EQ(WString(WTEXT("a")), Lower(WTEXT('A')));
  EXPECT_EQ(WString(WTEXT("z")), Lower(WTEXT('Z')));
  EXPECT_EQ(WString(WTEXT("s")), Lower(WTEXT('s')));
  EXPECT_EQ(WString(WTEXT("7")), Lower(WTEXT('7')));
  EXPECT_EQ(WString(1, WCHAR(0xE9)), Lower(0xC9));     // É
  EXPECT_EQ(WString(1, WCHAR(0x3B1)), Lower(0x391));   // Α
  EXPECT_EQ(WString(1, WCHAR(0x430)), Lower(0x410));   // А
}

TEST(PlatformCodePages, Utf8ToUtf16) {
  WCHAR out[16];
  // Measuring includes the terminator when the length is -1.
  EXPECT_EQ(4, MultiByteToWideChar(CP_UTF8, 0, "A\xE2\x82\xAC\xF0\x9F\x98\x80", -1,
                                   nullptr, 0) -
                   1);
  ASSERT_EQ(5, MultiByteToWideChar(CP_UTF8, 0, "A\xE2\x82\xAC\xF0\x9F\x98\x80", -1,
                                   out, 16));
  const WCHAR expected[] = {WTEXT('A'), 0x20AC, 0xD83D, 0xDE00, 0};
  EXPECT_EQ(WString(expected), WString(out));
  // An explicit length converts no terminator.
  EXPECT_EQ(2, MultiByteToWideChar(CP_UTF8, 0, "ab", 2, out, 16));
  // Too small a buffer fails.
  EXPECT_EQ(0, MultiByteToWideChar(CP_UTF8, 0, "abc", -1, out, 2));
}

TEST(PlatformCodePages, InvalidUtf8BecomesReplacementCharacters) {
  WCHAR out[16];
  // A stray continuation byte, an invalid lead byte, an encoded surrogate.
  const int n = MultiByteToWideChar(CP_UTF8, 0, "a\x80" "b\xFF" "c\xED\xA0\x80", -1,
                                    out, 16);
  ASSERT_GT(n, 0);
  WString converted(out);
  EXPECT_EQ(WString(WTEXT("a")) + WCHAR(0xFFFD) + WTEXT("b") + WCHAR(0xFFFD) +
                WTEXT("c"),
            converted.substr(0, 5));
  for (size_t i = 5; i < converted.size(); ++i) {
    EXPECT_EQ(0xFFFD, converted[i]);
  }
  // With the error flag the conversion fails instead.
  EXPECT_EQ(0, MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, "a\x80", -1,
                                   out, 16));
}

TEST(PlatformCodePages, Utf16ToUtf8) {
  char out[16];
  const WCHAR pair[] = {WTEXT('A'), 0xD83D, 0xDE00, 0};
  ASSERT_EQ(6, WideCharToMultiByte(CP_UTF8, 0, pair, -1, out, 16, nullptr, nullptr));
  EXPECT_EQ(std::string("A\xF0\x9F\x98\x80"), std::string(out));
  // A lone surrogate becomes U+FFFD.
  const WCHAR lone[] = {0xD800, WTEXT('b'), 0};
  ASSERT_EQ(5, WideCharToMultiByte(CP_UTF8, 0, lone, -1, out, 16, nullptr, nullptr));
  EXPECT_EQ(std::string("\xEF\xBF\xBD" "b"), std::string(out));
  // Measuring, and too small a buffer.
  EXPECT_EQ(6, WideCharToMultiByte(CP_UTF8, 0, pair, -1, nullptr, 0, nullptr, nullptr));
  EXPECT_EQ(0, WideCharToMultiByte(CP_UTF8, 0, pair, -1, out, 3, nullptr, nullptr));
  // With the error flag a lone surrogate fails the conversion.
  EXPECT_EQ(0, WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, lone, -1, out,
                                   16, nullptr, nullptr));
  // One-byte and longer sequences mixed, no terminator.
  const WCHAR mixed[] = {WTEXT('a'), 0xE9, WTEXT('b'), 0x20AC};
  ASSERT_EQ(7, WideCharToMultiByte(CP_UTF8, 0, mixed, 4, out, 16, nullptr, nullptr));
  EXPECT_EQ(std::string("a\xC3\xA9" "b\xE2\x82\xAC"), std::string(out, 7));
}

TEST(PlatformCodePages, AnsiCodePageRoundTripsAscii) {
  WCHAR wide[32];
  ASSERT_EQ(12, MultiByteToWideChar(CP_ACP, 0, "Product.msi", -1, wide, 32));
  EXPECT_EQ(WString(WTEXT("Product.msi")), WString(wide));
  char narrow[32];
  BOOL used = TRUE;
  ASSERT_EQ(12, WideCharToMultiByte(CP_ACP, WC_COMPOSITECHECK, wide, -1, narrow,
                                    32, nullptr, &used));
  EXPECT_EQ(std::string("Product.msi"), std::string(narrow));
  EXPECT_FALSE(used);
}

TEST(PlatformTime, FileTimeToSystemTime) {
  constexpr uint64_t kUnixEpoch = 116444736000000000ULL;
  struct Case {
    uint64_t ticks;
    WORD year, month, day, dayOfWeek, hour, minute, second, milliseconds;
  };
  const Case cases[] = {
      {kUnixEpoch + 1230000, 1970, 1, 1, 4, 0, 0, 0, 123},  // a Thursday
      {(1709251199ULL + 11644473600ULL) * 10000000ULL, 2024, 2, 29, 4, 23, 59, 59, 0},  // leap day
      {0, 1601, 1, 1, 1, 0, 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.ticks);
    FILETIME time{static_cast<DWORD>(c.ticks), static_cast<DWORD>(c.ticks >> 32)};
    SYSTEMTIME t{};
    ASSERT_TRUE(FileTimeToSystemTime(&time, &t));
    const WORD got[] = {t.wYear, t.wMonth, t.wDay, t.wDayOfWeek, t.wHour, t.wMinute, t.wSecond,
                        t.wMilliseconds};
    const WORD want[] = {c.year, c.month, c.day, c.dayOfWeek, c.hour, c.minute, c.second,
                         c.milliseconds};
    EXPECT_TRUE(std::equal(std::begin(got), std::end(got), std::begin(want)));
  }
  FILETIME tooLarge{0, 0x80000000u};
  SYSTEMTIME t{};
  EXPECT_FALSE(FileTimeToSystemTime(&tooLarge, &t));
}

TEST(PlatformTime, TimeFormatIs24HourWithSeconds) {
  SYSTEMTIME t{};
  t.wYear = 2026;
  t.wMonth = 12;
  t.wDay = 7;
  t.wHour = 21;
  t.wMinute = 5;
  t.wSecond = 9;
  WCHAR out[64];
  const int n = GetTimeFormatW(LOCALE_USER_DEFAULT, TIME_FORCE24HOURFORMAT, &t,
                               nullptr, out, 64);
  ASSERT_GT(n, 0);
  EXPECT_EQ(static_cast<size_t>(n - 1), WString(out).size());
  const WString text(out);
  EXPECT_NE(WString::npos, text.find(WTEXT("21")));
  EXPECT_NE(WString::npos, text.find(WTEXT("05")));
  EXPECT_NE(WString::npos, text.find(WTEXT("09")));
  // Measuring returns the same count; a buffer one unit short fails.
  EXPECT_EQ(n, GetTimeFormatW(LOCALE_USER_DEFAULT, TIME_FORCE24HOURFORMAT, &t,
                              nullptr, nullptr, 0));
  EXPECT_EQ(0, GetTimeFormatW(LOCALE_USER_DEFAULT, TIME_FORCE24HOURFORMAT, &t,
                              nullptr, out, n - 1));
}

TEST(PlatformTime, ShortDateHasDayMonthAndYear) {
  SYSTEMTIME t{};
  t.wYear = 2026;
  t.wMonth = 11;
  t.wDay = 23;
  WCHAR out[64];
  const int n =
      GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &t, nullptr, out, 64);
  ASSERT_GT(n, 0);
  const WString text(out);
  EXPECT_EQ(static_cast<size_t>(n - 1), text.size());
  EXPECT_NE(WString::npos, text.find(WTEXT("11")));
  EXPECT_NE(WString::npos, text.find(WTEXT("23")));
  EXPECT_NE(WString::npos, text.find(WTEXT("26")));
  EXPECT_EQ(n, GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &t, nullptr,
                              nullptr, 0));
  EXPECT_EQ(0, GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &t, nullptr,
                              out, n - 1));
}

TEST(PlatformHeap, ZeroedBlocks) {
  HANDLE heap = GetProcessHeap();
  ASSERT_NE(nullptr, heap);
  auto* block = static_cast<unsigned char*>(HeapAlloc(heap, HEAP_ZERO_MEMORY, 4096));
  ASSERT_NE(nullptr, block);
  for (int i = 0; i < 4096; ++i) ASSERT_EQ(0, block[i]);
  EXPECT_TRUE(HeapFree(heap, 0, block));
  void* empty = HeapAlloc(heap, HEAP_ZERO_MEMORY, 0);
  EXPECT_NE(nullptr, empty);
  EXPECT_TRUE(HeapFree(heap, 0, empty));
}

TEST(PlatformSync, CriticalSectionIsRecursiveAndExcludesOthers) {
  CRITICAL_SECTION cs;
  InitializeCriticalSection(&cs);
  EnterCriticalSection(&cs);
  EnterCriticalSection(&cs);  // the owner may enter again
  std::atomic<bool> entered{false};
  std::thread other([&] {
    EnterCriticalSection(&cs);
    entered = true;
    LeaveCriticalSection(&cs);
  });
  LeaveCriticalSection(&cs);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(entered);  // still held once
  LeaveCriticalSection(&cs);
  other.join();
  EXPECT_TRUE(entered);
  DeleteCriticalSection(&cs);

  LONG count = 0;
  EXPECT_EQ(1, InterlockedIncrement(&count));
  EXPECT_EQ(2, InterlockedIncrement(&count));
  EXPECT_EQ(1, InterlockedDecrement(&count));
}

class PlatformFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = std::filesystem::current_path() / "platform-files-test";
    std::filesystem::remove_all(folder_);
    std::filesystem::create_directories(folder_ / "sub");
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }

  // The folder as UTF-16, then `name` below it, "/" in it standing for the
  // platform's separator (on Linux a backslash is part of a name).
  WString PathOf(const char* name) const {
#ifdef _WIN32
    const WCHAR separator = WTEXT('\\');
#else
    const WCHAR separator = WTEXT('/');
#endif
    const std::string base = folder_.string();
    WString out;
    for (char c : base) out.push_back(c == '/' ? separator : WCHAR(c));
    out += separator;
    for (const char* p = name; *p; ++p) out.push_back(*p == '/' ? separator : WCHAR(*p));
    return out;
  }

  std::filesystem::path folder_;
};

TEST_F(PlatformFiles, CreateWriteTruncateAndFind) {
  const WString path = PathOf("sub/out.bin");
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                            CREATE_ALWAYS, FILE_ATTRIBUTE_ARCHIVE, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, file);
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(file, "hello world", 11, &written, nullptr));
  EXPECT_EQ(11u, written);
  EXPECT_TRUE(SetEndOfFile(file));
  EXPECT_TRUE(CloseHandle(file));
  EXPECT_EQ(11u, std::filesystem::file_size(folder_ / "sub" / "out.bin"));

  // CREATE_ALWAYS empties an existing file.
  file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                     CREATE_ALWAYS, FILE_ATTRIBUTE_ARCHIVE, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, file);
  ASSERT_TRUE(WriteFile(file, "abc", 3, &written, nullptr));
  EXPECT_TRUE(CloseHandle(file));
  EXPECT_EQ(3u, std::filesystem::file_size(folder_ / "sub" / "out.bin"));

  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(path.c_str(), &found);
  ASSERT_NE(INVALID_HANDLE_VALUE, search);
  EXPECT_EQ(WString(WTEXT("out.bin")), WString(found.cFileName));
  EXPECT_EQ(3u, found.nFileSizeLow);
  // The last-write time is recent: within a day of now.
  const uint64_t ticks =
      (static_cast<uint64_t>(found.ftLastWriteTime.dwHighDateTime) << 32) |
      found.ftLastWriteTime.dwLowDateTime;
  const uint64_t now = (static_cast<uint64_t>(std::time(nullptr)) + 11644473600ULL) *
                       10000000ULL;
  EXPECT_LT(ticks > now ? ticks - now : now - ticks, 864000000000ULL);
  EXPECT_TRUE(FindClose(search));
}

// The last-write time set before the handle is closed is the one found
// afterwards, to the tick, before 1970 too; a null time changes nothing.
TEST_F(PlatformFiles, SetLastWriteTime) {
  const WString path = PathOf("sub/timed.bin");
  for (const uint64_t ticks : {0x01C9BB85D37D0480ULL + 1234567, 0x019DB1DED53E8000ULL - 30000000,
                               0x019DB1DED53E8000ULL + 5}) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_ARCHIVE, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(file, "abc", 3, &written, nullptr));
    const FILETIME time{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    EXPECT_TRUE(SetFileTime(file, nullptr, nullptr, &time));
    EXPECT_TRUE(SetFileTime(file, nullptr, nullptr, nullptr));
    EXPECT_TRUE(CloseHandle(file));
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(path.c_str(), &found);
    ASSERT_NE(INVALID_HANDLE_VALUE, search);
    EXPECT_EQ(time.dwHighDateTime, found.ftLastWriteTime.dwHighDateTime) << ticks;
    EXPECT_EQ(time.dwLowDateTime, found.ftLastWriteTime.dwLowDateTime) << ticks;
    EXPECT_TRUE(FindClose(search));
  }
  const FILETIME any{1, 1};
  EXPECT_FALSE(SetFileTime(INVALID_HANDLE_VALUE, nullptr, nullptr, &any));
}

TEST_F(PlatformFiles, MissingFilesAndFolders) {
  WIN32_FIND_DATAW found;
  EXPECT_EQ(INVALID_HANDLE_VALUE, FindFirstFileW(PathOf("absent.msi").c_str(), &found));
  // A file in a folder that does not exist cannot be created.
  EXPECT_EQ(INVALID_HANDLE_VALUE,
            CreateFileW(PathOf("nowhere/x.bin").c_str(), GENERIC_WRITE,
                        FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                        FILE_ATTRIBUTE_ARCHIVE, nullptr));
}

}  // namespace
