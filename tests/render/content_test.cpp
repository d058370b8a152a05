// Stream cells and aliases read again and again, and the summary
// information file.
#include <string>

#include "render_support.h"

using namespace render_test;

namespace {

class StreamCellTest : public ::testing::Test {
 protected:
  Database db{FixturePath("ren-csv.msi")};
  std::unique_ptr<HandTable> binary;
  void SetUp() override {
    ASSERT_EQ(0u, db.status());
    binary = std::make_unique<HandTable>(
        db.get(), "Binary",
        std::vector<Column>{{"Name", ColumnKind::String},
                            {"Data", ColumnKind::Stream}},
        1);
  }
  std::unique_ptr<HandEntry> Cell(const char* key) {
    return std::make_unique<HandEntry>(
        StreamCell, &binary->info, FetchRow(db.get(), "Binary", 1, key));
  }
};

TEST_F(StreamCellTest, MeasuresAndReadsTheStream) {
  auto ten = Cell("ten");
  EXPECT_EQ(std::string(10000, 'A'), MeasureAndFill(&ten->entry));
  auto page = Cell("page");
  EXPECT_EQ(std::string(4096, 'B'), MeasureAndFill(&page->entry));
  auto empty = Cell("empty");
  EXPECT_EQ(std::string(), MeasureAndFill(&empty->entry));
}

// An alias lists its final target's size and shows the same bytes, read
// through its own record; every reading after the first fetches the row
// afresh, so that each gives the whole stream.
TEST_F(StreamCellTest, EveryReadingGivesTheWholeStream) {
  auto target = Cell("ten");
  auto middle = Cell("ten");
  auto alias = Cell("ten");
  middle->entry.target = &target->entry;
  alias->entry.target = &middle->entry;
  HandArchive hand;
  EXPECT_EQ(0u, MeasureContent(&hand.archive, &alias->entry));
  EXPECT_EQ(10000u, target->entry.size);
  EXPECT_EQ(0u, alias->entry.size);
  EXPECT_EQ(10000u, GetContentSize(&alias->entry));
  for (FileEntry* entry : {&target->entry, &target->entry, &alias->entry, &alias->entry,
                           &target->entry}) {
    EXPECT_EQ(std::string(10000, 'A'), Produce(&hand.archive, entry));
  }
}

// A reading that cannot start leaves the entry to try again: a failure is
// never content.
TEST_F(StreamCellTest, FailedReadingIsTriedAgain) {
  auto cell = Cell("ten");
  HandArchive hand;
  ASSERT_EQ(0u, MeasureContent(&hand.archive, &cell->entry));
  const MSIHANDLE record = cell->entry.record;
  cell->entry.record = 0;  // the read now fails
  DWORD result = 0;
  EXPECT_EQ(std::string(), Produce(&hand.archive, &cell->entry, &result));
  EXPECT_NE(0u, result);
  cell->entry.record = record;  // tries again, and now succeeds
  EXPECT_EQ(std::string(10000, 'A'), Produce(&hand.archive, &cell->entry));
}

TEST(Content, UnknownKindIsNotSupported) {
  HandEntry entry(kEntryNone, nullptr);
  entry.entry.size = 5;
  HandArchive hand;
  EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_SUPPORTED), MeasureContent(&hand.archive, &entry.entry));
  EXPECT_EQ(5u, entry.entry.size);
  DWORD result = 0;
  EXPECT_EQ(std::string(), Produce(&hand.archive, &entry.entry, &result));
  EXPECT_NE(0u, result);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 3;  // after the byte-order mark
  for (size_t end; (end = text.find("\r\n", start)) != std::string::npos;
       start = end + 2) {
    lines.push_back(text.substr(start, end - start));
  }
  EXPECT_EQ(text.size(), start) << "text must end with a line end";
  return lines;
}

TEST(SummaryCsv, PropertiesInIdOrderWithTheirTypes) {
  Database db(FixturePath("ren-csv.msi"));
  ASSERT_EQ(0u, db.status());
  MSIHANDLE summary = 0;
  ASSERT_EQ(0u, MsiGetSummaryInformationW(db.get(), nullptr, 0, &summary));
  HandEntry entry(SummaryInfo, nullptr, summary);
  const std::string text = MeasureAndFill(&entry.entry);
  ASSERT_EQ("\xEF\xBB\xBF", text.substr(0, 3));
  const std::vector<std::string> lines = Lines(text);
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ("\"Name\",\"Value\"", lines[0]);

  int lastId = -1;
  bool sawSubject = false;
  for (size_t i = 1; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    int id = -1;
    for (int k = 0; k < 20; ++k) {
      const WCHAR* name = SummaryPropertyNames[k].name;
      if (name == nullptr) continue;
      std::string narrow = "\"";
      for (const WCHAR* p = name; *p; ++p) narrow.push_back(static_cast<char>(*p));
      narrow += "\",\"";
      if (line.compare(0, narrow.size(), narrow) == 0) id = k;
    }
    ASSERT_GT(id, lastId) << line;
    lastId = id;
    const std::string value = line.substr(line.find("\",\"") + 3);
    if (id == 3) {
      EXPECT_EQ("Render fixture\"", value);
      sawSubject = true;
    }
    if (id == 1 || id == 14 || id == 15 || id == 16 || id == 19) {
      // Signed decimal integers.
      ASSERT_GE(value.size(), 2u);
      const std::string digits = value.substr(0, value.size() - 1);
      EXPECT_EQ(std::string::npos,
                digits.find_first_not_of("-0123456789")) << line;
    }
  }
  EXPECT_TRUE(sawSubject);
}

TEST(SummaryCsv, UnreadableSummaryGivesTheHeaderAlone) {
  HandEntry entry(SummaryInfo, nullptr, 0);
  EXPECT_EQ("\xEF\xBB\xBF\"Name\",\"Value\"\r\n", MeasureAndFill(&entry.entry));
}

TEST(SummaryCsv, FileTimeTexts) {
  WCHAR buffer[1024];
  FormatFileTime(buffer, FILETIME{0, 0});
  EXPECT_EQ(W("N/A"), WString(buffer));
  FormatFileTime(buffer, FILETIME{12345, 0});
  EXPECT_EQ(W("N/A"), WString(buffer));

  // 2026-12-07 13:45:30 UTC, shown as stored (no time-zone change) with the
  // time in 24-hour form after one space.
  const uint64_t ticks = 134411247300000000ULL;
  FormatFileTime(buffer, FILETIME{static_cast<DWORD>(ticks),
                                  static_cast<DWORD>(ticks >> 32)});
  const WString text(buffer);
  const size_t space = text.find(WTEXT(' '));
  ASSERT_NE(WString::npos, space);
  EXPECT_NE(WString::npos, text.find(W("26")));
  EXPECT_NE(WString::npos, text.find(W("13:45"), space));

  // The last times a FILETIME holds still show their date.
  FormatFileTime(buffer, FILETIME{0xFFFFFFFFu, 0x7FFFFFFFu});
  EXPECT_NE(WString::npos, WString(buffer).find(W("30828")));
  EXPECT_NE(WString::npos, WString(buffer).find(W("48:05")));
}

}  // namespace
