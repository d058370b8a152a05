#include "platform/linux/user_locale.h"

#include <langinfo.h>
#include <wchar.h>

#include <climits>
#include <cstring>

#include "platform/linux/utf.h"

namespace msiarc::platform {

namespace {

// Only the categories the conversions and the date texts read: the
// character set and the time formats (the others would be loaded for
// nothing, a file each).
constexpr int kCategories = LC_CTYPE_MASK | LC_TIME_MASK;

UserLocale MakeUserLocale() {
  locale_t locale = newlocale(kCategories, "", static_cast<locale_t>(0));
  if (locale == static_cast<locale_t>(0)) {
    locale = newlocale(kCategories, "C", static_cast<locale_t>(0));
  }
  const char* codeset = nl_langinfo_l(CODESET, locale);
  // The "C" locale's codeset is ASCII, which UTF-8 extends: file names on
  // Linux are UTF-8 in practice, so a process without a locale gets UTF-8
  // rather than failing on every non-ASCII name.
  const bool utf8 = codeset == nullptr || std::strcmp(codeset, "UTF-8") == 0 ||
                    std::strcmp(codeset, "ANSI_X3.4-1968") == 0;
  return UserLocale(locale, utf8);
}

// Runs the calls of one conversion with the user's locale as this thread's
// locale, restoring the previous one afterwards.
class ThreadLocaleScope {
 public:
  explicit ThreadLocaleScope(locale_t locale) : previous_(uselocale(locale)) {}
  ~ThreadLocaleScope() { uselocale(previous_); }
  ThreadLocaleScope(const ThreadLocaleScope&) = delete;
  ThreadLocaleScope& operator=(const ThreadLocaleScope&) = delete;

 private:
  locale_t previous_;
};

}  // namespace

const UserLocale& GetUserLocale() {
  static const UserLocale user = MakeUserLocale();
  return user;
}

std::u16string UserCodesetToUtf16(const char* text, size_t bytes,
                                  bool* invalid) {
  *invalid = false;
  const UserLocale& user = GetUserLocale();
  if (user.utf8) return utf::Utf8ToUtf16(text, bytes, invalid);
  std::u16string out;
  out.reserve(bytes);
  ThreadLocaleScope scope(user.locale);
  mbstate_t state{};
  size_t i = 0;
  while (i < bytes) {
    wchar_t wide;
    const size_t n = mbrtowc(&wide, text + i, bytes - i, &state);
    char32_t cp;
    if (n == static_cast<size_t>(-1) || n == static_cast<size_t>(-2)) {
      *invalid = true;
      cp = utf::kReplacement;
      state = mbstate_t{};
      i += n == static_cast<size_t>(-2) ? bytes - i : 1;
    } else {
      cp = static_cast<char32_t>(wide);
      i += n == 0 ? 1 : n;
      if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        *invalid = true;
        cp = utf::kReplacement;
      }
    }
    char16_t units[2];
    out.append(units, utf::EncodeUtf16(cp, units));
  }
  return out;
}

std::string Utf16ToUserCodeset(const char16_t* text, size_t units,
                               char defaultChar, bool* usedDefault) {
  *usedDefault = false;
  const UserLocale& user = GetUserLocale();
  if (user.utf8) return utf::Utf16ToUtf8(text, units);
  std::string out;
  out.reserve(units);
  const char16_t* end = text + units;
  ThreadLocaleScope scope(user.locale);
  mbstate_t state{};
  char bytes[MB_LEN_MAX];
  while (text < end) {
    char32_t cp;
    bool valid;
    text += utf::DecodeUtf16(text, end, &cp, &valid);
    const size_t n =
        valid ? wcrtomb(bytes, static_cast<wchar_t>(cp), &state)
              : static_cast<size_t>(-1);
    if (n == static_cast<size_t>(-1)) {
      state = mbstate_t{};
      out.push_back(defaultChar);
      *usedDefault = true;
    } else {
      out.append(bytes, n);
    }
  }
  return out;
}

}  // namespace msiarc::platform
