// Bounded formatting: the output is the longest prefix that fits, always
// terminated, and nothing is written past the capacity.
#include <gtest/gtest.h>

#include <array>

#include "text/text.h"

namespace {

constexpr WCHAR kSentinel = 0x7E7E;

// A buffer whose units past `capacity` must stay untouched.
template <size_t N>
struct Guarded {
  std::array<WCHAR, N> units;
  Guarded() { units.fill(kSentinel); }
  WCHAR* data() { return units.data(); }
  bool UntouchedFrom(size_t index) const {
    for (size_t i = index; i < N; ++i) {
      if (units[i] != kSentinel) return false;
    }
    return true;
  }
};

TEST(FormatToBuffer, FormatsTheConversionsTheSystemUses) {
  WCHAR buffer[64];
  EXPECT_EQ(kFormatOk, FormatToBuffer(buffer, 64, WTEXT("%s\\%s.%i|%03u|%03u|%%"),
                                      WTEXT("Binary"), WTEXT("Key"), -12, 7u,
                                      1234u));
  EXPECT_EQ(WString(WTEXT("Binary\\Key.-12|007|1234|%")), WString(buffer));
}

TEST(FormatToBuffer, InvalidCapacityWritesNothing) {
  Guarded<4> buffer;
  EXPECT_EQ(kFormatInvalidParameter, FormatToBuffer(buffer.data(), 0, WTEXT("x")));
  EXPECT_EQ(kFormatInvalidParameter,
            FormatToBuffer(buffer.data(), size_t{0x80000000}, WTEXT("x")));
  EXPECT_TRUE(buffer.UntouchedFrom(0));
}

TEST(FormatToBuffer, CapacityOneHoldsOnlyTheTerminator) {
  Guarded<4> buffer;
  EXPECT_EQ(kFormatTruncated, FormatToBuffer(buffer.data(), 1, WTEXT("a")));
  EXPECT_EQ(0, buffer.units[0]);
  EXPECT_TRUE(buffer.UntouchedFrom(1));

  Guarded<4> empty;
  EXPECT_EQ(kFormatOk, FormatToBuffer(empty.data(), 1, WTEXT("%s"), WTEXT("")));
  EXPECT_EQ(0, empty.units[0]);
  EXPECT_TRUE(empty.UntouchedFrom(1));
}

TEST(FormatToBuffer, ExactFitAndOneUnitMore) {
  Guarded<8> exact;
  EXPECT_EQ(kFormatOk, FormatToBuffer(exact.data(), 5, WTEXT("%s"), WTEXT("abcd")));
  EXPECT_EQ(WString(WTEXT("abcd")), WString(exact.data()));
  EXPECT_TRUE(exact.UntouchedFrom(5));

  Guarded<8> over;
  EXPECT_EQ(kFormatTruncated,
            FormatToBuffer(over.data(), 5, WTEXT("%s"), WTEXT("abcde")));
  EXPECT_EQ(WString(WTEXT("abcd")), WString(over.data()));
  EXPECT_TRUE(over.UntouchedFrom(5));

  // Truncation inside a padded number keeps the prefix.
  Guarded<8> number;
  EXPECT_EQ(kFormatTruncated, FormatToBuffer(number.data(), 3, WTEXT("%03u"), 5u));
  EXPECT_EQ(WString(WTEXT("00")), WString(number.data()));
}

TEST(FormatToBufferEx, ReportsTheTerminatorAndTheRoomLeft) {
  WCHAR buffer[10];
  WCHAR* end = nullptr;
  size_t remaining = 0;
  EXPECT_EQ(kFormatOk, FormatToBufferEx(buffer, 10, &end, &remaining,
                                        WTEXT("%i"), 123));
  EXPECT_EQ(buffer + 3, end);
  EXPECT_EQ(0, *end);
  EXPECT_EQ(7u, remaining);

  // Exact fit: the terminator is in the last unit.
  EXPECT_EQ(kFormatOk, FormatToBufferEx(buffer, 4, &end, &remaining,
                                        WTEXT("%i"), 123));
  EXPECT_EQ(buffer + 3, end);
  EXPECT_EQ(1u, remaining);

  EXPECT_EQ(kFormatTruncated, FormatToBufferEx(buffer, 4, &end, &remaining,
                                               WTEXT("%s"), WTEXT("abcdef")));
  EXPECT_EQ(buffer + 3, end);
  EXPECT_EQ(0, *end);
  EXPECT_EQ(1u, remaining);

  // Either output may be left out.
  EXPECT_EQ(kFormatOk, FormatToBufferEx(buffer, 10, nullptr, &remaining, WTEXT("ab")));
  EXPECT_EQ(8u, remaining);
  EXPECT_EQ(kFormatOk, FormatToBufferEx(buffer, 10, &end, nullptr, WTEXT("ab")));
  EXPECT_EQ(buffer + 2, end);
}

TEST(FormatToBufferEx, InvalidCapacitySetsNeitherOutput) {
  WCHAR buffer[2] = {kSentinel, kSentinel};
  WCHAR* end = buffer + 1;
  size_t remaining = 99;
  EXPECT_EQ(kFormatInvalidParameter,
            FormatToBufferEx(buffer, 0, &end, &remaining, WTEXT("x")));
  EXPECT_EQ(buffer + 1, end);
  EXPECT_EQ(99u, remaining);
  EXPECT_EQ(kSentinel, buffer[0]);
}

// The platform formatter's own contract, which the above relies on: a
// negative result and no terminator when the text does not fit; the count
// and no terminator when it fits exactly.
int CallFormatter(WCHAR* out, size_t count, const WCHAR* format, ...) {
  va_list args;
  va_start(args, format);
  const int r = _vsnwprintf(out, count, format, args);
  va_end(args);
  return r;
}

TEST(PlatformFormatter, OverflowContract) {
  Guarded<8> over;
  EXPECT_LT(CallFormatter(over.data(), 3, WTEXT("%s"), WTEXT("abcd")), 0);
  EXPECT_EQ(WString(WTEXT("abc")), WString(over.data(), 3));
  EXPECT_TRUE(over.UntouchedFrom(3));

  Guarded<8> exact;
  EXPECT_EQ(3, CallFormatter(exact.data(), 3, WTEXT("%s"), WTEXT("abc")));
  EXPECT_TRUE(exact.UntouchedFrom(3));

  Guarded<8> room;
  EXPECT_EQ(2, CallFormatter(room.data(), 3, WTEXT("%s"), WTEXT("ab")));
  EXPECT_EQ(0, room.units[2]);
  EXPECT_TRUE(room.UntouchedFrom(3));
}

TEST(PlatformFormatter, WidthAndPadding) {
  WCHAR out[64];
  CallFormatter(out, 64, WTEXT("[%03u][%5i][%-4i][%05i][%3s]"), 42u, -7, 3, -42,
                WTEXT("x"));
  EXPECT_EQ(WString(WTEXT("[042][   -7][3   ][-0042][  x]")), WString(out));
  CallFormatter(out, 64, WTEXT("%i %u %i"), 2147483647, 4294967295u,
                static_cast<int>(0x80000000u));
  EXPECT_EQ(WString(WTEXT("2147483647 4294967295 -2147483648")), WString(out));
}

}  // namespace
