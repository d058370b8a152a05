// FILETIME / SYSTEMTIME conversion, the active time zone, and the short
// date and 24-hour time of the user's locale.
#include <langinfo.h>
#include <time.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "platform/linux/user_locale.h"
#include "platform/win32.h"

namespace {

constexpr int64_t kTicksPerSecond = 10000000;
constexpr int64_t kSecondsPerDay = 86400;
// Days from 1601-01-01 to 1970-01-01.
constexpr int64_t kDaysTo1970 = 134774;

// Days since 1970-01-01 of a proleptic Gregorian date, and back.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int64_t* year, unsigned* month, unsigned* day) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  *day = doy - (153 * mp + 2) / 5 + 1;
  *month = mp < 10 ? mp + 3 : mp - 9;
  *year = static_cast<int64_t>(yoe) + era * 400 + (*month <= 2);
}

bool IsLeap(unsigned year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

unsigned DaysInMonth(unsigned year, unsigned month) {
  static const unsigned kDays[] = {31, 28, 31, 30, 31, 30,
                                   31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeap(year) ? 29 : kDays[month - 1];
}

// The ranges Windows accepts for a SYSTEMTIME (the day of the week is
// ignored). The date formatter also shows the year 30828, which the last
// FILETIMEs reach.
bool ValidDate(const SYSTEMTIME& t, unsigned lastYear = 30827) {
  return t.wYear >= 1601 && t.wYear <= lastYear && t.wMonth >= 1 &&
         t.wMonth <= 12 && t.wDay >= 1 &&
         t.wDay <= DaysInMonth(t.wYear, t.wMonth);
}

bool ValidTime(const SYSTEMTIME& t) {
  return t.wHour < 24 && t.wMinute < 60 && t.wSecond < 60 &&
         t.wMilliseconds < 1000;
}

struct tm ToTm(const SYSTEMTIME& t) {
  struct tm out {};
  out.tm_year = t.wYear - 1900;
  out.tm_mon = t.wMonth - 1;
  out.tm_mday = t.wDay;
  out.tm_hour = t.wHour;
  out.tm_min = t.wMinute;
  out.tm_sec = t.wSecond;
  const int64_t days = DaysFromCivil(t.wYear, t.wMonth, t.wDay);
  out.tm_wday = static_cast<int>(((days % 7) + 11) % 7);  // 1970-01-01: Thu
  out.tm_yday = static_cast<int>(days - DaysFromCivil(t.wYear, 1, 1));
  out.tm_isdst = -1;
  return out;
}

SYSTEMTIME Now() {
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  struct tm local;
  tzset();
  localtime_r(&now.tv_sec, &local);
  SYSTEMTIME t{};
  t.wYear = static_cast<WORD>(local.tm_year + 1900);
  t.wMonth = static_cast<WORD>(local.tm_mon + 1);
  t.wDay = static_cast<WORD>(local.tm_mday);
  t.wDayOfWeek = static_cast<WORD>(local.tm_wday);
  t.wHour = static_cast<WORD>(local.tm_hour);
  t.wMinute = static_cast<WORD>(local.tm_min);
  t.wSecond = static_cast<WORD>(local.tm_sec);
  t.wMilliseconds = static_cast<WORD>(now.tv_nsec / 1000000);
  return t;
}

// strftime in the user's locale, converted to UTF-16; the result follows
// the Windows contract (capacity 0 measures; the count includes the
// terminator; 0 when the buffer is too small).
int FormatInLocale(const char* format, const struct tm& when, LPWSTR out,
                   int capacity) {
  if (capacity < 0 || (out == nullptr && capacity != 0)) return 0;
  const msiarc::platform::UserLocale& user = msiarc::platform::GetUserLocale();
  char text[256];
  const size_t bytes = strftime_l(text, sizeof text, format, &when, user.locale);
  if (bytes == 0) return 0;
  bool invalid;
  std::u16string wide =
      msiarc::platform::UserCodesetToUtf16(text, bytes, &invalid);
  const int size = static_cast<int>(wide.size()) + 1;
  if (capacity == 0) return size;
  if (size > capacity) return 0;
  std::memcpy(out, wide.c_str(), sizeof(WCHAR) * size);
  return size;
}

}  // namespace

BOOL FileTimeToSystemTime(const FILETIME* fileTime, LPSYSTEMTIME systemTime) {
  if (fileTime == nullptr || systemTime == nullptr) return FALSE;
  const uint64_t ticks =
      (static_cast<uint64_t>(fileTime->dwHighDateTime) << 32) |
      fileTime->dwLowDateTime;
  if (ticks >= 0x8000000000000000ULL) return FALSE;  // as Windows
  const int64_t seconds = static_cast<int64_t>(ticks / kTicksPerSecond);
  const int64_t days = seconds / kSecondsPerDay;
  const int64_t secondOfDay = seconds % kSecondsPerDay;
  int64_t year;
  unsigned month, day;
  CivilFromDays(days - kDaysTo1970, &year, &month, &day);
  systemTime->wYear = static_cast<WORD>(year);
  systemTime->wMonth = static_cast<WORD>(month);
  systemTime->wDay = static_cast<WORD>(day);
  systemTime->wDayOfWeek = static_cast<WORD>((days + 1) % 7);  // 1601-01-01: Mon
  systemTime->wHour = static_cast<WORD>(secondOfDay / 3600);
  systemTime->wMinute = static_cast<WORD>(secondOfDay / 60 % 60);
  systemTime->wSecond = static_cast<WORD>(secondOfDay % 60);
  systemTime->wMilliseconds =
      static_cast<WORD>(ticks % kTicksPerSecond / 10000);
  return TRUE;
}

BOOL SystemTimeToTzSpecificLocalTime(const void* timeZone,
                                     const SYSTEMTIME* universal,
                                     LPSYSTEMTIME local) {
  // Only the active time zone (a null zone) is supported.
  if (timeZone != nullptr || universal == nullptr || local == nullptr ||
      !ValidDate(*universal) || !ValidTime(*universal)) {
    return FALSE;
  }
  const time_t seconds = static_cast<time_t>(
      DaysFromCivil(universal->wYear, universal->wMonth, universal->wDay) *
          kSecondsPerDay +
      universal->wHour * 3600 + universal->wMinute * 60 + universal->wSecond);
  struct tm converted;
  tzset();  // follow TZ if it changed since the last call
  if (localtime_r(&seconds, &converted) == nullptr) return FALSE;
  const WORD milliseconds = universal->wMilliseconds;
  local->wYear = static_cast<WORD>(converted.tm_year + 1900);
  local->wMonth = static_cast<WORD>(converted.tm_mon + 1);
  local->wDay = static_cast<WORD>(converted.tm_mday);
  local->wDayOfWeek = static_cast<WORD>(converted.tm_wday);
  local->wHour = static_cast<WORD>(converted.tm_hour);
  local->wMinute = static_cast<WORD>(converted.tm_min);
  local->wSecond = static_cast<WORD>(converted.tm_sec);
  local->wMilliseconds = milliseconds;
  return TRUE;
}

int GetDateFormatW(LCID, DWORD flags, const SYSTEMTIME* date, LPCWSTR format,
                   LPWSTR out, int capacity) {
  // The short date of the user's locale is the one form supported.
  if (format != nullptr || (flags & ~static_cast<DWORD>(DATE_SHORTDATE)) != 0) {
    return 0;
  }
  const SYSTEMTIME when = date != nullptr ? *date : Now();
  if (!ValidDate(when, 30828)) return 0;
  const char* pattern =
      nl_langinfo_l(D_FMT, msiarc::platform::GetUserLocale().locale);
  if (pattern == nullptr || pattern[0] == 0) pattern = "%m/%d/%y";
  // A two-digit year (the C and POSIX locales: 1979 and 2079 both read 79)
  // is shown with all its digits.
  std::string whole(pattern);
  for (size_t at = 0; (at = whole.find('%', at)) != std::string::npos; at += 2) {
    if (at + 1 < whole.size() && whole[at + 1] == 'y') whole[at + 1] = 'Y';
  }
  return FormatInLocale(whole.c_str(), ToTm(when), out, capacity);
}

int GetTimeFormatW(LCID, DWORD flags, const SYSTEMTIME* time, LPCWSTR format,
                   LPWSTR out, int capacity) {
  // Hours, minutes and seconds in 24-hour form is the one form supported.
  if (format != nullptr ||
      (flags & ~static_cast<DWORD>(TIME_FORCE24HOURFORMAT)) != 0) {
    return 0;
  }
  const SYSTEMTIME when = time != nullptr ? *time : Now();
  if (!ValidTime(when)) return 0;
  SYSTEMTIME dated = when;
  if (!ValidDate(dated)) {  // only the time of day matters here
    dated.wYear = 2000;
    dated.wMonth = 1;
    dated.wDay = 1;
  }
  return FormatInLocale("%H:%M:%S", ToTm(dated), out, capacity);
}
