// Entry naming without a database: entries named into a bare archive record.
#include "archive/refcount.h"
#include "support/catalog_support.h"

#include <cstdio>
#include <map>
#include <set>

namespace catalog_test {
namespace {

// An archive record with empty lists, and tables that hold no archive.
class Naming : public ::testing::Test {
 protected:
  void SetUp() override {
    InitListHead(&archive_.entries);
    InitListHead(&archive_.tables);
    archive_.refCount = 1;
    archive_.naming = new NamingState();
  }
  void TearDown() override {
    while (!ListEmpty(&archive_.entries)) {
      ListLink* node = archive_.entries.next;
      Unlink(node);
      ReleaseEntry(ListOwner<FileEntry>(node));
    }
    for (TableInfo* table : tables_) EXPECT_EQ(ReleaseTable(table), 0);
    delete archive_.naming;
    if (database_ != 0) MsiCloseHandle(database_);  // after the rows it gave
  }

  TableInfo* MakeTable(const std::string& name) {
    TableInfo* table = new TableInfo();
    table->name = W(name);
    table->archive = nullptr;
    InitListNode(&table->link, table);
    table->streamColumn = -1;
    table->nameColumn = 0;
    table->isStreamsTable = name == "_Streams";
    table->refCount = 1;
    tables_.push_back(table);
    return table;
  }

  // Names a row of the table by its key and lists it; returns its name.
  std::string AddCell(TableInfo* table, const WString& key) {
    FileEntry* entry = CreateEntry(table);
    EXPECT_EQ(NameStreamCell(entry, &archive_, key.c_str()), 0u);
    entry->kind = StreamCell;
    AppendEntry(&archive_, entry);
    return Narrow(entry->name);
  }
  std::string AddCell(TableInfo* table, const std::string& key) {
    return AddCell(table, W(key));
  }

  std::string AddNamed(const char* folder, const std::string& base,
                       const std::string& extension) {
    FileEntry* entry = CreateEntry(nullptr);
    WString wideFolder = folder ? W(folder) : WString();
    EXPECT_EQ(AssignUniqueName(entry, &archive_, folder ? wideFolder.c_str() : nullptr,
                               W(base).c_str(), W(extension).c_str()),
              0u);
    AppendEntry(&archive_, entry);
    return Narrow(entry->name);
  }

  MsiArchive archive_{};
  std::vector<TableInfo*> tables_;
  MSIHANDLE database_ = 0;
};

TEST_F(Naming, NewEntryAndTableReference) {
  TableInfo* table = MakeTable("T");
  FileEntry* entry = CreateEntry(table);
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->refCount, 1);
  EXPECT_EQ(entry->kind, 0);
  EXPECT_TRUE(entry->name.empty());
  EXPECT_EQ(entry->link.next, &entry->link);
  EXPECT_EQ(table->refCount, 2);
  EXPECT_EQ(ReleaseEntry(entry), 0);
  EXPECT_EQ(table->refCount, 1);
  FileEntry* bare = CreateEntry(nullptr);
  EXPECT_EQ(bare->table, nullptr);
  EXPECT_EQ(ReleaseEntry(bare), 0);
}

TEST_F(Naming, NumberedDuplicatesIgnoreCase) {
  EXPECT_EQ(AddNamed("Icon", "logo", ".ico"), "Icon\\logo.ico");
  EXPECT_EQ(AddNamed("Icon", "logo", ".ico"), "Icon\\logo_001.ico");
  EXPECT_EQ(AddNamed("Icon", "LOGO", ".ICO"), "Icon\\LOGO_002.ICO");
  EXPECT_EQ(AddNamed(nullptr, "PROPERTY", ".CSV"), "PROPERTY.CSV");
  EXPECT_EQ(AddNamed(nullptr, "Property", ".csv"), "Property_001.csv");
  EXPECT_EQ(AddNamed("", "Property", ".csv"), "Property_002.csv");
}

WString U(std::u16string_view text) { return WString(text.begin(), text.end()); }

// Case as the Windows file system folds it: each unit by its upper case in
// the table of Wine and NTFS, with no special casing. Each row names two
// keys in a table of its own: the second is numbered when the two are one
// file there, and a folder keeps its first spelling across case variants.
TEST_F(Naming, CaseFoldsAsTheWindowsFileSystemDoes) {
  const struct {
    std::u16string_view first, second;
    bool same;
  } cases[] = {
      {u"caf\u00e9", u"CAF\u00c9", true},      {u"\u00e5", u"\u00c5", true},
      {u"\u00ff", u"\u0178", true},            {u"\u03c9", u"\u03a9", true},
      {u"\u03c3", u"\u03a3", true},            {u"\u03c2", u"\u03a3", true},
      {u"\u03c2", u"\u03c3", true},            {u"\u0434\u043e\u043c", u"\u0414\u041e\u041c", true},
      {u"\uff46", u"\uff26", true},            {u"\u01c6", u"\u01c4", true},
      {u"\u0131", u"I", false},                 {u"\u0131", u"i", false},
      {u"\u0130", u"i", false},                 {u"\u017f", u"S", false},
      {u"\u017f", u"s", false},                 {u"\u01c5", u"\u01c4", false},
      {u"\u01c5", u"\u01c6", false},           {u"\u00df", u"\u1e9e", false},
      {u"\u212a", u"k", false},                 {u"\uff46", u"f", false},
      {u"\U00010428", u"\U00010400", false},
  };
  int row = 0;
  for (const auto& c : cases) {
    TableInfo* t = MakeTable(std::to_string(row++));
    AddCell(t, U(c.first));
    AddCell(t, U(c.second));
    WString expected = t->name;
    expected.append(1, WTEXT('\\')).append(U(c.second)).append(U(c.same ? u"_001" : u""));
    EXPECT_EQ(ListOwner<FileEntry>(archive_.entries.prev)->name, expected) << row;
  }
  TableInfo* t = MakeTable("Folders");
  AddCell(t, U(u"D\u00e9\\a"));
  AddCell(t, U(u"D\u00c9\\b"));
  EXPECT_EQ(ListOwner<FileEntry>(archive_.entries.prev)->name, U(u"Folders\\D\u00e9\\b"));
}

TEST_F(Naming, CounterGoesPast999) {
  for (int i = 0; i < 1001; ++i) AddNamed("Icon", "logo", ".ico");
  EXPECT_EQ(AddNamed("Icon", "logo", ".ico"), "Icon\\logo_1001.ico");
  EXPECT_EQ(Narrow(ListOwner<FileEntry>(archive_.entries.prev->prev)->name),
            "Icon\\logo_1000.ico");
  EXPECT_EQ(Narrow(ListOwner<FileEntry>(archive_.entries.next->next)->name),
            "Icon\\logo_001.ico");
}

TEST_F(Naming, KeysSplitAtTheExtensionOfTheirLastSegment) {
  TableInfo* t = MakeTable("T");
  struct Case {
    const char* key;
    const char* first;
    const char* second;
  } cases[] = {
      {"a.b.c", "T\\a.b.c", "T\\a.b_001.c"},
      {".config", "T\\.config", "T\\.config_001"},
      {"x.", "T\\x_", "T\\x__001"},
      {"sub\\x.y", "T\\sub\\x.y", "T\\sub\\x_001.y"},
      {"x.y\\z", "T\\x.y\\z", "T\\x.y\\z_001"},
      {"100%s%u", "T\\100%s%u", "T\\100%s%u_001"},
      {"", "T\\_", "T\\__001"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(AddCell(t, c.key), c.first);
    EXPECT_EQ(AddCell(t, c.key), c.second);
  }
  EXPECT_EQ(FindExtension(W("a/b.c/d").c_str()), 7u);
  EXPECT_EQ(FindExtension(W("a/b.c/d.e").c_str()), 7u);
}

TEST_F(Naming, ControlCharactersBecomeUnderscores) {
  TableInfo* t = MakeTable("T");
  WString key = W("a") + WCHAR('\t') + W("b") + WCHAR('\n') + WCHAR(0x1F) + WCHAR(0x7F);
  std::string name = AddCell(t, key);
  EXPECT_EQ(name.substr(0, 7), "T\\a_b__");
  EXPECT_EQ(ListOwner<FileEntry>(archive_.entries.prev)->name.back(), WCHAR(0x7F));
}

TEST_F(Naming, LongNamesAreCutAt259AndLongSegmentsAt255) {
  TableInfo* t = MakeTable("T");
  // A segment keeps 255 units; the counter takes its room from the key.
  std::string first = AddCell(t, std::string(300, 'k'));
  EXPECT_EQ(first, "T\\" + std::string(255, 'k'));
  EXPECT_EQ(AddCell(t, std::string(300, 'k')), "T\\" + std::string(251, 'k') + "_001");
  AddCell(t, std::string(300, 'k'));
  EXPECT_EQ(AddCell(t, std::string(300, 'k')), "T\\" + std::string(251, 'k') + "_003");
  // A four-digit counter takes one more character from the key.
  for (int i = 0; i < 1000; ++i) AddNamed("T", std::string(300, 'n'), "");
  EXPECT_EQ(AddNamed("T", std::string(300, 'n'), ""), "T\\" + std::string(250, 'n') + "_1000");
  // Short enough for the counter: the usual form, the extension cut.
  std::string key = std::string(249, 'm') + ".ext";
  EXPECT_EQ(AddCell(t, key), "T\\" + key);
  EXPECT_EQ(AddCell(t, key), "T\\" + std::string(249, 'm') + "_001.e");
  // The whole name is cut at 259: two segments of 200.
  const std::string twice = std::string(200, 'a') + "\\" + std::string(200, 'b');
  EXPECT_EQ(AddCell(t, twice), "T\\" + twice.substr(0, 257));
  EXPECT_EQ(AddCell(t, twice), "T\\" + twice.substr(0, 253) + "_001");
}

TEST_F(Naming, ClimbingSegmentsBecomeUnderscores) {
  TableInfo* t = MakeTable("Binary");
  EXPECT_EQ(AddCell(t, "..\\..\\Windows\\x.dll"), "Binary\\__\\__\\Windows\\x.dll");
  EXPECT_EQ(AddCell(t, "a\\..\\..\\b"), "Binary\\a\\__\\__\\b");
  // Its folder is the one "a\\..\\.." made, spelled as that one spelt it.
  EXPECT_EQ(AddCell(t, "a/../b"), "Binary\\a\\__/b");
  EXPECT_EQ(AddCell(t, ".. \\x"), "Binary\\___\\x");
  // "___" and "__" are folders now: a file cannot take their names.
  EXPECT_EQ(AddCell(t, "..."), "Binary\\____001");
  EXPECT_EQ(AddCell(t, ".."), "Binary\\___001");
  EXPECT_EQ(AddCell(t, ".."), "Binary\\___002");
  EXPECT_EQ(AddCell(t, "   "), "Binary\\____002");
  EXPECT_EQ(AddCell(t, "..a\\.b"), "Binary\\..a\\.b");
  EXPECT_EQ(AddCell(t, "__"), "Binary\\___003");
  TableInfo* dots = MakeTable("..");
  EXPECT_EQ(AddCell(dots, "x"), "__\\x");
  // A cut that leaves a segment of dots is mended too.
  EXPECT_EQ(AddCell(t, std::string(249, 'z') + "\\..x"),
            "Binary\\" + std::string(249, 'z') + "\\__");
}

// Each key of table T in turn, and the name it gets: one file per name on
// both platforms. "/" and "\" are one separator, and a folder keeps the
// spelling of the first entry in it; every empty segment and every device
// name (before its first full stop) is mended; a folder that is another
// entry's file gets the number, and the file that is another entry's
// folder too.
TEST_F(Naming, EveryNameIsAFileOfItsOwnOnBothPlatforms) {
  TableInfo* t = MakeTable("T");
  const std::pair<const char*, const char*> cases[] = {
      {"d\\f", "T\\d\\f"},           {"d/f", "T\\d/f_001"},
      {"D/F", "T\\d/F_002"},         {"a\\\\b", "T\\a\\_\\b"},
      {"\\x", "T\\_\\x"},            {"y\\", "T\\y\\_"},
      {"a/_/b", "T\\a\\_/b_001"},     {"CON", "T\\CON_"},
      {"nul.txt", "T\\nul_.txt"},    {"Com1.tar.gz", "T\\Com1_.tar.gz"},
      {"lpt9", "T\\lpt9_"},          {"CONOUT$", "T\\CONOUT$_"},
      {"CON .txt", "T\\CON _.txt"},  {"prn\\x", "T\\prn_\\x"},
      {"CONSOLE", "T\\CONSOLE"},     {"COM10.c", "T\\COM10.c"},
      {"nul ", "T\\nul_"},           {"file", "T\\file"},
      {"file\\x", "T\\file_001\\x"}, {"file\\y", "T\\file_001\\y"},
      {"f.d", "T\\f.d"},             {"f.d\\x", "T\\f_001.d\\x"},
      {"dir\\z", "T\\dir\\z"},       {"DIR", "T\\DIR_001"},
      {"file_001", "T\\file_001_001"},   {"dir/z\\deep", "T\\dir/z_001\\deep"},
  };
  for (const auto& [key, name] : cases) EXPECT_EQ(AddCell(t, key), name) << key;
  WString superscript = W("com") + WCHAR(0xB9);
  EXPECT_EQ(AddCell(t, superscript), Narrow(W("T\\") + superscript) + "_");
  // A table's CSV file and a folder of the same name.
  TableInfo* csv = MakeTable("Cells.csv");
  EXPECT_EQ(AddCell(csv, "row"), "Cells.csv\\row");
  EXPECT_EQ(AddNamed(nullptr, "Cells", ".csv"), "Cells_001.csv");
}

// Cuts fall between characters and keep a segment within 255 bytes of
// UTF-8 too; halves of pairs without their partner become underscores.
TEST_F(Naming, CutsNeverSplitSurrogatePairs) {
  TableInfo* t = MakeTable("T");
  const WString cjk(127, WCHAR(0x4E00));  // 381 bytes of UTF-8
  AddCell(t, cjk);
  EXPECT_EQ(ListOwner<FileEntry>(archive_.entries.prev)->name, W("T\\") + cjk.substr(0, 85));
  AddCell(t, cjk);
  EXPECT_EQ(ListOwner<FileEntry>(archive_.entries.prev)->name,
            W("T\\") + cjk.substr(0, 83) + W("_001"));
  WString pairs;
  for (int i = 0; i < 150; ++i) pairs += WString{WCHAR(0xD83D), WCHAR(0xDE00)};
  AddCell(t, pairs);
  EXPECT_EQ(ListOwner<FileEntry>(archive_.entries.prev)->name, W("T\\") + pairs.substr(0, 126));
  // Keys that differ only after a pair the 259-unit cut would split.
  const WString lead = W(std::string(200, 'a') + "\\" + std::string(55, 'b'));
  const WString smile{WCHAR(0xD83D), WCHAR(0xDE00)};
  for (const char* end : {"x", "y"}) AddCell(t, lead + smile + W(end));
  FileEntry* second = ListOwner<FileEntry>(archive_.entries.prev);
  FileEntry* first = ListOwner<FileEntry>(second->link.prev);
  EXPECT_EQ(first->name, W("T\\") + lead);
  EXPECT_EQ(second->name, W("T\\") + lead.substr(0, 253) + W("_001"));
  EXPECT_EQ(AddCell(t, WString{WCHAR('a'), WCHAR(0xD800), WCHAR('b'), WCHAR(0xDC00)}), "T\\a_b_");
}

// The numbers are exactly those of the rule that tries 1, 2, 3, ... afresh
// for every name against every name listed before, with case ignored (and
// a folder spelt as first listed): seeded names from a small alphabet, so
// that they collide, look numbered already ("a_001") and differ only in
// case.
TEST_F(Naming, NumbersMatchTheRuleThatCountsAfresh) {
  const char* folders[] = {nullptr, "Fold", "FOLD"};
  const char* bases[] = {"a", "A", "b", "a_001", "A_002", "b_001", "a_1000", "a.x"};
  const char* extensions[] = {"", ".x", ".X", ".y"};
  std::set<std::string> taken;  // folded
  std::map<std::string, std::string> spelling;  // folded folder -> first spelling
  auto fold = [](std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
  };
  uint64_t state = 0x5EED17;
  auto next = [&state](size_t n) {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<size_t>((state >> 33) % n);
  };
  for (int i = 0; i < 3000; ++i) {
    const char* folder = folders[next(3)];
    const std::string base = bases[next(8)];
    const std::string extension = extensions[next(4)];
    const std::string prefix =
        folder ? spelling.emplace(fold(folder), folder).first->second + "\\" : "";
    std::string expected = prefix + base + extension;
    char number[16];
    for (unsigned k = 1; taken.count(fold(expected)) != 0; ++k) {
      std::snprintf(number, sizeof number, "_%03u", k);
      expected = prefix + base + number + extension;
    }
    taken.insert(fold(expected));
    ASSERT_EQ(AddNamed(folder, base, extension), expected) << i;
  }
}

TEST_F(Naming, StreamsRowsAliasExistingCells) {
  // Cells keyed by rows of a real database, noted as population notes them.
  ASSERT_EQ(MsiOpenDatabaseW(PathText(Fixture("cat-naming")).c_str(), MSIDBOPEN_READONLY,
                             &database_), 0u);
  auto addCell = [&](TableInfo* table, const std::string& key) {
    MSIHANDLE view = 0;
    MSIHANDLE record = 0;
    EXPECT_EQ(MsiDatabaseOpenViewW(database_, W("SELECT * FROM `Icon`").c_str(), &view), 0u);
    EXPECT_EQ(MsiViewExecute(view, 0), 0u);
    WString value;
    for (MSIHANDLE row = 0; record == 0 && MsiViewFetch(view, &row) == 0;) {
      if (ReadRecordString(row, 0, value) && value == W(key)) {
        record = row;
      } else {
        MsiCloseHandle(row);
      }
    }
    EXPECT_NE(record, 0u) << key;
    MsiViewClose(view);
    MsiCloseHandle(view);
    AddCell(table, key);
    FileEntry* cell = ListOwner<FileEntry>(archive_.entries.prev);
    cell->record = record;
    RegisterCellStream(&archive_, cell, {CellKey{0, false, 0}});
  };
  TableInfo* icon = MakeTable("Icon");
  TableInfo* art = MakeTable("Art");
  TableInfo* streams = MakeTable("_Streams");
  for (auto [table, key] : {std::pair{icon, "logo"}, {icon, "dup"}, {art, "dup"}, {icon, "a.b.c"}}) {
    addCell(table, key);
  }
  addCell(MakeTable("Icon.a"), "a.b.c");  // its stream: Icon.a.a.b.c
  FileEntry* logo = FindEntry(&archive_, W("Icon\\logo").c_str());
  ASSERT_NE(logo, nullptr);

  EXPECT_EQ(AddCell(streams, "Icon.logo"), "_Streams\\logo");
  FileEntry* alias = ListOwner<FileEntry>(archive_.entries.prev);
  EXPECT_EQ(alias->target, logo);
  EXPECT_EQ(logo->refCount, 2);
  // Aliases are named uniquely like every other entry.
  EXPECT_EQ(AddCell(streams, "Icon.dup"), "_Streams\\dup");
  EXPECT_EQ(AddCell(streams, "Art.dup"), "_Streams\\dup_001");
  // Only the cell of exactly that name: ICON.LOGO is another stream.
  EXPECT_EQ(AddCell(streams, "ICON.LOGO"), "_Streams\\ICON.LOGO");
  EXPECT_EQ(ListOwner<FileEntry>(archive_.entries.prev)->target, nullptr);
  EXPECT_EQ(AddCell(streams, "Icon.a.b.c"), "_Streams\\a.b.c");
  EXPECT_EQ(ListOwner<FileEntry>(archive_.entries.prev)->target->table, icon);
  EXPECT_EQ(AddCell(streams, "Icon.a.a.b.c"), "_Streams\\a.a.b.c");
  EXPECT_EQ(Narrow(ListOwner<FileEntry>(archive_.entries.prev)->target->name),
            "Icon.a\\a.b.c");
  EXPECT_EQ(AddCell(streams, "Icon.a"), "_Streams\\Icon.a");
  EXPECT_EQ(ListOwner<FileEntry>(archive_.entries.prev)->target, nullptr);
  EXPECT_EQ(AddCell(streams, "plain"), "_Streams\\plain");
  EXPECT_EQ(AddCell(streams, "Icon.logo"), "_Streams\\logo_001");
  EXPECT_EQ(logo->refCount, 3);

  // The earliest of equal names is found; an alias keeps its target alive.
  EXPECT_EQ(FindEntry(&archive_, W("_streams\\DUP").c_str())->target->table, icon);
  Unlink(&logo->link);
  EXPECT_EQ(ReleaseEntry(logo), 2);
  EXPECT_EQ(Narrow(logo->name), "Icon\\logo");
}

TEST_F(Naming, ReleaseClosesNothingItDoesNotOwn) {
  FileEntry* entry = CreateEntry(nullptr);
  entry->name.assign(W("kept").c_str());
  TakeReference(&entry->refCount);
  EXPECT_EQ(ReleaseEntry(entry), 1);
  EXPECT_EQ(Narrow(entry->name), "kept");
  EXPECT_EQ(ReleaseEntry(entry), 0);  // frees the name with the entry
}

}  // namespace
}  // namespace catalog_test
