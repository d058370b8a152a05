// The streams of stream cells: the engine keeps a cell's bytes in a stream
// named after the table and the row's key values, integers in decimal,
// joined by full stops ("Icon.logo", "MsiDigitalSignature.Media.1"). While
// the catalogue is built the cells are found by that name, so that the row
// of _Streams showing the same stream becomes the cell's alias (read once,
// not twice: msi.dll shares one read position per stream). The cells are
// indexed only once a row of _Streams may name one of their streams, and
// the names are not kept: a cell's is rebuilt from its row to be compared.
#include <new>

#include "tree/tree.h"

namespace {

// A null integer key names the stream as its stored form does: the lowest
// value of its width.
const WCHAR* NullIntegerText(uint64_t width) {
  return width <= 2 ? WTEXT("-32768") : WTEXT("-2147483648");
}

// Appends the name of the stream the cell reads: its table's name and the
// row's key values joined by full stops. False when a value cannot be read.
bool AppendStreamName(const FileEntry* cell, const std::vector<CellKey>& keys,
                      WString& stream, WString& value) {
  stream += cell->table->name;
  for (const CellKey& key : keys) {
    if (!ReadRecordString(cell->record, key.column, value)) return false;
    stream += WCHAR('.');
    stream += key.integer && value.empty() ? NullIntegerText(key.width) : value.c_str();
  }
  return true;
}

// Whether a noted cell reads the stream of exactly that name, rebuilt from
// its row. Throws std::bad_alloc when no memory can be had for it.
class SameStream {
 public:
  SameStream(const NamingState& naming, const WString& stream)
      : naming_(naming), stream_(stream) {}
  bool operator()(const FileEntry* cell) {
    const auto keys = naming_.cellKeys.find(cell->table);
    if (keys == naming_.cellKeys.end()) return false;
    name_.clear();
    return AppendStreamName(cell, keys->second, name_, value_) && name_ == stream_;
  }

 private:
  const NamingState& naming_;
  const WString& stream_;
  WString name_;
  WString value_;
};

// Adds a listed cell of a noted table to the index under the name of its
// stream, unless an earlier cell's stream has that name ("A" keyed "b.c",
// "A.b" keyed "c"). Throws std::bad_alloc when no memory can be had.
void IndexStreamCell(NamingState& naming, FileEntry* entry) {
  if (entry->kind != StreamCell) return;
  const auto keys = naming.cellKeys.find(entry->table);
  if (keys == naming.cellKeys.end()) return;
  WString stream;
  WString value;
  if (!AppendStreamName(entry, keys->second, stream, value)) return;
  const uint64_t hash = HashExact(stream.data(), stream.size());
  if (naming.streamCells.Find(hash, SameStream(naming, stream)) != nullptr) return;
  naming.streamCells.Insert(hash, entry);
}

}  // namespace

std::vector<CellKey> CellStreamKeys(MsiArchive* archive, const TableInfo* table) {
  std::vector<CellKey> keys;
  // The engine's own tables list streams and storages: none is a cell.
  if (table->isStreamsTable || table->name == WTEXT("_Storages")) return keys;
  MSIHANDLE record = 0;
  if (MsiDatabaseGetPrimaryKeysW(archive->database, table->name.c_str(), &record) != 0) {
    return keys;
  }
  try {
    const UINT count = MsiRecordGetFieldCount(record);
    for (UINT field = 1; field <= count && field < 0x10000; ++field) {
      WString name;
      bool found = false;
      if (ReadRecordString(record, field - 1, name)) {
        for (size_t c = 0; c < table->columns.size() && !found; ++c) {
          const ColumnInfo& column = table->columns[c];
          if (column.name != name) continue;
          keys.push_back(CellKey{static_cast<UINT>(c), column.kind == ColumnKind::Integer,
                                 column.width});
          found = true;
        }
      }
      if (!found) {
        // A key the view does not show: the streams cannot be named.
        keys.clear();
        break;
      }
    }
  } catch (const std::bad_alloc&) {
    keys.clear();
  }
  MsiCloseHandle(record);
  return keys;
}

void RegisterCellStream(MsiArchive* archive, FileEntry* entry,
                        const std::vector<CellKey>& keys) {
  NamingState* naming = archive->naming;
  if (keys.empty() || naming == nullptr) return;
  try {
    if (naming->cellKeys.find(entry->table) == naming->cellKeys.end()) {
      naming->cellKeys.emplace(entry->table, keys);
    }
    if (naming->streamCellsMade) IndexStreamCell(*naming, entry);
  } catch (const std::bad_alloc&) {
    // The row of _Streams then shows the stream as an entry of its own.
  }
}

FileEntry* FindStreamAlias(MsiArchive* archive, const WCHAR* stream) {
  NamingState* naming = archive->naming;
  // A cell's stream is its table's name, a full stop and its keys.
  if (naming == nullptr || naming->cellKeys.empty() || wcschr(stream, '.') == nullptr) {
    return nullptr;
  }
  if (!naming->streamCellsMade) {
    naming->streamCellsMade = true;
    try {
      for (ListLink* node = archive->entries.next; node != &archive->entries;
           node = node->next) {
        IndexStreamCell(*naming, ListOwner<FileEntry>(node));
      }
    } catch (const std::bad_alloc&) {
      // The cells left out show their streams' rows as entries of their own.
    }
  }
  try {
    const WString text(stream);
    return naming->streamCells.Find(HashExact(text.data(), text.size()),
                                    SameStream(*naming, text));
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
