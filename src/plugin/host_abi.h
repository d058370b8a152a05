// The host's packer plug-in records and callbacks (64-bit layout).
// Only the fields msiarc reads or writes matter; the rest is the host's.
#pragma once

#include <cstddef>

#include "platform/win32.h"

extern "C" {

typedef int(WINAPI* ProcessDataProc)(char* fileName, int size);
typedef int(WINAPI* ProcessDataProcW)(WCHAR* fileName, int size);
typedef int(WINAPI* ChangeVolProc)(char* archiveName, int mode);
typedef int(WINAPI* ChangeVolProcW)(WCHAR* archiveName, int mode);

struct OpenArchiveData {
  char* arcName;
  int openMode;
  int openResult;
  char* cmtBuf;
  int cmtBufSize;
  int cmtSize;
  int cmtState;
};

struct OpenArchiveDataW {
  WCHAR* arcName;
  int openMode;
  int openResult;
  WCHAR* cmtBuf;
  int cmtBufSize;
  int cmtSize;
  int cmtState;
};

struct HeaderData {
  char arcName[260];
  char fileName[260];
  int flags;
  int packSize;
  int unpSize;
  int hostOS;
  int fileCRC;
  int fileTime;
  int unpVer;
  int method;
  int fileAttr;
  char* cmtBuf;
  int cmtBufSize;
  int cmtSize;
  int cmtState;
};

struct HeaderDataEx {
  char arcName[1024];
  char fileName[1024];
  int flags;
  unsigned int packSize;
  unsigned int packSizeHigh;
  unsigned int unpSize;
  unsigned int unpSizeHigh;
  int hostOS;
  int fileCRC;
  int fileTime;
  int unpVer;
  int method;
  int fileAttr;
  char* cmtBuf;
  int cmtBufSize;
  int cmtSize;
  int cmtState;
  char reserved[1024];
};

struct HeaderDataExW {
  WCHAR arcName[1024];
  WCHAR fileName[1024];
  int flags;
  unsigned int packSize;
  unsigned int packSizeHigh;
  unsigned int unpSize;
  unsigned int unpSizeHigh;
  int hostOS;
  int fileCRC;
  int fileTime;
  int unpVer;
  int method;
  int fileAttr;
  char* cmtBuf;
  int cmtBufSize;
  int cmtSize;
  int cmtState;
  char reserved[1024];
};

struct PackDefaultParams {
  int size;
  DWORD interfaceVersionLow;
  DWORD interfaceVersionHigh;
  char defaultIniName[260];
};

}  // extern "C"

static_assert(offsetof(OpenArchiveData, openMode) == 8);
static_assert(offsetof(OpenArchiveData, openResult) == 12);
static_assert(offsetof(OpenArchiveDataW, openResult) == 12);
static_assert(offsetof(HeaderData, fileName) == 260);
static_assert(offsetof(HeaderData, packSize) == 524);
static_assert(offsetof(HeaderData, unpSize) == 528);
static_assert(offsetof(HeaderData, fileTime) == 540);
static_assert(offsetof(HeaderData, fileAttr) == 552);
static_assert(offsetof(HeaderDataEx, fileName) == 1024);
static_assert(offsetof(HeaderDataEx, packSize) == 2052);
static_assert(offsetof(HeaderDataEx, unpSize) == 2060);
static_assert(offsetof(HeaderDataEx, fileTime) == 2076);
static_assert(offsetof(HeaderDataEx, fileAttr) == 2088);
static_assert(offsetof(HeaderDataExW, fileName) == 2048);
static_assert(offsetof(HeaderDataExW, packSize) == 4100);
static_assert(offsetof(HeaderDataExW, unpSize) == 4108);
static_assert(offsetof(HeaderDataExW, fileTime) == 4124);
static_assert(offsetof(HeaderDataExW, fileAttr) == 4136);
static_assert(offsetof(PackDefaultParams, defaultIniName) == 12);
