// Run under ThreadSanitizer (the native-tsan preset runs the tests whose
// names contain Concurrency): the lock and the counters the archive handle
// relies on.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform/win32.h"
#include "support/helpers.h"

namespace {

TEST(PlatformConcurrency, CriticalSectionSerialisesNestedUse) {
  CRITICAL_SECTION cs;
  InitializeCriticalSection(&cs);
  long total = 0;  // guarded by cs
  test_support::OnThreads(4, [&](int) {
    for (int i = 0; i < 2000; ++i) {
      EnterCriticalSection(&cs);
      EnterCriticalSection(&cs);
      ++total;
      LeaveCriticalSection(&cs);
      LeaveCriticalSection(&cs);
    }
  });
  EXPECT_EQ(8000, total);
  DeleteCriticalSection(&cs);
}

TEST(PlatformConcurrency, InterlockedCountsAreExact) {
  LONG count = 0;
  test_support::OnThreads(4, [&](int) {
    for (int i = 0; i < 10000; ++i) {
      InterlockedIncrement(&count);
      InterlockedDecrement(&count);
      InterlockedIncrement(&count);
    }
  });
  EXPECT_EQ(40000, count);
}

}  // namespace
