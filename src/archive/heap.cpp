#include "archive/heap.h"

// Also set when the module's data is initialised, so that programs linking
// this code without the entry notification (the tests) find the heap too.
HANDLE processHeap = GetProcessHeap();

void CaptureProcessHeap() { processHeap = GetProcessHeap(); }
