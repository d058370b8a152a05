// Text services: bounded formatting into fixed 16-bit buffers, code-page
// conversion into holders that keep short strings inline, and the one
// routine that reads a string field of a database record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/msi_api.h"
#include "platform/win32.h"

using WString = std::basic_string<WCHAR>;

// Results of the formatters (HRESULT form).
constexpr HRESULT kFormatOk = 0;
constexpr HRESULT kFormatTruncated = static_cast<HRESULT>(0x8007007AL);
constexpr HRESULT kFormatInvalidParameter = static_cast<HRESULT>(0x80070057L);

HRESULT FormatToBuffer(WCHAR* destination, size_t capacity,
                       const WCHAR* format, ...);
HRESULT FormatToBufferEx(WCHAR* destination, size_t capacity, WCHAR** endOut,
                         size_t* remainingOut, const WCHAR* format, ...);

constexpr size_t kInlineUnits = 128;

// A converted UTF-16 string: inline up to 126 characters, else on the heap.
struct WideBuffer {
  WCHAR* text;
  int64_t length;  // units reported for the whole string, terminator included
  WCHAR inlineText[kInlineUnits];
};

// From the ANSI code page (code page 0).
WideBuffer* AnsiToWide(WideBuffer* holder, const char* source);
// The same steps from another code page (ProcessFile's names: 65001).
WideBuffer* MultiByteToWideBuffer(WideBuffer* holder, UINT codePage,
                                  const char* source);
void FreeWideBuffer(WideBuffer* holder);

// The opposite direction: UTF-16 to the ANSI code page, flags 0, inline when
// the converted length plus one fits 128 bytes.
struct NarrowBuffer {
  char* text;
  int64_t length;
  char inlineText[kInlineUnits];
};
NarrowBuffer* WideToAnsi(NarrowBuffer* holder, const WCHAR* source);
void FreeNarrowBuffer(NarrowBuffer* holder);

// Reads field column + 1 of a record into destination. The caller has just
// asked MsiRecordGetStringW for the field's length (null buffer, length 0)
// and got 0; length is what that query reported. False only when no memory
// can be had for the value; it never throws.
bool FetchRecordString(MSIHANDLE record, UINT column, WString& destination,
                       DWORD& length);
// Both steps: the length query, then the value. False when the query fails
// or no memory can be had.
bool ReadRecordString(MSIHANDLE record, UINT column, WString& destination);
