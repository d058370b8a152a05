// Recognition: a file is ours when the installer engine opens it as a
// database, whatever its name. Nothing is kept open afterwards.
#include "plugin/exports.h"

#include "engine/msi_api.h"
#include "text/text.h"

namespace {

BOOL OpensAsDatabase(const WCHAR* path) {
  MSIHANDLE database = 0;
  if (MsiOpenDatabaseW(path, MSIDBOPEN_READONLY, &database) == 0) {
    MsiCloseHandle(database);
  }
  return database != 0 ? 1 : 0;
}

}  // namespace

extern "C" {

BOOL WINAPI CanYouHandleThisFileW(WCHAR* fileName) {
  try {
    return OpensAsDatabase(fileName);
  } catch (...) {
    return 0;
  }
}

BOOL WINAPI CanYouHandleThisFile(char* fileName) {
  WideBuffer path;
  try {
    AnsiToWide(&path, fileName);
  } catch (...) {
    return 0;
  }
  BOOL result = 0;
  try {
    result = OpensAsDatabase(path.text);
  } catch (...) {
    result = 0;
  }
  FreeWideBuffer(&path);
  return result;
}

}  // extern "C"
