// What a host on this platform expects in the fields it interprets itself.
//
// Hosts on Windows and on Linux load the plug-in through the same exports
// and records, but a Linux host reads three header fields by its platform's
// conventions: it splits entry names only on "/", takes the time field as a
// Unix time and the attribute field as a Unix file mode. It also passes the
// whole destination as one absolute name, which may be far longer than the
// 259 units of an ordinary Windows path; on Windows such a path needs a
// form of its own. Those choices live here and nowhere else;
// inside the archive names keep their backslashes on both platforms.
#pragma once

#include <cstddef>

#include "platform/win32.h"
#include "text/text.h"

struct MsiArchive;
struct FileEntry;

#ifdef _WIN32
// The longest path Windows takes (32,767 units, in the \\?\ form) and the
// terminator.
constexpr size_t kDestinationUnits = 32768;
// The longest path Windows takes in its ordinary form: 259 units.
constexpr size_t kShortPathUnits = 259;
#else
// The platform's path limit: 4096 bytes, the terminator included.
constexpr size_t kDestinationUnits = 4096;
#endif

// The entry name as the host splits it into folders.
WString HostEntryName(const WString& name);
// The header's time field for the archive's last-write time.
int HostFileTime(FILETIME archiveTime);
// The header's attribute field for every entry: a plain file.
int HostFileAttributes();
// The separator put between a destination folder and a name.
WCHAR HostPathSeparator(const WCHAR* buffer, size_t length);
// Whether a host path already ends a folder with this character: a
// backslash or a slash on Windows, a slash alone on Linux, where a
// backslash is part of a file name.
bool IsHostPathSeparator(WCHAR c);

// Listing steps (listing.cpp).
FileEntry* AdvanceCursor(MsiArchive* archive);
DWORD PackDosDateTime(FILETIME time);
// A name in the ANSI code page, NUL-terminated within fieldBytes: a name
// that does not fit is cut after its last whole character that does.
void StoreAnsiName(char* field, int fieldBytes, const WString& name);
// The same into any code page.
void StoreNameInCodePage(UINT codePage, char* field, int fieldBytes,
                         const WString& name);

// The path a file is created at for a destination the host gave or that
// was composed from what it gave. On Windows a path past 259 units takes
// the form that lifts that limit (C:\... as \\?\C:\..., \\server\share\...
// as \\?\UNC\server\share\...), after it is made full and normalised as
// Windows makes a short path ("/" as "\", "." and ".." resolved); a path
// already in that form is taken as it is. Elsewhere, and for a shorter
// path, the path itself.
WString HostFilePath(const WCHAR* path);

// Extraction steps (extraction.cpp). The buffer holds kDestinationUnits.
// False, with the buffer emptied, when path and name do not fit.
bool ComposeDestinationPath(WCHAR* buffer, const WCHAR* path,
                            const WCHAR* name);
void AppendPathSeparator(WCHAR* buffer);
int ReportProgress(WCHAR* path, DWORD count);
