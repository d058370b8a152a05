// Views and queries, virtual tables, summary information, handles, opening
// files that are not databases, and FetchRecordString over real records.
#include <cstdio>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "engine/contract.h"

namespace contract {
namespace {

TEST(Views, FetchToTheEndCloseAndExecuteAgain) {
  Handle db = OpenFixture("types.msi");
  Handle view;
  ASSERT_EQ(OpenView(db.get(), WTEXT("SELECT * FROM Binary"), view), 0u);
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    ASSERT_EQ(MsiViewExecute(view.get(), 0), 0u);
    for (int i = 0; i < 5; ++i) {
      Handle row;
      ASSERT_EQ(MsiViewFetch(view.get(), row.out()), 0u);
      EXPECT_NE(row.get(), 0u);
      EXPECT_EQ(MsiRecordGetFieldCount(row.get()), 2u);
    }
    MSIHANDLE none = 0xABCD;
    EXPECT_EQ(MsiViewFetch(view.get(), &none), static_cast<UINT>(ERROR_NO_MORE_ITEMS));
    EXPECT_EQ(none, 0u);
    EXPECT_EQ(MsiViewClose(view.get()), 0u);
  }
  EXPECT_EQ(MsiViewFetch(view.get(), nullptr), static_cast<UINT>(ERROR_INVALID_PARAMETER));
  // After the end, without a new execute, fetching starts again at row 1.
  ASSERT_EQ(MsiViewExecute(view.get(), 0), 0u);
  for (;;) {
    Handle row;
    if (MsiViewFetch(view.get(), row.out()) != 0) break;
  }
  Handle first;
  ASSERT_EQ(MsiViewFetch(view.get(), first.out()), 0u);
  EXPECT_EQ(Str(first.get(), 1), WTEXT("alphabet"));

  Handle empty;
  ASSERT_EQ(OpenView(db.get(), WTEXT("SELECT * FROM Empty"), empty), 0u);
  ASSERT_EQ(MsiViewExecute(empty.get(), 0), 0u);
  Handle row;
  EXPECT_EQ(MsiViewFetch(empty.get(), row.out()), static_cast<UINT>(ERROR_NO_MORE_ITEMS));
}

TEST(Queries, AcceptedAndRefusedTexts) {
  Handle db = OpenFixture("types.msi");
  const WCHAR* accepted[] = {
      WTEXT("SELECT * FROM Cells"),   WTEXT("SELECT * from Cells"),
      WTEXT("select * from Cells"),   WTEXT("SeLeCt * FrOm Cells"),
      WTEXT("SELECT * FROM `Cells`"), WTEXT("SELECT\t*\nFROM  Cells "),
      WTEXT("SELECT * FROM Cells`"),  WTEXT("SELECT * FROM _Validation"),
      WTEXT("SELECT * FROM `_Streams`"),
  };
  for (const WCHAR* query : accepted) {
    Handle view;
    EXPECT_EQ(MsiDatabaseOpenViewW(db.get(), query, view.out()), 0u)
        << Narrow(query);
    EXPECT_NE(view.get(), 0u);
  }
  const WCHAR* refused[] = {
      WTEXT("SELECT * FROM cells"),   WTEXT("SELECT * FROM CELLS"),   // names are case-sensitive
      WTEXT("SELECT * FROM Missing"), WTEXT("SELECT * FROM"),
      WTEXT(""),                      WTEXT("SELECT * FROM 'Cells'"),
      WTEXT("SELECT * FROM `Cells"),  WTEXT("SELECT * FROM ``"),
      WTEXT("SELECT * FROM _SummaryInformation"), WTEXT("SELECT * FROM _ForceCodepage"),
      WTEXT("SELECT * FROM 1Cells"),  WTEXT("SELECT * FROM Long"),  // a keyword
  };
  for (const WCHAR* query : refused) {
    Handle view;
    EXPECT_EQ(MsiDatabaseOpenViewW(db.get(), query, view.out()),
              static_cast<UINT>(ERROR_BAD_QUERY_SYNTAX))
        << Narrow(query);
    EXPECT_EQ(view.get(), 0u);
  }
  Handle view;
  EXPECT_EQ(MsiDatabaseOpenViewW(db.get(), nullptr, view.out()),
            static_cast<UINT>(ERROR_BAD_QUERY_SYNTAX));
  EXPECT_EQ(MsiDatabaseOpenViewW(db.get(), WTEXT("SELECT * FROM Cells"), nullptr),
            static_cast<UINT>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(MsiDatabaseOpenViewW(0, WTEXT("SELECT * FROM Cells"), view.out()),
            static_cast<UINT>(ERROR_INVALID_HANDLE));
}

TEST(Tables, CatalogueAndValidationRowsInStoredOrder) {
  Handle db = OpenFixture("types.msi");
  std::vector<WString> tables;
  for (Handle& row : Rows(db.get(), "_Tables")) tables.push_back(Str(row.get(), 1));
  EXPECT_EQ(tables, (std::vector<WString>{WTEXT("Cells"), WTEXT("Binary"), WTEXT("IntBlobs"),
                                          WTEXT("LongBlobs"), WTEXT("Mixed"),
                                          WTEXT("_Validation"), WTEXT("Empty")}));
  std::vector<WString> validated;
  for (Handle& row : Rows(db.get(), "_Validation")) validated.push_back(Str(row.get(), 1));
  EXPECT_EQ(validated, (std::vector<WString>{WTEXT("Cells"), WTEXT("Cells"), WTEXT("Binary"),
                                             WTEXT("Mixed"), WTEXT("CELLS"), WTEXT("Empty")}));
  // _Columns: numbers and type words come back unbiased.
  std::vector<Handle> columns = Rows(db.get(), "_Columns");
  ASSERT_FALSE(columns.empty());
  EXPECT_EQ(Str(columns[0].get(), 1), WTEXT("Cells"));
  EXPECT_EQ(MsiRecordGetInteger(columns[0].get(), 2), 1);
  EXPECT_EQ(Str(columns[0].get(), 3), WTEXT("Key"));
  EXPECT_EQ(MsiRecordGetInteger(columns[0].get(), 4), 0x2D48);  // s72, key
}

TEST(VirtualTables, StreamsAndStorages) {
  Handle db = OpenFixture("extra-streams.msi");
  std::set<WString> names;
  for (Handle& row : Rows(db.get(), "_Streams")) {
    WString name = Str(row.get(), 1);
    names.insert(name);
    if (name == WTEXT("Big.Stream_10000")) {
      EXPECT_EQ(MsiRecordDataSize(row.get(), 2), 10000u);
      std::string bytes = ReadAll(row.get(), 2, 3000);
      EXPECT_EQ(bytes.size(), 10000u);
      EXPECT_EQ(bytes.substr(0, 6), "1\n2\n3\n");
    }
    if (name == WTEXT("below.cutoff")) {
      EXPECT_EQ(MsiRecordDataSize(row.get(), 2), 4095u);
    }
  }
  // Table streams are not listed; raw names (the summary) keep their U+0005.
  EXPECT_EQ(names, (std::set<WString>{WTEXT("cab1.cab"), WTEXT("Big.Stream_10000"),
                                      WTEXT("with-dash and space"), WTEXT("below.cutoff"),
                                      WString(1, WCHAR(5)) + WTEXT("SummaryInformation")}));
  EXPECT_TRUE(Rows(db.get(), "_Storages").empty());

  Handle types = OpenFixture("types.msi");
  std::set<WString> typeStreams;
  for (Handle& row : Rows(types.get(), "_Streams")) typeStreams.insert(Str(row.get(), 1));
  for (const WCHAR* name : {WTEXT("Binary.alphabet"), WTEXT("Binary.empty"), WTEXT("IntBlobs.-3"),
                            WTEXT("LongBlobs.70000"), WTEXT("Mixed.3")}) {
    EXPECT_EQ(typeStreams.count(name), 1u) << Narrow(name);
  }
}

// The key columns of a table: field 0 names the table (once there is a
// key), fields 1..n the keys in column order. The catalogue and virtual
// tables have none; a name _Tables does not hold (names are exact) is
// refused and the caller's handle left alone.
TEST(PrimaryKeys, KeyColumnsByTable) {
  Handle db = OpenFixture("multi-key.msi");
  const struct {
    const WCHAR* table;
    std::vector<WString> keys;
  } cases[] = {
      {WTEXT("Sig"), {WTEXT("Table"), WTEXT("Obj")}},
      {WTEXT("Patch"), {WTEXT("File_"), WTEXT("Sequence")}},
      {WTEXT("Late"), {WTEXT("Id")}},
      {WTEXT("Three"), {WTEXT("A"), WTEXT("B"), WTEXT("C")}},
      {WTEXT("_Validation"), {WTEXT("Table"), WTEXT("Column")}},
      {WTEXT("_Streams"), {}},
      {WTEXT("_Storages"), {}},
      {WTEXT("_Tables"), {}},
      {WTEXT("_Columns"), {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Narrow(c.table));
    Handle keys;
    ASSERT_EQ(MsiDatabaseGetPrimaryKeysW(db.get(), c.table, keys.out()), 0u);
    ASSERT_EQ(MsiRecordGetFieldCount(keys.get()), c.keys.size());
    EXPECT_EQ(Str(keys.get(), 0), c.keys.empty() ? WString() : WString(c.table));
    for (UINT i = 0; i < c.keys.size(); ++i) EXPECT_EQ(Str(keys.get(), i + 1), c.keys[i]);
    EXPECT_EQ(MsiRecordGetInteger(keys.get(), 1), MSI_NULL_INTEGER);
  }
  for (const WCHAR* missing : {WTEXT("sig"), WTEXT("SIG"), WTEXT("Nope"), WTEXT(""),
                               WTEXT("Sig "), WTEXT("Media")}) {
    MSIHANDLE keys = 0xABCD;
    EXPECT_EQ(MsiDatabaseGetPrimaryKeysW(db.get(), missing, &keys),
              static_cast<UINT>(ERROR_INVALID_TABLE))
        << Narrow(missing);
    EXPECT_EQ(keys, 0xABCDu);
  }
  MSIHANDLE keys = 0xABCD;
  EXPECT_EQ(MsiDatabaseGetPrimaryKeysW(0, WTEXT("Sig"), &keys),
            static_cast<UINT>(ERROR_INVALID_HANDLE));
  std::vector<Handle> rows = Rows(db.get(), "Sig");
  ASSERT_FALSE(rows.empty());
  EXPECT_EQ(MsiDatabaseGetPrimaryKeysW(rows[0].get(), WTEXT("Sig"), &keys),
            static_cast<UINT>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(keys, 0xABCDu);
}

struct Property {
  UINT rc, type;
  INT integer;
  FILETIME time;
  DWORD length;
  WString text;
};

Property GetProperty(MSIHANDLE summary, UINT id, DWORD room = 256) {
  Property p{0, 0xDEAD, 1234, {0x1111, 0x2222}, room, {}};
  std::vector<WCHAR> buffer(room + 1, WCHAR('x'));
  p.rc = MsiSummaryInfoGetPropertyW(summary, id, &p.type, &p.integer, &p.time, buffer.data(),
                                    &p.length);
  if (p.type == 30 && p.rc == 0) p.text.assign(buffer.data(), p.length);
  else p.text.assign(buffer.data(), room);
  return p;
}

TEST(SummaryInformation, PropertiesTypesAndBuffers) {
  Handle db = OpenFixture("types.msi");
  Handle summary;
  ASSERT_EQ(MsiGetSummaryInformationW(db.get(), nullptr, 0, summary.out()), 0u);
  UINT count = 0;
  EXPECT_EQ(MsiSummaryInfoGetPropertyCount(summary.get(), &count), 0u);
  EXPECT_EQ(count, 17u);

  Property codepage = GetProperty(summary.get(), 1);
  EXPECT_EQ(codepage.type, 2u);  // VT_I2
  EXPECT_EQ(codepage.integer, 1252);
  Property title = GetProperty(summary.get(), 2);
  EXPECT_EQ(title.rc, 0u);
  EXPECT_EQ(title.type, 30u);  // VT_LPSTR
  EXPECT_EQ(title.length, 21u);
  EXPECT_EQ(title.text, WTEXT("Installation Database"));
  Property printed = GetProperty(summary.get(), 11);
  EXPECT_EQ(printed.type, 64u);  // VT_FILETIME, 2009-04-12 15:46:21
  EXPECT_EQ(printed.time.dwHighDateTime, 0x01C9BB85u);
  EXPECT_EQ(printed.time.dwLowDateTime, 0xD37D0480u);
  Property pages = GetProperty(summary.get(), 14);
  EXPECT_EQ(pages.type, 3u);  // VT_I4
  EXPECT_EQ(pages.integer, 200);

  // Absent properties: VT_EMPTY, everything else untouched.
  for (UINT id : {0u, 10u, 17u}) {
    Property p = GetProperty(summary.get(), id, 8);
    EXPECT_EQ(p.rc, 0u) << id;
    EXPECT_EQ(p.type, 0u) << id;
    EXPECT_EQ(p.integer, 1234);
    EXPECT_EQ(p.time.dwLowDateTime, 0x1111u);
    EXPECT_EQ(p.length, 8u);
    EXPECT_EQ(p.text, WTEXT("xxxxxxxx"));
  }
  Property unknown = GetProperty(summary.get(), 20);
  EXPECT_EQ(unknown.rc, static_cast<UINT>(ERROR_UNKNOWN_PROPERTY));
  EXPECT_EQ(unknown.type, 0u);

  // Too small: more data and the full length, the text cut before the end.
  Property small = GetProperty(summary.get(), 2, 8);
  EXPECT_EQ(small.rc, static_cast<UINT>(ERROR_MORE_DATA));
  EXPECT_EQ(small.length, 21u);
  EXPECT_EQ(small.text.substr(0, 7), WTEXT("Install"));
  // No buffer: only the length, and whether it would have fitted.
  UINT type = 0;
  DWORD length = 5;
  EXPECT_EQ(MsiSummaryInfoGetPropertyW(summary.get(), 2, &type, nullptr, nullptr, nullptr, &length),
            static_cast<UINT>(ERROR_MORE_DATA));
  EXPECT_EQ(length, 21u);
  length = 50;
  EXPECT_EQ(MsiSummaryInfoGetPropertyW(summary.get(), 2, &type, nullptr, nullptr, nullptr, &length),
            0u);
  EXPECT_EQ(length, 21u);
  EXPECT_EQ(MsiSummaryInfoGetPropertyCount(summary.get(), nullptr), 0u);

  EXPECT_EQ(MsiSummaryInfoGetPropertyCount(0, &count), static_cast<UINT>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(MsiGetSummaryInformationW(db.get(), nullptr, 0, nullptr),
            static_cast<UINT>(ERROR_INVALID_PARAMETER));
}

TEST(Handles, ZeroClosedAndWrongKinds) {
  EXPECT_EQ(MsiCloseHandle(0), 0u);
  Handle db = OpenFixture("types.msi");
  std::vector<Handle> rows = Rows(db.get(), "Cells");
  ASSERT_FALSE(rows.empty());
  MSIHANDLE record = rows[0].release();
  EXPECT_EQ(MsiCloseHandle(record), 0u);
  EXPECT_EQ(MsiCloseHandle(record), static_cast<UINT>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(MsiRecordGetFieldCount(record), 0xFFFFFFFFu);
  EXPECT_EQ(MsiRecordGetInteger(record, 1), MSI_NULL_INTEGER);
  EXPECT_EQ(MsiRecordDataSize(record, 1), 0u);
  DWORD length = 0;
  EXPECT_EQ(MsiRecordGetStringW(record, 1, nullptr, &length),
            static_cast<UINT>(ERROR_INVALID_HANDLE));
  // A handle of another kind is as good as none.
  Handle view;
  EXPECT_EQ(MsiDatabaseOpenViewW(rows[1].get(), WTEXT("SELECT * FROM Cells"), view.out()),
            static_cast<UINT>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(MsiViewExecute(db.get(), 0), static_cast<UINT>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(MsiViewClose(rows[1].get()), static_cast<UINT>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(MsiRecordGetFieldCount(db.get()), 0xFFFFFFFFu);
  UINT count = 0;
  EXPECT_EQ(MsiSummaryInfoGetPropertyCount(db.get(), &count),
            static_cast<UINT>(ERROR_INVALID_HANDLE));
}

// Files that are not databases are refused with an error and no handle.
TEST(Open, NonDatabasesAreRefused) {
  std::string dir = MSIARC_FIXTURE_DIR;
  std::string text = dir + "/contract-not-a-database.txt";
  std::string empty = dir + "/contract-empty.msi";
  std::string cut = dir + "/contract-truncated.msi";
  std::ofstream(text, std::ios::binary) << "just some text, no compound file\n";
  std::ofstream(empty, std::ios::binary).flush();
  {
    std::ifstream in(dir + "/types.msi", std::ios::binary);
    std::string head(700, '\0');
    in.read(head.data(), static_cast<std::streamsize>(head.size()));
    std::ofstream(cut, std::ios::binary) << head;
  }
  for (const std::string& path : {text, empty, cut, dir + "/does-not-exist.msi", dir}) {
    MSIHANDLE db = 0;
    WString wide = Widen(path);
    EXPECT_NE(MsiOpenDatabaseW(wide.c_str(), MSIDBOPEN_READONLY, &db), 0u) << path;
    EXPECT_EQ(db, 0u) << path;
  }
  std::remove(text.c_str());
  std::remove(empty.c_str());
  std::remove(cut.c_str());
}

TEST(FetchRecordString, InlineHeapAndLongValues) {
  Handle db = OpenFixture("long-strings.msi");
  std::vector<Handle> rows = Rows(db.get(), "Strings");
  ASSERT_EQ(rows.size(), 13u);
  // Rows 2..5 hold 126, 127, 128 and 129 characters: either side of the
  // 128-unit local buffer; rows 10..12 are past 65,535.
  for (size_t i : {0u, 1u, 2u, 3u, 4u, 9u, 10u, 11u, 12u}) {
    MSIHANDLE rec = rows[i].get();
    DWORD length = 0;
    ASSERT_EQ(MsiRecordGetStringW(rec, 3, nullptr, &length), 0u);
    WString value = WTEXT("stale");
    DWORD reported = length;
    ASSERT_TRUE(FetchRecordString(rec, 2, value, reported)) << i;
    EXPECT_EQ(value.size(), length) << i;
    EXPECT_EQ(value, Str(rec, 3)) << i;
  }
  // Integer and null fields, read as text.
  Handle types = OpenFixture("types.msi");
  std::vector<Handle> cells = Rows(types.get(), "Cells");
  ASSERT_EQ(cells.size(), 4u);
  for (UINT column : {6u, 1u}) {  // "-2147483647" (field 7), null (field 2)
    MSIHANDLE rec = column == 6 ? cells[2].get() : cells[1].get();
    DWORD length = 0;
    ASSERT_EQ(MsiRecordGetStringW(rec, column + 1, nullptr, &length), 0u);
    WString value;
    ASSERT_TRUE(FetchRecordString(rec, column, value, length));
    EXPECT_EQ(value, column == 6 ? WString(WTEXT("-2147483647")) : WString());
  }
  // Non-ASCII text keeps its UTF-16 units.
  Handle utf8 = OpenFixture("codepage-65001.msi");
  std::vector<Handle> text = Rows(utf8.get(), "Text");
  ASSERT_EQ(text.size(), 4u);
  DWORD length = 0;
  ASSERT_EQ(MsiRecordGetStringW(text[0].get(), 2, nullptr, &length), 0u);
  WString value;
  ASSERT_TRUE(FetchRecordString(text[0].get(), 1, value, length));
  EXPECT_EQ(value, WTEXT("é€😀 mixed"));
}

}  // namespace
}  // namespace contract
