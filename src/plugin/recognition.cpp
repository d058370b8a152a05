// Recognition: a file is ours when the installer engine opens it.
// Pending: not built yet, so no file is recognised.
#include "plugin/exports.h"

extern "C" {

BOOL WINAPI CanYouHandleThisFile(char*) { return 0; }
BOOL WINAPI CanYouHandleThisFileW(WCHAR*) { return 0; }

}  // extern "C"
