#include "engine/native/msidb/codepage.h"

#include <iconv.h>

#include <algorithm>
#include <array>
#include <iterator>
#include <utility>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

namespace msiarc::msidb {
namespace {

#include "engine/native/msidb/codepage_tables.inc"

bool IsDoubleByte(uint32_t cp) { return cp == 932 || cp == 936 || cp == 949 || cp == 950; }

std::string IconvName(uint32_t cp) {
  char name[16];
  std::snprintf(name, sizeof name, "CP%u", cp);
  return name;
}

using ByteTable = std::array<char16_t, 256>;

// One table per single-byte code page, built once from the C library's
// converter, byte by byte (so no composition across bytes happens). Bytes the
// code page leaves undefined map to the control character of the same value.
const ByteTable* SingleByteTable(uint32_t cp) {
  for (const SingleByteCodePage& page : kSingleBytePages) {
    if (page.codePage == cp) return reinterpret_cast<const ByteTable*>(&page.units);
  }
  static std::mutex lock;
  static std::map<uint32_t, std::unique_ptr<ByteTable>> tables;
  std::lock_guard<std::mutex> guard(lock);
  auto found = tables.find(cp);
  if (found != tables.end()) return found->second.get();
  iconv_t cd = iconv_open("UTF-16LE", IconvName(cp).c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    tables.emplace(cp, nullptr);
    return nullptr;
  }
  auto table = std::make_unique<ByteTable>();
  for (int b = 0; b < 256; ++b) {
    char in = static_cast<char>(b);
    char outBytes[8];
    char* inPtr = &in;
    size_t inLeft = 1;
    char* outPtr = outBytes;
    size_t outLeft = sizeof outBytes;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    size_t r = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
    if (r != static_cast<size_t>(-1) && sizeof outBytes - outLeft == 2) {
      (*table)[b] = static_cast<char16_t>(static_cast<uint8_t>(outBytes[0]) |
                                          (static_cast<uint8_t>(outBytes[1]) << 8));
    } else {
      (*table)[b] = static_cast<char16_t>(b);
    }
  }
  iconv_close(cd);
  const ByteTable* result = table.get();
  tables.emplace(cp, std::move(table));
  return result;
}

void AppendUtf8(const uint8_t* p, size_t n, std::u16string& out) {
  size_t i = 0;
  while (i < n) {
    uint8_t b = p[i];
    if (b < 0x80) {
      out.push_back(b);
      ++i;
      continue;
    }
    uint32_t cp = 0;
    size_t need = 0;
    uint8_t lo = 0x80, hi = 0xBF;
    if (b >= 0xC2 && b <= 0xDF) {
      need = 1;
      cp = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
      need = 2;
      cp = b & 0x0F;
      if (b == 0xE0) lo = 0xA0;
      if (b == 0xED) hi = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
      need = 3;
      cp = b & 0x07;
      if (b == 0xF0) lo = 0x90;
      if (b == 0xF4) hi = 0x8F;
    } else {
      out.push_back(0xFFFD);
      ++i;
      continue;
    }
    size_t k = 1;
    for (; k <= need; ++k) {
      if (i + k >= n) break;
      uint8_t c = p[i + k];
      if (c < lo || c > hi) break;
      lo = 0x80;
      hi = 0xBF;
      cp = (cp << 6) | (c & 0x3F);
    }
    if (k <= need) {  // an incomplete or invalid sequence: one replacement
      out.push_back(0xFFFD);
      i += k;
      continue;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
    i += need + 1;
  }
}

struct ThreadConverters {
  std::map<uint32_t, iconv_t> open;
  ~ThreadConverters() {
    for (auto& entry : open) {
      if (entry.second != reinterpret_cast<iconv_t>(-1)) iconv_close(entry.second);
    }
  }
  iconv_t Get(uint32_t cp) {
    auto found = open.find(cp);
    if (found != open.end()) return found->second;
    iconv_t cd = iconv_open("UTF-16LE", IconvName(cp).c_str());
    open.emplace(cp, cd);
    return cd;
  }
};

bool IsLeadByte(uint32_t cp, uint8_t b) {
  if (cp == 932) return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
  return b >= 0x81 && b <= 0xFE;
}

// Bytes that stand alone and that the C library's tables leave out.
bool SingleByteOverride(uint32_t cp, uint8_t b, char16_t* unit) {
  struct Entry {
    uint16_t cp;
    uint8_t byte;
    char16_t unit;
  };
  static constexpr Entry kEntries[] = {
      {932, 0x80, 0x0080}, {932, 0xA0, 0xF8F0}, {932, 0xFD, 0xF8F1}, {932, 0xFE, 0xF8F2},
      {932, 0xFF, 0xF8F3}, {936, 0xFF, 0xF8F5}, {949, 0x80, 0x0080}, {949, 0xFF, 0xF8F7},
      {950, 0xFF, 0xF8F8}};
  for (const Entry& e : kEntries) {
    if (e.cp == cp && e.byte == b) {
      *unit = e.unit;
      return true;
    }
  }
  return false;
}

bool UserDefinedPair(uint32_t cp, uint8_t lead, uint8_t trail, char16_t* unit) {
  // The runs are sorted by code page, then lead byte.
  const DoubleByteRun* run = std::lower_bound(
      std::begin(kDoubleByteRuns), std::end(kDoubleByteRuns), std::pair<uint32_t, uint8_t>(cp, lead),
      [](const DoubleByteRun& r, const std::pair<uint32_t, uint8_t>& key) {
        return r.codePage < key.first || (r.codePage == key.first && r.lead < key.second);
      });
  for (; run != std::end(kDoubleByteRuns) && run->codePage == cp && run->lead == lead; ++run) {
    if (trail >= run->firstTrail && trail <= run->lastTrail) {
      *unit = static_cast<char16_t>(run->firstUnit + (trail - run->firstTrail));
      return true;
    }
  }
  return false;
}

// Converts one character of 1 or 2 bytes; false if the C library cannot.
bool ConvertOne(iconv_t cd, const uint8_t* p, size_t n, char16_t* unit) {
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  char* inPtr = reinterpret_cast<char*>(const_cast<uint8_t*>(p));
  size_t inLeft = n;
  char outBytes[8];
  char* outPtr = outBytes;
  size_t outLeft = sizeof outBytes;
  if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<size_t>(-1)) return false;
  if (inLeft != 0 || sizeof outBytes - outLeft != 2) return false;
  *unit = static_cast<char16_t>(static_cast<uint8_t>(outBytes[0]) | (static_cast<uint8_t>(outBytes[1]) << 8));
  return true;
}

// A lead byte always takes the byte after it; a pair with no character, or
// a lead byte at the end, gives the code page's default character.
void AppendDoubleByte(uint32_t cp, const uint8_t* p, size_t n, std::u16string& out) {
  thread_local ThreadConverters converters;
  iconv_t cd = converters.Get(cp);
  bool usable = cd != reinterpret_cast<iconv_t>(-1);
  char16_t fallback = cp == 932 ? 0x30FB : u'?';
  size_t i = 0;
  while (i < n) {
    uint8_t b = p[i];
    char16_t unit = fallback;
    if (b < 0x80) {
      unit = b;
      i += 1;
    } else if (SingleByteOverride(cp, b, &unit)) {
      i += 1;
    } else if (IsLeadByte(cp, b)) {
      if (i + 1 < n && !UserDefinedPair(cp, b, p[i + 1], &unit) &&
          (!usable || !ConvertOne(cd, p + i, 2, &unit))) {
        unit = fallback;
      }
      i += i + 1 < n ? 2 : 1;
    } else {
      if (!usable || !ConvertOne(cd, p + i, 1, &unit)) unit = fallback;
      i += 1;
    }
    out.push_back(unit);
  }
}

}  // namespace

bool IsKnownCodePage(uint32_t codePage) {
  if (codePage == 0 || codePage == 65001) return true;
  if (IsDoubleByte(codePage)) {
    iconv_t cd = iconv_open("UTF-16LE", IconvName(codePage).c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    iconv_close(cd);
    return true;
  }
  return SingleByteTable(codePage) != nullptr;
}

void AppendConverted(uint32_t codePage, const uint8_t* bytes, size_t count, std::u16string& out) {
  size_t ascii = 0;
  while (ascii < count && bytes[ascii] < 0x80) ++ascii;
  if (ascii == count) {
    size_t base = out.size();
    out.resize(base + count);
    char16_t* dest = out.data() + base;
    for (size_t i = 0; i < count; ++i) dest[i] = bytes[i];
    return;
  }
  if (codePage == 0) codePage = kAnsiCodePage;
  if (codePage == 65001) {
    AppendUtf8(bytes, count, out);
  } else if (IsDoubleByte(codePage)) {
    AppendDoubleByte(codePage, bytes, count, out);
  } else {
    const ByteTable* table = SingleByteTable(codePage);
    size_t base = out.size();
    out.resize(base + count);
    for (size_t i = 0; i < count; ++i) {
      out[base + i] = table != nullptr ? (*table)[bytes[i]] : static_cast<char16_t>(bytes[i]);
    }
  }
}

}  // namespace msiarc::msidb
