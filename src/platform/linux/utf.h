// UTF-8 <-> UTF-16 conversion shared by the Linux platform layer: the
// code-page calls, file paths and the host tool's helpers all use it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace msiarc::utf {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes one code point from [p, end). Returns the number of bytes taken
// (at least 1 when p < end) and stores the code point, or kReplacement with
// *valid = false for a maximal ill-formed subsequence (overlong forms,
// surrogates, values above U+10FFFF, truncated sequences).
size_t DecodeUtf8(const unsigned char* p, const unsigned char* end,
                  char32_t* codePoint, bool* valid);

// Decodes one code point from [p, end) of UTF-16. Returns the units taken
// (1 or 2); a lone surrogate gives kReplacement with *valid = false.
size_t DecodeUtf16(const char16_t* p, const char16_t* end,
                   char32_t* codePoint, bool* valid);

// Appends the encodings of one code point; returns the units/bytes added.
size_t EncodeUtf8(char32_t codePoint, char* out);      // out: 4 bytes
size_t EncodeUtf16(char32_t codePoint, char16_t* out); // out: 2 units

// Whole-string conversions with U+FFFD for invalid input; *invalid (when
// given) tells whether any replacement was made.
std::u16string Utf8ToUtf16(const char* text, size_t bytes,
                           bool* invalid = nullptr);
std::string Utf16ToUtf8(const char16_t* text, size_t units,
                        bool* invalid = nullptr);
// The same conversion into a buffer: writes the first `capacity` bytes of
// the result (cut anywhere, even inside a sequence) and returns the length
// of the whole result; out may be null when capacity is 0.
size_t Utf16ToUtf8Into(const char16_t* text, size_t units, char* out,
                       size_t capacity, bool* invalid = nullptr);

}  // namespace msiarc::utf
