// Table discovery: the names of the database's tables, from the rows of
// _Validation, then of the engine's catalogue _Tables, then two probes, in a
// fixed order and without duplicates.
#include <functional>
#include <new>
#include <unordered_set>

#include "catalog/catalog.h"

namespace {

// The archive's table names with a hash set beside them, so that telling a
// new name from one listed costs the same however many are listed. Names
// are compared exactly, as the engine compares table names. The set holds
// positions in the list, which stay valid as the list grows.
class TableNameList {
 public:
  explicit TableNameList(MsiArchive* archive)
      : names_(archive->tableNames), seen_(0, ByName{&names_}, ByName{&names_}) {
    try {
      seen_.reserve(names_.size());
      for (size_t i = 0; i < names_.size(); ++i) seen_.insert(i);
      complete_ = true;
    } catch (const std::bad_alloc&) {
    }
  }

  // Appends a name the list does not hold yet. A name that cannot be
  // stored for lack of memory is left out, like a row that cannot be read.
  void Add(std::basic_string_view<WCHAR> name) {
    if (!complete_) return;
    try {
      names_.emplace_back(name);
    } catch (const std::bad_alloc&) {
      return;
    }
    try {
      if (seen_.insert(names_.size() - 1).second) return;
    } catch (const std::bad_alloc&) {
    }
    names_.pop_back();
  }

 private:
  struct ByName {
    const std::vector<WString>* names;
    size_t operator()(size_t i) const { return std::hash<WString>()((*names)[i]); }
    bool operator()(size_t a, size_t b) const { return (*names)[a] == (*names)[b]; }
  };
  std::vector<WString>& names_;
  std::unordered_set<size_t, ByName, ByName> seen_;
  // False when the listed names could not all be noted: nothing is added
  // then, rather than a name twice.
  bool complete_ = false;
};

// Appends field 1 of every row of the table, in the engine's order.
void ReadNameRows(MsiArchive* archive, TableNameList& list, const WCHAR* table) {
  MSIHANDLE view = 0;
  if (OpenTableView(archive->database, table, &view) != 0) return;
  if (MsiViewExecute(view, 0) != 0) {
    MsiCloseHandle(view);
    return;
  }
  MSIHANDLE record = 0;
  while (MsiViewFetch(view, &record) == 0) {
    WString name;
    if (ReadRecordString(record, 0, name)) list.Add(name);
    MsiCloseHandle(record);
    record = 0;
  }
  MsiViewClose(view);
  MsiCloseHandle(view);
}

// A table is present when the engine accepts a query on it; the view is
// not executed.
UINT Probe(MsiArchive* archive, TableNameList& list, const WCHAR* name) {
  MSIHANDLE view = 0;
  const UINT result = OpenTableView(archive->database, name, &view);
  if (result != 0) return result;
  MsiCloseHandle(view);
  list.Add(name);
  return 0;
}

}  // namespace

bool HasTableName(MsiArchive* archive, const WCHAR* name) {
  for (const WString& known : archive->tableNames) {
    if (known == name) return true;
  }
  return false;
}

UINT ProbeTable(MsiArchive* archive, const WCHAR* name) {
  TableNameList list(archive);
  return Probe(archive, list, name);
}

DWORD DiscoverTables(MsiArchive* archive) {
  TableNameList list(archive);
  // _Validation's rows name the tables first, in its order; the engine's
  // own catalogue then adds every table _Validation leaves out (it is
  // optional, and often partial: a patch's own tables, a validation cube's
  // Property).
  ReadNameRows(archive, list, WTEXT("_Validation"));
  ReadNameRows(archive, list, WTEXT("_Tables"));
  Probe(archive, list, WTEXT("_ForceCodePage"));
  Probe(archive, list, WTEXT("_Streams"));
  return archive->tableNames.empty() ? ERROR_NO_MORE_ITEMS : 0;
}
