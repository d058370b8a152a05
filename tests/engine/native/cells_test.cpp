// Rows read as cells in place answer as the same rows' records do, for
// every table of every corpus database and batches of many sizes; other
// tables are refused before any row.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/msi_api.h"
#include "support/helpers.h"

namespace msiarc::testing {
namespace {

std::u16string Text(MSIHANDLE record, UINT field) {
  DWORD length = 0;
  MsiRecordGetStringW(record, field, nullptr, &length);
  std::u16string text(length + 1, u'\0');
  MsiRecordGetStringW(record, field, text.data(), &++length);
  return text.substr(0, length);
}

std::u16string Text(const NativeCell& cell) {
  if (cell.type != NativeCellType::String) return std::u16string();
  if (!cell.narrow) return std::u16string(static_cast<const char16_t*>(cell.text), cell.length);
  const auto* bytes = static_cast<const uint8_t*>(cell.text);
  return std::u16string(bytes, bytes + cell.length);
}

TEST(CellRows, EveryCorpusTableAnswersAsItsRecords) {
  size_t rows = 0;
  UINT batch = 1;
  for (const auto& file : test_support::CorpusDatabases()) {
    SCOPED_TRACE(file.string());
    MSIHANDLE db = 0;
    ASSERT_EQ(MsiOpenDatabaseW(test_support::W(file.string()).c_str(), MSIDBOPEN_READONLY, &db), 0u);
    std::vector<std::u16string> tables = {u"_Tables", u"_Columns", u"_Streams"};
    MSIHANDLE view = 0, cells = 0, record = 0, types = 0;
    MsiDatabaseOpenViewW(db, u"SELECT * FROM `_Tables`", &view);
    MsiViewExecute(view, 0);
    for (; MsiViewFetch(view, &record) == 0; MsiCloseHandle(record)) tables.push_back(Text(record, 1));
    MsiCloseHandle(view);
    for (const std::u16string& table : tables) {
      const std::u16string query = u"SELECT * FROM `" + table + u"`";
      // A transform lists tables it holds no columns for.
      if (MsiDatabaseOpenViewW(db, query.c_str(), &view) != 0) continue;
      ASSERT_EQ(MsiDatabaseOpenViewW(db, query.c_str(), &cells), 0u);
      ASSERT_EQ(MsiViewGetColumnInfo(view, MSICOLINFO_TYPES, &types), 0u);
      const UINT width = MsiRecordGetFieldCount(types);
      bool refused = table == u"_Streams";
      for (UINT c = 1; c <= width; ++c) refused |= (Text(types, c)[0] | 0x20) == u'v';
      MsiCloseHandle(types);
      MsiViewExecute(view, 0);
      MsiViewExecute(cells, 0);
      batch = batch % 300 + 7;  // smaller and larger than the tables
      std::vector<NativeCell> got(width * batch + 1);
      UINT fetched = 0, result = 0;
      EXPECT_EQ(NativeViewFetchRows(cells, got.data(), width + 1, batch, &fetched), 120u);
      while ((result = NativeViewFetchRows(cells, got.data(), width, batch, &fetched)) == 0) {
        ASSERT_TRUE(fetched >= 1 && fetched <= batch);
        for (UINT r = 0; r < fetched; ++r, ++rows, MsiCloseHandle(record)) {
          ASSERT_EQ(MsiViewFetch(view, &record), 0u);
          for (UINT c = 0; c < width; ++c) {
            const NativeCell& cell = got[r * width + c];
            if (cell.type == NativeCellType::String) {
              EXPECT_TRUE(Text(cell) == Text(record, c + 1)) << rows << "," << c;
            } else {
              const int integer = cell.type == NativeCellType::Integer ? cell.integer : MSI_NULL_INTEGER;
              EXPECT_EQ(integer, MsiRecordGetInteger(record, c + 1)) << rows << "," << c;
            }
          }
        }
      }
      EXPECT_EQ(result, refused ? 120u : 259u);  // ERROR_NO_MORE_ITEMS
      if (!refused) {
        EXPECT_EQ(MsiViewFetch(view, &record), 259u);
      }
      MsiCloseHandle(view);
      MsiCloseHandle(cells);
    }
    MsiCloseHandle(db);
  }
  EXPECT_GT(rows, 10000u);
}

}  // namespace
}  // namespace msiarc::testing
