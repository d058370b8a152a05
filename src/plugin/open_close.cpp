// Opening and closing: the exports that make a handle and end it.
#include "archive/archive.h"
#include "plugin/exports.h"
#include "render/render.h"
#include "tree/tree.h"

namespace {

// The opening steps shared by both exports, on a UTF-16 path.
HANDLE OpenArchivePath(const WCHAR* path, int openMode, int* openResult) {
  *openResult = kHostUnknownFormat;
  if (path == nullptr || path[0] == 0) return nullptr;
  if (openMode != 0 && openMode != 1) return nullptr;

  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(path, &found);
  if (search == INVALID_HANDLE_VALUE) return nullptr;
  FindClose(search);

  MSIHANDLE database = 0;
  if (MsiOpenDatabaseW(path, MSIDBOPEN_READONLY, &database) != 0) return nullptr;

  MsiArchive* archive = CreateArchive(database, found.ftLastWriteTime);
  if (archive == nullptr) {
    *openResult = kHostNoMemory;
    MsiCloseHandle(database);
    return nullptr;
  }
  *openResult = kHostSuccess;
  return archive;
}

}  // namespace

extern "C" {

HANDLE WINAPI OpenArchiveW(OpenArchiveDataW* data) {
  if (data == nullptr) return nullptr;
  try {
    return OpenArchivePath(data->arcName, data->openMode, &data->openResult);
  } catch (...) {
    data->openResult = kHostNoMemory;
    return nullptr;
  }
}

HANDLE WINAPI OpenArchive(OpenArchiveData* data) {
  if (data == nullptr) return nullptr;
  data->openResult = kHostUnknownFormat;
  WideBuffer path;
  try {
    AnsiToWide(&path, data->arcName);
  } catch (...) {
    data->openResult = kHostNoMemory;
    return nullptr;
  }
  HANDLE handle = nullptr;
  try {
    handle = OpenArchivePath(path.text, data->openMode, &data->openResult);
  } catch (...) {
    data->openResult = kHostNoMemory;
  }
  FreeWideBuffer(&path);
  return handle;
}

int WINAPI CloseArchive(HANDLE handle) {
  try {
    ArchiveCall call(handle);
    MsiArchive* archive = call.get();
    if (archive == nullptr) return kHostNotSupported;
    // From here on no other call can acquire the handle; the host's
    // reference goes when this call ends.
    call.Retire();
    ClearContent(archive);
    ClearCatalogue(archive);
    return kHostSuccess;
  } catch (...) {
    return kHostNotSupported;
  }
}

}  // extern "C"
