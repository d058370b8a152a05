// Reading a string field of a database record.
#include <cstdlib>

#include "text/text.h"

bool FetchRecordString(MSIHANDLE record, UINT column, WString& destination,
                       DWORD& length) {
  // A reported length of 0xFFFFFFFF leaves no room for the terminator: no
  // field can be that long, so treat it as no memory rather than wrap.
  if (length == 0xFFFFFFFFu) return false;
  length += 1;  // room for the terminator
  if (length <= kInlineUnits) {
    WCHAR buffer[kInlineUnits];
    buffer[0] = 0;
    MsiRecordGetStringW(record, column + 1, buffer, &length);
    destination.assign(buffer, length < kInlineUnits ? length : kInlineUnits - 1);
    return true;
  }
  auto* block = static_cast<WCHAR*>(std::malloc(sizeof(WCHAR) * length));
  if (block == nullptr) return false;
  const DWORD capacity = length;
  block[0] = 0;
  MsiRecordGetStringW(record, column + 1, block, &length);
  destination.assign(block, length < capacity ? length : capacity - 1);
  std::free(block);
  return true;
}
