// Content rendering: the bytes of an entry, measured at listing and produced
// at extraction, by one code path per kind.
#pragma once

#include <cstddef>

#include "tree/tree.h"

DWORD MaterialiseContent(FileEntry* entry, DWORD* slot);
DWORD PrepareContent(FileEntry* entry);
Content& GetContent(FileEntry* entry);
DWORD GetContentSize(FileEntry* entry);
void FreeContent(Content* content);

// The CSV writers. A cursor counts bytes when `end` is null (measuring) and
// writes them when it is set.
struct CsvCursor {
  BYTE* data;  // block start, or null when measuring
  BYTE* end;   // data + capacity, or null when measuring
  size_t pos;  // bytes counted or written so far
};

DWORD RenderTableCsv(FileEntry* entry, DWORD* slot);
void WriteCsvField(CsvCursor& cursor, const WCHAR* text, size_t length,
                   bool separated);

struct SummaryPropertyName {
  UINT type;
  const WCHAR* name;  // null for ids without a name
};
extern const SummaryPropertyName SummaryPropertyNames[20];

DWORD RenderSummaryCsv(FileEntry* entry, DWORD* slot);
DWORD FormatFileTime(WCHAR* buffer, FILETIME time);
