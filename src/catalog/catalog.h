// The database catalogue: which tables the database holds (discovery) and
// what each one looks like (schema).
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "archive/archive.h"
#include "archive/list.h"
#include "engine/msi_api.h"
#include "text/text.h"

enum class ColumnKind : uint32_t { Other = 0, Integer = 1, String = 2, Stream = 3 };

struct ColumnInfo {
  WString name;
  WString type;
  ColumnKind kind;
  uint64_t width;
};

struct TableInfo {
  std::vector<ColumnInfo> columns;
  WString name;
  MsiArchive* archive;  // holds one reference
  ListLink link;        // node in the archive's `tables`
  MSIHANDLE view;       // every row of the table, opened here, executed by users
  int64_t streamColumn;
  int64_t nameColumn;
  int32_t isStreamsTable;
  volatile LONG refCount;
};

// Opens a view on every row of a table: SELECT * FROM `name`, the name in
// back quotes, so that any name the engine holds is read as a name (Order,
// 1abc, my table) and none is cut. The installer's SQL has no way to quote
// a name that holds a back quote (nor one that holds a null, where the
// query would end): such a name is refused with ERROR_BAD_QUERY_SYNTAX,
// as the engine refuses the query. 0, or the engine's code.
UINT OpenTableView(MSIHANDLE database, std::basic_string_view<WCHAR> name, MSIHANDLE* view);

// Discovery: fills archive->tableNames. 0, or 259 when no table was found.
// Names are compared exactly, as the engine compares table names (foo and
// Foo are two tables), and each name read costs the same however many are
// listed.
DWORD DiscoverTables(MsiArchive* archive);
// Adds the name when a view on it opens and it is not listed yet.
UINT ProbeTable(MsiArchive* archive, const WCHAR* name);
bool HasTableName(MsiArchive* archive, const WCHAR* name);

// Schema: one TableInfo per name whose view opens. 0, or 8 when a TableInfo
// cannot be allocated.
DWORD CreateTables(MsiArchive* archive);
UINT ReadColumns(TableInfo* table);
ColumnInfo MakeColumnInfo(const WCHAR* name, const WCHAR* type);
LONG ReleaseTable(TableInfo* table);
