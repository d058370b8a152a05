// Every reference count in msiarc (archives, tables, entries) changes here,
// by atomic increments and decrements only.
#pragma once

#include "platform/win32.h"

inline LONG TakeReference(volatile LONG* count) {
  return InterlockedIncrement(const_cast<LONG*>(count));
}

inline LONG DropReference(volatile LONG* count) {
  return InterlockedDecrement(const_cast<LONG*>(count));
}
