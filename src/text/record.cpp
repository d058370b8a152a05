// Reading a string field of a database record.
#include <cstdlib>
#include <new>

#include "text/text.h"

namespace {

// The destination takes the text, or stays as it was when it cannot get
// the memory for it.
bool Keep(WString& destination, const WCHAR* text, size_t units) {
  try {
    destination.assign(text, units);
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

}  // namespace

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
    return Keep(destination, buffer,
                length < kInlineUnits ? length : kInlineUnits - 1);
  }
  auto* block = static_cast<WCHAR*>(std::malloc(sizeof(WCHAR) * length));
  if (block == nullptr) return false;
  const DWORD capacity = length;
  block[0] = 0;
  MsiRecordGetStringW(record, column + 1, block, &length);
  const bool kept =
      Keep(destination, block, length < capacity ? length : capacity - 1);
  std::free(block);
  return kept;
}

bool ReadRecordString(MSIHANDLE record, UINT column, WString& destination) {
  DWORD length = 0;
  if (MsiRecordGetStringW(record, column + 1, nullptr, &length) != 0) return false;
  return FetchRecordString(record, column, destination, length);
}
