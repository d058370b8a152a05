// The summary information file: a "Name","Value" header and one line per
// property the database holds, in property id order, in the CSV dialect of
// the table writer.
#include <new>

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

// A text value longer than the usual buffer, read whole: `units` is the
// length the engine reported, without the terminator.
UINT ReadLongText(MSIHANDLE summary, UINT id, DWORD units, WString& text) {
  if (units >= 0x7FFFFFFFu) return ERROR_INVALID_DATA;
  try {
    text.assign(static_cast<size_t>(units) + 1, WCHAR(0));
  } catch (const std::bad_alloc&) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
  UINT type = 0;
  INT integer = 0;
  FILETIME time{0, 0};
  DWORD capacity = units + 1;
  const UINT result = MsiSummaryInfoGetPropertyW(
      summary, id, &type, &integer, &time, text.data(), &capacity);
  if (result != ERROR_SUCCESS || type != kTypeText) {
    return result != ERROR_SUCCESS ? result : ERROR_INVALID_DATA;
  }
  text.resize(TextLength(text.c_str(), text.size()));
  return ERROR_SUCCESS;
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
    // A date the user's format cannot show is still shown, as year, month
    // and day.
    WCHAR* end = buffer;
    FormatToBufferEx(buffer, kValueUnits, &end, nullptr, WTEXT("%04u-%02u-%02u "),
                     static_cast<unsigned>(calendar.wYear),
                     static_cast<unsigned>(calendar.wMonth),
                     static_cast<unsigned>(calendar.wDay));
    start = static_cast<int>(end - buffer);
  }
  if (GetTimeFormatW(LOCALE_USER_DEFAULT, TIME_FORCE24HOURFORMAT, &calendar,
                     nullptr, buffer + start,
                     static_cast<int>(kValueUnits) - start) == 0) {
    buffer[start > 0 ? start - 1 : 0] = 0;
  }
  return 0;
}

DWORD RenderSummaryCsv(MSIHANDLE summary, CsvOutput& out) {
  out.ByteOrderMark();
  out.Field(WTEXT("Name"), 4, false);
  out.Field(WTEXT("Value"), 5, true);
  out.LineEnd();

  UINT count = 0;
  const UINT counted = MsiSummaryInfoGetPropertyCount(summary, &count);
  if (IsOutOfMemory(counted)) return counted;
  if (counted == ERROR_SUCCESS) {
    for (UINT id = 0; id < 20; ++id) {
      UINT type = 0;
      INT integer = 0;
      FILETIME time{0, 0};
      WCHAR value[kValueUnits] = {};
      DWORD units = kValueUnits;
      const WCHAR* text = value;
      WString longText;  // a text value that does not fit `value`
      UINT result = MsiSummaryInfoGetPropertyW(summary, id, &type,
                                               &integer, &time, value, &units);
      if (result == ERROR_MORE_DATA && type == kTypeText) {
        result = ReadLongText(summary, id, units, longText);
        text = longText.c_str();
      }
      // A property that cannot be read is left out; for want of memory the
      // text is refused instead.
      if (IsOutOfMemory(result)) return result;
      if (result != ERROR_SUCCESS) continue;
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
      const size_t length = text == value ? TextLength(value, kValueUnits)
                                          : longText.size();
      out.Field(name, TextLength(name, kValueUnits), false);
      out.Field(text, length, true);
      out.LineEnd();
    }
  }
  return ERROR_SUCCESS;
}
