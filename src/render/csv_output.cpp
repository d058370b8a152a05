// The CSV dialect at the byte level: UTF-8 with a byte-order mark, every
// field in double quotes, fields separated by one comma, every line ended by
// CR LF. A double quote inside a value is written as two (RFC 4180), so that
// every standard CSV reader finds the fields; commas and line breaks stay as
// they are, inside the field's quotes.
//
// Text is converted here rather than by WideCharToMultiByte: a table can
// have millions of cells, and the conversion is the same (an unpaired
// surrogate becomes U+FFFD, as WideCharToMultiByte(CP_UTF8, 0) writes it).
#include <cstring>

#include "render/render.h"

namespace {

bool IsHigh(uint32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLow(WCHAR c) { return c >= 0xDC00 && c <= 0xDFFF; }

// A unit gives at most 3 bytes of UTF-8 (a pair gives 4 for its two), a
// quote 2.
constexpr size_t kWorstBytesPerUnit = 3;

constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

}  // namespace

size_t EscapedUtf8Length(const WCHAR* text, size_t length) {
  size_t bytes = 0;
  for (size_t i = 0; i < length; ++i) {
    const WCHAR c = text[i];
    if (c < 0x80) {
      bytes += c == '"' ? 2 : 1;
    } else if (c < 0x800) {
      bytes += 2;
    } else if (IsHigh(c) && i + 1 < length && IsLow(text[i + 1])) {
      bytes += 4;
      ++i;
    } else {
      bytes += 3;  // a unit of the basic plane, or U+FFFD for a lone half
    }
  }
  return bytes;
}

size_t PutEscapedUtf8(const WCHAR* text, size_t length, BYTE* out) {
  BYTE* p = out;
  for (size_t i = 0; i < length; ++i) {
    uint32_t c = text[i];
    if (c < 0x80) {
      *p++ = static_cast<BYTE>(c);
      if (c == '"') *p++ = '"';
      continue;
    }
    if (c < 0x800) {
      *p++ = static_cast<BYTE>(0xC0 | (c >> 6));
      *p++ = static_cast<BYTE>(0x80 | (c & 0x3F));
      continue;
    }
    if (IsHigh(static_cast<WCHAR>(c)) && i + 1 < length && IsLow(text[i + 1])) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00u);
      *p++ = static_cast<BYTE>(0xF0 | (c >> 18));
      *p++ = static_cast<BYTE>(0x80 | ((c >> 12) & 0x3F));
      *p++ = static_cast<BYTE>(0x80 | ((c >> 6) & 0x3F));
      *p++ = static_cast<BYTE>(0x80 | (c & 0x3F));
      continue;
    }
    if (c >= 0xD800 && c <= 0xDFFF) c = 0xFFFD;
    *p++ = static_cast<BYTE>(0xE0 | (c >> 12));
    *p++ = static_cast<BYTE>(0x80 | ((c >> 6) & 0x3F));
    *p++ = static_cast<BYTE>(0x80 | (c & 0x3F));
  }
  return static_cast<size_t>(p - out);
}

size_t EscapedUtf8Length(const uint8_t* text, size_t length) {
  size_t bytes = length;
  const uint8_t* end = text + length;
  for (const uint8_t* p = text;
       (p = static_cast<const uint8_t*>(std::memchr(p, '"', static_cast<size_t>(end - p)))) != nullptr;
       ++p) {
    ++bytes;
  }
  return bytes;
}

size_t PutEscapedUtf8(const uint8_t* text, size_t length, BYTE* out) {
  BYTE* p = out;
  const uint8_t* end = text + length;
  for (;;) {
    const auto* quote =
        static_cast<const uint8_t*>(std::memchr(text, '"', static_cast<size_t>(end - text)));
    const size_t run = static_cast<size_t>((quote != nullptr ? quote + 1 : end) - text);
    std::memcpy(p, text, run);
    p += run;
    if (quote == nullptr) break;
    *p++ = '"';
    text = quote + 1;
  }
  return static_cast<size_t>(p - out);
}

size_t IntegerTextLength(int value) {
  const uint32_t magnitude =
      value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
  size_t digits = 1;
  for (uint32_t bound = 10; digits < 10 && magnitude >= bound; bound *= 10) ++digits;
  return digits + (value < 0 ? 1 : 0);
}

void CsvOutput::Flush() {
  if (used_ == 0) return;
  const size_t handed = used_;
  used_ = 0;
  done_ += handed;
  if (sink_->Put(buffer_, handed)) return;
  if (countWhenStopped_) {
    buffer_ = nullptr;  // counting from here on
  } else {
    stopped_ = true;
  }
}

bool CsvOutput::Room(size_t bytes) {
  if (capacity_ - used_ < bytes) Flush();
  return buffer_ != nullptr && !stopped_;
}

bool CsvOutput::Finish() {
  if (buffer_ != nullptr && !stopped_) Flush();
  return !stopped_;
}

void CsvOutput::Literal(const BYTE* bytes, size_t count) {
  if (buffer_ == nullptr || !Room(count)) {
    done_ += count;
    return;
  }
  for (size_t i = 0; i < count; ++i) Put(bytes[i]);
}

void CsvOutput::ByteOrderMark() {
  static constexpr BYTE kMark[] = {0xEF, 0xBB, 0xBF};
  Literal(kMark, sizeof kMark);
}

void CsvOutput::LineEnd() {
  static constexpr BYTE kEnd[] = {0x0D, 0x0A};
  Literal(kEnd, sizeof kEnd);
}

void CsvOutput::Integer(int value, bool separated) {
  const size_t digits = IntegerTextLength(value);
  const size_t bytes = digits + 2 + (separated ? 1 : 0);
  if (buffer_ == nullptr || !Room(bytes)) {
    done_ += bytes;
    return;
  }
  if (separated) Put(',');
  Put('"');
  uint32_t magnitude = value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
  if (value < 0) Put('-');
  BYTE* end = buffer_ + used_ + (value < 0 ? digits - 1 : digits);
  used_ += value < 0 ? digits - 1 : digits;
  while (magnitude >= 100) {
    const uint32_t pair = magnitude % 100 * 2;
    magnitude /= 100;
    *--end = static_cast<BYTE>(kDigitPairs[pair + 1]);
    *--end = static_cast<BYTE>(kDigitPairs[pair]);
  }
  if (magnitude >= 10) {
    *--end = static_cast<BYTE>(kDigitPairs[magnitude * 2 + 1]);
    *--end = static_cast<BYTE>(kDigitPairs[magnitude * 2]);
  } else {
    *--end = static_cast<BYTE>('0' + magnitude);
  }
  Put('"');
}

template <typename Unit>
void CsvOutput::Field(const Unit* text, size_t length, bool separated) {
  const size_t frame = 2 + (separated ? 1 : 0);
  if (buffer_ == nullptr) {
    done_ += EscapedUtf8Length(text, length) + frame;
    return;
  }
  // Short enough for its worst case to fit at once: no unit-by-unit checks.
  // (A quarter of the buffer at most, so that what is flushed to make room
  // is never a small piece.)
  if (length <= capacity_ / 4 / kWorstBytesPerUnit) {
    if (!Room(length * kWorstBytesPerUnit + frame)) {
      done_ += EscapedUtf8Length(text, length) + frame;
      return;
    }
    if (separated) Put(',');
    Put('"');
    used_ += PutEscapedUtf8(text, length, buffer_ + used_);
    Put('"');
    return;
  }
  if (separated) {
    if (!Room(1)) {
      done_ += EscapedUtf8Length(text, length) + frame;
      return;
    }
    Put(',');
  }
  if (!Room(1)) {
    done_ += EscapedUtf8Length(text, length) + 2;
    return;
  }
  Put('"');
  SlowText(text, length);
  if (!Room(1)) {
    done_ += 1;
    return;
  }
  Put('"');
}

// A value longer than the buffer: converted in slices that end between two
// characters, each flushed as the buffer fills.
template <typename Unit>
void CsvOutput::SlowText(const Unit* text, size_t length) {
  // At most 3 KiB of UTF-8 a slice, and a quarter of the buffer at most
  // (two units at least: a pair is never split).
  size_t slice = capacity_ / 4 / kWorstBytesPerUnit < 1024 ? capacity_ / 4 / kWorstBytesPerUnit : 1024;
  if (slice < 2) slice = 2;
  size_t i = 0;
  while (i < length) {
    size_t n = length - i < slice ? length - i : slice;
    if (i + n < length && IsHigh(text[i + n - 1])) --n;
    if (buffer_ == nullptr || !Room(n * kWorstBytesPerUnit)) {
      done_ += EscapedUtf8Length(text + i, length - i);
      return;
    }
    used_ += PutEscapedUtf8(text + i, n, buffer_ + used_);
    i += n;
  }
}

template void CsvOutput::Field(const WCHAR* text, size_t length, bool separated);
template void CsvOutput::Field(const uint8_t* text, size_t length, bool separated);
