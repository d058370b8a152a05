// Archive handle and lifecycle: open, validate, close.
// Pending: opening is not built yet, so every open refuses the file.
#include "plugin/archive.h"

#include "plugin/exports.h"

MsiArchive* AcquireArchive(HANDLE) { return nullptr; }
LONG ReleaseArchive(MsiArchive*) { return 0; }

extern "C" {

HANDLE WINAPI OpenArchive(OpenArchiveData* data) {
  if (data != nullptr) data->openResult = kHostUnknownFormat;
  return nullptr;
}

HANDLE WINAPI OpenArchiveW(OpenArchiveDataW* data) {
  if (data != nullptr) data->openResult = kHostUnknownFormat;
  return nullptr;
}

int WINAPI CloseArchive(HANDLE) { return kHostNotSupported; }

}  // extern "C"
