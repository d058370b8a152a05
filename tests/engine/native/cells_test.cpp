// Rows read as cells in place answer exactly as the same rows' records do,
// for every table of every corpus database, whatever the batch size; tables
// the engine does not read so are refused before any row.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/msi_api.h"
#include "support/helpers.h"

namespace msiarc::testing {
namespace {

using test_support::W;

std::u16string RecordText(MSIHANDLE record, UINT field) {
  DWORD length = 0;
  EXPECT_EQ(MsiRecordGetStringW(record, field, nullptr, &length), ERROR_SUCCESS);
  std::u16string text(length + 1, u'\0');
  EXPECT_EQ(MsiRecordGetStringW(record, field, text.data(), &++length), ERROR_SUCCESS);
  text.resize(length);
  return text;
}

std::u16string CellText(const NativeCell& cell) {
  if (!cell.narrow) return std::u16string(static_cast<const char16_t*>(cell.text), cell.length);
  const auto* bytes = static_cast<const uint8_t*>(cell.text);
  return std::u16string(bytes, bytes + cell.length);
}

// Checks the table's cells against its records; the number of rows read.
size_t CompareTable(MSIHANDLE db, const std::u16string& table, UINT batch) {
  MSIHANDLE view = 0;
  MSIHANDLE cellView = 0;
  const std::u16string query = u"SELECT * FROM `" + table + u"`";
  // A transform lists tables it holds no columns for: no view, no rows.
  if (MsiDatabaseOpenViewW(db, query.c_str(), &view) != ERROR_SUCCESS) return 0;
  EXPECT_EQ(MsiDatabaseOpenViewW(db, query.c_str(), &cellView), ERROR_SUCCESS);
  MSIHANDLE names = 0;
  EXPECT_EQ(MsiViewGetColumnInfo(view, MSICOLINFO_TYPES, &names), ERROR_SUCCESS);
  const UINT width = MsiRecordGetFieldCount(names);
  bool binary = false;
  for (UINT c = 1; c <= width; ++c) binary |= (RecordText(names, c)[0] | 0x20) == u'v';
  MsiCloseHandle(names);
  MsiViewExecute(view, 0);
  MsiViewExecute(cellView, 0);
  std::vector<NativeCell> cells(width * batch + 1);
  UINT fetched = 0;
  // A wrong width is refused and takes no row.
  EXPECT_EQ(NativeViewFetchRows(cellView, cells.data(), width + 1, batch, &fetched),
            ERROR_CALL_NOT_IMPLEMENTED);
  if (binary || table == u"_Streams" || table == u"_Storages") {
    EXPECT_EQ(NativeViewFetchRows(cellView, cells.data(), width, batch, &fetched),
              ERROR_CALL_NOT_IMPLEMENTED);
    MsiCloseHandle(view);
    MsiCloseHandle(cellView);
    return 0;
  }
  size_t rows = 0;
  UINT result;
  while ((result = NativeViewFetchRows(cellView, cells.data(), width, batch, &fetched)) ==
         ERROR_SUCCESS) {
    EXPECT_GE(fetched, 1u);
    EXPECT_LE(fetched, batch);
    for (UINT r = 0; r < fetched; ++r, ++rows) {
      MSIHANDLE record = 0;
      EXPECT_EQ(MsiViewFetch(view, &record), ERROR_SUCCESS);
      for (UINT c = 0; c < width; ++c) {
        const NativeCell& cell = cells[r * width + c];
        const int integer = MsiRecordGetInteger(record, c + 1);
        const std::u16string text = RecordText(record, c + 1);
        switch (cell.type) {
          case NativeCellType::Integer:
            EXPECT_EQ(cell.integer, integer) << rows << "," << c;
            break;
          case NativeCellType::String:
            EXPECT_TRUE(CellText(cell) == text) << rows << "," << c;
            break;
          case NativeCellType::Null:
            EXPECT_TRUE(text.empty() && integer == MSI_NULL_INTEGER) << rows << "," << c;
            break;
        }
      }
      MsiCloseHandle(record);
    }
  }
  EXPECT_EQ(result, static_cast<UINT>(ERROR_NO_MORE_ITEMS));
  MSIHANDLE record = 0;
  EXPECT_EQ(MsiViewFetch(view, &record), static_cast<UINT>(ERROR_NO_MORE_ITEMS));
  // After the end, the next call starts over.
  if (rows != 0) {
    EXPECT_EQ(NativeViewFetchRows(cellView, cells.data(), width, 1, &fetched), ERROR_SUCCESS);
  }
  MsiCloseHandle(view);
  MsiCloseHandle(cellView);
  return rows;
}

TEST(CellRows, EveryCorpusTableAnswersAsItsRecords) {
  size_t rows = 0;
  UINT batch = 1;
  for (const auto& file : test_support::CorpusDatabases()) {
    SCOPED_TRACE(file.string());
    MSIHANDLE db = 0;
    ASSERT_EQ(MsiOpenDatabaseW(W(file.string()).c_str(), MSIDBOPEN_READONLY, &db), ERROR_SUCCESS);
    std::vector<std::u16string> tables = {u"_Tables", u"_Columns", u"_Streams"};
    MSIHANDLE view = 0;
    ASSERT_EQ(MsiDatabaseOpenViewW(db, u"SELECT * FROM `_Tables`", &view), ERROR_SUCCESS);
    MsiViewExecute(view, 0);
    for (MSIHANDLE record = 0; MsiViewFetch(view, &record) == ERROR_SUCCESS; MsiCloseHandle(record)) {
      tables.push_back(RecordText(record, 1));
    }
    MsiCloseHandle(view);
    for (const std::u16string& table : tables) {
      batch = batch % 300 + 7;  // 8, 15, ... 302, 8: batches smaller and larger than tables
      rows += CompareTable(db, table, batch);
    }
    MsiCloseHandle(db);
  }
  EXPECT_GT(rows, 10000u);
}

}  // namespace
}  // namespace msiarc::testing
