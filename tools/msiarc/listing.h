// Walking an archive's entries as a host does: one ReadHeader-family call
// per entry, each followed by one ProcessFile-family call. Shared by the
// list, test and extract commands.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <functional>
#include <string>

#ifdef _WIN32
#include <windows.h>
#endif

#include "host.h"

namespace msiarc::host {

struct ListedEntry {
  std::string name;     // UTF-8, separators as the plug-in gives them
  WString wideName;     // the record's name (empty for the ANSI records)
  uint64_t size = 0;
  int time = 0;         // the header's time field, platform convention
};

// "YYYY-MM-DD HH:MM:SS" in local time from the header's time field: a
// packed DOS date and time on Windows, a Unix time on Linux.
inline std::string LocalTimeText(int field) {
  int year, month, day, hour, minute, second;
#ifdef _WIN32
  const uint32_t packed = static_cast<uint32_t>(field);
  year = static_cast<int>(packed >> 25) + 1980;
  month = (packed >> 21) & 0xF;
  day = (packed >> 16) & 0x1F;
  hour = (packed >> 11) & 0x1F;
  minute = (packed >> 5) & 0x3F;
  second = (packed & 0x1F) * 2;
#else
  const time_t seconds = field;
  struct tm local {};
  localtime_r(&seconds, &local);
  year = local.tm_year + 1900;
  month = local.tm_mon + 1;
  day = local.tm_mday;
  hour = local.tm_hour;
  minute = local.tm_min;
  second = local.tm_sec;
#endif
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", year,
                month, day, hour, minute, second);
  return text;
}

// A name from an ANSI header record, as UTF-8.
inline std::string AnsiNameToUtf8(const char* name) {
#ifdef _WIN32
  const int units = MultiByteToWideChar(CP_ACP, 0, name, -1, nullptr, 0);
  if (units <= 1) return {};
  WString wide(static_cast<size_t>(units), 0);
  MultiByteToWideChar(CP_ACP, 0, name, -1, wide.data(), units);
  return Narrow(wide.c_str());
#else
  return name;  // the user's codeset, which is what a terminal shows
#endif
}

// Calls visit for every entry in listing order; visit performs the entry's
// ProcessFile-family call and returns its result. ansi selects ReadHeaderEx
// (the caller then uses ProcessFile). Returns the ReadHeader result that
// ended the walk (10 at the normal end).
inline int WalkEntries(Plugin& plugin, HANDLE archive, bool ansi,
                       const std::function<void(const ListedEntry&)>& visit) {
  for (;;) {
    ListedEntry entry;
    int result;
    if (ansi) {
      static HeaderDataEx header;
      header = HeaderDataEx{};
      result = plugin.ReadHeaderEx(archive, &header);
      if (result != kResultOk) return result;
      header.fileName[sizeof header.fileName - 1] = 0;
      entry.name = AnsiNameToUtf8(header.fileName);
      entry.size = header.unpSize | (uint64_t{header.unpSizeHigh} << 32);
      entry.time = header.fileTime;
    } else {
      static HeaderDataExW header;
      header = HeaderDataExW{};
      result = plugin.ReadHeaderExW(archive, &header);
      if (result != kResultOk) return result;
      header.fileName[1023] = 0;
      entry.wideName = header.fileName;
      entry.name = Narrow(header.fileName);
      entry.size = header.unpSize | (uint64_t{header.unpSizeHigh} << 32);
      entry.time = header.fileTime;
    }
    visit(entry);
  }
}

// Whether a walk ended at the end of the listing; otherwise says why the
// listing of `archive` stopped, for `command`.
inline bool WalkedToTheEnd(int ended, const char* command, const std::string& archive) {
  if (ended == kResultEndArchive) return true;
  std::fprintf(stderr, "msiarc %s: %s: listing stopped: %s\n", command,
               archive.c_str(), ResultMeaning(ended).c_str());
  return false;
}

}  // namespace msiarc::host
