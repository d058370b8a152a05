#include "engine/native/msidb/codepage.h"

#include <iconv.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

namespace msiarc::msidb {
namespace {

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

void AppendDoubleByte(uint32_t cp, const uint8_t* p, size_t n, std::u16string& out) {
  thread_local ThreadConverters converters;
  iconv_t cd = converters.Get(cp);
  char16_t fallback = cp == 932 ? 0x30FB : u'?';
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    for (size_t i = 0; i < n; ++i) out.push_back(p[i] < 0x80 ? p[i] : fallback);
    return;
  }
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  size_t base = out.size();
  out.resize(base + n + 1);
  char* inPtr = reinterpret_cast<char*>(const_cast<uint8_t*>(p));
  size_t inLeft = n;
  char* outPtr = reinterpret_cast<char*>(out.data() + base);
  size_t outLeft = (n + 1) * 2;
  while (inLeft != 0) {
    size_t r = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
    if (r != static_cast<size_t>(-1)) break;
    if (errno == E2BIG || outLeft < 2) break;
    // An invalid or cut-short sequence: the default character, one byte on.
    std::memcpy(outPtr, &fallback, 2);
    outPtr += 2;
    outLeft -= 2;
    ++inPtr;
    --inLeft;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  size_t produced = static_cast<size_t>(outPtr - reinterpret_cast<char*>(out.data() + base)) / 2;
  out.resize(base + produced);
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
