// The platform conventions of the header fields and the destination joint;
// see host_conventions.h for why they differ between the builds.
#include "plugin/host_conventions.h"

#include <cstdint>

namespace {

[[maybe_unused]] constexpr int kArchiveAttribute = 0x20;    // FILE_ATTRIBUTE_ARCHIVE
[[maybe_unused]] constexpr int kRegularFileMode = 0100644;  // S_IFREG | rw-r--r--
constexpr uint64_t kTicksPerSecond = 10000000;
constexpr uint64_t kUnixEpochTicks = 116444736000000000ULL;  // 1601 to 1970

bool StartsWithNoCase(const WCHAR* buffer, size_t length, const WCHAR* prefix,
                      size_t prefixLength) {
  return length > prefixLength && _wcsnicmp(buffer, prefix, prefixLength) == 0;
}

}  // namespace

#ifdef _WIN32

namespace {

bool StartsWith(const WString& text, const WCHAR* prefix) {
  return text.compare(0, wcslen(prefix), prefix) == 0;
}

}  // namespace

WString HostEntryName(const WString& name) { return name; }

WString HostFilePath(const WCHAR* path) {
  WString given(path);
  if (given.size() <= kShortPathUnits) return given;
  // Already in a form Windows takes literally.
  if (StartsWith(given, L"\\\\?\\") || StartsWith(given, L"\\??\\") ||
      StartsWith(given, L"\\\\.\\")) {
    return given;
  }
  // Windows resolves no "/", ".", ".." or doubled separator in the long
  // form. So the path is first made what Windows makes of an ordinary one:
  // full (against the current folder when relative) and normalised, which
  // also keeps a ".." the host gave from reaching the file system as a name.
  const DWORD needed = GetFullPathNameW(path, 0, nullptr, nullptr);
  if (needed == 0) return given;
  WString full(needed, L'\0');
  const DWORD length = GetFullPathNameW(path, needed, full.data(), nullptr);
  if (length == 0 || length >= needed) return given;
  full.resize(length);
  if (StartsWith(full, L"\\\\?\\") || StartsWith(full, L"\\\\.\\")) return full;
  if (StartsWith(full, L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

int HostFileTime(FILETIME archiveTime) {
  return static_cast<int>(PackDosDateTime(archiveTime));
}

int HostFileAttributes() { return kArchiveAttribute; }

#else

WString HostEntryName(const WString& name) {
  WString result = name;
  for (WCHAR& c : result) {
    if (c == WTEXT('\\')) c = WTEXT('/');
  }
  return result;
}

int HostFileTime(FILETIME archiveTime) {
  const uint64_t ticks =
      (static_cast<uint64_t>(archiveTime.dwHighDateTime) << 32) |
      archiveTime.dwLowDateTime;
  int64_t seconds;
  if (ticks >= kUnixEpochTicks) {
    seconds = static_cast<int64_t>((ticks - kUnixEpochTicks) / kTicksPerSecond);
  } else {
    // Round towards the earlier second, as a time before 1970 counts down.
    const uint64_t before = kUnixEpochTicks - ticks;
    seconds = -static_cast<int64_t>((before + kTicksPerSecond - 1) /
                                    kTicksPerSecond);
  }
  // The field is 32 bits: a time beyond its range is held at the limit
  // rather than wrapped into another century.
  if (seconds > INT32_MAX) seconds = INT32_MAX;
  if (seconds < INT32_MIN) seconds = INT32_MIN;
  return static_cast<int>(seconds);
}

int HostFileAttributes() { return kRegularFileMode; }

// A Linux path is as long as the platform allows, in one form.
WString HostFilePath(const WCHAR* path) { return WString(path); }

#endif

WCHAR HostPathSeparator(const WCHAR* buffer, size_t length) {
  if (StartsWithNoCase(buffer, length, WTEXT("https:"), 6) ||
      StartsWithNoCase(buffer, length, WTEXT("http:"), 5) ||
      StartsWithNoCase(buffer, length, WTEXT("ftp:"), 4)) {
    return WTEXT('/');
  }
#ifdef _WIN32
  return WTEXT('\\');
#else
  // A folder given by a Linux host is a Linux path.
  return WTEXT('/');
#endif
}

bool IsHostPathSeparator(WCHAR c) {
#ifdef _WIN32
  return c == WTEXT('\\') || c == WTEXT('/');
#else
  return c == WTEXT('/');
#endif
}
