// Module-wide state and the exports that need no archive: capabilities, the
// callback slots, and the refusals of a read-only plug-in.
#include "plugin/module.h"

#include <cstring>

#include "plugin/exports.h"

std::atomic<ProcessDataProc> processDataProc{nullptr};
std::atomic<ProcessDataProcW> processDataProcW{nullptr};
std::atomic<ChangeVolProc> changeVolProc{nullptr};
std::atomic<ChangeVolProcW> changeVolProcW{nullptr};

void AttachModule() { CaptureProcessHeap(); }

namespace {

// The settings path and the flag that guards it: a host may offer its
// settings on one thread while another reads them.
WCHAR defaultSettingsPath[kSettingsPathUnits] = {};
std::atomic_flag settingsBusy = ATOMIC_FLAG_INIT;

class SettingsLock {
 public:
  SettingsLock() {
    // Held only for a copy of 260 units: spinning is cheaper than a lock
    // that would need setting up at attach.
    while (settingsBusy.test_and_set(std::memory_order_acquire)) {
    }
  }
  ~SettingsLock() { settingsBusy.clear(std::memory_order_release); }
  SettingsLock(const SettingsLock&) = delete;
  SettingsLock& operator=(const SettingsLock&) = delete;
};

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

// The change-volume callbacks are kept and never called: an installer
// database is never split over volumes.
void WINAPI SetChangeVolProc(HANDLE, ChangeVolProc callback) {
  changeVolProc.store(callback);
}
void WINAPI SetChangeVolProcW(HANDLE, ChangeVolProcW callback) {
  changeVolProcW.store(callback);
}

int WINAPI PackFiles(char*, char*, char*, char*, int) { return RefuseChange(); }
int WINAPI PackFilesW(WCHAR*, WCHAR*, WCHAR*, WCHAR*, int) {
  return RefuseChange();
}
int WINAPI DeleteFiles(char*, char*) { return RefuseChange(); }
int WINAPI DeleteFilesW(WCHAR*, WCHAR*) { return RefuseChange(); }

void WINAPI ConfigurePacker(HWND, HINSTANCE) {}

void WINAPI PackSetDefaultParams(PackDefaultParams* params) {
  SettingsLock lock;
  defaultSettingsPath[0] = 0;
  if (params != nullptr && params->defaultIniName[0] != 0) {
    // A path that does not fit (or does not convert, or has no terminator
    // inside the record) is not kept: a failed conversion leaves no
    // terminator, so the slot is emptied again.
    const char* name = params->defaultIniName;
    const size_t bytes = strnlen(name, sizeof params->defaultIniName);
    if (bytes == sizeof params->defaultIniName) return;
    const int units =
        MultiByteToWideChar(CP_ACP, 0, name, static_cast<int>(bytes) + 1,
                            defaultSettingsPath, kSettingsPathUnits);
    if (units <= 0) defaultSettingsPath[0] = 0;
  }
}

}  // extern "C"

WString DefaultSettingsPath() {
  SettingsLock lock;
  return WString(defaultSettingsPath);
}
