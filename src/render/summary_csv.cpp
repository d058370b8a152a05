// The summary information file: a "Name","Value" header and one line per
// property the database holds, in property id order, in the CSV dialect of
// the table writer.
#include "render/csv_cursor.h"
#include "render/render.h"

namespace {

constexpr UINT kTypeI2 = 2;
constexpr UINT kTypeI4 = 3;
constexpr UINT kTypeText = 30;
constexpr UINT kTypeFileTime = 64;
constexpr DWORD kValueUnits = 1024;

size_t TextLength(const WCHAR* text, size_t capacity) {
  size_t n = 0;
  while (n < capacity && text[n] != 0) ++n;
  return n;
}

}  // namespace

const SummaryPropertyName SummaryPropertyNames[20] = {
    {0, nullptr},
    {kTypeI2, WTEXT("Codepage")},
    {kTypeText, WTEXT("Title")},
    {kTypeText, WTEXT("Subject")},
    {kTypeText, WTEXT("Author")},
    {kTypeText, WTEXT("Keywords")},
    {kTypeText, WTEXT("Comments")},
    {kTypeText, WTEXT("Template")},
    {kTypeText, WTEXT("Last Saved By")},
    {kTypeText, WTEXT("Revision Number")},
    {0, nullptr},
    {kTypeFileTime, WTEXT("Last Printed")},
    {kTypeFileTime, WTEXT("Create Time / Date")},
    {kTypeFileTime, WTEXT("Last Save Time / Date")},
    {kTypeI4, WTEXT("Page Count")},
    {kTypeI4, WTEXT("Word Count")},
    {kTypeI4, WTEXT("Character Count")},
    {0, nullptr},
    {kTypeText, WTEXT("Creating Application")},
    {kTypeI4, WTEXT("Security")},
};

DWORD FormatFileTime(WCHAR* buffer, FILETIME time) {
  if (time.dwHighDateTime == 0) {
    FormatToBuffer(buffer, kValueUnits, WTEXT("%s"), WTEXT("N/A"));
    return 0;
  }
  SYSTEMTIME calendar{};
  if (!FileTimeToSystemTime(&time, &calendar)) {
    // A time beyond the calendar's range has no date to show.
    FormatToBuffer(buffer, kValueUnits, WTEXT("%s"), WTEXT("N/A"));
    return 0;
  }
  buffer[0] = 0;
  int start = GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &calendar,
                             nullptr, buffer, static_cast<int>(kValueUnits));
  if (start > 0 && start < static_cast<int>(kValueUnits)) {
    buffer[start - 1] = WTEXT(' ');
  } else {
    start = 0;
  }
  if (GetTimeFormatW(LOCALE_USER_DEFAULT, TIME_FORCE24HOURFORMAT, &calendar,
                     nullptr, buffer + start,
                     static_cast<int>(kValueUnits) - start) == 0) {
    buffer[start > 0 ? start - 1 : 0] = 0;
  }
  return 0;
}

DWORD RenderSummaryCsv(FileEntry* entry, DWORD* slot) {
  CsvCursor cursor = OpenCsvCursor(entry);
  BeginCsv(cursor);
  WriteCsvField(cursor, WTEXT("Name"), 4, false);
  WriteCsvField(cursor, WTEXT("Value"), 5, true);
  EndCsvLine(cursor);

  UINT count = 0;
  if (MsiSummaryInfoGetPropertyCount(entry->record, &count) == ERROR_SUCCESS) {
    for (UINT id = 0; id < 20; ++id) {
      UINT type = 0;
      INT integer = 0;
      FILETIME time{0, 0};
      WCHAR value[kValueUnits] = {};
      DWORD units = kValueUnits;
      if (MsiSummaryInfoGetPropertyW(entry->record, id, &type, &integer, &time,
                                     value, &units) != ERROR_SUCCESS) {
        continue;
      }
      switch (type) {
        case kTypeI2:
        case kTypeI4:
          FormatToBuffer(value, kValueUnits, WTEXT("%i"), integer);
          break;
        case kTypeText:
          break;
        case kTypeFileTime:
          FormatFileTime(value, time);
          break;
        default:
          continue;
      }
      // Ids without a display name get no line.
      const WCHAR* name = SummaryPropertyNames[id].name;
      if (name == nullptr) continue;
      value[kValueUnits - 1] = 0;
      WriteCsvField(cursor, name, TextLength(name, kValueUnits), false);
      WriteCsvField(cursor, value, TextLength(value, kValueUnits), true);
      EndCsvLine(cursor);
    }
  }
  return StoreCsvLength(cursor, slot);
}
