#include "engine/native/msidb/summary.h"

#include <cstdint>
#include <cstring>

#include "engine/native/le.h"
#include "engine/native/msidb/codepage.h"

namespace msiarc::msidb {
namespace {

constexpr uint16_t kVtI2 = 2;
constexpr uint16_t kVtI4 = 3;
constexpr uint16_t kVtLpstr = 30;
constexpr uint16_t kVtFiletime = 64;

constexpr uint8_t kFmtid[16] = {0xE0, 0x85, 0x9F, 0xF2, 0xF9, 0x4F, 0x68, 0x10,
                                0xAB, 0x91, 0x08, 0x00, 0x2B, 0x27, 0xB3, 0xD9};

// The type each property id is meant to have; 0 for ids that are not kept.
uint16_t ExpectedType(uint32_t id) {
  switch (id) {
    case 1:
      return kVtI2;
    case 2: case 3: case 4: case 5: case 6: case 7: case 8: case 9: case 18:
      return kVtLpstr;
    case 11: case 12: case 13:
      return kVtFiletime;
    case 14: case 15: case 16: case 19:
      return kVtI4;
    default:
      return 0;
  }
}

// The number text starts with, as strtoll reads it with base 0: spaces,
// a sign, then hexadecimal after "0x", octal after "0", else decimal, up to
// the first other character. False when no digit follows, or beyond 64 bits.
bool ParseNumber(const std::string& text, int64_t* out) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  unsigned base = 10;
  if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  } else if (i < text.size() && text[i] == '0') {
    base = 8;
  }
  uint64_t value = 0;
  bool digits = false;
  for (; i < text.size(); ++i) {
    char c = text[i];
    unsigned digit = c >= '0' && c <= '9'   ? static_cast<unsigned>(c - '0')
                     : c >= 'a' && c <= 'z' ? static_cast<unsigned>(c - 'a' + 10)
                     : c >= 'A' && c <= 'Z' ? static_cast<unsigned>(c - 'A' + 10)
                                            : 36;
    if (digit >= base) break;
    if (value > (UINT64_MAX - digit) / base) return false;
    value = value * base + digit;
    digits = true;
  }
  if (!digits || value > static_cast<uint64_t>(INT64_MAX) + (negative ? 1 : 0)) return false;
  *out = negative ? static_cast<int64_t>(0 - value) : static_cast<int64_t>(value);
  return true;
}

}  // namespace

uint32_t SummaryInfo::Count() const {
  uint32_t n = 0;
  for (const SummaryProperty& p : slots) n += p.type != 0 ? 1 : 0;
  return n;
}

SummaryInfo ParseSummary(const std::vector<uint8_t>& bytes) {
  SummaryInfo info;
  const uint8_t* s = bytes.data();
  uint64_t size = bytes.size();
  if (size < 0x30 || s[0] != 0xFE || s[1] != 0xFF) return info;
  if (std::memcmp(s + 0x1C, kFmtid, 16) != 0) return info;
  uint64_t section = Le32(s + 0x2C);
  if (section + 8 > size) return info;
  uint32_t count = Le32(s + section + 4);
  if (count > kSummarySlots) return info;
  std::string raw[kSummarySlots];
  for (uint32_t i = 0; i < count; ++i) {
    uint64_t pair = section + 8 + 8ull * i;
    if (pair + 8 > size) break;
    uint32_t id = Le32(s + pair);
    uint64_t at = section + Le32(s + pair + 4);
    if (id >= kSummarySlots || ExpectedType(id) == 0) break;
    if (at + 8 > size) break;
    uint16_t type = static_cast<uint16_t>(s[at] | (s[at + 1] << 8));
    uint16_t expected = ExpectedType(id);
    SummaryProperty& p = info.slots[id];
    p = SummaryProperty{};
    raw[id].clear();
    int64_t number = 0;
    bool isNumber = false;
    if (type == kVtI2) {
      number = static_cast<int16_t>(s[at + 4] | (s[at + 5] << 8));
      isNumber = true;
    } else if (type == kVtI4) {
      number = static_cast<int32_t>(Le32(s + at + 4));
      isNumber = true;
    } else if (type == kVtFiletime) {
      if (at + 12 > size) break;
      p.filetime = Le32(s + at + 4) | (static_cast<uint64_t>(Le32(s + at + 8)) << 32);
    } else if (type == kVtLpstr) {
      uint32_t length = Le32(s + at + 4);
      if (at + 8 + length > size) break;
      // The stored count includes the terminator; the text ends at the
      // first NUL.
      const char* text = reinterpret_cast<const char*>(s + at + 8);
      size_t kept = length == 0 ? 0 : length - 1;
      const void* nul = std::memchr(text, 0, kept);
      if (nul != nullptr) kept = static_cast<size_t>(static_cast<const char*>(nul) - text);
      raw[id].assign(text, kept);
    } else {
      continue;  // a type this set never holds: left out
    }
    if (type != expected) {
      // Stored as another type than its id has: converted where the system
      // converts (one integer width to the other; text that starts with a
      // number, as strtoll reads it with base 0, to a number), within the
      // range of the id's type; else left out. Text where a time belongs is
      // reported as empty text, as Windows reports it.
      if (type == kVtLpstr && expected == kVtFiletime) {
        raw[id].clear();
        p.type = kVtLpstr;
        continue;
      }
      if (type == kVtLpstr) isNumber = ParseNumber(raw[id], &number);
      raw[id].clear();
      int64_t low = expected == kVtI2 ? INT16_MIN : INT32_MIN;
      int64_t high = expected == kVtI2 ? INT16_MAX : INT32_MAX;
      if ((expected != kVtI2 && expected != kVtI4) || !isNumber || number < low || number > high) {
        p = SummaryProperty{};
        continue;
      }
      type = expected;
    }
    p.integer = static_cast<int32_t>(number);
    p.type = type;
  }
  // Text is in the set's own code page (property 1), else the ANSI one.
  uint32_t codePage = 0;
  if (info.slots[1].type == kVtI2) codePage = static_cast<uint32_t>(info.slots[1].integer) & 0xFFFF;
  if (codePage != 0 && !IsKnownCodePage(codePage)) codePage = 0;
  for (uint32_t id = 0; id < kSummarySlots; ++id) {
    if (info.slots[id].type != kVtLpstr) continue;
    AppendConverted(codePage, reinterpret_cast<const uint8_t*>(raw[id].data()), raw[id].size(),
                    info.slots[id].text);
  }
  return info;
}

}  // namespace msiarc::msidb
