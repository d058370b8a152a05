// Linux-only behaviour of the platform layer: the active time zone, the
// user's locale through a locale object, and Windows' path separators.
#include <gtest/gtest.h>
#include <langinfo.h>
#include <locale.h>
#include <stdlib.h>
#include <time.h>

#include <filesystem>
#include <string>

#include "platform/linux/user_locale.h"
#include "platform/win32.h"

namespace {

class TimeZone {
 public:
  explicit TimeZone(const char* zone) {
    const char* old = getenv("TZ");
    hadOld_ = old != nullptr;
    if (hadOld_) old_ = old;
    setenv("TZ", zone, 1);
  }
  ~TimeZone() {
    if (hadOld_) {
      setenv("TZ", old_.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

 private:
  bool hadOld_ = false;
  std::string old_;
};

SYSTEMTIME Utc(WORD year, WORD month, WORD day, WORD hour, WORD minute) {
  SYSTEMTIME t{};
  t.wYear = year;
  t.wMonth = month;
  t.wDay = day;
  t.wHour = hour;
  t.wMinute = minute;
  t.wSecond = 30;
  t.wMilliseconds = 250;
  return t;
}

TEST(LinuxTime, LocalTimeFollowsTheActiveZoneAndItsDaylightRule) {
  SYSTEMTIME local{};
  {
    TimeZone zone("EST5EDT,M3.2.0,M11.1.0");
    const SYSTEMTIME winter = Utc(2024, 1, 1, 3, 0);
    ASSERT_TRUE(SystemTimeToTzSpecificLocalTime(nullptr, &winter, &local));
    EXPECT_EQ(2023, local.wYear);  // crosses back over the year
    EXPECT_EQ(12, local.wMonth);
    EXPECT_EQ(31, local.wDay);
    EXPECT_EQ(22, local.wHour);
    EXPECT_EQ(30, local.wSecond);
    EXPECT_EQ(250, local.wMilliseconds);
    EXPECT_EQ(0, local.wDayOfWeek);  // Sunday

    const SYSTEMTIME summer = Utc(2024, 7, 1, 12, 0);
    ASSERT_TRUE(SystemTimeToTzSpecificLocalTime(nullptr, &summer, &local));
    EXPECT_EQ(8, local.wHour);
  }
  {
    TimeZone zone("IST-5:30");
    const SYSTEMTIME t = Utc(2024, 7, 1, 12, 0);
    ASSERT_TRUE(SystemTimeToTzSpecificLocalTime(nullptr, &t, &local));
    EXPECT_EQ(17, local.wHour);
    EXPECT_EQ(30, local.wMinute);
  }
  const SYSTEMTIME invalid = Utc(2024, 13, 1, 0, 0);
  EXPECT_FALSE(SystemTimeToTzSpecificLocalTime(nullptr, &invalid, &local));
}

TEST(LinuxTime, FormatsUseALocaleObjectAndLeaveTheProcessLocaleAlone) {
  const std::string before = setlocale(LC_ALL, nullptr);
  SYSTEMTIME t = Utc(2026, 3, 4, 9, 7);
  t.wSecond = 5;
  WCHAR date[64], time[64];
  ASSERT_GT(GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &t, nullptr, date, 64), 0);
  ASSERT_EQ(9, GetTimeFormatW(LOCALE_USER_DEFAULT, TIME_FORCE24HOURFORMAT, &t,
                              nullptr, time, 64));
  EXPECT_EQ(std::u16string(u"09:07:05"), std::u16string(time));
  EXPECT_EQ(before, setlocale(LC_ALL, nullptr));

  // The short date is the one the user's LC_TIME gives, with the year in
  // full where the locale has two digits for it.
  std::string pattern = nl_langinfo_l(D_FMT, msiarc::platform::GetUserLocale().locale);
  for (size_t at = pattern.find("%y"); at != std::string::npos; at = pattern.find("%y")) {
    pattern[at + 1] = 'Y';
  }
  char expected[64];
  struct tm when {};
  when.tm_year = 126;
  when.tm_mon = 2;
  when.tm_mday = 4;
  const auto& user = msiarc::platform::GetUserLocale();
  strftime_l(expected, sizeof expected, pattern.c_str(), &when, user.locale);
  std::u16string wideExpected(expected, expected + std::string(expected).size());
  EXPECT_EQ(wideExpected, std::u16string(date));
  EXPECT_NE(std::u16string::npos, std::u16string(date).find(u"2026"));

  // Invalid dates and unsupported forms fail instead of printing garbage.
  SYSTEMTIME bad = t;
  bad.wDay = 30;
  bad.wMonth = 2;
  EXPECT_EQ(0, GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &bad, nullptr, date, 64));
  EXPECT_EQ(0, GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &t, u"yyyy", date, 64));
}

TEST(LinuxCodePages, Utf8RefusesADefaultCharacterAndUnknownPagesFail) {
  char out[16];
  BOOL used = FALSE;
  EXPECT_EQ(0, WideCharToMultiByte(CP_UTF8, 0, u"a", -1, out, 16, nullptr, &used));
  EXPECT_EQ(0, WideCharToMultiByte(CP_UTF8, 0, u"a", -1, out, 16, "?", nullptr));
  EXPECT_EQ(0, WideCharToMultiByte(CP_UTF8, WC_COMPOSITECHECK, u"a", -1, out, 16,
                                   nullptr, nullptr));
  EXPECT_EQ(0, WideCharToMultiByte(1252, 0, u"a", -1, out, 16, nullptr, nullptr));
  WCHAR wide[4];
  EXPECT_EQ(0, MultiByteToWideChar(CP_UTF8, 0, "a", 0, wide, 4));
  EXPECT_EQ(0, MultiByteToWideChar(CP_UTF8, 0, nullptr, -1, wide, 4));
  // Overlong forms and a truncated sequence are each replaced.
  ASSERT_EQ(4, MultiByteToWideChar(CP_UTF8, 0, "\xC0\xAF" "a\xE2\x82", 5, nullptr, 0));
  ASSERT_EQ(4, MultiByteToWideChar(CP_UTF8, 0, "\xC0\xAF" "a\xE2\x82", 5, wide, 4));
  EXPECT_EQ(std::u16string(u"\uFFFD\uFFFDa\uFFFD"), std::u16string(wide, 4));
}

TEST(LinuxFiles, BackslashIsPartOfAName) {
  const auto folder = std::filesystem::current_path() / "linux-layer-test";
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder / "Binary");
  std::u16string path;
  for (char c : folder.string()) path.push_back(static_cast<char16_t>(c));
  path += u"/Binary\\Icon.ico";
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                            CREATE_ALWAYS, FILE_ATTRIBUTE_ARCHIVE, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, file);
  EXPECT_TRUE(CloseHandle(file));
  EXPECT_TRUE(std::filesystem::is_regular_file(folder / "Binary\\Icon.ico"));
  EXPECT_FALSE(std::filesystem::exists(folder / "Binary" / "Icon.ico"));
  // Found by the same name, which is the whole last component.
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(path.c_str(), &found);
  ASSERT_NE(INVALID_HANDLE_VALUE, search);
  EXPECT_EQ(std::u16string(u"Binary\\Icon.ico"), std::u16string(found.cFileName));
  // Handles of one kind are refused by the other kind's calls.
  EXPECT_FALSE(CloseHandle(search));
  EXPECT_FALSE(WriteFile(search, "x", 1, nullptr, nullptr));
  EXPECT_TRUE(FindClose(search));
  std::filesystem::remove_all(folder);
}

TEST(LinuxText, FormatterRefusesUnknownConversions) {
  WCHAR out[16];
  auto call = [&](const WCHAR* format, ...) {
    va_list args;
    va_start(args, format);
    const int r = _vsnwprintf(out, 16, format, args);
    va_end(args);
    return r;
  };
  EXPECT_LT(call(u"%f", 1.0), 0);
  EXPECT_EQ(6, call(u"%s", static_cast<const WCHAR*>(nullptr)));
  EXPECT_EQ(std::u16string(u"(null)"), std::u16string(out));
  EXPECT_EQ(2, call(u"%hs", "ab"));
  EXPECT_EQ(std::u16string(u"ab"), std::u16string(out));
}

TEST(LinuxText, CharLowerStringForm) {
  WCHAR text[] = u"MsiFileHash\u00C9";
  EXPECT_EQ(text, CharLowerW(text));
  EXPECT_EQ(std::u16string(u"msifilehash\u00E9"), std::u16string(text));
}

}  // namespace
