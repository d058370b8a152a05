// Catalogue population from test databases and the corpus.
#include <algorithm>
#include <map>

#include "support/catalog_support.h"

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
      "Icon\\__\\__\\evil.dll", "Icon\\a\\__\\b", "Icon\\.config", "Icon\\x_",
      "Icon\\a.b.c", "Icon\\100%", "Icon\\____",
      "Mixed\\first", "Mixed\\second", "IntOnly.csv", "_Validation.csv"};
  ASSERT_GE(names.size(), expected.size());
  EXPECT_EQ(Names(names.begin(), names.begin() + expected.size()), expected);

  // The _Streams rows follow, in the engine's order: aliases of the cells
  // above under the key alone (made unique: Icon.DUP comes before Icon.dup),
  // every other stream under its own name.
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
      {"_Streams\\dup_001", "Icon\\dup"},
      {"_Streams\\DUP", "Icon\\DUP_001"},
      {"_Streams\\sub\\x.y", "Icon\\sub\\x.y"},
      {"_Streams\\__\\__\\evil.dll", "Icon\\__\\__\\evil.dll"},
      {"_Streams\\a\\__\\b", "Icon\\a\\__\\b"},
      {"_Streams\\.config", "Icon\\.config"},
      {"_Streams\\x_", "Icon\\x_"},
      {"_Streams\\a.b.c", "Icon\\a.b.c"},
      {"_Streams\\100%", "Icon\\100%"},
      {"_Streams\\____", "Icon\\____"},
      // Mixed is keyed by Id and named by Label: its streams are Mixed.1
      // and Mixed.2.
      {"_Streams\\1", "Mixed\\first"},
      {"_Streams\\2", "Mixed\\second"},
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
  EXPECT_EQ(std::count(names.begin(), names.end(), "Feature.csv"), 1);
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

namespace catalog_test {
namespace {

// The order and form the Parts give every catalogue: the summary entry,
// then per table either its CSV file or its rows' cells in its folder.
void ExpectPredictedShape(const Opened& opened, const std::string& label) {
  std::vector<FileEntry*> entries = opened.Entries();
  size_t next = 0;
  if (next < entries.size() && entries[next]->kind == SummaryInfo) {
    EXPECT_EQ(Narrow(entries[next]->name), "_SummaryInformation.csv") << label;
    ++next;
  }
  for (TableInfo* table : opened.Tables()) {
    std::string name = Narrow(table->name);
    if (table->streamColumn == -1 || table->nameColumn == -1) {
      ASSERT_LT(next, entries.size()) << label << ": " << name;
      FileEntry* entry = entries[next++];
      EXPECT_EQ(entry->kind, TableCsv) << label << ": " << name;
      EXPECT_EQ(entry->table, table) << label << ": " << name;
      std::string entryName = Narrow(entry->name);
      EXPECT_TRUE(entryName == name + ".csv" || entryName.rfind(name + "_", 0) == 0)
          << label << ": " << entryName;
      continue;
    }
    for (; next < entries.size() && entries[next]->table == table; ++next) {
      FileEntry* entry = entries[next];
      EXPECT_EQ(entry->kind, StreamCell) << label;
      EXPECT_NE(entry->record, 0u) << label;
      std::string folder = (entry->target ? "_Streams" : name) + "\\";
      EXPECT_EQ(Narrow(entry->name).rfind(folder, 0), 0u) << label << ": " << Narrow(entry->name);
      if (entry->target != nullptr) {
        EXPECT_EQ(table->isStreamsTable, 1) << label;
      }
    }
  }
  EXPECT_EQ(next, entries.size()) << label;
}

TEST(CorpusCatalogue, EveryDatabaseHasThePredictedShape) {
  for (const fs::path& path : test_support::CorpusDatabases()) {
    Opened opened(path);
    ASSERT_NE(opened.archive(), nullptr) << path;
    opened.Build();
    ExpectPredictedShape(opened, path.filename().string());
  }
}

TEST(CorpusCatalogue, ExampleDatabaseInFull) {
  Opened opened(Corpus("psmsi__Example.msi"));
  opened.Build();
  // _Validation names _SummaryInformation too; no view opens for it, so it
  // takes no name from the summary entry.
  EXPECT_TRUE(HasTableName(opened.archive(), W("_SummaryInformation").c_str()));
  EXPECT_EQ(opened.EntryNames(),
            (Names{"_SummaryInformation.csv", "_Validation.csv", "AdminExecuteSequence.csv",
                   "AdminUISequence.csv", "AdvtExecuteSequence.csv", "Component.csv",
                   "Directory.csv", "Feature.csv", "FeatureComponents.csv", "File.csv",
                   "InstallExecuteSequence.csv", "InstallUISequence.csv", "Media.csv",
                   "Property.csv", "MsiFileHash.csv", "Registry.csv", "_Streams\\cab1.cab",
                   "_Streams\\_SummaryInformation"}));
}

}  // namespace
}  // namespace catalog_test
