#include "engine/native/msidb/codepage.h"

#include <iconv.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <iterator>
#include <memory>
#include <mutex>

#include "platform/linux/utf.h"

namespace msiarc::msidb {
namespace {

#include "engine/native/msidb/codepage_tables.inc"

constexpr uint32_t kUtf7 = 65000;
constexpr uint32_t kUtf8 = 65001;
constexpr size_t kPageCount = std::size(kCodePages);

const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);

using Units = std::array<char16_t, 256>;

size_t PageIndex(uint32_t cp) {
  const CodePageInfo* page =
      std::lower_bound(std::begin(kCodePages), std::end(kCodePages), cp,
                       [](const CodePageInfo& p, uint32_t key) { return p.codePage < key; });
  if (page == std::end(kCodePages) || page->codePage != cp) return kPageCount;
  return static_cast<size_t>(page - std::begin(kCodePages));
}

// One code page of the table, decoded byte by byte and pair by pair with
// the C library's converter and the page's overrides, each part once: the
// single bytes when the page is first used, a lead byte's row of trails
// when that lead byte first occurs.
class PageDecoder {
 public:
  explicit PageDecoder(const CodePageInfo& info) : info_(info) {
    for (const auto& range : info_.leads) {
      if (range[0] == 0) break;
      for (int b = range[0]; b <= range[1]; ++b) lead_[b] = true;
    }
  }
  ~PageDecoder() {
    if (cd_ != kNoConverter) iconv_close(cd_);
  }
  PageDecoder(const PageDecoder&) = delete;
  PageDecoder& operator=(const PageDecoder&) = delete;

  // False when the page needs a converter the C library does not have.
  bool Start() {
    if (info_.converter != nullptr) {
      cd_ = iconv_open("UTF-16LE", info_.converter);
      if (cd_ == kNoConverter) return false;
    }
    for (int b = 0; b < 256; ++b) {
      char16_t unit = info_.defaultUnit;
      const uint8_t byte = static_cast<uint8_t>(b);
      if (!lead_[b] && !Convert(&byte, 1, &unit)) unit = static_cast<char16_t>(b);
      single_[b] = unit;
    }
    Override(0, &single_);
    return true;
  }

  void Append(const uint8_t* p, size_t n, std::u16string& out) {
    size_t i = 0;
    while (i < n) {
      uint8_t b = p[i];
      if (!lead_[b]) {
        out.push_back(single_[b]);
        i += 1;
      } else if (i + 1 < n && p[i + 1] != 0) {
        // A lead byte takes the byte after it, whatever it is, except NUL.
        out.push_back((*Row(b))[p[i + 1]]);
        i += 2;
      } else {
        out.push_back(info_.defaultUnit);
        i += 1;
      }
    }
  }

 private:
  const Units* Row(uint8_t lead) {
    const Units* row = rows_[lead].load(std::memory_order_acquire);
    if (row != nullptr) return row;
    std::lock_guard<std::mutex> guard(lock_);
    if (owned_[lead] == nullptr) {
      auto units = std::make_unique<Units>();
      for (int t = 0; t < 256; ++t) {
        uint8_t pair[3] = {lead, static_cast<uint8_t>(t), 0};
        size_t size = 2;
        if (info_.jis0212Pairs && lead >= 0xA1 && t < 0x80) {
          pair[0] = 0x8F;
          pair[1] = lead;
          pair[2] = static_cast<uint8_t>(t | 0x80);
          size = 3;
        }
        char16_t unit = info_.defaultUnit;
        if (t == 0 || !Convert(pair, size, &unit)) unit = info_.defaultUnit;
        (*units)[t] = unit;
      }
      Override(lead, units.get());
      owned_[lead] = std::move(units);
      rows_[lead].store(owned_[lead].get(), std::memory_order_release);
    }
    return owned_[lead].get();
  }

  void Override(uint8_t lead, Units* units) const {
    const CodePageOverride* first = kCodePageOverrides + info_.firstOverride;
    for (const CodePageOverride* o = first; o != first + info_.overrideCount; ++o) {
      if (o->lead != lead) continue;
      for (int b = o->first; b <= o->last; ++b) {
        (*units)[b] = static_cast<char16_t>(o->unit + o->step * (b - o->first));
      }
    }
  }

  // One character: all the bytes taken, exactly one unit given. Only under
  // lock_ or before the decoder is published.
  bool Convert(const uint8_t* bytes, size_t count, char16_t* unit) {
    if (cd_ == kNoConverter) return false;
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    char* in = reinterpret_cast<char*>(const_cast<uint8_t*>(bytes));
    size_t inLeft = count;
    char outBytes[8];
    char* outPtr = outBytes;
    size_t outLeft = sizeof outBytes;
    if (iconv(cd_, &in, &inLeft, &outPtr, &outLeft) == static_cast<size_t>(-1) || inLeft != 0) {
      return false;
    }
    // Converters that combine characters hold the last one back.
    if (iconv(cd_, nullptr, nullptr, &outPtr, &outLeft) == static_cast<size_t>(-1)) return false;
    if (sizeof outBytes - outLeft != 2) return false;
    *unit = static_cast<char16_t>(static_cast<uint8_t>(outBytes[0]) |
                                  (static_cast<uint8_t>(outBytes[1]) << 8));
    return true;
  }

  const CodePageInfo& info_;
  iconv_t cd_ = kNoConverter;
  std::array<bool, 256> lead_{};
  Units single_{};
  std::mutex lock_;
  std::array<std::unique_ptr<Units>, 256> owned_;
  std::array<std::atomic<const Units*>, 256> rows_{};
};

// The decoders, one per page of the table, made on first use and kept for
// the life of the process; a page whose converter is missing has none.
class Decoders {
 public:
  PageDecoder* Get(size_t index) {
    if (index >= kPageCount) return nullptr;
    PageDecoder* decoder = published_[index].load(std::memory_order_acquire);
    if (decoder != nullptr || failed_[index].load(std::memory_order_acquire)) return decoder;
    std::lock_guard<std::mutex> guard(lock_);
    if (owned_[index] == nullptr && !failed_[index].load(std::memory_order_relaxed)) {
      auto made = std::make_unique<PageDecoder>(kCodePages[index]);
      if (!made->Start()) {
        failed_[index].store(true, std::memory_order_release);
        return nullptr;
      }
      owned_[index] = std::move(made);
      published_[index].store(owned_[index].get(), std::memory_order_release);
    }
    return owned_[index].get();
  }

 private:
  std::mutex lock_;
  std::array<std::unique_ptr<PageDecoder>, kPageCount> owned_;
  std::array<std::atomic<PageDecoder*>, kPageCount> published_{};
  std::array<std::atomic<bool>, kPageCount> failed_{};
};

PageDecoder* DecoderFor(uint32_t cp) {
  static Decoders decoders;
  return decoders.Get(PageIndex(cp));
}

int Base64Value(uint8_t c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

// UTF-7 as the system decodes it: bytes outside a "+...-" run are units of
// their own value (8-bit ones too); "+-" is a plus sign; a run's bits carry
// over to the next run when a byte of 0x80 or more ends it.
void AppendUtf7(const uint8_t* p, size_t n, std::u16string& out) {
  uint32_t bits = 0;
  int pending = 0;
  size_t i = 0;
  while (i < n) {
    if (p[i] != '+') {
      out.push_back(p[i++]);
      continue;
    }
    if (++i == n) break;
    if (p[i] == '-') {
      out.push_back(u'+');
      ++i;
      continue;
    }
    while (i < n) {
      uint8_t c = p[i];
      if (c == '-') {
        ++i;
        pending = 0;
        break;
      }
      if (c >= 0x80) break;
      int value = Base64Value(c);
      if (value < 0) {
        pending = 0;
        break;
      }
      bits = (bits << 6) | static_cast<uint32_t>(value);
      pending += 6;
      if (pending >= 16) {
        out.push_back(static_cast<char16_t>(bits >> (pending - 16)));
        pending -= 16;
      }
      ++i;
    }
  }
}

}  // namespace

bool IsKnownCodePage(uint32_t codePage) {
  if (codePage == 0 || codePage == kUtf7 || codePage == kUtf8) return true;
  return DecoderFor(codePage) != nullptr;
}

bool AsciiIsItself(uint32_t codePage) {
  if (codePage == 0) codePage = kAnsiCodePage;
  if (codePage == kUtf8) return true;
  if (codePage == kUtf7) return false;
  size_t index = PageIndex(codePage);
  return index == kPageCount || kCodePages[index].asciiSame;
}

void AppendConverted(uint32_t codePage, const uint8_t* bytes, size_t count, std::u16string& out) {
  if (codePage == 0) codePage = kAnsiCodePage;
  if (AsciiIsItself(codePage)) {
    size_t ascii = 0;
    while (ascii < count && bytes[ascii] < 0x80) ++ascii;
    if (ascii == count) {
      out.insert(out.end(), bytes, bytes + count);
      return;
    }
  }
  if (codePage == kUtf8) {
    // One decoder for both: the installer converts its strings with MultiByteToWideChar itself.
    utf::AppendUtf8AsUtf16(bytes, count, out);
  } else if (codePage == kUtf7) {
    AppendUtf7(bytes, count, out);
  } else if (PageDecoder* decoder = DecoderFor(codePage)) {
    decoder->Append(bytes, count, out);
  } else {
    out.insert(out.end(), bytes, bytes + count);  // no conversion known: the bytes' values
  }
}

}  // namespace msiarc::msidb
