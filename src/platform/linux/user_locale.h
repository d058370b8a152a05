// The user's locale as a locale object: read once from the environment
// (LC_ALL, LC_CTYPE/LC_TIME, LANG) and never installed as the process
// locale.
#pragma once

#include <locale.h>

#include <string>

namespace msiarc::platform {

struct UserLocale {
  UserLocale(locale_t l, bool u) : locale(l), utf8(u) {}
  ~UserLocale() { freelocale(locale); }  // when the library is unloaded
  UserLocale(const UserLocale&) = delete;
  UserLocale& operator=(const UserLocale&) = delete;

  locale_t locale;  // never null: "C" when the environment names none
  bool utf8;        // the codeset is UTF-8 (or plain ASCII, treated as UTF-8)
};

const UserLocale& GetUserLocale();

// Text in the user's codeset to UTF-16 and back. Bytes the codeset cannot
// decode become U+FFFD; characters it cannot encode become defaultChar.
// *invalid is set when either happened.
std::u16string UserCodesetToUtf16(const char* text, size_t bytes,
                                  bool* invalid);
std::string Utf16ToUserCodeset(const char16_t* text, size_t units,
                               char defaultChar, bool* usedDefault);

}  // namespace msiarc::platform
