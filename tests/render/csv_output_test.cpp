// The CSV output at the byte level, against the system's own conversion:
// generated values (every UTF-8 length, pairs, halves of pairs, quotes)
// written through buffers of many sizes and counted, must give the bytes
// and the count that WideCharToMultiByte and RFC 4180 quoting give.
#include <functional>
#include <random>

#include "render_support.h"

using namespace render_test;

namespace {

// The field as the dialect defines it, with the system's conversion.
std::string Reference(const WString& text, bool separated) {
  std::string field = separated ? ",\"" : "\"";
  for (size_t start = 0; start <= text.size();) {
    size_t quote = text.find(WCHAR('"'), start);
    if (quote == WString::npos) quote = text.size();
    if (quote > start) {
      const int units = static_cast<int>(quote - start);
      const int bytes =
          WideCharToMultiByte(CP_UTF8, 0, text.data() + start, units, nullptr, 0, nullptr, nullptr);
      std::string part(static_cast<size_t>(bytes), '\0');
      WideCharToMultiByte(CP_UTF8, 0, text.data() + start, units, part.data(), bytes, nullptr,
                          nullptr);
      field += part;
    }
    if (quote < text.size()) field += "\"\"";
    start = quote + 1;
  }
  return field + "\"";
}

// Units of every kind: ASCII and quotes, the limits of 2- and 3-byte
// sequences, pairs, and halves of pairs on their own.
WString Generated(std::mt19937& random, size_t length) {
  static const WCHAR kUnits[] = {'a', '"', ',', '\n', 0x7F, 0x80, 0xE9, 0x7FF, 0x800, 0x20AC,
                                 0xD7FF, 0xE000, 0xFFFD, 0xFFFF, 0xD800, 0xDBFF, 0xDC00, 0xDFFF};
  WString text;
  while (text.size() < length) {
    const WCHAR unit = kUnits[random() % (sizeof kUnits / sizeof kUnits[0])];
    text.push_back(unit);
    if (unit >= 0xD800 && unit <= 0xDBFF && random() % 2 == 0) {
      text.push_back(static_cast<WCHAR>(0xDC00 + random() % 0x400));  // a whole pair
    }
  }
  return text;
}

// What `write` puts out, counted and written through buffers of every
// size, must be `expected`; every piece but the last fills at least three
// quarters of a buffer of 4 KiB or more.
void ExpectEveryBuffer(const std::string& expected, const std::function<void(CsvOutput&)>& write) {
  CsvOutput counting;
  write(counting);
  EXPECT_EQ(expected.size(), counting.count());
  for (size_t capacity : {CsvOutput::kMinimumCapacity, size_t{37}, size_t{4096}, kTextPieceBytes}) {
    SCOPED_TRACE(capacity);
    std::vector<BYTE> buffer(capacity);
    Collected collected;
    CsvOutput writing(buffer.data(), capacity, &collected, false);
    write(writing);
    EXPECT_TRUE(writing.Finish());
    EXPECT_EQ(expected.size(), writing.count());
    EXPECT_TRUE(expected == collected.bytes);
    for (size_t p = 0; p + 1 < collected.pieces.size(); ++p) {
      EXPECT_LE(collected.pieces[p], capacity);
      if (capacity >= 4096) {
        EXPECT_GE(collected.pieces[p] * 4, capacity * 3) << p;
      }
    }
  }
}

TEST(CsvOutput, FieldsMatchTheSystemConversionWhateverTheBuffer) {
  std::mt19937 random(23);
  std::vector<WString> values = {WString(), W("\""), W("plain")};
  for (size_t length : {1, 2, 3, 5, 17, 300, 5000, 70000}) {
    for (int k = 0; k < 4; ++k) values.push_back(Generated(random, length));
  }
  std::string expected;
  for (size_t i = 0; i < values.size(); ++i) {
    expected += Reference(values[i], i % 3 != 0);
    EXPECT_EQ(Reference(values[i], false).size() - 2,
              EscapedUtf8Length(values[i].data(), values[i].size()));
  }
  expected += "\"-2147483648\",\"0\"\r\n";
  ExpectEveryBuffer(expected, [&](CsvOutput& out) {
    for (size_t i = 0; i < values.size(); ++i) out.Field(values[i].data(), values[i].size(), i % 3 != 0);
    out.Integer(static_cast<int>(0x80000000u), false);
    out.Integer(0, true);
    out.LineEnd();
  });
}

// ASCII text held as bytes (as the native engine holds most strings) and
// integers at every digit count give the same bytes as the UTF-16 path and
// as "%i", counted or written through any buffer.
TEST(CsvOutput, BytesAndIntegersMatchTheGeneralPaths) {
  std::vector<std::string> texts = {"", "\"", "\"\"", "a\"b", "\"x", "x\"", "plain"};
  std::mt19937 random(5);
  for (size_t length : {40, 5000, 70000}) {
    std::string text;
    while (text.size() < length) text.push_back("ab,\"\n\x7f"[random() % 6]);
    texts.push_back(text);
  }
  std::vector<int> integers = {0, -1, static_cast<int>(0x80000000u), 2147483647};
  for (int64_t nines = 9; nines < 2147483647; nines = nines * 10 + 9) {
    const int value = static_cast<int>(nines);
    integers.insert(integers.end(), {value, value + 1, -value, -value - 1});
  }
  std::string expected;
  for (size_t i = 0; i < texts.size(); ++i) {
    expected += Reference(WString(texts[i].begin(), texts[i].end()), i % 2 != 0);
  }
  for (int value : integers) expected += ",\"" + std::to_string(value) + "\"";
  ExpectEveryBuffer(expected, [&](CsvOutput& out) {
    for (size_t i = 0; i < texts.size(); ++i) {
      out.Field(reinterpret_cast<const uint8_t*>(texts[i].data()), texts[i].size(), i % 2 != 0);
    }
    for (int value : integers) out.Integer(value, true);
  });
}

// A sink that says stop: writing ends there; a sink that keeps only so
// much, with counting asked for, leaves the whole count.
TEST(CsvOutput, StopsOrCountsOnWhenTheSinkRefuses) {
  struct Refusing final : ContentSink {
    size_t calls = 0;
    bool Put(const BYTE*, size_t) override { return ++calls < 2; }
  };
  const WString value(1000, WCHAR('x'));
  for (const bool countOn : {false, true}) {
    BYTE buffer[256];
    Refusing refusing;
    CsvOutput out(buffer, sizeof buffer, &refusing, countOn);
    for (int i = 0; i < 20; ++i) out.Field(value.data(), value.size(), true);
    EXPECT_EQ(countOn, out.Finish());
    EXPECT_EQ(countOn, !out.stopped());
    if (countOn) {
      EXPECT_EQ(20u * 1003u, out.count());
    }
    EXPECT_EQ(2u, refusing.calls);
  }
}

}  // namespace
