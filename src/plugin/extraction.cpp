// Extraction: the ProcessFile family. Pending: not supported yet.
#include "plugin/exports.h"

extern "C" {

int WINAPI ProcessFile(HANDLE, int, char*, char*) { return kHostNotSupported; }
int WINAPI ProcessFileW(HANDLE, int, WCHAR*, WCHAR*) {
  return kHostNotSupported;
}

}  // extern "C"
