// The streams of stream cells: the engine keeps a cell's bytes in a stream
// named after the table and the row's key values, integers in decimal,
// joined by full stops ("Icon.logo", "MsiDigitalSignature.Media.1"). While
// the catalogue is built the cells are found by that name, so that the row
// of _Streams showing the same stream becomes the cell's alias (read once,
// not twice: msi.dll shares one read position per stream).
#include <new>

#include "tree/tree.h"

namespace {

// A null integer key names the stream as its stored form does: the lowest
// value of its width.
const WCHAR* NullIntegerText(uint64_t width) {
  return width <= 2 ? WTEXT("-32768") : WTEXT("-2147483648");
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
  if (keys.empty()) return;
  try {
    WString stream = entry->table->name;
    WString value;
    for (const CellKey& key : keys) {
      if (!ReadRecordString(entry->record, key.column, value)) return;
      stream += WCHAR('.');
      stream += key.integer && value.empty() ? NullIntegerText(key.width) : value.c_str();
    }
    if (archive->naming == nullptr) return;
    archive->naming->streamCells.emplace(std::move(stream), entry);
  } catch (const std::bad_alloc&) {
    // The row of _Streams then shows the stream as an entry of its own.
  }
}

FileEntry* FindStreamAlias(MsiArchive* archive, const WCHAR* stream) {
  try {
    if (archive->naming == nullptr) return nullptr;
    const auto& cells = archive->naming->streamCells;
    const auto found = cells.find(WString(stream));
    return found != cells.end() ? found->second : nullptr;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
