// MultiByteToWideChar / WideCharToMultiByte for code page 0 (the user's
// codeset) and 65001 (UTF-8), with the argument rules and invalid-input
// handling of Windows: without the error flag, ill-formed input becomes
// U+FFFD (UTF-8 in both directions); a buffer too small fails with 0.
#include <cstring>
#include <string>

#include "platform/linux/user_locale.h"
#include "platform/linux/utf.h"
#include "platform/win32.h"

namespace {

constexpr UINT kOemCodePage = 1;  // CP_OEMCP: the same codeset here

bool IsAnsi(UINT codePage) {
  return codePage == CP_ACP || codePage == kOemCodePage;
}

template <typename Unit, typename Text>
int Deliver(const Text& converted, Unit* out, int capacity) {
  if (converted.size() > 0x7FFFFFFF) return 0;
  const int size = static_cast<int>(converted.size());
  if (capacity == 0) return size;
  if (size > capacity) {
    // Windows fills what fits and then reports failure.
    std::memcpy(out, converted.data(), sizeof(Unit) * capacity);
    return 0;
  }
  std::memcpy(out, converted.data(), sizeof(Unit) * size);
  return size;
}

}  // namespace

int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR source,
                        int sourceBytes, LPWSTR out, int capacity) {
  if (source == nullptr || sourceBytes == 0 || sourceBytes < -1 ||
      capacity < 0 || (out == nullptr && capacity != 0)) {
    return 0;
  }
  const size_t bytes = sourceBytes == -1 ? std::strlen(source) + 1
                                         : static_cast<size_t>(sourceBytes);
  std::u16string converted;
  bool invalid = false;
  if (codePage == CP_UTF8) {
    if ((flags & ~static_cast<DWORD>(MB_ERR_INVALID_CHARS)) != 0) return 0;
    converted = msiarc::utf::Utf8ToUtf16(source, bytes, &invalid);
  } else if (IsAnsi(codePage)) {
    converted = msiarc::platform::UserCodesetToUtf16(source, bytes, &invalid);
  } else {
    return 0;
  }
  if (invalid && (flags & MB_ERR_INVALID_CHARS)) return 0;
  return Deliver(converted, out, capacity);
}

int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR source,
                        int sourceUnits, LPSTR out, int capacity,
                        LPCSTR defaultChar, BOOL* usedDefaultChar) {
  if (source == nullptr || sourceUnits == 0 || sourceUnits < -1 ||
      capacity < 0 || (out == nullptr && capacity != 0)) {
    return 0;
  }
  size_t units = 0;
  if (sourceUnits == -1) {
    while (source[units] != 0) ++units;
    ++units;
  } else {
    units = static_cast<size_t>(sourceUnits);
  }
  std::string converted;
  if (codePage == CP_UTF8) {
    // UTF-8 takes no default character and no flags but the error flag.
    if (defaultChar != nullptr || usedDefaultChar != nullptr) return 0;
    if ((flags & ~static_cast<DWORD>(WC_ERR_INVALID_CHARS)) != 0) return 0;
    // Straight into the caller's buffer: this call converts every text
    // cell the plug-in writes, twice (measured, then written).
    bool invalid = false;
    const size_t room = static_cast<size_t>(capacity);
    const size_t length =
        msiarc::utf::Utf16ToUtf8Into(source, units, out, room, &invalid);
    if (invalid && (flags & WC_ERR_INVALID_CHARS)) return 0;
    if (length > 0x7FFFFFFF) return 0;
    if (capacity == 0) return static_cast<int>(length);
    // Windows fills what fits and then reports failure.
    return length > room ? 0 : static_cast<int>(length);
  } else if (IsAnsi(codePage)) {
    bool used = false;
    const char fallback = defaultChar != nullptr ? defaultChar[0] : '?';
    converted = msiarc::platform::Utf16ToUserCodeset(source, units, fallback,
                                                     &used);
    if (usedDefaultChar != nullptr) *usedDefaultChar = used ? TRUE : FALSE;
  } else {
    return 0;
  }
  return Deliver(converted, out, capacity);
}
