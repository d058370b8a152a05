// Conversion of database strings to UTF-16, the way the installer converts
// them: per string, with an explicit byte length, flags 0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace msiarc::msidb {

// The code page that stands for code page 0 (the system ANSI code page).
constexpr uint32_t kAnsiCodePage = 1252;

// True when strings in this code page can be converted (0 included): the
// code pages the system converts, and no other number.
bool IsKnownCodePage(uint32_t codePage);

// True when every byte below 0x80 converts to the unit of its own value, so
// that 7-bit text needs no conversion (not so in UTF-7 and EBCDIC).
bool AsciiIsItself(uint32_t codePage);

// Appends the UTF-16 form of bytes[0, count) to out.
void AppendConverted(uint32_t codePage, const uint8_t* bytes, size_t count, std::u16string& out);

}  // namespace msiarc::msidb
