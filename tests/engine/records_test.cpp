// Column information, cell values, the string length protocol and streams,
// over the fixture databases.
#include <cstring>
#include <string>
#include <vector>

#include "engine/contract.h"

namespace contract {
namespace {

using Names = std::vector<WString>;

Names ViewInfo(MSIHANDLE db, const char* table, MSICOLINFO kind) {
  Handle view;
  EXPECT_EQ(OpenView(db, Widen(std::string("SELECT * FROM `") + table + "`"), view), 0u) << table;
  return ColumnInfo(view.get(), kind);
}

TEST(ColumnInfo, NamesAndTypeTextsOfEveryKind) {
  Handle db = OpenFixture("types.msi");
  EXPECT_EQ(ViewInfo(db.get(), "Cells", MSICOLINFO_NAMES),
            (Names{WTEXT("Key"), WTEXT("Opt"), WTEXT("Loc"), WTEXT("LocReq"), WTEXT("Short"),
                   WTEXT("ShortReq"), WTEXT("Long"), WTEXT("LongReq"), WTEXT("Text"), WTEXT("One")}));
  EXPECT_EQ(ViewInfo(db.get(), "Cells", MSICOLINFO_TYPES),
            (Names{WTEXT("s72"), WTEXT("S255"), WTEXT("L0"), WTEXT("l64"), WTEXT("I2"), WTEXT("i2"),
                   WTEXT("I4"), WTEXT("i4"), WTEXT("s0"), WTEXT("S1")}));
  EXPECT_EQ(ViewInfo(db.get(), "Binary", MSICOLINFO_TYPES), (Names{WTEXT("s72"), WTEXT("v0")}));
  EXPECT_EQ(ViewInfo(db.get(), "IntBlobs", MSICOLINFO_TYPES), (Names{WTEXT("i2"), WTEXT("V0")}));
  EXPECT_EQ(ViewInfo(db.get(), "LongBlobs", MSICOLINFO_TYPES), (Names{WTEXT("i4"), WTEXT("v0")}));
  EXPECT_EQ(ViewInfo(db.get(), "Mixed", MSICOLINFO_TYPES),
            (Names{WTEXT("i2"), WTEXT("V0"), WTEXT("S64")}));
  EXPECT_EQ(ViewInfo(db.get(), "Empty", MSICOLINFO_NAMES), (Names{WTEXT("A"), WTEXT("B")}));
  // The catalogue and virtual tables have fixed schemas.
  EXPECT_EQ(ViewInfo(db.get(), "_Tables", MSICOLINFO_TYPES), (Names{WTEXT("s64")}));
  EXPECT_EQ(ViewInfo(db.get(), "_Columns", MSICOLINFO_NAMES),
            (Names{WTEXT("Table"), WTEXT("Number"), WTEXT("Name"), WTEXT("Type")}));
  EXPECT_EQ(ViewInfo(db.get(), "_Columns", MSICOLINFO_TYPES),
            (Names{WTEXT("s64"), WTEXT("i2"), WTEXT("s64"), WTEXT("i2")}));
  for (const char* table : {"_Streams", "_Storages"}) {
    EXPECT_EQ(ViewInfo(db.get(), table, MSICOLINFO_NAMES), (Names{WTEXT("Name"), WTEXT("Data")}));
    EXPECT_EQ(ViewInfo(db.get(), table, MSICOLINFO_TYPES), (Names{WTEXT("s62"), WTEXT("V0")}));
  }

  Handle view;
  ASSERT_EQ(OpenView(db.get(), WTEXT("SELECT * FROM Cells"), view), 0u);
  Handle info;
  EXPECT_EQ(MsiViewGetColumnInfo(view.get(), static_cast<MSICOLINFO>(2), info.out()),
            static_cast<UINT>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(info.get(), 0u);
  EXPECT_EQ(MsiViewGetColumnInfo(view.get(), MSICOLINFO_NAMES, nullptr),
            static_cast<UINT>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(MsiViewGetColumnInfo(0, MSICOLINFO_NAMES, info.out()),
            static_cast<UINT>(ERROR_INVALID_HANDLE));
}

TEST(Cells, TextIntegerAndSizeOfEachKind) {
  Handle db = OpenFixture("types.msi");
  std::vector<Handle> rows = Rows(db.get(), "Cells");
  ASSERT_EQ(rows.size(), 4u);
  MSIHANDLE plain = rows[0].get(), nulls = rows[1].get(), extremes = rows[2].get(),
            digits = rows[3].get();
  EXPECT_EQ(MsiRecordGetFieldCount(plain), 10u);
  EXPECT_EQ(Str(plain, 1), WTEXT("plain"));
  EXPECT_EQ(Str(plain, 9), WTEXT("plain text"));
  EXPECT_EQ(MsiRecordDataSize(plain, 9), 10u);  // strings: length in units
  EXPECT_EQ(MsiRecordGetInteger(plain, 1), MSI_NULL_INTEGER);

  // Integers: bias removed, zero is a value, sizes are 4, text is decimal.
  EXPECT_EQ(MsiRecordGetInteger(plain, 6), 0);
  EXPECT_EQ(Str(plain, 6), WTEXT("0"));
  EXPECT_EQ(MsiRecordGetInteger(extremes, 5), -32767);
  EXPECT_EQ(MsiRecordGetInteger(extremes, 6), 32767);
  EXPECT_EQ(MsiRecordGetInteger(extremes, 7), -2147483647);
  EXPECT_EQ(MsiRecordGetInteger(extremes, 8), 2147483647);
  EXPECT_EQ(Str(extremes, 7), WTEXT("-2147483647"));
  EXPECT_EQ(MsiRecordDataSize(extremes, 5), 4u);
  EXPECT_EQ(MsiRecordDataSize(extremes, 8), 4u);
  EXPECT_EQ(Str(digits, 8), WTEXT("-100000"));

  // Nulls: empty text, size 0, the null integer; for strings and integers.
  for (UINT field : {2u, 3u, 5u, 7u, 10u}) {
    SCOPED_TRACE(field);
    EXPECT_EQ(Str(nulls, field), WTEXT(""));
    EXPECT_EQ(MsiRecordDataSize(nulls, field), 0u);
    EXPECT_EQ(MsiRecordGetInteger(nulls, field), MSI_NULL_INTEGER);
  }
  EXPECT_EQ(MsiRecordGetInteger(nulls, 6), -1);

  // Strings that read as integers: a sign and digits only.
  EXPECT_EQ(MsiRecordGetInteger(digits, 2), 42);
  EXPECT_EQ(MsiRecordGetInteger(digits, 3), -42);
  EXPECT_EQ(MsiRecordGetInteger(digits, 9), 7);  // "007"
  EXPECT_EQ(MsiRecordGetInteger(plain, 9), MSI_NULL_INTEGER);

  // Fields past the end read as null; field counts of bad handles are -1.
  EXPECT_EQ(Str(plain, 11), WTEXT(""));
  EXPECT_EQ(MsiRecordDataSize(plain, 11), 0u);
  EXPECT_EQ(MsiRecordGetInteger(plain, 11), MSI_NULL_INTEGER);
}

TEST(Strings, LengthProtocol) {
  Handle db = OpenFixture("types.msi");
  std::vector<Handle> rows = Rows(db.get(), "Cells");
  ASSERT_EQ(rows.size(), 4u);
  // Row 0 field 9 is "plain text", row 2 field 5 "-32767" (an integer as
  // text), row 1 field 2 null. Capacity -1: no buffer, the length asked.
  struct Case {
    size_t row;
    UINT field;
    int capacity;
    UINT result;
    DWORD length;
    const char* text;  // what the buffer then holds; null: left alone
  };
  const Case cases[] = {
      {0, 9, -1, 0, 10, nullptr},
      {0, 9, 11, 0, 10, "plain text"},                // exactly enough
      {0, 9, 10, ERROR_MORE_DATA, 10, "plain tex"},   // one short: cut, terminated
      {0, 9, 0, ERROR_MORE_DATA, 10, nullptr},        // no room at all
      {2, 5, -1, 0, 6, nullptr},
      {2, 5, 3, ERROR_MORE_DATA, 6, "-3"},
      {1, 2, 5, 0, 0, ""},                            // null: empty, terminated
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.row << "." << c.field << " in " << c.capacity);
    WCHAR buffer[32];
    for (WCHAR& unit : buffer) unit = WCHAR('#');
    DWORD length = c.capacity < 0 ? 12345 : static_cast<DWORD>(c.capacity);
    EXPECT_EQ(MsiRecordGetStringW(rows[c.row].get(), c.field, c.capacity < 0 ? nullptr : buffer,
                                  &length),
              c.result);
    EXPECT_EQ(length, c.length);
    if (c.text == nullptr) {
      EXPECT_EQ(buffer[0], WCHAR('#'));
      continue;
    }
    const size_t units = std::strlen(c.text);
    EXPECT_EQ(WString(buffer, units), WString(c.text, c.text + units));
    if (c.result == 0) {
      EXPECT_EQ(buffer[units], WCHAR(0));
    }
  }
  WCHAR buffer[4];
  DWORD length = 4;
  EXPECT_EQ(MsiRecordGetStringW(0, 1, buffer, &length), static_cast<UINT>(ERROR_INVALID_HANDLE));
}

TEST(Strings, LongValuesAroundTheInlineLimitAndPastTheShortPoolEntry) {
  Handle db = OpenFixture("long-strings.msi");
  std::vector<Handle> rows = Rows(db.get(), "Strings");
  ASSERT_EQ(rows.size(), 13u);
  for (size_t i = 0; i + 1 < rows.size(); ++i) {
    MSIHANDLE rec = rows[i].get();
    int expected = MsiRecordGetInteger(rec, 2);
    SCOPED_TRACE(expected);
    WString text = Str(rec, 3);
    ASSERT_EQ(text.size(), static_cast<size_t>(expected));
    EXPECT_EQ(MsiRecordDataSize(rec, 3), static_cast<UINT>(expected));
    EXPECT_EQ(text, WString(text.size(), static_cast<WCHAR>('a' + i)));
  }
  // 70,000 bytes of UTF-8, 35,000 units.
  WString accents = Str(rows.back().get(), 3);
  EXPECT_EQ(accents, WString(35000, WCHAR(0xE9)));
  EXPECT_EQ(MsiRecordDataSize(rows.back().get(), 3), 35000u);
}

TEST(Strings, CodePagesConvertToUtf16) {
  struct Case {
    const char* file;
    const WCHAR* first;
    const WCHAR* second;
  };
  const Case cases[] = {
      {"codepage-1250.msi", WTEXT("Příliš žluťoučký kůň"), WTEXT("Łódź")},
      {"codepage-1251.msi", WTEXT("Привет, мир"), WTEXT("Ёлка")},
      {"codepage-1252.msi", WTEXT("Größe € ‰ Œ"), WTEXT("café ñ ÿ")},
      {"codepage-1253.msi", WTEXT("Καλημέρα κόσμε"), WTEXT("ascii only")},
      {"codepage-932.msi", WTEXT("日本語テキスト"), WTEXT("ｶﾀｶﾅ half width")},
      {"codepage-936.msi", WTEXT("中文文本"), WTEXT("简体字")},
      {"codepage-949.msi", WTEXT("한국어 텍스트"), WTEXT("ascii only")},
      {"codepage-950.msi", WTEXT("繁體中文"), WTEXT("ascii only")},
      {"codepage-65001.msi", WTEXT("é€😀 mixed"), WTEXT("ascii only")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    Handle db = OpenFixture(c.file);
    std::vector<Handle> rows = Rows(db.get(), "Text");
    ASSERT_GE(rows.size(), 2u);
    EXPECT_EQ(Str(rows[0].get(), 2), c.first);
    EXPECT_EQ(Str(rows[1].get(), 2), c.second);
  }
  // Outside the basic plane: a surrogate pair, counted as two units.
  Handle db = OpenFixture("codepage-65001.msi");
  std::vector<Handle> rows = Rows(db.get(), "Text");
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(MsiRecordDataSize(rows[3].get(), 2), 7u);  // "𝄞 clef"
}

TEST(Strings, ThreeByteReferences) {
  Handle db = OpenFixture("many-strings.msi");
  std::vector<Handle> rows = Rows(db.get(), "Names");
  ASSERT_EQ(rows.size(), 70000u);
  EXPECT_EQ(Str(rows[0].get(), 2), WTEXT("name-000001"));
  EXPECT_EQ(Str(rows[0].get(), 3), WTEXT(""));
  EXPECT_EQ(MsiRecordGetInteger(rows[69999].get(), 1), 70000);
  EXPECT_EQ(Str(rows[69999].get(), 2), WTEXT("name-070000"));
  EXPECT_EQ(Str(rows[69999].get(), 3), WTEXT("note-70000"));
  EXPECT_EQ(Str(rows[998].get(), 3), WTEXT(""));
  EXPECT_EQ(Str(rows[999].get(), 3), WTEXT("note-1000"));
  rows.clear();
  // Binary cells keep 2 bytes beside 3-byte string references.
  std::vector<Handle> blobs = Rows(db.get(), "Binary");
  ASSERT_EQ(blobs.size(), 1u);
  EXPECT_EQ(Str(blobs[0].get(), 1), WTEXT("last"));
  EXPECT_EQ(ReadAll(blobs[0].get(), 2, 100), "stream beside 3-byte references");
  std::vector<Handle> properties = Rows(db.get(), "Property");
  ASSERT_EQ(properties.size(), 2u);
  EXPECT_EQ(Str(properties[1].get(), 2), WTEXT("Property"));
}

std::string Sequence(const char* separator, size_t size) {
  std::string s;
  for (int i = 1; s.size() < size; ++i) s += std::to_string(i) + separator;
  return s.substr(0, size);
}

TEST(Streams, SizesChunkedReadsAndReadingAgain) {
  Handle db = OpenFixture("types.msi");
  std::vector<Handle> rows = Rows(db.get(), "Binary");
  ASSERT_EQ(rows.size(), 5u);
  EXPECT_EQ(Str(rows[0].get(), 1), WTEXT("alphabet"));
  MSIHANDLE alphabet = rows[0].get();
  EXPECT_EQ(MsiRecordDataSize(alphabet, 2), 26u);
  DWORD available = 0;
  EXPECT_EQ(MsiRecordReadStream(alphabet, 2, nullptr, &available), 0u);
  EXPECT_EQ(available, 26u);
  std::vector<DWORD> sizes;
  EXPECT_EQ(ReadAll(alphabet, 2, 10, &sizes), "abcdefghijklmnopqrstuvwxyz");
  EXPECT_EQ(sizes, (std::vector<DWORD>{10, 10, 6, 0}));
  // Through the same record again: the position stays at the end.
  char buffer[16];
  DWORD size = sizeof buffer;
  EXPECT_EQ(MsiRecordReadStream(alphabet, 2, buffer, &size), 0u);
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(MsiRecordDataSize(alphabet, 2), 26u);
  // A stream field has no text; reading nothing is allowed.
  DWORD length = 99;
  EXPECT_EQ(MsiRecordGetStringW(alphabet, 2, nullptr, &length), 0u);
  EXPECT_EQ(length, 0u);
  size = 0;
  EXPECT_EQ(MsiRecordReadStream(rows[1].get(), 2, buffer, &size), 0u);

  // Sizes around the mini-stream cutoff, read in uneven chunks.
  struct Expect {
    size_t row;
    std::string bytes;
  };
  for (const Expect& e : {Expect{1, ""}, Expect{2, Sequence(",", 5000)},
                          Expect{3, Sequence(";", 4096)}, Expect{4, Sequence(";", 4095)}}) {
    SCOPED_TRACE(e.row);
    EXPECT_EQ(MsiRecordDataSize(rows[e.row].get(), 2), e.bytes.size());
    EXPECT_EQ(ReadAll(rows[e.row].get(), 2, 997), e.bytes);
  }

  // Argument and field-kind errors.
  size = 10;
  EXPECT_EQ(MsiRecordReadStream(alphabet, 1, buffer, &size),
            static_cast<UINT>(ERROR_INVALID_DATATYPE));
  EXPECT_EQ(size, 10u);
  EXPECT_EQ(MsiRecordReadStream(alphabet, 3, buffer, &size),
            static_cast<UINT>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(MsiRecordReadStream(alphabet, 2, buffer, nullptr),
            static_cast<UINT>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(MsiRecordReadStream(0, 2, buffer, &size), static_cast<UINT>(ERROR_INVALID_HANDLE));
}

TEST(Streams, IntegerKeysNullCellsAndStringsAfterTheStream) {
  Handle db = OpenFixture("types.msi");
  std::vector<Handle> blobs = Rows(db.get(), "IntBlobs");
  ASSERT_EQ(blobs.size(), 3u);
  // Rows in stored order (keys sorted as biased values): -3, 1, 2.
  EXPECT_EQ(MsiRecordGetInteger(blobs[0].get(), 1), -3);
  EXPECT_EQ(ReadAll(blobs[0].get(), 2, 4), "minus three");
  EXPECT_EQ(ReadAll(blobs[1].get(), 2, 4), "one");
  // No stream of that name: a null field.
  char buffer[8];
  DWORD size = sizeof buffer;
  EXPECT_EQ(MsiRecordReadStream(blobs[2].get(), 2, buffer, &size),
            static_cast<UINT>(ERROR_INVALID_DATA));
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(MsiRecordDataSize(blobs[2].get(), 2), 0u);
  EXPECT_EQ(MsiRecordGetInteger(blobs[2].get(), 2), MSI_NULL_INTEGER);

  std::vector<Handle> longs = Rows(db.get(), "LongBlobs");
  ASSERT_EQ(longs.size(), 2u);
  EXPECT_EQ(ReadAll(longs[0].get(), 2, 5), "negative long");
  EXPECT_EQ(ReadAll(longs[1].get(), 2, 5), "seventy thousand");

  std::vector<Handle> mixed = Rows(db.get(), "Mixed");
  ASSERT_EQ(mixed.size(), 3u);
  EXPECT_EQ(ReadAll(mixed[0].get(), 2, 3), "mixed 1");
  EXPECT_EQ(Str(mixed[0].get(), 3), WTEXT("first"));
  EXPECT_EQ(MsiRecordDataSize(mixed[1].get(), 2), 0u);
  EXPECT_EQ(Str(mixed[1].get(), 3), WTEXT("no stream"));
  EXPECT_EQ(ReadAll(mixed[2].get(), 2, 3), "mixed 3");
  EXPECT_EQ(Str(mixed[2].get(), 3), WTEXT(""));
}

// Only the text is asserted: whether a stream can still be read once its
// database is closed differs between engines (msi.dll under wine answers 1627).
TEST(Streams, RecordsOutliveTheirViewAndDatabase) {
  Handle record;
  {
    Handle db = OpenFixture("types.msi");
    Handle view;
    ASSERT_EQ(OpenView(db.get(), WTEXT("SELECT * FROM Binary"), view), 0u);
    ASSERT_EQ(MsiViewExecute(view.get(), 0), 0u);
    ASSERT_EQ(MsiViewFetch(view.get(), record.out()), 0u);
  }
  EXPECT_EQ(Str(record.get(), 1), WTEXT("alphabet"));
  EXPECT_EQ(MsiRecordGetFieldCount(record.get()), 2u);
}

}  // namespace
}  // namespace contract
