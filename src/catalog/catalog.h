// The database catalogue: which tables the database holds (discovery) and
// what each one looks like (schema).
#pragma once

#include <cstdint>
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
  MSIHANDLE view;       // "SELECT * FROM name", opened here, executed by users
  int64_t streamColumn;
  int64_t nameColumn;
  int32_t isStreamsTable;
  volatile LONG refCount;
};

// Discovery: fills archive->tableNames. 0, or 259 when no table was found.
DWORD DiscoverTables(MsiArchive* archive);
UINT ProbeTable(MsiArchive* archive, const WCHAR* name);
bool HasTableName(MsiArchive* archive, const WCHAR* name);

// Schema: one TableInfo per name whose view opens. 0, or 8 when a TableInfo
// cannot be allocated.
DWORD CreateTables(MsiArchive* archive);
UINT ReadColumns(TableInfo* table);
ColumnInfo MakeColumnInfo(const WCHAR* name, const WCHAR* type);
LONG ReleaseTable(TableInfo* table);
