// Listing: the ReadHeader family. Pending: every call reports the end.
#include "plugin/exports.h"

extern "C" {

int WINAPI ReadHeader(HANDLE, HeaderData*) { return kHostNotSupported; }
int WINAPI ReadHeaderEx(HANDLE, HeaderDataEx*) { return kHostNotSupported; }
int WINAPI ReadHeaderExW(HANDLE, HeaderDataExW*) { return kHostNotSupported; }

}  // extern "C"
