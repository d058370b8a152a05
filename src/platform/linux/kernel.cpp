// Critical sections, interlocked counters and the process heap.
#include <cstdlib>
#include <cstring>

#include "platform/win32.h"

// A critical section is a recursive mutex, as on Windows: the owning thread
// may enter again and must leave as many times.
void InitializeCriticalSection(LPCRITICAL_SECTION cs) {
  pthread_mutexattr_t attributes;
  pthread_mutexattr_init(&attributes);
  pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutex_init(&cs->mutex, &attributes);
  pthread_mutexattr_destroy(&attributes);
}

void DeleteCriticalSection(LPCRITICAL_SECTION cs) {
  pthread_mutex_destroy(&cs->mutex);
}

void EnterCriticalSection(LPCRITICAL_SECTION cs) {
  pthread_mutex_lock(&cs->mutex);
}

void LeaveCriticalSection(LPCRITICAL_SECTION cs) {
  pthread_mutex_unlock(&cs->mutex);
}

LONG InterlockedIncrement(LONG volatile* value) {
  return __atomic_add_fetch(const_cast<LONG*>(value), 1, __ATOMIC_SEQ_CST);
}

LONG InterlockedDecrement(LONG volatile* value) {
  return __atomic_sub_fetch(const_cast<LONG*>(value), 1, __ATOMIC_SEQ_CST);
}

namespace {
// The process heap is the C allocator; its handle only has to be non-null
// and the same for every caller.
int processHeapTag;
}  // namespace

HANDLE GetProcessHeap() { return &processHeapTag; }

LPVOID HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes) {
  if (heap == nullptr) return nullptr;
  // A zero-byte request still yields a distinct block, as on Windows.
  const size_t size = bytes == 0 ? 1 : bytes;
  if (flags & HEAP_ZERO_MEMORY) return std::calloc(1, size);
  return std::malloc(size);
}

BOOL HeapFree(HANDLE heap, DWORD, LPVOID block) {
  if (heap == nullptr) return FALSE;
  std::free(block);
  return TRUE;
}
