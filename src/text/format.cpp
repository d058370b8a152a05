// Bounded formatting into caller-provided 16-bit buffers.
#include <cstdarg>

#include "text/text.h"

namespace {

constexpr size_t kMaxCapacity = 0x7FFFFFFF;

// Formats into destination (capacity already checked) and returns the
// result; *count receives the units before the terminator.
HRESULT FormatInto(WCHAR* destination, size_t capacity, size_t* count,
                   const WCHAR* format, va_list args) {
  const size_t room = capacity - 1;
  const int r = _vsnwprintf(destination, room, format, args);
  if (r < 0 || static_cast<size_t>(r) > room) {
    destination[room] = 0;
    *count = room;
    return kFormatTruncated;
  }
  if (static_cast<size_t>(r) == room) destination[room] = 0;
  *count = static_cast<size_t>(r);
  return kFormatOk;
}

// Both entry points: the capacity check, the formatting, and where it ended.
HRESULT FormatWithEnd(WCHAR* destination, size_t capacity, WCHAR** endOut,
                      size_t* remainingOut, const WCHAR* format, va_list args) {
  if (capacity == 0 || capacity > kMaxCapacity) return kFormatInvalidParameter;
  size_t count;
  const HRESULT result = FormatInto(destination, capacity, &count, format, args);
  if (endOut != nullptr) *endOut = destination + count;
  if (remainingOut != nullptr) *remainingOut = capacity - count;
  return result;
}

}  // namespace

HRESULT FormatToBuffer(WCHAR* destination, size_t capacity,
                       const WCHAR* format, ...) {
  va_list args;
  va_start(args, format);
  const HRESULT result =
      FormatWithEnd(destination, capacity, nullptr, nullptr, format, args);
  va_end(args);
  return result;
}

HRESULT FormatToBufferEx(WCHAR* destination, size_t capacity, WCHAR** endOut,
                         size_t* remainingOut, const WCHAR* format, ...) {
  va_list args;
  va_start(args, format);
  const HRESULT result =
      FormatWithEnd(destination, capacity, endOut, remainingOut, format, args);
  va_end(args);
  return result;
}
