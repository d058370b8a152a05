// Module-wide state, shared by every archive and every thread.
#pragma once

#include <atomic>

#include "plugin/host_abi.h"

// The process heap, captured when the module is attached; every content
// block lives there.
extern HANDLE processHeap;

// Host callbacks, replaced by the Set*Proc exports. Atomic so that a host
// setting them on one thread while another extracts is not a data race.
extern std::atomic<ProcessDataProc> processDataProc;
extern std::atomic<ProcessDataProcW> processDataProcW;

// The settings path from the last PackSetDefaultParams; stored, never read.
extern WCHAR defaultSettingsPath[260];

// Runs the module attach (the process heap); called by DllMain on Windows
// and by a load-time constructor on Linux.
void AttachModule();
