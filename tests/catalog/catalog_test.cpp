// Opening and closing archives, table discovery and table schema, against
// databases built from text sources and the corpus of real ones.
#include <fstream>
#include <map>

#include "support/catalog_support.h"

namespace catalog_test {
namespace {

using Names = std::vector<std::string>;

TEST(ArchiveLifecycle, RefusesWhatItCannotOpen) {
  int result = -1;
  EXPECT_EQ(OpenPath(Fixture("cat-discovery"), 2, &result), nullptr);
  EXPECT_EQ(result, kHostUnknownFormat);
  EXPECT_EQ(OpenPath(fs::path(MSIARC_FIXTURE_DIR) / "no-such-database.msi", 0, &result), nullptr);
  EXPECT_EQ(result, kHostUnknownFormat);
  EXPECT_EQ(OpenPath(fs::path(MSIARC_FIXTURE_DIR), 0, &result), nullptr);
  EXPECT_EQ(result, kHostUnknownFormat);

  OpenArchiveDataW empty{};
  WCHAR nothing[1] = {0};
  empty.arcName = nothing;
  EXPECT_EQ(OpenArchiveW(&empty), nullptr);
  EXPECT_EQ(empty.openResult, kHostUnknownFormat);
  empty.arcName = nullptr;
  empty.openResult = -1;
  EXPECT_EQ(OpenArchiveW(&empty), nullptr);
  EXPECT_EQ(empty.openResult, kHostUnknownFormat);

  OpenArchiveData ansi{};
  ansi.arcName = nullptr;
  EXPECT_EQ(OpenArchive(&ansi), nullptr);
  EXPECT_EQ(ansi.openResult, kHostUnknownFormat);
}

TEST(ArchiveLifecycle, OpensBothModesAndTheAnsiPath) {
  for (int mode : {0, 1}) {
    int result = -1;
    HANDLE handle = OpenPath(Fixture("cat-discovery"), mode, &result);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(result, kHostSuccess);
    MsiArchive* archive = static_cast<MsiArchive*>(handle);
    EXPECT_EQ(archive->magic, kArchiveMagic);
    EXPECT_EQ(archive->refCount, 1);
    EXPECT_EQ(archive->nextEntry, nullptr);
    EXPECT_TRUE(ListEmpty(&archive->entries));
    EXPECT_TRUE(archive->tableNames.empty());
    EXPECT_NE(archive->database, 0u);
    EXPECT_EQ(CloseArchive(handle), kHostSuccess);
  }
  std::string path = Fixture("cat-discovery").string();
  OpenArchiveData ansi{};
  ansi.arcName = path.data();
  HANDLE handle = OpenArchive(&ansi);
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(ansi.openResult, kHostSuccess);
  EXPECT_EQ(CloseArchive(handle), kHostSuccess);
}

TEST(ArchiveLifecycle, InvalidAndStaleHandlesGet24) {
  EXPECT_EQ(CloseArchive(nullptr), kHostNotSupported);
  EXPECT_EQ(CloseArchive(INVALID_HANDLE_VALUE), kHostNotSupported);
  uint64_t notAnArchive[64] = {kArchiveMagic, kArchiveMagic};
  EXPECT_EQ(CloseArchive(notAnArchive), kHostNotSupported);
  EXPECT_EQ(AcquireArchive(notAnArchive), nullptr);

  HANDLE handle = OpenPath(Fixture("cat-discovery"));
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(CloseArchive(handle), kHostSuccess);
  // The object is gone; the registry answers without reading it.
  EXPECT_EQ(CloseArchive(handle), kHostNotSupported);
  EXPECT_EQ(AcquireArchive(handle), nullptr);
}

TEST(ArchiveLifecycle, TwoOpensAreIndependent) {
  Opened first(Fixture("cat-naming"));
  Opened second(Fixture("cat-naming"));
  ASSERT_NE(first.archive(), nullptr);
  ASSERT_NE(second.archive(), nullptr);
  EXPECT_NE(first.archive(), second.archive());
  first.Build();
  EXPECT_FALSE(first.Entries().empty());
  EXPECT_TRUE(second.Entries().empty());
  EXPECT_TRUE(second.archive()->tableNames.empty());
}

TEST(ArchiveLifecycle, AcquireTakesAndReleaseDropsOneReference) {
  Opened opened(Fixture("cat-discovery"));
  MsiArchive* archive = AcquireArchive(opened.handle());
  ASSERT_EQ(archive, opened.archive());
  EXPECT_EQ(archive->refCount, 2);
  LeaveCriticalSection(&archive->lock);
  EXPECT_EQ(ReleaseArchive(archive), 1);
}

TEST(Recognition, AnswersByTheEngineAlone) {
  fs::path copy = fs::temp_directory_path() / "msiarc-cat-recognition.txt";
  fs::copy_file(Fixture("cat-discovery"), copy, fs::copy_options::overwrite_existing);
  WString name = PathText(copy);
  EXPECT_EQ(CanYouHandleThisFileW(name.data()), 1);
  std::string ansi = copy.string();
  EXPECT_EQ(CanYouHandleThisFile(ansi.data()), 1);
  // Nothing is held open: the file can be replaced at once.
  { std::ofstream(copy, std::ios::binary | std::ios::trunc) << "not a database"; }
  EXPECT_EQ(CanYouHandleThisFileW(name.data()), 0);
  fs::remove(copy);
  EXPECT_EQ(CanYouHandleThisFileW(name.data()), 0);
  EXPECT_EQ(CanYouHandleThisFileW(nullptr), 0);
  EXPECT_EQ(CanYouHandleThisFile(nullptr), 0);
  WCHAR empty[1] = {0};
  EXPECT_EQ(CanYouHandleThisFileW(empty), 0);
}

TEST(Discovery, FirstOccurrencesInRowOrderThenTheCatalogueThenProbes) {
  Opened opened(Fixture("cat-discovery"));
  EXPECT_EQ(DiscoverTables(opened.archive()), 0u);
  // "a" is a name of its own, as the engine compares names; of the
  // engine's catalogue only _Validation itself is new; _ForceCodePage is
  // refused by the engine.
  EXPECT_EQ(opened.TableNames(),
            (Names{"A", "B", "a", "Ghost", "C", "_Validation", "_Streams"}));
  EXPECT_TRUE(HasTableName(opened.archive(), W("Ghost").c_str()));
  EXPECT_FALSE(HasTableName(opened.archive(), W("ghost").c_str()));
  EXPECT_FALSE(HasTableName(opened.archive(), W("Gh").c_str()));
}

TEST(Discovery, StreamsListedByValidationKeepsItsPlace) {
  Opened opened(Fixture("cat-streams-listed"));
  EXPECT_EQ(DiscoverTables(opened.archive()), 0u);
  // The catalogue's Feature is not _Validation's FEATURE: it is listed, and
  // shown (FEATURE opens no view).
  EXPECT_EQ(opened.TableNames(),
            (Names{"_Streams", "Zed", "FEATURE", "_Validation", "Feature"}));
}

TEST(Discovery, WithoutValidationTheCatalogueAndTheProbes) {
  Opened opened(Fixture("no-validation"));
  EXPECT_EQ(DiscoverTables(opened.archive()), 0u);
  const Names catalogue = opened.TableNames();
  EXPECT_EQ(catalogue, (Names{"Feature", "NothingHere", "Property", "_Streams"}));
  EXPECT_EQ(ProbeTable(opened.archive(), W("Property").c_str()), 0u);
  EXPECT_NE(ProbeTable(opened.archive(), W("Missing").c_str()), 0u);
  EXPECT_EQ(ProbeTable(opened.archive(), W("Property").c_str()), 0u);
  EXPECT_EQ(opened.TableNames(), catalogue);
}

TEST(Schema, TablesWhoseViewOpensInNameOrder) {
  Opened opened(Fixture("cat-discovery"));
  ASSERT_EQ(DiscoverTables(opened.archive()), 0u);
  ASSERT_EQ(CreateTables(opened.archive()), 0u);
  std::vector<std::string> made;
  for (TableInfo* table : opened.Tables()) {
    made.push_back(Narrow(table->name));
    EXPECT_EQ(table->refCount, 1);
    EXPECT_EQ(table->archive, opened.archive());
    EXPECT_NE(table->view, 0u);
  }
  EXPECT_EQ(made, (Names{"A", "B", "C", "_Validation", "_Streams"}));
  EXPECT_EQ(opened.archive()->tableCount, 5);
  // One reference for the host, one for each table.
  EXPECT_EQ(opened.archive()->refCount, 6);
  EXPECT_EQ(opened.Table("_Streams")->isStreamsTable, 1);
  EXPECT_EQ(opened.Table("A")->isStreamsTable, 0);
}

TEST(Schema, ColumnKindsWidthsAndTheTwoColumns) {
  Opened opened(Fixture("cat-naming"));
  opened.Build();
  TableInfo* icon = opened.Table("Icon");
  ASSERT_NE(icon, nullptr);
  ASSERT_EQ(icon->columns.size(), 2u);
  EXPECT_EQ(Narrow(icon->columns[0].name), "Name");
  EXPECT_EQ(icon->columns[0].kind, ColumnKind::String);
  EXPECT_EQ(icon->columns[0].width, 72u);
  EXPECT_EQ(icon->columns[1].kind, ColumnKind::Stream);
  EXPECT_EQ(icon->streamColumn, 1);
  EXPECT_EQ(icon->nameColumn, 0);

  TableInfo* mixed = opened.Table("Mixed");
  ASSERT_NE(mixed, nullptr);
  ASSERT_EQ(mixed->columns.size(), 4u);
  EXPECT_EQ(Narrow(mixed->columns[1].type), "V0");
  EXPECT_EQ(mixed->streamColumn, 1);
  EXPECT_EQ(mixed->nameColumn, 2);

  TableInfo* intOnly = opened.Table("IntOnly");
  ASSERT_NE(intOnly, nullptr);
  EXPECT_EQ(intOnly->streamColumn, 1);
  EXPECT_EQ(intOnly->nameColumn, -1);

  TableInfo* property = opened.Table("Property");
  ASSERT_NE(property, nullptr);
  EXPECT_EQ(property->streamColumn, -1);
  EXPECT_EQ(property->nameColumn, -1);
  EXPECT_EQ(property->columns[1].kind, ColumnKind::String);
  EXPECT_EQ(property->columns[1].width, 0u);

  TableInfo* streams = opened.Table("_Streams");
  ASSERT_NE(streams, nullptr);
  EXPECT_EQ(streams->streamColumn, 1);
  EXPECT_EQ(streams->nameColumn, 0);
}

TEST(Schema, TypeTextsMapToKindAndWidth) {
  struct Case {
    const char* type;
    ColumnKind kind;
    uint64_t width;
  } cases[] = {
      {"i2", ColumnKind::Integer, 2},   {"I4", ColumnKind::Integer, 4},
      {"i", ColumnKind::Integer, 4},    {"s72", ColumnKind::String, 72},
      {"S0", ColumnKind::String, 0},    {"L255", ColumnKind::String, 255},
      {"v0", ColumnKind::Stream, 0},    {"g72", ColumnKind::Other, 72},
      {"x", ColumnKind::Other, 0},      {"iX", ColumnKind::Integer, 4},
      {"l", ColumnKind::String, 0},     {"o0", ColumnKind::Other, 0},
      {"s4294967295", ColumnKind::String, 4294967295u},
  };
  for (const Case& c : cases) {
    ColumnInfo column = MakeColumnInfo(W("Col").c_str(), W(c.type).c_str());
    EXPECT_EQ(column.kind, c.kind) << c.type;
    EXPECT_EQ(column.width, c.width) << c.type;
    EXPECT_EQ(Narrow(column.type), c.type);
    EXPECT_EQ(Narrow(column.name), "Col");
  }
  WCHAR empty[] = {0};
  EXPECT_EQ(MakeColumnInfo(W("C").c_str(), empty).kind, ColumnKind::Other);
}

TEST(Schema, ReleasingTheLastReferenceClosesAndDropsTheArchive) {
  HANDLE handle = OpenPath(Fixture("cat-naming"));
  ASSERT_NE(handle, nullptr);
  MsiArchive* archive = static_cast<MsiArchive*>(handle);
  BuildCatalogue(archive);
  TableInfo* icon = nullptr;
  for (ListLink* n = archive->tables.next; n != &archive->tables; n = n->next) {
    if (Narrow(ListOwner<TableInfo>(n)->name) == "Icon") icon = ListOwner<TableInfo>(n);
  }
  ASSERT_NE(icon, nullptr);
  // The list's reference and one per row entry.
  EXPECT_EQ(icon->refCount, 12);
  LONG tables = archive->tableCount;
  EXPECT_EQ(archive->refCount, 1 + tables);
  EXPECT_EQ(CloseArchive(handle), kHostSuccess);
}

TEST(Corpus, EveryDatabaseBuildsACatalogueAndCloses) {
  for (const fs::path& path : test_support::CorpusDatabases()) {
    Opened opened(path);
    ASSERT_NE(opened.archive(), nullptr) << path;
    opened.Build();
    EXPECT_EQ(static_cast<size_t>(opened.archive()->entryCount), opened.Entries().size());
    EXPECT_EQ(static_cast<size_t>(opened.archive()->tableCount), opened.Tables().size());
    for (const std::string& name : opened.EntryNames()) {
      EXPECT_FALSE(HasClimbingSegment(name)) << path << ": " << name;
      EXPECT_LE(name.size(), 259u);
    }
  }
}

// Compound files the engine refuses are damaged archives (13), unless
// their root names another kind of document; anything else is of an
// unknown format (14).
TEST(Corpus, BrokenFilesAreRefused) {
  const std::map<std::string, int> expected = {
      {"filetype__fixture-doc.msi", kHostUnknownFormat},  // a word processor's file
      {"lfs-pointer.msi", kHostUnknownFormat},            // three lines of text
      {"mimetype__msi-4096-truncated.msi", kHostBadArchive},
      {"wix3__MergeModule.msm", kHostBadArchive},         // a byte too many
      {"wix3__MultipleFragments.msi", kHostBadArchive},   // header overwritten
  };
  for (const fs::path& path : test_support::BrokenInputs()) {
#ifdef _WIN32
    // Wine's own open crashes on this one file.
    if (path.filename() == "mimetype__msi-4096-truncated.msi") continue;
#endif
    const auto known = expected.find(path.filename().string());
    ASSERT_NE(known, expected.end()) << path << ": no expected answer";
    int result = -1;
    HANDLE handle = OpenPath(path, 0, &result);
    EXPECT_EQ(handle, nullptr) << path;
    EXPECT_EQ(result, known->second) << path;
    if (handle != nullptr) CloseArchive(handle);
    WString name = PathText(path);
    EXPECT_EQ(CanYouHandleThisFileW(name.data()), 0) << path;
  }
}

}  // namespace
}  // namespace catalog_test
