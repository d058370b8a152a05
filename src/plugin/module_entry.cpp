// The module's entry notification: captures the process heap on attach.
#include "plugin/module.h"

#ifdef _WIN32
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) AttachModule();
  return TRUE;
}
#else
__attribute__((constructor)) static void AttachOnLoad() { AttachModule(); }
#endif
