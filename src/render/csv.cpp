// The table CSV writer and the field routine both CSV files share.
//
// Dialect: UTF-8 with a byte-order mark, every field in double quotes,
// fields separated by one comma, every line ended by CR LF. A double quote
// inside a value is written as two (RFC 4180), so that every standard CSV
// reader finds the fields; commas and line breaks stay as they are, inside
// the field's quotes.
//
// One code path measures and writes: with no block the cursor only counts,
// with a block it writes, never past `end`.
#include <climits>

#include "render/render.h"
#include "render/csv_cursor.h"

namespace {

constexpr WCHAR kNullInteger[] = WTEXT("(null)");

int Utf8Length(const WCHAR* text, size_t length) {
  if (length == 0) return 0;
  const int units = length > INT_MAX ? INT_MAX : static_cast<int>(length);
  return WideCharToMultiByte(CP_UTF8, 0, text, units, nullptr, 0, nullptr,
                             nullptr);
}

// The decimal text of a value, as "%i" writes it, without the general
// formatter (a table can have millions of integer cells); returns its length.
size_t IntegerText(int value, WCHAR* out) {
  WCHAR reversed[10];
  size_t digits = 0;
  unsigned int magnitude = value < 0 ? 0u - static_cast<unsigned int>(value)
                                     : static_cast<unsigned int>(value);
  do {
    reversed[digits++] = static_cast<WCHAR>(WTEXT('0') + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  size_t length = 0;
  if (value < 0) out[length++] = WTEXT('-');
  while (digits > 0) out[length++] = reversed[--digits];
  return length;
}

}  // namespace

size_t CsvRoom(const CsvCursor& cursor) {
  const size_t capacity = static_cast<size_t>(cursor.end - cursor.data);
  return cursor.pos < capacity ? capacity - cursor.pos : 0;
}

void PutCsvByte(CsvCursor& cursor, BYTE value) {
  if (cursor.end != nullptr && CsvRoom(cursor) >= 1) {
    cursor.data[cursor.pos] = value;
  }
  ++cursor.pos;
}

void BeginCsv(CsvCursor& cursor) {
  // The byte-order mark and line ends are written only when they fit whole.
  if (cursor.end != nullptr && CsvRoom(cursor) >= 3) {
    cursor.data[0] = 0xEF;
    cursor.data[1] = 0xBB;
    cursor.data[2] = 0xBF;
  }
  cursor.pos = 3;
}

void EndCsvLine(CsvCursor& cursor) {
  if (cursor.end != nullptr && CsvRoom(cursor) >= 2) {
    cursor.data[cursor.pos] = 0x0D;
    cursor.data[cursor.pos + 1] = 0x0A;
  }
  cursor.pos += 2;
}

namespace {

// Converts text to UTF-8 into the room left, as far as it fits.
void PutCsvText(CsvCursor& cursor, const WCHAR* text, size_t length) {
  const size_t room = CsvRoom(cursor);
  if (length == 0 || room == 0) return;
  const int units = length > INT_MAX ? INT_MAX : static_cast<int>(length);
  const int bytes = room > INT_MAX ? INT_MAX : static_cast<int>(room);
  const int written = WideCharToMultiByte(
      CP_UTF8, 0, text, units, reinterpret_cast<char*>(cursor.data + cursor.pos),
      bytes, nullptr, nullptr);
  if (written > 0) cursor.pos += static_cast<size_t>(written);
}

}  // namespace

void WriteCsvField(CsvCursor& cursor, const WCHAR* text, size_t length,
                   bool separated) {
  size_t quotes = 0;
  for (size_t i = 0; i < length; ++i) quotes += text[i] == '"';
  if (cursor.end == nullptr) {
    cursor.pos += static_cast<size_t>(Utf8Length(text, length)) + quotes + 2 +
                  (separated ? 1 : 0);
    return;
  }
  if (separated) PutCsvByte(cursor, ',');
  PutCsvByte(cursor, '"');
  // A quote inside the value is written twice. A quote is never part of a
  // surrogate pair, so each run between quotes converts on its own.
  size_t start = 0;
  for (size_t i = 0; i < length && quotes != 0; ++i) {
    if (text[i] != '"') continue;
    PutCsvText(cursor, text + start, i - start);
    PutCsvByte(cursor, '"');
    PutCsvByte(cursor, '"');
    start = i + 1;
  }
  PutCsvText(cursor, text + start, length - start);
  PutCsvByte(cursor, '"');
}

DWORD StoreCsvLength(const CsvCursor& cursor, DWORD* slot) {
  // A content length is 32-bit; a text that would not fit is refused rather
  // than reported with a wrapped size.
  if (cursor.pos > 0xFFFFFFFFu) return ERROR_FILE_TOO_LARGE;
  *slot = static_cast<DWORD>(cursor.pos);
  return ERROR_SUCCESS;
}

CsvCursor OpenCsvCursor(FileEntry* entry) {
  CsvCursor cursor{entry->content.data, nullptr, 0};
  if (cursor.data != nullptr) cursor.end = cursor.data + entry->content.length;
  return cursor;
}

DWORD RenderTableCsv(FileEntry* entry, DWORD* slot) {
  TableInfo* table = entry->table;
  if (table == nullptr) return ERROR_NOT_SUPPORTED;
  CsvCursor cursor = OpenCsvCursor(entry);
  DWORD result = ERROR_SUCCESS;

  BeginCsv(cursor);
  const std::vector<ColumnInfo>& columns = table->columns;
  for (size_t i = 0; i < columns.size(); ++i) {
    WriteCsvField(cursor, columns[i].name.c_str(), columns[i].name.size(),
                  i != 0);
  }
  EndCsvLine(cursor);

  if (MsiViewExecute(table->view, 0) != ERROR_SUCCESS) {
    return StoreCsvLength(cursor, slot);
  }

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
  WString text;  // one cell text for the whole rendering
  while (MsiViewFetch(rows.view, &rows.record) == ERROR_SUCCESS) {
    const MSIHANDLE record = rows.record;
    for (size_t j = 0; j < columns.size(); ++j) {
      const UINT field = static_cast<UINT>(j + 1);
      switch (columns[j].kind) {
        case ColumnKind::Integer: {
          const int value = MsiRecordGetInteger(record, field);
          if (value == static_cast<int>(0x80000000u)) {
            WriteCsvField(cursor, kNullInteger, 6, j != 0);
          } else {
            WCHAR number[16];
            WriteCsvField(cursor, number, IntegerText(value, number), j != 0);
          }
          break;
        }
        case ColumnKind::String: {
          DWORD length = 0;
          if (MsiRecordGetStringW(record, field, nullptr, &length) ==
              ERROR_SUCCESS) {
            if (!FetchRecordString(record, static_cast<UINT>(j), text,
                                   length) &&
                result == ERROR_SUCCESS) {
              result = ERROR_NOT_ENOUGH_MEMORY;
            }
          }
          WriteCsvField(cursor, text.c_str(), text.size(), j != 0);
          break;
        }
        default:
          // A stream or unknown cell has no text form: the table cannot be
          // rendered, but the pass still runs to the end.
          result = ERROR_NOT_SUPPORTED;
          break;
      }
    }
    EndCsvLine(cursor);
    MsiCloseHandle(record);
    rows.record = 0;
  }

  if (result != ERROR_SUCCESS) return result;
  return StoreCsvLength(cursor, slot);
}
