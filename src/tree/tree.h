// The virtual file tree: the entries the host sees, their names, and the
// catalogue build that creates them on the first listing call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "archive/archive.h"
#include "archive/list.h"
#include "catalog/catalog.h"
#include "engine/msi_api.h"
#include "text/text.h"
#include "tree/name_index.h"

enum EntryKind : uint8_t {
  kEntryNone = 0,
  SummaryInfo = 1,
  StreamCell = 2,
  TableCsv = 3,
};

// An entry's name: its UTF-16 units in one owned block that also holds the
// length, so that an entry carries one pointer for it. Read like a string;
// empty until assigned.
class EntryName {
 public:
  EntryName() = default;
  ~EntryName() { Free(); }
  EntryName(const EntryName&) = delete;
  EntryName& operator=(const EntryName&) = delete;

  const WCHAR* c_str() const { return block_ != nullptr ? block_ + 1 : kEmpty; }
  size_t size() const { return block_ != nullptr ? block_[0] : 0; }
  bool empty() const { return size() == 0; }
  WCHAR operator[](size_t i) const { return c_str()[i]; }
  WCHAR back() const { return c_str()[size() - 1]; }
  operator WString() const { return WString(c_str(), size()); }
  // Replaces the text (at most kNameCapacity - 1 units are kept); throws
  // std::bad_alloc, the name unchanged, when no memory can be had.
  void assign(const WCHAR* text);

 private:
  void Free();
  static constexpr WCHAR kEmpty[1] = {0};
  WCHAR* block_ = nullptr;  // the length, the units, a terminator
};

bool operator==(const EntryName& name, const WString& text);

// One file the host sees. Kept small: a database can list millions.
struct FileEntry {
  ListLink link;       // node in the archive's `entries`
  TableInfo* table;    // holds one reference; null for the summary entry
  FileEntry* target;   // alias target, holds one reference; else null
  EntryName name;      // path inside the archive, at most 259 characters
  MSIHANDLE record;    // row record or summary handle, owned; 0 for a CSV
  DWORD size;          // of the content: the final target's counts
  // The record's place among the rows its table's view gives, so that the
  // row can be fetched again when its stream has been read.
  uint32_t row;
  volatile LONG refCount;
  EntryKind kind;
  // Set once `size` is known: measured, or known to be empty because the
  // table cannot be shown as text. Until then extraction measures first.
  bool sized;
  // Set once anything was read of the record's stream: it is never read
  // again (the engine documents no way back to its start).
  bool streamRead;
};

// A key column of a table whose cells' streams are named by their keys.
struct CellKey {
  UINT column;     // position among the table's columns
  bool integer;
  uint64_t width;  // of an integer: 2 or 4
};

// What the tree keeps beside an archive's entries while it names them.
struct NamingState {
  // Every listed name, compared without regard to case, to the earliest
  // entry bearing it, so that look-ups do not walk the list.
  EntryNameIndex entryIndex;
  // Every folder a listed name needs (each leading part of a name that a
  // separator ends), to the earliest entry needing it.
  EntryNameIndex folderIndex;
  // Set when the indexes could not be kept up (no memory): look-ups then
  // walk `entries` instead.
  bool entryIndexPartial = false;
  // While the catalogue is built: for each numbered name (its head and
  // tail, compared as names are), the next number worth trying. Names are
  // only ever added, so every number below it stays taken.
  std::unordered_map<WString, uint32_t> nextNumber;
  // While the catalogue is built: the key columns of each table whose
  // cells' streams are named by their keys.
  std::unordered_map<const TableInfo*, std::vector<CellKey>> cellKeys;
  // While the catalogue is built: the cells by the name of the stream each
  // reads ("Icon.logo"), for the rows of _Streams to find theirs. Made when
  // the first row that may name a cell's stream looks for it; the name is
  // rebuilt from the cell's row and its table's `cellKeys` whenever it is
  // compared.
  EntryHashIndex streamCells;
  bool streamCellsMade = false;
};

constexpr size_t kNameCapacity = 260;  // 259 characters and the terminator
// The longest path segment both platforms' file systems keep: 255 UTF-16
// units (NTFS) and 255 bytes of UTF-8 (Linux).
constexpr size_t kSegmentUnits = 255;
constexpr size_t kSegmentBytes = 255;
// Room for a name under construction: a composed name is at most two names
// long, and mending adds at most one unit per segment.
constexpr size_t kNameWorkUnits = 4 * kNameCapacity;

FileEntry* CreateEntry(TableInfo* table);
LONG ReleaseEntry(FileEntry* entry);
FileEntry* FindEntry(MsiArchive* archive, const WCHAR* name);
void AppendEntry(MsiArchive* archive, FileEntry* entry);
DWORD AssignUniqueName(FileEntry* entry, MsiArchive* archive,
                       const WCHAR* folder, const WCHAR* base,
                       const WCHAR* extension);
size_t FindExtension(const WCHAR* text);
// The key columns of a table, from the engine, in order: empty for the
// engine's own tables and for a table whose keys cannot be had or are not
// all among the columns its view shows.
std::vector<CellKey> CellStreamKeys(MsiArchive* archive, const TableInfo* table);
// Notes a listed cell to be found by the name of its stream: the table's
// name and the row's key values (integers in decimal) joined by full stops.
void RegisterCellStream(MsiArchive* archive, FileEntry* entry,
                        const std::vector<CellKey>& keys);
// The cell whose own stream is `stream`, compared exactly, or null.
FileEntry* FindStreamAlias(MsiArchive* archive, const WCHAR* stream);
// Names a row's cell after its key, unique in the archive; a row of
// _Streams that names a noted cell's stream becomes that cell's alias. 0,
// or 8 when no memory can be had for the name.
DWORD NameStreamCell(FileEntry* entry, MsiArchive* archive, const WCHAR* key);
// Makes a name one that both platforms' file systems create as it is, in
// place (a buffer of kNameCapacity units at least; the text may be up to
// two names long): per segment, control characters, < > : " | ? * and
// unpaired surrogates become underscores; the segment is cut to 255 units
// and 255 bytes of UTF-8; full stops and spaces that end it become
// underscores (which also keeps ".." from climbing out); an empty segment
// becomes "_"; a device name (CON, nul.txt) gets an underscore before the
// first full stop. The name is then cut to 259 units. No cut falls inside
// a surrogate pair.
void MakeSafeName(WCHAR* text);
// The same for the leading part of a name that a number and an extension
// will follow: its last segment is neither cut nor mended at its end. Into
// out (kNameWorkUnits); returns the length.
size_t MakeSafeHead(const WCHAR* text, WCHAR* out);
// The longest leading part of text[0, length) that holds at most `units`
// UTF-16 units and `bytes` bytes of UTF-8 and ends between two characters.
size_t FitSegment(const WCHAR* text, size_t length, size_t units, size_t bytes);

void BuildCatalogue(MsiArchive* archive);
// Releases the current entry, every entry, every table and the naming
// state: what closing an archive leaves behind is the archive alone.
void ClearCatalogue(MsiArchive* archive);
DWORD PopulateEntries(MsiArchive* archive);
DWORD AddSummaryEntry(MsiArchive* archive, MSIHANDLE summary);
DWORD InitRowEntry(FileEntry* entry, MsiArchive* archive, MSIHANDLE record);
