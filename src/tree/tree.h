// The virtual file tree: the entries the host sees, their names, and the
// catalogue build that creates them on the first listing call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "catalog/catalog.h"
#include "engine/msi_api.h"
#include "plugin/archive.h"
#include "plugin/list.h"
#include "text/text.h"

enum EntryKind : int32_t {
  kEntryNone = 0,
  SummaryInfo = 1,
  StreamCell = 2,
  TableCsv = 3,
};

struct Content {
  BYTE* data;     // block on the process heap, owned, or null
  DWORD length;   // capacity while filling, then the valid byte count
};

struct FileEntry {
  ListLink link;       // node in the archive's `entries`
  TableInfo* table;    // holds one reference; null for the summary entry
  FileEntry* target;   // alias target, holds one reference; else null
  WString name;        // path inside the archive, at most 259 characters
  MSIHANDLE record;    // row record or summary handle, owned; 0 for a CSV
  Content content;
  int32_t kind;        // EntryKind
  DWORD size;
  // Set once `size` is known: measured, or known to be empty because the
  // table cannot be shown as text. Until then extraction measures first.
  bool sized;
  volatile LONG refCount;
};

constexpr size_t kNameCapacity = 260;  // 259 characters and the terminator

FileEntry* CreateEntry(TableInfo* table);
LONG ReleaseEntry(FileEntry* entry);
FileEntry* FindEntry(MsiArchive* archive, const WCHAR* name);
void AppendEntry(MsiArchive* archive, FileEntry* entry);
DWORD AssignUniqueName(FileEntry* entry, MsiArchive* archive,
                       const WCHAR* folder, const WCHAR* base,
                       const WCHAR* extension);
size_t FindExtension(const WCHAR* text);
// A key column of a table whose cells' streams are named by their keys.
struct CellKey {
  UINT column;     // position among the table's columns
  bool integer;
  uint64_t width;  // of an integer: 2 or 4
};
// The key columns of a table, from the engine, in order: empty for the
// engine's own tables and for a table whose keys cannot be had or are not
// all among the columns its view shows.
std::vector<CellKey> CellStreamKeys(MsiArchive* archive, const TableInfo* table);
// Notes a listed cell under the name of its stream: the table's name and
// the row's key values (integers in decimal) joined by full stops.
void RegisterCellStream(MsiArchive* archive, FileEntry* entry,
                        const std::vector<CellKey>& keys);
// The cell whose own stream is `stream`, compared exactly, or null.
FileEntry* FindStreamAlias(MsiArchive* archive, const WCHAR* stream);
// Names a row's cell after its key, unique in the archive; a row of
// _Streams that names a noted cell's stream becomes that cell's alias. 0,
// or 8 when no memory can be had for the name.
DWORD NameStreamCell(FileEntry* entry, MsiArchive* archive, const WCHAR* key);
// Makes a name one that Windows keeps as it is: control characters and
// < > : " | ? * become underscores, and so do the full stops and spaces
// that end a path segment (which also keeps ".." from climbing out).
void MakeSafeName(WCHAR* text);

void BuildCatalogue(MsiArchive* archive);
DWORD PopulateEntries(MsiArchive* archive);
DWORD AddSummaryEntry(MsiArchive* archive, MSIHANDLE summary);
DWORD InitRowEntry(FileEntry* entry, MsiArchive* archive, MSIHANDLE record);
