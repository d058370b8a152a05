#include "platform/linux/utf.h"

namespace msiarc::utf {

size_t DecodeUtf8(const unsigned char* p, const unsigned char* end,
                  char32_t* codePoint, bool* valid) {
  const unsigned char lead = p[0];
  *valid = true;
  if (lead < 0x80) {
    *codePoint = lead;
    return 1;
  }
  size_t need;
  char32_t value;
  unsigned char low = 0x80, high = 0xBF;  // bounds of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    need = 1;
    value = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    need = 2;
    value = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;   // overlong
    if (lead == 0xED) high = 0x9F;  // surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    need = 3;
    value = lead & 0x07;
    if (lead == 0xF0) low = 0x90;   // overlong
    if (lead == 0xF4) high = 0x8F;  // above U+10FFFF
  } else {
    *valid = false;
    *codePoint = kReplacement;
    return 1;
  }
  size_t taken = 1;
  for (size_t i = 0; i < need; ++i) {
    if (p + taken >= end) break;
    const unsigned char c = p[taken];
    const unsigned char lo = i == 0 ? low : 0x80;
    const unsigned char hi = i == 0 ? high : 0xBF;
    if (c < lo || c > hi) break;
    value = (value << 6) | (c & 0x3F);
    ++taken;
  }
  if (taken != need + 1) {
    *valid = false;
    *codePoint = kReplacement;
    return taken;
  }
  *codePoint = value;
  return taken;
}

size_t DecodeUtf16(const char16_t* p, const char16_t* end,
                   char32_t* codePoint, bool* valid) {
  const char16_t c = p[0];
  *valid = true;
  if (c >= 0xD800 && c <= 0xDBFF && p + 1 < end && p[1] >= 0xDC00 &&
      p[1] <= 0xDFFF) {
    *codePoint = 0x10000 + ((char32_t(c) - 0xD800) << 10) + (p[1] - 0xDC00);
    return 2;
  }
  if (c >= 0xD800 && c <= 0xDFFF) {
    *valid = false;
    *codePoint = kReplacement;
    return 1;
  }
  *codePoint = c;
  return 1;
}

size_t EncodeUtf8(char32_t cp, char* out) {
  if (cp < 0x80) {
    out[0] = static_cast<char>(cp);
    return 1;
  }
  if (cp < 0x800) {
    out[0] = static_cast<char>(0xC0 | (cp >> 6));
    out[1] = static_cast<char>(0x80 | (cp & 0x3F));
    return 2;
  }
  if (cp < 0x10000) {
    out[0] = static_cast<char>(0xE0 | (cp >> 12));
    out[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (cp & 0x3F));
    return 3;
  }
  out[0] = static_cast<char>(0xF0 | (cp >> 18));
  out[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
  out[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
  out[3] = static_cast<char>(0x80 | (cp & 0x3F));
  return 4;
}

size_t EncodeUtf16(char32_t cp, char16_t* out) {
  if (cp < 0x10000) {
    out[0] = static_cast<char16_t>(cp);
    return 1;
  }
  cp -= 0x10000;
  out[0] = static_cast<char16_t>(0xD800 + (cp >> 10));
  out[1] = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
  return 2;
}

std::u16string Utf8ToUtf16(const char* text, size_t bytes, bool* invalid) {
  std::u16string out;
  out.reserve(bytes);
  bool anyInvalid = false;
  auto p = reinterpret_cast<const unsigned char*>(text);
  const auto end = p + bytes;
  while (p < end) {
    char32_t cp;
    bool valid;
    p += DecodeUtf8(p, end, &cp, &valid);
    anyInvalid |= !valid;
    char16_t units[2];
    out.append(units, EncodeUtf16(cp, units));
  }
  if (invalid != nullptr) *invalid = anyInvalid;
  return out;
}

size_t Utf16ToUtf8Into(const char16_t* text, size_t units, char* out,
                       size_t capacity, bool* invalid) {
  size_t length = 0;
  bool anyInvalid = false;
  const char16_t* end = text + units;
  while (text < end) {
    if (*text < 0x80) {  // one byte, nothing to decode: most text
      if (length < capacity) out[length] = static_cast<char>(*text);
      ++length;
      ++text;
      continue;
    }
    char32_t cp;
    bool valid;
    text += DecodeUtf16(text, end, &cp, &valid);
    anyInvalid |= !valid;
    char bytes[4];
    const size_t n = EncodeUtf8(cp, bytes);
    for (size_t i = 0; i < n; ++i, ++length) {
      if (length < capacity) out[length] = bytes[i];
    }
  }
  if (invalid != nullptr) *invalid = anyInvalid;
  return length;
}

std::string Utf16ToUtf8(const char16_t* text, size_t units, bool* invalid) {
  // One pass: a unit never takes more than three bytes (a pair takes four).
  std::string out(units * 3, '\0');
  out.resize(Utf16ToUtf8Into(text, units, out.data(), out.size(), invalid));
  return out;
}

}  // namespace msiarc::utf
