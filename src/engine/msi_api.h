// The engine boundary: the Windows Installer operations msiarc calls.
//
// On Windows these are msi.dll's own, from <msi.h> and <msiquery.h>. On
// Linux the native engine in src/engine/native/ implements the same
// operations under the same names, argument conventions and result codes.
#pragma once

#include "platform/win32.h"

#ifdef _WIN32

#include <msi.h>
#include <msiquery.h>

#else  // Linux: the native engine

typedef uint32_t MSIHANDLE;

#define MSIDBOPEN_READONLY (static_cast<LPCWSTR>(nullptr))

// A fixed underlying type: callers may pass any value, and get an error.
enum MSICOLINFO : int { MSICOLINFO_NAMES = 0, MSICOLINFO_TYPES = 1 };

#define MSI_NULL_INTEGER (static_cast<int>(0x80000000u))

// Variant types reported by MsiSummaryInfoGetPropertyW.
#define VT_EMPTY 0
#define VT_NULL 1
#define VT_I2 2
#define VT_I4 3
#define VT_LPSTR 30
#define VT_FILETIME 64

UINT MsiOpenDatabaseW(LPCWSTR path, LPCWSTR persist, MSIHANDLE* database);
UINT MsiDatabaseOpenViewW(MSIHANDLE database, LPCWSTR query, MSIHANDLE* view);
UINT MsiDatabaseGetPrimaryKeysW(MSIHANDLE database, LPCWSTR table,
                                MSIHANDLE* record);
UINT MsiViewExecute(MSIHANDLE view, MSIHANDLE params);
UINT MsiViewFetch(MSIHANDLE view, MSIHANDLE* record);
UINT MsiViewClose(MSIHANDLE view);
UINT MsiViewGetColumnInfo(MSIHANDLE view, MSICOLINFO info, MSIHANDLE* record);
UINT MsiRecordGetFieldCount(MSIHANDLE record);
UINT MsiRecordGetStringW(MSIHANDLE record, UINT field, LPWSTR buffer,
                         DWORD* length);
int MsiRecordGetInteger(MSIHANDLE record, UINT field);
UINT MsiRecordDataSize(MSIHANDLE record, UINT field);
UINT MsiRecordReadStream(MSIHANDLE record, UINT field, char* buffer,
                         DWORD* bytes);
UINT MsiGetSummaryInformationW(MSIHANDLE database, LPCWSTR path,
                               UINT updateCount, MSIHANDLE* summary);
UINT MsiSummaryInfoGetPropertyCount(MSIHANDLE summary, UINT* count);
UINT MsiSummaryInfoGetPropertyW(MSIHANDLE summary, UINT property,
                                UINT* type, INT* integer, FILETIME* time,
                                LPWSTR buffer, DWORD* length);
UINT MsiCloseHandle(MSIHANDLE handle);

// Beyond msi.dll: the native engine reads up to `rows` next rows of an
// executed view of an ordinary table without streams straight into
// `cells`, `columns` a row, row after row, without making records; a table
// is read this way at the cost of its cells alone. *fetched says how many
// rows came. A text points into the database and stays valid while the
// view is open. Answers as MsiViewFetch does (ERROR_NO_MORE_ITEMS at the
// end, the next call starting over), and ERROR_CALL_NOT_IMPLEMENTED for any
// other table or when `columns` is not its number of columns: fetch
// records instead.
enum class NativeCellType : uint8_t { Null, Integer, String };
struct NativeCell {
  const void* text;  // a string's units: bytes below 0x80 when narrow
  uint32_t length;   // of a string, in units
  int32_t integer;
  NativeCellType type;
  bool narrow;
};
UINT NativeViewFetchRows(MSIHANDLE view, NativeCell* cells, UINT columns, UINT rows,
                         UINT* fetched);

#endif  // _WIN32
