// Table discovery: the names of the database's tables, from the rows of
// _Validation, then of the engine's catalogue _Tables, then two probes, in a
// fixed order and without duplicates.
#include <iterator>
#include <new>

#include "catalog/catalog.h"

namespace {

// Appends a name the list does not hold yet. A name that cannot be stored
// for lack of memory is left out, like a row that cannot be read.
void AddTableName(MsiArchive* archive, const WCHAR* name) {
  if (HasTableName(archive, name)) return;
  try {
    archive->tableNames.emplace_back(name);
  } catch (const std::bad_alloc&) {
  }
}

// Appends field 1 of every row the query delivers, in the engine's order.
void ReadNameRows(MsiArchive* archive, const WCHAR* query) {
  MSIHANDLE view = 0;
  if (MsiDatabaseOpenViewW(archive->database, query, &view) != 0) return;
  if (MsiViewExecute(view, 0) != 0) {
    MsiCloseHandle(view);
    return;
  }
  MSIHANDLE record = 0;
  while (MsiViewFetch(view, &record) == 0) {
    WString name;
    if (ReadRecordString(record, 0, name)) AddTableName(archive, name.c_str());
    MsiCloseHandle(record);
    record = 0;
  }
  MsiViewClose(view);
  MsiCloseHandle(view);
}

}  // namespace

bool HasTableName(MsiArchive* archive, const WCHAR* name) {
  for (const WString& known : archive->tableNames) {
    if (_wcsicmp(known.c_str(), name) == 0) return true;
  }
  return false;
}

UINT ProbeTable(MsiArchive* archive, const WCHAR* name) {
  WCHAR query[256];
  FormatToBuffer(query, std::size(query), WTEXT("SELECT * from %s"), name);
  MSIHANDLE view = 0;
  UINT result = MsiDatabaseOpenViewW(archive->database, query, &view);
  if (result != 0) return result;
  AddTableName(archive, name);
  MsiCloseHandle(view);
  return 0;
}

DWORD DiscoverTables(MsiArchive* archive) {
  // _Validation's rows name the tables first, in its order; the engine's
  // own catalogue then adds every table _Validation leaves out (it is
  // optional, and often partial: a patch's own tables, a validation cube's
  // Property).
  ReadNameRows(archive, WTEXT("SELECT * from _Validation"));
  ReadNameRows(archive, WTEXT("SELECT * from _Tables"));
  ProbeTable(archive, WTEXT("_ForceCodePage"));
  ProbeTable(archive, WTEXT("_Streams"));
  return archive->tableNames.empty() ? ERROR_NO_MORE_ITEMS : 0;
}
