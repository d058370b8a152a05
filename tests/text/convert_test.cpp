// Conversion holders: short strings inline, longer ones on the heap, the
// reported length includes the terminator.
#include <gtest/gtest.h>

#include <string>

#include "text/text.h"

namespace {

TEST(AnsiToWide, NullAndEmptySources) {
  WideBuffer holder;
  AnsiToWide(&holder, nullptr);
  EXPECT_EQ(nullptr, holder.text);
  EXPECT_EQ(0, holder.length);
  FreeWideBuffer(&holder);

  AnsiToWide(&holder, "");
  EXPECT_EQ(holder.inlineText, holder.text);
  EXPECT_EQ(1, holder.length);
  EXPECT_EQ(0, holder.text[0]);
  FreeWideBuffer(&holder);
  EXPECT_EQ(nullptr, holder.text);
  EXPECT_EQ(0, holder.length);
}

TEST(AnsiToWide, InlineUpTo126CharactersThenHeap) {
  const std::string inlineMost(126, 'a');
  WideBuffer holder;
  AnsiToWide(&holder, inlineMost.c_str());
  EXPECT_EQ(holder.inlineText, holder.text);
  EXPECT_EQ(127, holder.length);
  EXPECT_EQ(WString(126, WTEXT('a')), WString(holder.text));
  EXPECT_EQ(0, holder.text[127]);  // the second terminator
  FreeWideBuffer(&holder);

  const std::string heapLeast(127, 'b');
  AnsiToWide(&holder, heapLeast.c_str());
  EXPECT_NE(holder.inlineText, holder.text);
  EXPECT_EQ(128, holder.length);
  EXPECT_EQ(WString(127, WTEXT('b')), WString(holder.text));
  EXPECT_EQ(0, holder.text[128]);
  FreeWideBuffer(&holder);
  EXPECT_EQ(nullptr, holder.text);

  const std::string big(5000, 'c');
  AnsiToWide(&holder, big.c_str());
  EXPECT_EQ(5001, holder.length);
  EXPECT_EQ(WString(5000, WTEXT('c')), WString(holder.text));
  FreeWideBuffer(&holder);
}

TEST(MultiByteToWideBuffer, Utf8WithSurrogatePairsAndInvalidBytes) {
  WideBuffer holder;
  // "é€😀" then an invalid byte.
  MultiByteToWideBuffer(&holder, CP_UTF8, "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xFF");
  const WCHAR expected[] = {0x00E9, 0x20AC, 0xD83D, 0xDE00, 0xFFFD, 0};
  EXPECT_EQ(6, holder.length);
  EXPECT_EQ(WString(expected), WString(holder.text));
  FreeWideBuffer(&holder);

  // Heap boundary counts UTF-16 units, not bytes: 63 two-byte characters
  // are 126 bytes but 63 units.
  std::string accents;
  for (int i = 0; i < 200; ++i) accents += "\xC3\xA9";
  MultiByteToWideBuffer(&holder, CP_UTF8, accents.c_str());
  EXPECT_EQ(201, holder.length);
  EXPECT_EQ(WString(200, WCHAR(0xE9)), WString(holder.text));
  FreeWideBuffer(&holder);
}

TEST(WideToAnsi, InlineBoundaryAndNull) {
  NarrowBuffer holder;
  WideToAnsi(&holder, nullptr);
  EXPECT_EQ(nullptr, holder.text);
  EXPECT_EQ(0, holder.length);

  const WString inlineMost(126, WTEXT('x'));
  WideToAnsi(&holder, inlineMost.c_str());
  EXPECT_EQ(holder.inlineText, holder.text);
  EXPECT_EQ(127, holder.length);
  EXPECT_EQ(std::string(126, 'x'), std::string(holder.text));
  FreeNarrowBuffer(&holder);

  const WString heapLeast(127, WTEXT('y'));
  WideToAnsi(&holder, heapLeast.c_str());
  EXPECT_NE(holder.inlineText, holder.text);
  EXPECT_EQ(128, holder.length);
  EXPECT_EQ(std::string(127, 'y'), std::string(holder.text));
  FreeNarrowBuffer(&holder);
  EXPECT_EQ(nullptr, holder.text);
  EXPECT_EQ(0, holder.length);
}

}  // namespace
