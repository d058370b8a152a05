// The compound file and the database layer under damaged and unusual input.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "engine/native/db_builder.h"
#include "engine/native/msidb/codepage.h"
#include "engine/native/msidb/query.h"
#include "engine/native/msidb/summary.h"
#include "platform/win32.h"

namespace msiarc::testing {
namespace {

using cfb::CompoundFile;
using cfb::Status;

Status OpenBytes(const Bytes& bytes, std::unique_ptr<CompoundFile>* out) {
  return CompoundFile::Open(cfb::CopyBytes(bytes.data(), bytes.size()), out);
}

Bytes Pattern(size_t size) {
  Bytes b(size);
  for (size_t i = 0; i < size; ++i) b[i] = static_cast<uint8_t>(i * 7 + 3);
  return b;
}

TEST(CompoundFile, ReadsBigAndMiniStreamsExactly) {
  CfbBuilder builder;
  builder.Stream(u"big", Pattern(10000));
  builder.Stream(u"small", Pattern(100));
  builder.Stream(u"empty", {});
  builder.Storage(u"sub");
  Bytes file = builder.Build();
  std::unique_ptr<CompoundFile> cf;
  ASSERT_EQ(OpenBytes(file, &cf), Status::Ok);
  for (auto [name, size] : {std::pair{u"big", 10000}, {u"small", 100}, {u"empty", 0}}) {
    int64_t id = cf->FindChild(name);
    ASSERT_GE(id, 0);
    Bytes got;
    ASSERT_EQ(cf->ReadAll(static_cast<uint32_t>(id), &got), Status::Ok);
    EXPECT_EQ(got, Pattern(static_cast<size_t>(size)));
  }
  // Enumeration order: shorter names first, then case-insensitively.
  std::vector<std::u16string> names;
  for (uint32_t id : cf->RootChildren()) names.emplace_back(cf->Entry(id).name);
  EXPECT_EQ(names, (std::vector<std::u16string>{u"big", u"sub", u"empty", u"small"}));
}

TEST(CompoundFile, RefusesLoopsAndWildLinks) {
  CfbBuilder builder;
  builder.Stream(u"big", Pattern(5000));
  Bytes good = builder.Build();
  uint32_t start = builder.startSector[u"big"];

  // The stream's second sector points back at its first.
  Bytes looped = good;
  Put32(looped, builder.fatOffset + 4 * (start + 1), start);
  std::unique_ptr<CompoundFile> cf;
  ASSERT_EQ(OpenBytes(looped, &cf), Status::Ok);
  Bytes out;
  EXPECT_EQ(cf->ReadAll(static_cast<uint32_t>(cf->FindChild(u"big")), &out), Status::Corrupt);

  // A chain that leaves the file.
  Bytes wild = good;
  Put32(wild, builder.fatOffset + 4 * start, 0x00FFFFFF);
  ASSERT_EQ(OpenBytes(wild, &cf), Status::Ok);
  EXPECT_EQ(cf->ReadAll(static_cast<uint32_t>(cf->FindChild(u"big")), &out), Status::Corrupt);

  // A bad name length in an entry the tree never reaches is ignored.
  Bytes stray = good;
  stray[builder.directoryOffset + 3 * 128 + 0x42] = 2;
  Put16(stray, builder.directoryOffset + 3 * 128 + 0x40, 65);
  EXPECT_EQ(OpenBytes(stray, &cf), Status::Ok);
}

// Every check that fails an open, each with its reason.
TEST(CompoundFile, OpeningFailsWithItsReason) {
  CfbBuilder builder;
  builder.Stream(u"big", Pattern(60000));  // more sectors than the header names FAT sectors
  builder.Stream(u"small", Pattern(100));
  const Bytes good = builder.Build();
  const size_t dir = builder.directoryOffset;
  const auto dirSector = static_cast<uint32_t>(dir / 512 - 1);
  const size_t fat = builder.fatOffset;
  struct Case {
    const char* why;
    Status status;
    std::function<void(Bytes&)> damage;
  };
  const Case cases[] = {
      {nullptr, Status::Ok, [](Bytes&) {}},
      {"shorter than a header", Status::NotCompound, [](Bytes& b) { b.resize(100); }},
      {"no signature", Status::NotCompound, [](Bytes& b) { b.assign(600, 0x41); }},
      {"byte order mark", Status::Corrupt, [](Bytes& b) { Put16(b, 0x1C, 0xFEFF); }},
      {"sector size", Status::Corrupt, [](Bytes& b) { Put16(b, 0x1E, 10); }},
      {"mini sector size", Status::Corrupt, [](Bytes& b) { Put16(b, 0x20, 7); }},
      {"mini stream cutoff", Status::Corrupt, [](Bytes& b) { Put32(b, 0x38, 4095); }},
      {"more FAT sectors than the file has", Status::Corrupt, [](Bytes& b) { Put32(b, 0x2C, 100000); }},
      {"DIFAT chain ends before the FAT", Status::Corrupt, [](Bytes& b) { Put32(b, 0x2C, 110); }},
      {"DIFAT longer than its count", Status::Corrupt,
       [](Bytes& b) {
         Put32(b, 0x2C, 110);
         Put32(b, 0x44, 3);
       }},
      {"FAT sector number out of range", Status::Corrupt, [](Bytes& b) { Put32(b, 0x4C, 0xFFFFFFFB); }},
      {"directory chain", Status::Corrupt, [&](Bytes& b) { Put32(b, fat + 4 * dirSector, dirSector); }},
      {"first directory entry is not the root", Status::Corrupt, [&](Bytes& b) { b[dir + 0x42] = 1; }},
      {"mini stream chain", Status::Corrupt, [&](Bytes& b) { Put32(b, dir + 0x74, 0xFFFFFFFE); }},
      {"mini FAT chain", Status::Corrupt, [](Bytes& b) { Put32(b, 0x3C, 100000); }},
      {"directory link out of range", Status::Corrupt, [&](Bytes& b) { Put32(b, dir + 0x4C, 1000); }},
      {"directory tree loops", Status::Corrupt, [&](Bytes& b) { Put32(b, dir + 128 + 0x48, 1); }},
      {"directory tree reaches a damaged entry", Status::Corrupt,
       [&](Bytes& b) { Put16(b, dir + 128 + 0x40, 65); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why != nullptr ? c.why : "intact");
    Bytes file = good;
    c.damage(file);
    std::unique_ptr<CompoundFile> cf;
    const char* why = "unset";
    EXPECT_EQ(CompoundFile::Open(cfb::CopyBytes(file.data(), file.size()), &cf, &why), c.status);
    EXPECT_EQ(cf != nullptr, c.status == Status::Ok);
    if (c.why == nullptr) {
      EXPECT_EQ(why, nullptr);
    } else {
      EXPECT_STREQ(why, c.why);
    }
  }
  const char* why = nullptr;
  std::unique_ptr<CompoundFile> cf;
  EXPECT_EQ(CompoundFile::Open(nullptr, &cf, &why), Status::NotCompound);
  EXPECT_STREQ(why, "no file");
}

TEST(CompoundFile, FileCutShortInItsLastSectorReadsZeros) {
  CfbBuilder builder;
  builder.Stream(u"big", Pattern(6000));  // the last sector holds 368 bytes of it
  Bytes file = builder.Build();
  Bytes cut(file.begin(), file.end() - 200);
  std::unique_ptr<CompoundFile> cf;
  ASSERT_EQ(OpenBytes(cut, &cf), Status::Ok);
  Bytes got;
  ASSERT_EQ(cf->ReadAll(static_cast<uint32_t>(cf->FindChild(u"big")), &got), Status::Ok);
  Bytes expected = Pattern(6000);
  std::fill(expected.begin() + 5944, expected.end(), 0);
  EXPECT_EQ(got, expected);

  // A last sector missing altogether fails the stream.
  Bytes shorter(file.begin(), file.end() - 600);
  ASSERT_EQ(OpenBytes(shorter, &cf), Status::Ok);
  EXPECT_EQ(cf->ReadAll(static_cast<uint32_t>(cf->FindChild(u"big")), &got), Status::Corrupt);

  // Cut inside the chain (of a file that could still hold the stream): 6
  // whole sectors and 72 bytes of the seventh are held, and read as they
  // are; no zeros are made up. A stream that must be whole (a table) is not.
  builder.Stream(u"aaa", Pattern(8000));  // laid out before "big"
  file = builder.Build();
  Bytes middle(file.begin(), file.end() - 3000);
  ASSERT_EQ(OpenBytes(middle, &cf), Status::Ok);
  auto big = static_cast<uint32_t>(cf->FindChild(u"big"));
  EXPECT_TRUE(cf->SizeFits(big));
  std::vector<cfb::Run> runs;
  ASSERT_EQ(cf->Layout(big, &runs), Status::Ok);
  ASSERT_EQ(CompoundFile::Length(runs), 3144u);
  got.assign(3144, 0);
  ASSERT_EQ(cf->Copy(runs, 0, got.data(), got.size()), Status::Ok);
  EXPECT_EQ(got, Bytes(expected.begin(), expected.begin() + 3144));
  EXPECT_EQ(cf->ReadAll(big, &got), Status::Corrupt);
}

// The mini stream is as long as the root entry says, whatever its sectors
// hold: a stream reaching past that end has the bytes before it, and
// reading on fails (endsEarly); one before it reads whole.
TEST(CompoundFile, RootSizeEndsTheMiniStream) {
  CfbBuilder builder;
  builder.Stream(u"a", Pattern(100));  // mini sectors 0 and 1
  builder.Stream(u"b", Pattern(100));  // 2 and 3
  const Bytes whole = builder.Build();
  for (uint32_t rootSize : {256u, 168u, 128u, 150u}) {
    SCOPED_TRACE(rootSize);
    Bytes file = whole;
    Put32(file, builder.directoryOffset + 0x78, rootSize);
    std::unique_ptr<CompoundFile> cf;
    ASSERT_EQ(OpenBytes(file, &cf), Status::Ok);
    Bytes got;
    EXPECT_EQ(cf->ReadAll(static_cast<uint32_t>(cf->FindChild(u"a")), &got), Status::Ok);
    std::vector<cfb::Run> runs;
    bool endsEarly = false;
    ASSERT_EQ(cf->Layout(static_cast<uint32_t>(cf->FindChild(u"b")), &runs, &endsEarly), Status::Ok);
    uint32_t held = std::min(100u, rootSize - 128);
    EXPECT_EQ(CompoundFile::Length(runs), held);
    EXPECT_EQ(endsEarly, held < 100);
    EXPECT_EQ(cf->ReadAll(static_cast<uint32_t>(cf->FindChild(u"b")), &got),
              held < 100 ? Status::Corrupt : Status::Ok);
  }
}

TEST(CompoundFile, LostFatSectorBreaksOnlyTheChainsThatNeedIt) {
  CfbBuilder builder;
  builder.Stream(u"big", Pattern(6000));
  Bytes file = builder.Build();
  // A second FAT sector that lay past the end of a file cut short.
  Put32(file, 0x2C, 2);
  Put32(file, 0x4C + 4, 1000);
  std::unique_ptr<CompoundFile> cf;
  ASSERT_EQ(OpenBytes(file, &cf), Status::Ok);
  Bytes got;
  ASSERT_EQ(cf->ReadAll(static_cast<uint32_t>(cf->FindChild(u"big")), &got), Status::Ok);
  EXPECT_EQ(got, Pattern(6000));
  // The chain leads to a sector whose link that FAT sector held.
  Put32(file, builder.fatOffset + 4 * (builder.startSector[u"big"] + 9), 200);
  ASSERT_EQ(OpenBytes(file, &cf), Status::Ok);
  EXPECT_EQ(cf->ReadAll(static_cast<uint32_t>(cf->FindChild(u"big")), &got), Status::Corrupt);
}

TEST(CompoundFile, SizesTheFileCannotHoldAreFlagged) {
  CfbBuilder builder;
  builder.Stream(u"big", Pattern(10000));
  builder.Stream(u"small", Pattern(100));
  Bytes file = builder.Build();
  // Finds a directory entry by its name and rewrites its size field.
  auto setSize = [&file](const std::u16string& name, uint32_t size) {
    for (size_t at = 0; at + 128 <= file.size(); at += 128) {
      bool match = file[at + 0x40] == 2 * (name.size() + 1);
      for (size_t i = 0; match && i < name.size(); ++i) {
        match = file[at + 2 * i] == name[i] && file[at + 2 * i + 1] == 0;
      }
      if (match) {
        Put32(file, at + 0x78, size);
        return true;
      }
    }
    return false;
  };
  std::unique_ptr<CompoundFile> cf;
  ASSERT_EQ(OpenBytes(file, &cf), Status::Ok);
  auto big = static_cast<uint32_t>(cf->FindChild(u"big"));
  auto small = static_cast<uint32_t>(cf->FindChild(u"small"));
  EXPECT_TRUE(cf->SizeFits(big));
  EXPECT_TRUE(cf->SizeFits(small));

  // A few kilobytes of file claiming a gigabyte, and a mini stream claiming
  // more than the mini stream holds.
  ASSERT_TRUE(setSize(u"big", 0x40000000));
  ASSERT_TRUE(setSize(u"small", 4000));
  ASSERT_EQ(OpenBytes(file, &cf), Status::Ok);
  EXPECT_FALSE(cf->SizeFits(big));
  EXPECT_FALSE(cf->SizeFits(small));
}

TEST(StreamNames, EncodeAndDecodeKnownVectors) {
  struct Case {
    std::u16string name;
    bool table;
    std::u16string raw;
  };
  const Case cases[] = {
      {u"_Tables", true, {0x4840, 0x3F7F, 0x4164, 0x422F, 0x4836}},
      {u"_Columns", true, {0x4840, 0x3B3F, 0x43F2, 0x4438, 0x45B1}},
      {u"_StringPool", true, {0x4840, 0x3F3F, 0x4577, 0x446C, 0x3E6A, 0x44B2, 0x482F}},
      {u"Property", true, {0x4840, 0x4559, 0x44F2, 0x4568, 0x4737}},
      {u"Binary.bannrbmp", false, {0x430B, 0x4131, 0x4735, 0x417E, 0x4464, 0x4571, 0x4425, 0x4833}},
      {u"cab1.cab", false, {0x4126, 0x3865, 0x41BE, 0x4164}},
      {u"Binary.my-icon", false, {0x430B, 0x4131, 0x4735, 0x443E, 0x483C, 0x002D, 0x41AC, 0x4472}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(msidb::EncodeStreamName(c.name, c.table), c.raw);
    std::u16string decoded = msidb::DecodeStreamName(c.raw);
    EXPECT_EQ(decoded, c.table ? std::u16string(1, char16_t{0x4840}) + c.name : c.name);
  }
  EXPECT_EQ(msidb::DecodeStreamName(u"\005SummaryInformation"), u"\005SummaryInformation");
}

TEST(ColumnTypes, RenderAsTheInstallerDoes) {
  const std::pair<uint32_t, const char16_t*> cases[] = {
      {0x2D48, u"s72"}, {0x3DFF, u"S255"}, {0x1D00, u"S0"}, {0x1F00, u"L0"}, {0x0F00, u"l0"},
      {0x1502, u"I2"},  {0x0502, u"i2"},   {0x1104, u"I4"}, {0x0104, u"i4"}, {0x1900, u"V0"},
      {0x0900, u"v0"},  {0x2940, u"s64"},  {0x093E, u"s62"}, {0x5DFF, u"G255"}, {0x4502, u"j2"}};
  for (auto [type, text] : cases) EXPECT_EQ(msidb::ColumnTypeText(type), text) << std::hex << type;
}

TEST(Query, AcceptsOnlySelectStarFromOneTable) {
  std::u16string table;
  const std::pair<const char16_t*, const char16_t*> good[] = {
      {u"SELECT * FROM Property", u"Property"},
      {u"select * from `File`", u"File"},
      {u"SeLeCt\t*\nFrOm\f_Streams  ", u"_Streams"},
      {u"SELECT*FROM`Two Words`", u"Two Words"},
      {u"SELECT * FROM c`", u"c"},
      {u"SELECT * FROM \005a", u"\005a"},
      {u"SELECT * FROM a-", u"a-"},
      {u"SELECT * FROM -a", u"-a"},
      {u"SELECT * FROM [x]", u"[x]"},
      {u"SELECT * FROM `Select`", u"Select"},
  };
  for (auto [query, name] : good) {
    ASSERT_TRUE(msidb::ParseSelectAll(query, &table)) << std::string(query, query + std::char_traits<char16_t>::length(query));
    EXPECT_EQ(table, name);
  }
  const char16_t* bad[] = {u"",
                           u"SELECT * FROM",
                           u"SELECT * FROM 'c'",
                           u"SELECT * FROM ''",
                           u"SELECT * FROM `c",
                           u"SELECT * FROM 1abc",
                           u"SELECT * FROM Select",
                           u"SELECT * FROM a WHERE b = 1",
                           u"SELECT Name FROM a",
                           u"SELECT * FROM a\r",
                           u"DELETE FROM a",
                           u"SELECT * FROM a b"};
  for (const char16_t* query : bad) EXPECT_FALSE(msidb::ParseSelectAll(query, &table));
}

TEST(CodePages, ConvertPerStringWithExplicitLength) {
  auto convert = [](uint32_t cp, std::string bytes) {
    std::u16string out;
    msidb::AppendConverted(cp, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), out);
    return out;
  };
  EXPECT_EQ(convert(0, std::string("a\0b", 3)), std::u16string(u"a\0b", 3));
  EXPECT_EQ(convert(1252, "\x80\x81\xE9"), u"\u20AC\u0081\u00E9");
  EXPECT_EQ(convert(1250, "\x8A\xB9"), u"\u0160\u0105");
  EXPECT_EQ(convert(932, "\x82\xA0"), u"\u3042");
  EXPECT_EQ(convert(936, "\xC4\xE3"), u"\u4F60");
  // Undefined single bytes map to private-use units, not to their own value.
  EXPECT_EQ(convert(1253, "\xAA"), u"\uF8F9");
  EXPECT_EQ(convert(932, "\xA0\xFD"), u"\uF8F0\uF8F1");
  // A lead byte takes the next byte even when the pair means nothing; at the
  // end of the string it stands alone.
  EXPECT_EQ(convert(932, "\x82" "A" "B"), u"\u30FB" u"B");
  EXPECT_EQ(convert(932, "A\x82"), u"A\u30FB");
  EXPECT_EQ(convert(936, "\x81\x30"), u"?");
  // User-defined areas map to private-use units.
  EXPECT_EQ(convert(936, "\xAA\xA1"), u"\uE000");
  EXPECT_EQ(convert(950, "\xFE\xFE"), u"\uE310");
  EXPECT_FALSE(msidb::IsKnownCodePage(12345));
}

// Wine's MultiByteToWideChar with flags 0 answers these (the code page sweep
// compares every byte and pair; these keep the rules visible).
TEST(CodePages, DecodeAsTheSystemDoes) {
  struct Case {
    uint32_t codePage;
    std::string bytes;
    std::u16string units;
  };
  const Case cases[] = {
      {20866, "abc\xE9\xE8\xC0", u"abc\u0418\u0425\u044E"},
      // Johab: two bytes a character, 17 bytes give 9 units.
      {1361, "\x88\x61\x88\x62\x88\x63\x8B\x61\x90\x61\x91\x61\xD9\x31\x84\x44\x41",
       u"\uAC00\uAC01\uAC02\uADF8\uB098\uB140\u3000\u11AA\u0041"},
      {10000, "\x80\xA5\xDB\xF0", u"\u00C4\u2022\u20AC\uF8FF"},
      {10004, "\x80\xC7\xFF", u"\u00C4\u0627\u06D2"},
      {20127, "\x80\xC1\xFF", std::u16string(u"\0A\u007F", 3)},
      {28591, "\x80\xE9\xFF", u"\u0080\u00E9\u00FF"},
      {37, "\xC1\x81\x40\x4B\x5A", u"Aa .!"},
      {20932, "\xB0\x21\xA4\xA2\x8E\xB1", u"\u4E02\u3042\uFF71"},
      // A lead byte before NUL stands alone; so does one at the end.
      {932, std::string("\x82\0A", 3), std::u16string(u"\u30FB\0A", 3)},
      {936, "\x81", u"?"},
      {65000, "a+AGEAYgBj-b+-+ZeVnLIqe-", u"aabcb+\u65E5\u672C\u8A9E"},
      {65000, "+AGE\x80+AGI", u"a\u0080\u0018"},  // the bits left over carry on
      {65000, "+", u""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.codePage);
    std::u16string out;
    msidb::AppendConverted(c.codePage, reinterpret_cast<const uint8_t*>(c.bytes.data()),
                           c.bytes.size(), out);
    EXPECT_EQ(out, c.units);
  }
  for (uint32_t known : {0u, 37u, 437u, 708u, 720u, 1361u, 10001u, 10082u, 20127u, 20932u,
                         28605u, 65000u, 65001u}) {
    EXPECT_TRUE(msidb::IsKnownCodePage(known)) << known;
  }
  for (uint32_t unknown : {1u, 2u, 42u, 1200u, 20936u, 54936u, 65002u, 0x7FFF04E4u}) {
    EXPECT_FALSE(msidb::IsKnownCodePage(unknown)) << unknown;
  }
  for (uint32_t cp : {37u, 500u, 875u, 1026u, 65000u}) EXPECT_FALSE(msidb::AsciiIsItself(cp)) << cp;
  for (uint32_t cp : {0u, 932u, 1252u, 65001u}) EXPECT_TRUE(msidb::AsciiIsItself(cp)) << cp;
}

// UTF-8 decodes alike in the engine's strings and in the system call, as in
// Wine, whose msi.dll converts its strings with that call. An invalid
// sequence gives one U+FFFD for the bytes taken while it still looked valid
// (an overlong or surrogate form shows once its value does, and the byte that
// shows a value above U+10FFFF is left); one that needs more bytes than are
// left takes them all, whatever they are.
TEST(CodePages, Utf8DecodesAlikeInTheEngineAndTheSystemCall) {
  const std::pair<std::string, std::u16string> cases[] = {
      {"\xF0\x9F\x98\x80\xEF\xBF\xBF", u"\U0001F600\uFFFF"},
      {std::string("a\0\xC3\xA9", 4), std::u16string(u"a\0\u00E9", 3)},
      {"\xE0\x80" "A", u"\uFFFDA"},
      {"\xE0\x80\xAD", u"\uFFFD\uFFFD"},
      {"\xC0\x80" "A", u"\uFFFD\uFFFDA"},
      {"\xED\xA0\x80", u"\uFFFD\uFFFD"},
      {"\xF0\x80\x80\xAD", u"\uFFFD\uFFFD\uFFFD"},
      {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD"},
      {"\xF5\x80" "A", u"\uFFFD\uFFFDA"},
      {"\xE0\xA0-", u"\uFFFD-"},
      {"\xE0\xA0\x80\x80-", u"\u0800\uFFFD-"},
      {"a\xC3", u"a\uFFFD"},
      {"\xE0" "A", u"\uFFFD"},
      {"\xE0" "AB", u"\uFFFDAB"},
      {"\xF0\x41\x41", u"\uFFFD"},
  };
  for (const auto& [bytes, units] : cases) {
    SCOPED_TRACE(::testing::PrintToString(bytes));
    std::u16string engine;
    msidb::AppendConverted(65001, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(),
                           engine);
    EXPECT_EQ(engine, units);
    char16_t wide[16];
    const int length = static_cast<int>(bytes.size());
    ASSERT_EQ(MultiByteToWideChar(CP_UTF8, 0, bytes.data(), length, nullptr, 0),
              static_cast<int>(units.size()));
    ASSERT_EQ(MultiByteToWideChar(CP_UTF8, 0, bytes.data(), length, wide, 16),
              static_cast<int>(units.size()));
    EXPECT_EQ(std::u16string(wide, units.size()), units);
    const bool invalid = units.find(u'\uFFFD') != std::u16string::npos;
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), length, wide, 16),
              invalid ? 0 : static_cast<int>(units.size()));
  }
}

Bytes SummaryStream(const std::vector<std::pair<uint32_t, Bytes>>& properties) {
  Bytes s(0x30, 0);
  Put16(s, 0, 0xFFFE);
  static const uint8_t fmtid[16] = {0xE0, 0x85, 0x9F, 0xF2, 0xF9, 0x4F, 0x68, 0x10,
                                    0xAB, 0x91, 0x08, 0x00, 0x2B, 0x27, 0xB3, 0xD9};
  Put32(s, 0x18, 1);
  std::memcpy(s.data() + 0x1C, fmtid, 16);
  Put32(s, 0x2C, 0x30);
  Bytes section(8 + 8 * properties.size(), 0);
  Put32(section, 4, static_cast<uint32_t>(properties.size()));
  for (size_t i = 0; i < properties.size(); ++i) {
    Put32(section, 8 + 8 * i, properties[i].first);
    Put32(section, 12 + 8 * i, static_cast<uint32_t>(section.size()));
    section.insert(section.end(), properties[i].second.begin(), properties[i].second.end());
  }
  Put32(section, 0, static_cast<uint32_t>(section.size()));
  s.insert(s.end(), section.begin(), section.end());
  return s;
}

Bytes Value(uint16_t type, std::vector<uint8_t> payload) {
  Bytes v(4 + payload.size(), 0);
  Put16(v, 0, type);
  std::copy(payload.begin(), payload.end(), v.begin() + 4);
  return v;
}

Bytes Text(const std::string& text) {
  Bytes v = Value(30, {0, 0, 0, 0});
  Put32(v, 4, static_cast<uint32_t>(text.size() + 1));
  v.insert(v.end(), text.begin(), text.end());
  v.push_back(0);
  while (v.size() % 4) v.push_back(0);
  return v;
}

TEST(Summary, ReadsTypesAndStopsAtTheFirstBadPair) {
  msidb::SummaryInfo info = msidb::ParseSummary(SummaryStream({
      {1, Value(2, {0xE9, 0xFD, 0, 0})},                  // 65001 comes back sign-extended
      {2, Text("Title")},
      {11, Text("2005/08/33")},                           // text where a time belongs
      {12, Value(64, {1, 0, 0, 0, 2, 0, 0, 0})},
      {14, Value(3, {200, 0, 0, 0})},
      {10, Value(3, {1, 0, 0, 0})},                       // an id that is never kept
      {15, Value(3, {2, 0, 0, 0})},
  }));
  EXPECT_EQ(info.Count(), 5u);
  EXPECT_EQ(info.slots[1].integer, -535);
  EXPECT_EQ(info.slots[2].text, u"Title");
  EXPECT_EQ(info.slots[11].type, 30);
  EXPECT_EQ(info.slots[11].text, u"");
  EXPECT_EQ(info.slots[12].filetime, 0x200000001ull);
  EXPECT_EQ(info.slots[14].integer, 200);
  EXPECT_EQ(info.slots[15].type, 0);

  // A string whose length runs past the stream is left out; too many
  // properties drop the whole set; a bad byte order gives nothing.
  Bytes cut = SummaryStream({{2, Text("Title")}});
  Put32(cut, 0x30 + 16 + 4, 1000);
  EXPECT_EQ(msidb::ParseSummary(cut).Count(), 0u);
  std::vector<std::pair<uint32_t, Bytes>> many(21, {14, Value(3, {1, 0, 0, 0})});
  EXPECT_EQ(msidb::ParseSummary(SummaryStream(many)).Count(), 0u);
  Bytes order = SummaryStream({{14, Value(3, {1, 0, 0, 0})}});
  order[0] = 0;
  EXPECT_EQ(msidb::ParseSummary(order).Count(), 0u);
}

// A property stored with another type than its id has, alone in the set:
// Wine's msi.dll's answer (type 0: left out). Text where a time belongs is
// the one case answered as Windows answers it (empty text, type 30).
TEST(Summary, StoredTypesConvertAsTheSystemConverts) {
  struct Case {
    uint32_t id;
    Bytes stored;
    uint16_t type;
    int32_t integer;
  };
  const Bytes time = Value(64, {0, 0, 0x5E, 0x9D, 0x4C, 0x8B, 0xCA, 0x01});
  const Case cases[] = {
      {1, Value(3, {0xE4, 0x04, 0, 0}), 2, 1252},       // a 4-byte Codepage
      {1, Value(3, {0xE9, 0xFD, 0, 0}), 0, 0},          // 65001 is out of a 2-byte range
      {14, Value(2, {0xFB, 0xFF, 0, 0}), 3, -5},        // a 2-byte Page count
      {1, Text("1252"), 2, 1252},
      {1, Text("40000"), 0, 0},
      {14, Text("12abc"), 3, 12},
      {14, Text("  +0x7fffffff"), 3, 2147483647},
      {14, Text("010"), 3, 8},
      {14, Text("08"), 3, 0},
      {14, Text("\t5"), 3, 5},
      {14, Text("-0x1F"), 3, -31},
      {14, Text("2147483648"), 0, 0},
      {14, Text("9223372036854775808"), 0, 0},
      {14, Text("0x"), 0, 0},
      {14, Text("- 5"), 0, 0},
      {14, Text(""), 0, 0},
      {12, Text("2010/01/02 03:04:05"), 30, 0},
      {2, time, 0, 0},
      {14, time, 0, 0},
      {2, Value(3, {5, 0, 0, 0}), 0, 0},
      {12, Value(2, {5, 0, 0, 0}), 0, 0},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(i);
    const msidb::SummaryInfo info = msidb::ParseSummary(SummaryStream({{c.id, c.stored}}));
    const msidb::SummaryProperty& p = info.slots[c.id];
    EXPECT_EQ(p.type, c.type);
    EXPECT_EQ(p.type == 2 || p.type == 3 ? p.integer : 0, c.integer);
    EXPECT_EQ(p.text, u"");
  }
}

}  // namespace
}  // namespace msiarc::testing
