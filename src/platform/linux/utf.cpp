#include "platform/linux/utf.h"

namespace msiarc::utf {

size_t DecodeUtf8(const unsigned char* p, const unsigned char* end,
                  char32_t* codePoint, bool* valid) {
  static constexpr unsigned char kLeadBits[4] = {0x7F, 0x1F, 0x0F, 0x07};
  const unsigned char lead = p[0];
  *valid = lead < 0x80;
  *codePoint = *valid ? lead : kReplacement;
  if (*valid) return 1;
  // The continuation bytes the lead byte asks for; none when it starts
  // nothing (a continuation byte, C0, C1, F5 and above).
  const size_t need = lead < 0xC2 ? 0 : lead < 0xE0 ? 1 : lead < 0xF0 ? 2 : lead < 0xF5 ? 3 : 0;
  const size_t left = static_cast<size_t>(end - p) - 1;
  if (need > left) return left + 1;
  if (need == 0) return 1;
  char32_t value = lead & kLeadBits[need];
  size_t taken = 1;
  // Each continuation byte is taken while the value can still be valid: a
  // value below 0x10 after the first of three is an overlong form, as is
  // one below 0x20 after the first of two, and 0xD800..0xDFFF a surrogate;
  // 0x110000 and above is out of range, and the byte that shows it is left.
  for (size_t rest = need; rest > 0; --rest) {
    const unsigned char c = p[taken] ^ 0x80;
    if (c >= 0x40) return taken;
    value = (value << 6) | c;
    if (rest == 2 && value >= (0x110000 >> 6)) return taken;
    ++taken;
    if (rest == 3 && value < 0x10) return taken;
    if (rest == 2 && (value < 0x20 || (value >= (0xD800 >> 6) && value <= (0xDFFF >> 6)))) {
      return taken;
    }
  }
  *valid = true;
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

bool AppendUtf8AsUtf16(const unsigned char* text, size_t bytes,
                       std::u16string& out) {
  bool allValid = true;
  const unsigned char* const end = text + bytes;
  while (text < end) {
    if (*text < 0x80) {  // one unit, nothing to decode: most text
      out.push_back(*text++);
      continue;
    }
    char32_t cp;
    bool valid;
    text += DecodeUtf8(text, end, &cp, &valid);
    allValid &= valid;
    char16_t units[2];
    out.append(units, EncodeUtf16(cp, units));
  }
  return allValid;
}

std::u16string Utf8ToUtf16(const char* text, size_t bytes, bool* invalid) {
  std::u16string out;
  out.reserve(bytes);
  const bool valid = AppendUtf8AsUtf16(
      reinterpret_cast<const unsigned char*>(text), bytes, out);
  if (invalid != nullptr) *invalid = !valid;
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
