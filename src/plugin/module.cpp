// Module-wide state and the exports that need no archive: capabilities, the
// callback slots, and the refusals of a read-only plug-in.
#include "plugin/module.h"

#include "plugin/exports.h"

HANDLE processHeap = nullptr;
std::atomic<ProcessDataProc> processDataProc{nullptr};
std::atomic<ProcessDataProcW> processDataProcW{nullptr};
WCHAR defaultSettingsPath[260] = {};

void AttachModule() { processHeap = GetProcessHeap(); }

namespace {

// Packing and deleting share one body: the archive is read-only.
int RefuseChange() { return kHostNotSupported; }

}  // namespace

extern "C" {

int WINAPI GetPackerCaps() {
  return kCapsMultiple | kCapsByContent | kCapsSearchText;
}

void WINAPI SetProcessDataProc(HANDLE, ProcessDataProc callback) {
  processDataProc.store(callback);
}

void WINAPI SetProcessDataProcW(HANDLE, ProcessDataProcW callback) {
  processDataProcW.store(callback);
}

// The change-volume callbacks are accepted and never called: an installer
// database is never split over volumes.
void WINAPI SetChangeVolProc(HANDLE, ChangeVolProc) {}
void WINAPI SetChangeVolProcW(HANDLE, ChangeVolProcW) {}

int WINAPI PackFiles(char*, char*, char*, char*, int) { return RefuseChange(); }
int WINAPI PackFilesW(WCHAR*, WCHAR*, WCHAR*, WCHAR*, int) {
  return RefuseChange();
}
int WINAPI DeleteFiles(char*, char*) { return RefuseChange(); }
int WINAPI DeleteFilesW(WCHAR*, WCHAR*) { return RefuseChange(); }

void WINAPI ConfigurePacker(HWND, HINSTANCE) {}

void WINAPI PackSetDefaultParams(PackDefaultParams* params) {
  defaultSettingsPath[0] = 0;
  if (params != nullptr && params->defaultIniName[0] != 0) {
    MultiByteToWideChar(CP_ACP, 0, params->defaultIniName, -1,
                        defaultSettingsPath, 260);
  }
}

}  // extern "C"
