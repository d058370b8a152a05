// The exported functions: the host's packer plug-in interface.
#pragma once

#include "plugin/host_abi.h"

#ifdef _WIN32
#define MSIARC_EXPORT
#else
#define MSIARC_EXPORT __attribute__((visibility("default")))
#endif

extern "C" {

MSIARC_EXPORT HANDLE WINAPI OpenArchive(OpenArchiveData* data);
MSIARC_EXPORT HANDLE WINAPI OpenArchiveW(OpenArchiveDataW* data);
MSIARC_EXPORT int WINAPI CloseArchive(HANDLE archive);

MSIARC_EXPORT int WINAPI ReadHeader(HANDLE archive, HeaderData* header);
MSIARC_EXPORT int WINAPI ReadHeaderEx(HANDLE archive, HeaderDataEx* header);
MSIARC_EXPORT int WINAPI ReadHeaderExW(HANDLE archive, HeaderDataExW* header);

MSIARC_EXPORT int WINAPI ProcessFile(HANDLE archive, int operation,
                                     char* destPath, char* destName);
MSIARC_EXPORT int WINAPI ProcessFileW(HANDLE archive, int operation,
                                      WCHAR* destPath, WCHAR* destName);
MSIARC_EXPORT void WINAPI SetProcessDataProc(HANDLE archive,
                                             ProcessDataProc callback);
MSIARC_EXPORT void WINAPI SetProcessDataProcW(HANDLE archive,
                                              ProcessDataProcW callback);
MSIARC_EXPORT void WINAPI SetChangeVolProc(HANDLE archive,
                                           ChangeVolProc callback);
MSIARC_EXPORT void WINAPI SetChangeVolProcW(HANDLE archive,
                                            ChangeVolProcW callback);

MSIARC_EXPORT int WINAPI GetPackerCaps();
MSIARC_EXPORT BOOL WINAPI CanYouHandleThisFile(char* fileName);
MSIARC_EXPORT BOOL WINAPI CanYouHandleThisFileW(WCHAR* fileName);
MSIARC_EXPORT int WINAPI PackFiles(char* packedFile, char* subPath,
                                   char* srcPath, char* addList, int flags);
MSIARC_EXPORT int WINAPI PackFilesW(WCHAR* packedFile, WCHAR* subPath,
                                    WCHAR* srcPath, WCHAR* addList,
                                    int flags);
MSIARC_EXPORT int WINAPI DeleteFiles(char* packedFile, char* deleteList);
MSIARC_EXPORT int WINAPI DeleteFilesW(WCHAR* packedFile, WCHAR* deleteList);
MSIARC_EXPORT void WINAPI ConfigurePacker(HWND parent, HINSTANCE dllInstance);
MSIARC_EXPORT void WINAPI PackSetDefaultParams(PackDefaultParams* params);

}  // extern "C"

// Host result codes.
constexpr int kHostSuccess = 0;
constexpr int kHostEndArchive = 10;    // no further entry
constexpr int kHostNoMemory = 11;
constexpr int kHostBadData = 12;       // an entry's content is damaged
constexpr int kHostBadArchive = 13;    // a compound file the engine cannot open
constexpr int kHostUnknownFormat = 14;
constexpr int kHostCreateFailed = 16;
constexpr int kHostWriteFailed = 19;
constexpr int kHostAborted = 21;       // the host's callback said stop
constexpr int kHostNotSupported = 24;

// ProcessFile's operations.
constexpr int kSkip = 0;
constexpr int kTest = 1;
constexpr int kExtract = 2;

// Capability bits.
constexpr int kCapsMultiple = 4;
constexpr int kCapsByContent = 64;
constexpr int kCapsSearchText = 128;
