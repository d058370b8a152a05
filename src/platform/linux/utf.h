// UTF-8 <-> UTF-16 conversion shared by the Linux platform layer and the
// engine above it: the code-page calls, file paths, the host tool's helpers
// and the database strings of code page 65001 all use it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace msiarc::utf {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes one code point from [p, end) as the system's UTF-8 conversion
// (MultiByteToWideChar with flags 0) does. Returns the number of bytes taken
// (at least 1 when p < end) and stores the code point, or kReplacement with
// *valid = false: one for the bytes taken while the sequence still looked
// valid (an overlong or surrogate form shows only once its value is known,
// so E0 80 gives one, and the 41 after it stays), and one for a sequence
// that needs more bytes than [p, end) has left, which takes them all.
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
// Utf8ToUtf16 appending to out; false when a replacement was made.
bool AppendUtf8AsUtf16(const unsigned char* text, size_t bytes,
                       std::u16string& out);
// Utf16ToUtf8 into a buffer: writes the first `capacity` bytes of the
// result (cut anywhere, even inside a sequence) and returns the length of
// the whole result; out may be null when capacity is 0.
size_t Utf16ToUtf8Into(const char16_t* text, size_t units, char* out,
                       size_t capacity, bool* invalid = nullptr);

}  // namespace msiarc::utf
