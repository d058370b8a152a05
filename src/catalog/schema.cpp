// Table schema: one TableInfo per discovered table, with its open view,
// its columns, and the stream and name columns that decide how it is shown.
#include <cstdint>
#include <new>
#include <vector>

#include "archive/refcount.h"
#include "catalog/catalog.h"

namespace {

constexpr DWORD kColumnTextUnits = 128;

// Field `field` of a column-information record. Names and types of 128
// characters or more are read whole rather than cut at the buffer.
WString ReadColumnText(MSIHANDLE record, UINT field, DWORD* lengthOut) {
  WCHAR buffer[kColumnTextUnits];
  buffer[0] = 0;
  DWORD length = kColumnTextUnits;
  UINT result = MsiRecordGetStringW(record, field, buffer, &length);
  if (result == ERROR_MORE_DATA) {
    std::vector<WCHAR> whole(static_cast<size_t>(length) + 1);
    DWORD capacity = length + 1;
    if (MsiRecordGetStringW(record, field, whole.data(), &capacity) == 0) {
      *lengthOut = capacity;
      return WString(whole.data(), capacity);
    }
    length = kColumnTextUnits - 1;
    buffer[length] = 0;
  }
  *lengthOut = length;
  return WString(buffer);
}

void DestroyTable(TableInfo* table) {
  if (table->archive != nullptr) {
    MsiArchive* archive = table->archive;
    table->archive = nullptr;
    ReleaseArchive(archive);
  }
  if (table->view != 0) {
    MsiCloseHandle(table->view);
    table->view = 0;
  }
  delete table;
}

}  // namespace

ColumnInfo MakeColumnInfo(const WCHAR* name, const WCHAR* type) {
  ColumnInfo column{WString(name), WString(type), ColumnKind::Other, 0};
  WCHAR first = static_cast<WCHAR>(reinterpret_cast<uintptr_t>(
      CharLowerW(reinterpret_cast<LPWSTR>(static_cast<uintptr_t>(type[0])))));
  switch (first) {
    case 'i':
      column.kind = ColumnKind::Integer;
      column.width = 4;
      break;
    case 's':
    case 'l':
      column.kind = ColumnKind::String;
      break;
    case 'v':
      column.kind = ColumnKind::Stream;
      break;
    default:
      break;
  }
  // A digit test on the character itself: the classification functions of
  // the C runtime are only defined for values up to 255.
  if (type[0] != 0 && type[1] >= '0' && type[1] <= '9') {
    column.width = static_cast<uint32_t>(wcstoul(type + 1, nullptr, 10));
  }
  return column;
}

UINT ReadColumns(TableInfo* table) {
  MSIHANDLE types = 0;
  UINT result = MsiViewGetColumnInfo(table->view, MSICOLINFO_TYPES, &types);
  if (result != 0) return result;
  MSIHANDLE names = 0;
  result = MsiViewGetColumnInfo(table->view, MSICOLINFO_NAMES, &names);
  if (result != 0) {
    MsiCloseHandle(types);
    return result;
  }
  UINT count = MsiRecordGetFieldCount(names);
  result = 0;
  if (count != 0 && count == MsiRecordGetFieldCount(types)) {
    try {
      for (UINT field = 1; field <= count; ++field) {
        DWORD nameLength = 0;
        DWORD typeLength = 0;
        WString name = ReadColumnText(names, field, &nameLength);
        WString type = ReadColumnText(types, field, &typeLength);
        if (nameLength == 0 || typeLength == 0) continue;
        table->columns.push_back(MakeColumnInfo(name.c_str(), type.c_str()));
      }
    } catch (const std::bad_alloc&) {
      // A table whose columns cannot all be held is left out whole.
      result = ERROR_NOT_ENOUGH_MEMORY;
    }
  }
  MsiCloseHandle(names);
  MsiCloseHandle(types);
  return result;
}

LONG ReleaseTable(TableInfo* table) {
  LONG left = DropReference(&table->refCount);
  if (left == 0) DestroyTable(table);
  return left;
}

DWORD CreateTables(MsiArchive* archive) {
  for (size_t i = 0; i < archive->tableNames.size(); ++i) {
    const WString& tableName = archive->tableNames[i];
    MSIHANDLE view = 0;
    if (OpenTableView(archive->database, tableName, &view) != 0) continue;

    TableInfo* table = new (std::nothrow) TableInfo();
    if (table != nullptr) {
      try {
        table->name = tableName;
      } catch (const std::bad_alloc&) {
        delete table;
        table = nullptr;
      }
    }
    if (table == nullptr) {
      MsiCloseHandle(view);
      return ERROR_NOT_ENOUGH_MEMORY;
    }
    InitListNode(&table->link, table);
    table->view = view;
    table->streamColumn = -1;
    table->nameColumn = -1;
    table->isStreamsTable = table->name == WTEXT("_Streams") ? 1 : 0;
    table->refCount = 1;
    table->archive = archive;
    TakeReference(&archive->refCount);

    if (ReadColumns(table) != 0) {
      ReleaseTable(table);
      continue;
    }
    for (size_t c = 0; c < table->columns.size(); ++c) {
      if (table->columns[c].kind == ColumnKind::Stream) {
        table->streamColumn = static_cast<int64_t>(c);
        break;
      }
    }
    if (table->streamColumn != -1) {
      for (size_t c = 0; c < table->columns.size(); ++c) {
        if (table->columns[c].kind == ColumnKind::String) {
          table->nameColumn = static_cast<int64_t>(c);
          break;
        }
      }
    }
    LinkAtTail(&archive->tables, &table->link);
    TakeReference(&archive->tableCount);
  }
  return 0;
}
