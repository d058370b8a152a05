// The table CSV writer: a header line of column names, then one line per
// row, every cell as text. One pass measures (a counting output) or writes
// (an output over a buffer), the same way.
#include <new>

#include "render/render.h"

namespace {

constexpr WCHAR kNullText[] = WTEXT("(null)");
// The engine's null integer (msiquery.h gives it unsigned).
constexpr int kNullInteger = static_cast<int>(0x80000000u);
constexpr DWORD kCellUnits = 256;

// An integer cell: its digits, or "(null)" for the engine's null.
void PutInteger(CsvOutput& out, int value, bool separated) {
  if (value == kNullInteger) {
    out.Field(kNullText, 6, separated);
  } else {
    out.Integer(value, separated);
  }
}

// A string cell's text, read in one call when it is short: into `small`,
// else into `large`. False when no memory can be had for a long one.
bool ReadCell(MSIHANDLE record, UINT field, WCHAR (&small)[kCellUnits], WString& large,
              const WCHAR** text, size_t* length) {
  DWORD units = kCellUnits;
  const UINT result = MsiRecordGetStringW(record, field, small, &units);
  if (result == ERROR_SUCCESS) {
    *text = small;
    *length = units < kCellUnits ? units : kCellUnits - 1;
    return true;
  }
  *text = small;
  *length = 0;
  if (IsOutOfMemory(result)) return false;
  // A value whose length cannot be had shows as an empty field.
  if (result != ERROR_MORE_DATA || units >= 0x7FFFFFFFu) return true;
  try {
    large.resize(static_cast<size_t>(units) + 1);
  } catch (const std::bad_alloc&) {
    return false;
  }
  DWORD capacity = units + 1;
  const UINT again = MsiRecordGetStringW(record, field, large.data(), &capacity);
  if (again != ERROR_SUCCESS) return !IsOutOfMemory(again);
  *text = large.data();
  *length = capacity < units + 1 ? capacity : units;
  return true;
}

#ifndef _WIN32
// The native engine reads a plain table's cells in place, many rows a call
// and no record per row: the same lines at the cost of the cells alone.
// ERROR_CALL_NOT_IMPLEMENTED, before any row, for a table it does not read
// so. A cell's type is its column's, as the records' would be.
DWORD RenderCells(const std::vector<ColumnInfo>& columns, MSIHANDLE view, CsvOutput& out) {
  constexpr UINT kRowsAtOnce = 256;
  const UINT width = static_cast<UINT>(columns.size());
  if (width == 0) return ERROR_CALL_NOT_IMPLEMENTED;
  std::vector<NativeCell> cells;
  try {
    cells.resize(static_cast<size_t>(width) * kRowsAtOnce);
  } catch (const std::bad_alloc&) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
  UINT fetched = ERROR_NO_MORE_ITEMS;
  UINT rows = 0;
  while (!out.stopped() && (fetched = NativeViewFetchRows(view, cells.data(), width, kRowsAtOnce,
                                                          &rows)) == ERROR_SUCCESS) {
    const NativeCell* cell = cells.data();
    for (UINT row = 0; row < rows; ++row) {
      for (UINT j = 0; j < width; ++j, ++cell) {
        const bool separated = j != 0;
        switch (columns[j].kind) {
          case ColumnKind::Integer:
            PutInteger(out, cell->type == NativeCellType::Integer ? cell->integer : kNullInteger,
                       separated);
            break;
          case ColumnKind::String:
            if (cell->type != NativeCellType::String) {
              out.Field(kNullText, 0, separated);
            } else if (cell->narrow) {
              out.Field(static_cast<const uint8_t*>(cell->text), cell->length, separated);
            } else {
              out.Field(static_cast<const WCHAR*>(cell->text), cell->length, separated);
            }
            break;
          default:
            return ERROR_NOT_SUPPORTED;
        }
      }
      out.LineEnd();
    }
  }
  if (fetched == ERROR_CALL_NOT_IMPLEMENTED) return fetched;
  return !out.stopped() && IsOutOfMemory(fetched) ? fetched : ERROR_SUCCESS;
}
#endif

}  // namespace

DWORD RenderTableCsv(const TableInfo* table, CsvOutput& out) {
  if (table == nullptr) return ERROR_NOT_SUPPORTED;
  const std::vector<ColumnInfo>& columns = table->columns;
  out.ByteOrderMark();
  for (size_t i = 0; i < columns.size(); ++i) {
    out.Field(columns[i].name.c_str(), columns[i].name.size(), i != 0);
  }
  out.LineEnd();

  // A view that cannot be executed leaves the header alone (but for want
  // of memory, which would show the table empty).
  const UINT executed = MsiViewExecute(table->view, 0);
  if (executed != ERROR_SUCCESS) return IsOutOfMemory(executed) ? executed : ERROR_SUCCESS;
  // The row record and the execution end with the pass, whichever way it
  // ends, so that the next pass starts afresh.
  struct Rows {
    MSIHANDLE view;
    MSIHANDLE record = 0;
    ~Rows() {
      if (record != 0) MsiCloseHandle(record);
      MsiViewClose(view);
    }
  } rows{table->view};

#ifndef _WIN32
  if (const DWORD cells = RenderCells(columns, rows.view, out); cells != ERROR_CALL_NOT_IMPLEMENTED) {
    return cells;
  }
#endif
  WCHAR small[kCellUnits];
  WString large;  // one buffer for every long value of the pass
  // A fetch that fails ends the rows as if the table ended there; for want
  // of memory the text is refused instead.
  UINT fetched = ERROR_NO_MORE_ITEMS;
  while (!out.stopped() &&
         (fetched = MsiViewFetch(rows.view, &rows.record)) == ERROR_SUCCESS) {
    const MSIHANDLE record = rows.record;
    for (size_t j = 0; j < columns.size(); ++j) {
      const UINT field = static_cast<UINT>(j + 1);
      switch (columns[j].kind) {
        case ColumnKind::Integer:
          PutInteger(out, MsiRecordGetInteger(record, field), j != 0);
          break;
        case ColumnKind::String: {
          const WCHAR* text = nullptr;
          size_t length = 0;
          if (!ReadCell(record, field, small, large, &text, &length)) {
            return ERROR_NOT_ENOUGH_MEMORY;
          }
          out.Field(text, length, j != 0);
          break;
        }
        default:
          // A stream or unknown cell has no text form: the table cannot be
          // rendered.
          return ERROR_NOT_SUPPORTED;
      }
    }
    out.LineEnd();
    MsiCloseHandle(record);
    rows.record = 0;
  }
  return !out.stopped() && IsOutOfMemory(fetched) ? fetched : ERROR_SUCCESS;
}
