// The process heap, captured when the module is attached (before any export
// can be called); every content block lives there.
#pragma once

#include "platform/win32.h"

extern HANDLE processHeap;

void CaptureProcessHeap();
