// Catalogue population from test databases and the corpus.
#include <algorithm>
#include <map>

#include "catalog/catalog_support.h"

namespace catalog_test {
namespace {

using Names = std::vector<std::string>;

TEST(Population, SummaryTablesAndCellsInListingOrder) {
  Opened opened(Fixture("cat-naming"));
  opened.Build();
  Names names = opened.EntryNames();
  Names expected = {
      "_SummaryInformation.csv", "Property.csv",
      "Icon\\logo", "Icon\\dup", "Icon\\DUP_001", "Icon\\sub\\x.y",
      "Icon\\__\\__\\evil.dll", "Icon\\a\\__\\b", "Icon\\.config", "Icon\\x.",
      "Icon\\a.b.c", "Icon\\100%", "Icon\\____",
      "Mixed\\first", "Mixed\\second", "IntOnly.csv"};
  ASSERT_GE(names.size(), expected.size());
  EXPECT_EQ(Names(names.begin(), names.begin() + expected.size()), expected);

  // The _Streams rows follow, in the engine's order: aliases of the cells
  // above under the key alone, every other stream under its own name.
  std::map<std::string, std::string> streams;
  std::vector<FileEntry*> entries = opened.Entries();
  for (size_t i = expected.size(); i < entries.size(); ++i) {
    FileEntry* entry = entries[i];
    EXPECT_EQ(entry->kind, StreamCell);
    EXPECT_NE(entry->record, 0u);
    std::string name = Narrow(entry->name);
    EXPECT_EQ(streams.count(name), 0u) << name;
    streams[name] = entry->target ? Narrow(entry->target->name) : "";
  }
  std::map<std::string, std::string> expectedStreams = {
      {"_Streams\\logo", "Icon\\logo"},
      {"_Streams\\dup", "Icon\\dup"},
      {"_Streams\\Icon.DUP", ""},
      {"_Streams\\sub\\x.y", "Icon\\sub\\x.y"},
      {"_Streams\\__\\__\\evil.dll", "Icon\\__\\__\\evil.dll"},
      {"_Streams\\a\\__\\b", "Icon\\a\\__\\b"},
      {"_Streams\\.config", "Icon\\.config"},
      {"_Streams\\x.", "Icon\\x."},
      {"_Streams\\a.b.c", "Icon\\a.b.c"},
      {"_Streams\\100%", "Icon\\100%"},
      {"_Streams\\____", "Icon\\____"},
      {"_Streams\\Mixed.1", ""},
      {"_Streams\\Mixed.2", ""},
      {"_Streams\\IntOnly.7", ""},
      {"_Streams\\Icon.nosuch", ""},
      {"_Streams\\plainstream", ""},
      {"_Streams\\_SummaryInformation", ""},
  };
  EXPECT_EQ(streams, expectedStreams);

  EXPECT_EQ(static_cast<size_t>(opened.archive()->entryCount), entries.size());
  EXPECT_EQ(opened.Entry("ICON\\LOGO")->refCount, 2);
  EXPECT_EQ(opened.Entry("_SummaryInformation.csv")->kind, SummaryInfo);
  EXPECT_EQ(opened.Entry("_SummaryInformation.csv")->table, nullptr);
  EXPECT_EQ(opened.Entry("Property.csv")->kind, TableCsv);
  EXPECT_EQ(opened.Entry("Property.csv")->record, 0u);
  EXPECT_EQ(opened.Entry("IntOnly.csv")->kind, TableCsv);
  // A stream table without rows yields nothing at all.
  EXPECT_EQ(opened.Entry("NoRows.csv"), nullptr);
  for (const std::string& name : names) EXPECT_FALSE(HasClimbingSegment(name)) << name;
}

TEST(Population, BuildsOnceAndNeverAgain) {
  Opened opened(Fixture("cat-naming"));
  opened.Build();
  size_t count = opened.Entries().size();
  LONG references = opened.archive()->refCount;
  opened.Build();
  EXPECT_EQ(opened.Entries().size(), count);
  EXPECT_EQ(opened.archive()->refCount, references);
}

TEST(Population, WithoutSummaryOrTablesTheCatalogueStaysAsThePartsSay) {
  // No table whose view opens besides _Streams, no summary written.
  Opened opened(Fixture("cat-streams-listed"));
  opened.Build();
  Names names = opened.EntryNames();
  ASSERT_FALSE(names.empty());
  EXPECT_EQ(std::count(names.begin(), names.end(), "Zed.csv"), 1);
  EXPECT_EQ(std::count(names.begin(), names.end(), "FEATURE.csv"), 0);
}

TEST(Population, UnreadableKeyDropsTheRow) {
  Opened opened(Fixture("cat-naming"));
  opened.Build();
  TableInfo* icon = opened.Table("Icon");
  ASSERT_NE(icon, nullptr);
  LONG before = icon->refCount;
  FileEntry* entry = CreateEntry(icon);
  EXPECT_EQ(InitRowEntry(entry, opened.archive(), 0), 50u);
  EXPECT_EQ(entry->kind, 0);
  EXPECT_EQ(entry->record, 0u);
  EXPECT_EQ(ReleaseEntry(entry), 0);
  EXPECT_EQ(icon->refCount, before);
}

TEST(Population, SummaryEntryTakesTheHandle) {
  Opened opened(Fixture("cat-discovery"));
  opened.Build();
  FileEntry* summary = opened.Entry("_summaryinformation.CSV");
  ASSERT_NE(summary, nullptr);
  EXPECT_NE(summary->record, 0u);
  EXPECT_EQ(opened.Entries().front(), summary);
}

}  // namespace
}  // namespace catalog_test
