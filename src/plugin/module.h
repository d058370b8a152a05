// Module-wide state, shared by every archive and every thread.
#pragma once

#include <atomic>

#include "archive/heap.h"
#include "plugin/host_abi.h"
#include "text/text.h"

// Host callbacks, replaced by the Set*Proc exports. Atomic so that a host
// setting them on one thread while another extracts is not a data race.
extern std::atomic<ProcessDataProc> processDataProc;
extern std::atomic<ProcessDataProcW> processDataProcW;
// Accepted and kept, never called: a database is never split over volumes.
extern std::atomic<ChangeVolProc> changeVolProc;
extern std::atomic<ChangeVolProcW> changeVolProcW;

// The settings path from the last PackSetDefaultParams: stored, never used.
// The stored text is guarded; this returns a copy of it.
constexpr size_t kSettingsPathUnits = 260;
WString DefaultSettingsPath();

// Runs the module attach (captures the process heap); called by DllMain on Windows
// and by a load-time constructor on Linux.
void AttachModule();
