// The table CSV writer: the dialect byte for byte, measured size equal to
// written size, and the tables it cannot render.
#include <cstring>

#include "render_support.h"

using namespace render_test;

namespace {

::testing::Environment* const kModule =
    ::testing::AddGlobalTestEnvironment(new ModuleEnvironment);

const char kBom[] = "\xEF\xBB\xBF";

class CsvTest : public ::testing::Test {
 protected:
  Database db{FixturePath("ren-csv.msi")};
  void SetUp() override { ASSERT_EQ(0u, db.status()); }
};

TEST_F(CsvTest, RowsFollowTheDialectByteForByte) {
  HandTable table(db.get(), "Cells",
                  {{"Key", ColumnKind::String},
                   {"Id", ColumnKind::Integer},
                   {"Text", ColumnKind::String}});
  HandEntry entry(TableCsv, &table.info);
  const std::string expected =
      std::string(kBom) +
      "\"Key\",\"Id\",\"Text\"\r\n"
      "\"k1\",\"7\",\"a\"\"b\"\r\n"            // a quote inside is doubled
      "\"k2\",\"(null)\",\"\"\r\n"             // null integer, empty string
      "\"k3\",\"-2147483647\",\"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\"\r\n"
      "\"k4\",\"2147483647\",\"x,y\"\r\n"
      "\"k5\",\"0\",\"l1\nl2\"\r\n";            // line break kept
  EXPECT_EQ(expected, MeasureAndFill(&entry.entry));
  EXPECT_EQ(expected.size(), entry.entry.size);
}

TEST_F(CsvTest, HeaderOnlyAndColumnlessTables) {
  HandTable empty(db.get(), "Empty",
                  {{"A", ColumnKind::Integer}, {"B", ColumnKind::String}});
  HandEntry emptyEntry(TableCsv, &empty.info);
  EXPECT_EQ(std::string(kBom) + "\"A\",\"B\"\r\n",
            MeasureAndFill(&emptyEntry.entry));

  // No usable column information: one line end for the header and per row.
  HandTable bare(db.get(), "Cells", {});
  HandEntry bareEntry(TableCsv, &bare.info);
  EXPECT_EQ(std::string(kBom) + "\r\n\r\n\r\n\r\n\r\n\r\n",
            MeasureAndFill(&bareEntry.entry));
}

TEST_F(CsvTest, UnrenderableColumnsFailOnlyWithRows) {
  // No rows: the header names the stream column like any other.
  HandTable none(db.get(), "BlobsNone",
                 {{"Id", ColumnKind::Integer}, {"Data", ColumnKind::Stream}});
  HandEntry noneEntry(TableCsv, &none.info);
  EXPECT_EQ(std::string(kBom) + "\"Id\",\"Data\"\r\n",
            MeasureAndFill(&noneEntry.entry));

  for (ColumnKind kind : {ColumnKind::Stream, ColumnKind::Other}) {
    HandTable rows(db.get(), "BlobsRows",
                   {{"Id", ColumnKind::Integer}, {"Data", kind}});
    HandEntry entry(TableCsv, &rows.info);
    HandArchive hand;
    EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_SUPPORTED),
              MeasureContent(&hand.archive, &entry.entry));
    EXPECT_EQ(0u, entry.entry.size);
    // Size 0: it extracts as an empty file.
    EXPECT_EQ(std::string(), Produce(&hand.archive, &entry.entry));
    // The view was closed, so the table renders again the same way.
    entry.entry.sized = false;
    EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_SUPPORTED),
              MeasureContent(&hand.archive, &entry.entry));
  }
}

TEST(CsvField, MeasuresUtf8AndNeverWritesPastTheBuffer) {
  const WCHAR text[] = {0x00E9, 0x20AC, 0xD83D, 0xDE00, 'x', 0};
  CsvOutput counting;
  counting.Field(text, 5, true);
  EXPECT_EQ(1u + 2u + 2u + 3u + 4u + 1u, counting.count());
  counting.Field(text, 0, false);
  EXPECT_EQ(13u + 2u, counting.count());

  // Through a buffer barely longer than the field: handed over in pieces
  // no longer than the buffer, and nothing lost.
  BYTE block[16];
  Collected collected;
  CsvOutput writing(block, CsvOutput::kMinimumCapacity, &collected, false);
  writing.Field(text, 5, true);
  writing.Field(text, 5, true);
  EXPECT_TRUE(writing.Finish());
  const std::string field = ",\"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80x\"";
  EXPECT_EQ(field + field, collected.bytes);
  for (size_t piece : collected.pieces) EXPECT_LE(piece, sizeof block);
}

}  // namespace
