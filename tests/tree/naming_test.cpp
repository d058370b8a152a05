// Entry naming without a database: entries named into a bare archive record.
#include "catalog/catalog_support.h"
#include "plugin/refcount.h"

namespace catalog_test {
namespace {

// An archive record with empty lists, and tables that hold no archive.
class Naming : public ::testing::Test {
 protected:
  void SetUp() override {
    InitListHead(&archive_.entries);
    InitListHead(&archive_.tables);
    archive_.refCount = 1;
  }
  void TearDown() override {
    while (!ListEmpty(&archive_.entries)) {
      ListLink* node = archive_.entries.next;
      Unlink(node);
      ReleaseEntry(ListOwner<FileEntry>(node));
    }
    for (TableInfo* table : tables_) EXPECT_EQ(ReleaseTable(table), 0);
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
  // Case folds ASCII only, as _wcsicmp does.
  WString upper(1, WCHAR(0xC9)), lower(1, WCHAR(0xE9));
  FileEntry* a = CreateEntry(nullptr);
  AssignUniqueName(a, &archive_, nullptr, upper.c_str(), WTEXT(""));
  AppendEntry(&archive_, a);
  FileEntry* b = CreateEntry(nullptr);
  AssignUniqueName(b, &archive_, nullptr, lower.c_str(), WTEXT(""));
  AppendEntry(&archive_, b);
  EXPECT_EQ(b->name, lower);
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
      {"", "T\\", "T\\_001"},
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

TEST_F(Naming, LongKeysAreCutAt259) {
  TableInfo* t = MakeTable("T");
  std::string first = AddCell(t, std::string(300, 'k'));
  EXPECT_EQ(first.size(), 259u);
  EXPECT_EQ(first.substr(0, 2), "T\\");
  // The counter no longer fits behind the key: the key gives way to it.
  std::string second = AddCell(t, std::string(300, 'k'));
  EXPECT_EQ(second, "T\\" + std::string(253, 'k') + "_001");
  AddCell(t, std::string(300, 'k'));
  EXPECT_EQ(AddCell(t, std::string(300, 'k')), "T\\" + std::string(253, 'k') + "_003");
  // A four-digit counter takes one more character from the key.
  for (int i = 0; i < 1000; ++i) AddNamed("T", std::string(300, 'n'), "");
  EXPECT_EQ(AddNamed("T", std::string(300, 'n'), ""), "T\\" + std::string(252, 'n') + "_1000");
  // Just short enough for the counter: exactly the usual form, extension cut.
  std::string key = std::string(253, 'm') + ".ext";
  EXPECT_EQ(AddCell(t, key), "T\\" + key.substr(0, 257));
  EXPECT_EQ(AddCell(t, key), "T\\" + std::string(253, 'm') + "_001");
}

TEST_F(Naming, ClimbingSegmentsBecomeUnderscores) {
  TableInfo* t = MakeTable("Binary");
  EXPECT_EQ(AddCell(t, "..\\..\\Windows\\x.dll"), "Binary\\__\\__\\Windows\\x.dll");
  EXPECT_EQ(AddCell(t, "a\\..\\..\\b"), "Binary\\a\\__\\__\\b");
  EXPECT_EQ(AddCell(t, "a/../b"), "Binary\\a/__/b");
  EXPECT_EQ(AddCell(t, ".. \\x"), "Binary\\___\\x");
  EXPECT_EQ(AddCell(t, "..."), "Binary\\___");
  EXPECT_EQ(AddCell(t, ".."), "Binary\\__");
  EXPECT_EQ(AddCell(t, ".."), "Binary\\___001");
  EXPECT_EQ(AddCell(t, "   "), "Binary\\____001");
  EXPECT_EQ(AddCell(t, "..a\\.b"), "Binary\\..a\\.b");
  EXPECT_EQ(AddCell(t, "__"), "Binary\\___002");
  TableInfo* dots = MakeTable("..");
  EXPECT_EQ(AddCell(dots, "x"), "__\\x");
  // A cut that leaves a segment of dots is mended too.
  EXPECT_EQ(AddCell(t, std::string(249, 'z') + "\\..x"),
            "Binary\\" + std::string(249, 'z') + "\\__");
}

TEST_F(Naming, StreamsRowsAliasExistingCells) {
  TableInfo* icon = MakeTable("Icon");
  TableInfo* art = MakeTable("Art");
  TableInfo* streams = MakeTable("_Streams");
  for (auto [table, key] : {std::pair{icon, "logo"}, {icon, "x"}, {art, "x"}, {icon, ".."}}) {
    AddCell(table, key);
    // Noted under its stream's name, as population does from the keys.
    archive_.streamCells.emplace(table->name + WCHAR('.') + W(key),
                                 ListOwner<FileEntry>(archive_.entries.prev));
  }
  FileEntry* logo = FindEntry(&archive_, W("Icon\\logo").c_str());
  ASSERT_NE(logo, nullptr);

  EXPECT_EQ(AddCell(streams, "Icon.logo"), "_Streams\\logo");
  FileEntry* alias = ListOwner<FileEntry>(archive_.entries.prev);
  EXPECT_EQ(alias->target, logo);
  EXPECT_EQ(logo->refCount, 2);
  // Aliases are named uniquely like every other entry.
  EXPECT_EQ(AddCell(streams, "Icon.x"), "_Streams\\x");
  EXPECT_EQ(AddCell(streams, "Art.x"), "_Streams\\x_001");
  // Only the cell of exactly that name: ICON.LOGO is another stream.
  EXPECT_EQ(AddCell(streams, "ICON.LOGO"), "_Streams\\ICON.LOGO");
  EXPECT_EQ(ListOwner<FileEntry>(archive_.entries.prev)->target, nullptr);
  EXPECT_EQ(AddCell(streams, "Icon..."), "_Streams\\__");
  EXPECT_NE(ListOwner<FileEntry>(archive_.entries.prev)->target, nullptr);
  EXPECT_EQ(AddCell(streams, "Icon.nosuch"), "_Streams\\Icon.nosuch");
  EXPECT_EQ(ListOwner<FileEntry>(archive_.entries.prev)->target, nullptr);
  EXPECT_EQ(AddCell(streams, "plain"), "_Streams\\plain");
  EXPECT_EQ(AddCell(streams, "Icon.logo"), "_Streams\\logo_001");
  EXPECT_EQ(logo->refCount, 3);

  // The earliest of equal names is found; an alias keeps its target alive.
  EXPECT_EQ(FindEntry(&archive_, W("_streams\\X").c_str())->target->table, icon);
  Unlink(&logo->link);
  EXPECT_EQ(ReleaseEntry(logo), 2);
  EXPECT_EQ(Narrow(logo->name), "Icon\\logo");
}

TEST_F(Naming, ReleaseClosesNothingItDoesNotOwn) {
  FileEntry* entry = CreateEntry(nullptr);
  entry->content.data = static_cast<BYTE*>(HeapAlloc(processHeap, 0, 16));
  entry->content.length = 16;
  TakeReference(&entry->refCount);
  EXPECT_EQ(ReleaseEntry(entry), 1);
  EXPECT_NE(entry->content.data, nullptr);
  EXPECT_EQ(ReleaseEntry(entry), 0);  // frees the block into the process heap
}

}  // namespace
}  // namespace catalog_test
