// Catalogue population: the entries the host sees, built once on the first
// listing call: the summary information, then each table as one CSV file
// or as a folder with one file per row's stream cell.
#include <new>

#include "tree/tree.h"

namespace {

void AddTableCsvEntry(MsiArchive* archive, TableInfo* table) {
  FileEntry* entry = CreateEntry(table);
  if (entry == nullptr) return;
  entry->record = 0;
  entry->kind = TableCsv;
  if (AssignUniqueName(entry, archive, nullptr, table->name.c_str(),
                       WTEXT(".csv")) != 0) {
    ReleaseEntry(entry);
    return;
  }
  AppendEntry(archive, entry);
}

void AddRowEntries(MsiArchive* archive, TableInfo* table) {
  if (MsiViewExecute(table->view, 0) != 0) return;
  const std::vector<CellKey> keys = CellStreamKeys(archive, table);
  MSIHANDLE record = 0;
  for (uint32_t row = 0; MsiViewFetch(table->view, &record) == 0; ++row) {
    FileEntry* entry = CreateEntry(table);
    if (entry == nullptr) {
      MsiCloseHandle(record);
      continue;
    }
    entry->row = row;
    if (InitRowEntry(entry, archive, record) == 0) {
      AppendEntry(archive, entry);
      RegisterCellStream(archive, entry, keys);
    } else {
      MsiCloseHandle(record);
      ReleaseEntry(entry);
    }
    record = 0;
  }
  MsiViewClose(table->view);
}

}  // namespace

DWORD AddSummaryEntry(MsiArchive* archive, MSIHANDLE summary) {
  FileEntry* entry = CreateEntry(nullptr);
  if (entry == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
  entry->kind = SummaryInfo;
  if (AssignUniqueName(entry, archive, nullptr, WTEXT("_SummaryInformation"),
                       WTEXT(".csv")) != 0) {
    ReleaseEntry(entry);  // the handle is not the entry's yet
    return ERROR_NOT_ENOUGH_MEMORY;
  }
  entry->record = summary;
  AppendEntry(archive, entry);
  return 0;
}

DWORD InitRowEntry(FileEntry* entry, MsiArchive* archive, MSIHANDLE record) {
  WString key;
  if (!ReadRecordString(record, static_cast<UINT>(entry->table->nameColumn), key)) {
    return ERROR_NOT_SUPPORTED;
  }
  if (NameStreamCell(entry, archive, key.c_str()) != 0) {
    // No memory for the name: the row is left out like an unreadable one.
    return ERROR_NOT_SUPPORTED;
  }
  entry->kind = StreamCell;
  entry->record = record;
  return 0;
}

DWORD PopulateEntries(MsiArchive* archive) {
  MSIHANDLE summary = 0;
  if (MsiGetSummaryInformationW(archive->database, nullptr, 0, &summary) == 0) {
    UINT count = 0;
    if (MsiSummaryInfoGetPropertyCount(summary, &count) != 0 ||
        AddSummaryEntry(archive, summary) != 0) {
      MsiCloseHandle(summary);
    }
  }
  for (ListLink* node = archive->tables.next; node != &archive->tables;
       node = node->next) {
    TableInfo* table = ListOwner<TableInfo>(node);
    if (table->streamColumn == -1 || table->nameColumn == -1) {
      AddTableCsvEntry(archive, table);
    } else {
      AddRowEntries(archive, table);
    }
  }
  // Every entry has been named: the cells need not be found by their
  // streams any more, nor names checked against folders and numbers.
  if (NamingState* naming = archive->naming) {
    naming->streamCells.Clear();
    naming->streamCellsMade = false;
    std::unordered_map<const TableInfo*, std::vector<CellKey>>().swap(naming->cellKeys);
    std::unordered_map<WString, uint32_t>().swap(naming->nextNumber);
    naming->folderIndex.Clear();
  }
  return 0;
}

void BuildCatalogue(MsiArchive* archive) {
  if (archive->naming == nullptr) archive->naming = new (std::nothrow) NamingState();
  if (archive->tableNames.empty() && DiscoverTables(archive) != 0) return;
  if (!archive->tableNames.empty() && ListEmpty(&archive->tables) &&
      CreateTables(archive) != 0) {
    return;
  }
  if (!ListEmpty(&archive->tables) && ListEmpty(&archive->entries)) {
    PopulateEntries(archive);
  }
}

void ClearCatalogue(MsiArchive* archive) {
  if (archive->currentEntry != nullptr) {
    ReleaseEntry(archive->currentEntry);
    archive->currentEntry = nullptr;
  }
  delete archive->naming;
  archive->naming = nullptr;
  while (!ListEmpty(&archive->entries)) {
    ListLink* node = archive->entries.next;
    Unlink(node);
    ReleaseEntry(ListOwner<FileEntry>(node));
  }
  archive->entryCount = 0;
  while (!ListEmpty(&archive->tables)) {
    ListLink* node = archive->tables.next;
    Unlink(node);
    ReleaseTable(ListOwner<TableInfo>(node));
  }
  archive->tableCount = 0;
}
