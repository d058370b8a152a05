// The few Windows kernel, user-interface and C runtime calls msiarc makes.
//
// On Windows this is <windows.h> itself. On Linux the declarations below are
// implemented in src/platform/linux/ with the meaning msiarc relies on and
// nothing more. Text is UTF-16 on both platforms: WCHAR is wchar_t on
// Windows and char16_t on Linux (never the 32-bit Linux wchar_t); write
// 16-bit literals as WTEXT("...").
#pragma once

#ifdef _WIN32

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <wchar.h>
#include <ctype.h>
#include <stdarg.h>
#include <stdlib.h>

#define WTEXT(s) L##s

#else  // Linux

#include <cctype>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <pthread.h>
// The C library's wide calls first, so that std:: names keep referring to
// them alone; the 16-bit overloads below are global.
#include <cwchar>

#define WTEXT(s) u##s
#define WINAPI
#define CALLBACK

typedef char16_t WCHAR;
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;
typedef char CHAR;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef DWORD* LPDWORD;
typedef int32_t LONG;
typedef int64_t LONGLONG;
typedef uint64_t ULONGLONG;
typedef unsigned int UINT;
typedef int INT;
typedef int BOOL;
typedef void* HANDLE;
typedef void* HWND;
typedef void* HINSTANCE;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef uintptr_t SIZE_T;
typedef int32_t HRESULT;
typedef DWORD LCID;

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif

#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)))
#define MAX_PATH 260

struct FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
};
typedef FILETIME* LPFILETIME;

// The one member msiarc uses.
struct LARGE_INTEGER {
  LONGLONG QuadPart;
};
typedef LARGE_INTEGER* PLARGE_INTEGER;

struct SYSTEMTIME {
  WORD wYear;
  WORD wMonth;
  WORD wDayOfWeek;
  WORD wDay;
  WORD wHour;
  WORD wMinute;
  WORD wSecond;
  WORD wMilliseconds;
};
typedef SYSTEMTIME* LPSYSTEMTIME;

struct WIN32_FIND_DATAW {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD dwReserved0;
  DWORD dwReserved1;
  WCHAR cFileName[MAX_PATH];
  WCHAR cAlternateFileName[14];
};
typedef WIN32_FIND_DATAW* LPWIN32_FIND_DATAW;

// Error codes
#define ERROR_SUCCESS 0L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_NOT_ENOUGH_MEMORY 8L
#define ERROR_INVALID_DATA 13L
#define ERROR_NOT_SUPPORTED 50L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_CALL_NOT_IMPLEMENTED 120L
#define ERROR_OPEN_FAILED 110L
#define ERROR_INSUFFICIENT_BUFFER 122L
#define ERROR_FILE_TOO_LARGE 223L
#define ERROR_MORE_DATA 234L
#define ERROR_NO_MORE_ITEMS 259L
#define ERROR_NO_UNICODE_TRANSLATION 1113L
#define ERROR_UNKNOWN_PROPERTY 1608L
#define ERROR_INVALID_HANDLE_STATE 1609L
#define ERROR_BAD_QUERY_SYNTAX 1615L
#define ERROR_INVALID_FIELD 1616L
#define ERROR_INSTALL_PACKAGE_INVALID 1620L
#define ERROR_FUNCTION_FAILED 1627L
#define ERROR_INVALID_TABLE 1628L
#define ERROR_DATATYPE_MISMATCH 1629L
#define ERROR_INVALID_DATATYPE 1804L

#define S_OK 0
#define STRSAFE_E_INSUFFICIENT_BUFFER (static_cast<HRESULT>(0x8007007AL))
#define STRSAFE_E_INVALID_PARAMETER (static_cast<HRESULT>(0x80070057L))

// Code pages and conversion flags
#define CP_ACP 0
#define CP_UTF8 65001
#define CP_OEMCP 1
#define WC_COMPOSITECHECK 0x00000200
#define WC_ERR_INVALID_CHARS 0x00000080
#define MB_ERR_INVALID_CHARS 0x00000008

// Heap
#define HEAP_ZERO_MEMORY 0x00000008

// Files
#define GENERIC_WRITE 0x40000000L
#define GENERIC_READ 0x80000000L
#define FILE_SHARE_READ 0x00000001
#define FILE_SHARE_WRITE 0x00000002
#define CREATE_ALWAYS 2
#define OPEN_EXISTING 3
#define FILE_BEGIN 0
#define FILE_ATTRIBUTE_ARCHIVE 0x00000020
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010

// Locale formats
#define LOCALE_USER_DEFAULT 0x0400
#define DATE_SHORTDATE 0x00000001
#define TIME_FORCE24HOURFORMAT 0x00000008

// Critical sections: recursive, as on Windows, and held inside the record,
// so that setting one up needs no memory and cannot fail.
struct CRITICAL_SECTION {
  pthread_mutex_t mutex;
};
typedef CRITICAL_SECTION* LPCRITICAL_SECTION;

void InitializeCriticalSection(LPCRITICAL_SECTION cs);
void DeleteCriticalSection(LPCRITICAL_SECTION cs);
void EnterCriticalSection(LPCRITICAL_SECTION cs);
void LeaveCriticalSection(LPCRITICAL_SECTION cs);

LONG InterlockedIncrement(LONG volatile* value);
LONG InterlockedDecrement(LONG volatile* value);

HANDLE GetProcessHeap();
LPVOID HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes);
BOOL HeapFree(HANDLE heap, DWORD flags, LPVOID block);

HANDLE FindFirstFileW(LPCWSTR path, LPWIN32_FIND_DATAW data);
BOOL FindClose(HANDLE search);

HANDLE CreateFileW(LPCWSTR path, DWORD access, DWORD share, void* security,
                   DWORD disposition, DWORD flags, HANDLE templateFile);
BOOL ReadFile(HANDLE file, LPVOID data, DWORD bytes, LPDWORD got,
              void* overlapped);
BOOL WriteFile(HANDLE file, LPCVOID data, DWORD bytes, LPDWORD written,
               void* overlapped);
// From the start of the file only (FILE_BEGIN).
BOOL SetFilePointerEx(HANDLE file, LARGE_INTEGER distance,
                      PLARGE_INTEGER position, DWORD method);
BOOL SetEndOfFile(HANDLE file);
// The last-write time only: a null time leaves that time as it is, and the
// creation time is not kept on Linux.
BOOL SetFileTime(HANDLE file, const FILETIME* creation,
                 const FILETIME* lastAccess, const FILETIME* lastWrite);
BOOL CloseHandle(HANDLE object);

BOOL FileTimeToSystemTime(const FILETIME* fileTime, LPSYSTEMTIME systemTime);
BOOL SystemTimeToTzSpecificLocalTime(const void* timeZone,
                                     const SYSTEMTIME* universal,
                                     LPSYSTEMTIME local);
int GetDateFormatW(LCID locale, DWORD flags, const SYSTEMTIME* date,
                   LPCWSTR format, LPWSTR out, int capacity);
int GetTimeFormatW(LCID locale, DWORD flags, const SYSTEMTIME* time,
                   LPCWSTR format, LPWSTR out, int capacity);

int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR source,
                        int sourceBytes, LPWSTR out, int capacity);
int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR source,
                        int sourceUnits, LPSTR out, int capacity,
                        LPCSTR defaultChar, BOOL* usedDefaultChar);

// Single-character form only: the character in the low word of the pointer.
LPWSTR CharLowerW(LPWSTR text);

// The C runtime's wide-text calls, for 16-bit text. The formatter supports
// what msiarc's formats use: "%s" (16-bit text), "%i", "%u" with width and
// zero padding, and "%%". Like msvcrt it returns a negative value, without
// a terminator, when the output does not fit.
int _vsnwprintf(WCHAR* out, size_t count, const WCHAR* format, va_list args);
int _wcsicmp(const WCHAR* a, const WCHAR* b);
int _wcsnicmp(const WCHAR* a, const WCHAR* b, size_t count);
WCHAR* wcschr(const WCHAR* text, WCHAR c);
unsigned long wcstoul(const WCHAR* text, WCHAR** end, int base);
size_t wcslen(const WCHAR* text);

#endif  // _WIN32
