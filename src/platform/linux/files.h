// Helpers of the Linux file calls, shared with the time calls and tests.
#pragma once

#include <ctime>
#include <string>

#include "platform/win32.h"

namespace msiarc::platform {

// The UTF-8 path for a UTF-16 one, taken as given: on Linux a backslash is
// an ordinary character of a file name.
std::string NativePath(LPCWSTR path);

// A POSIX time as a FILETIME (100-nanosecond ticks since 1601-01-01 UTC).
FILETIME ToFileTime(const struct timespec& when);
// The reverse, for setting a file's times.
struct timespec FromFileTime(const FILETIME& when);

}  // namespace msiarc::platform
