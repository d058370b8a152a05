// The engine's handles under threads: records fetched, read and closed at
// once on many threads, handles closed while other calls use them, and
// (natively) one view fetched from by several threads.
#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "engine/contract.h"
#include "support/helpers.h"

namespace contract {
namespace {

constexpr int kThreads = 4;

// types.msi: Binary holds five rows, alphabet (26 bytes) first.
std::vector<WString> BinaryKeys(MSIHANDLE db) {
  std::vector<WString> keys;
  for (Handle& row : Rows(db, "Binary")) keys.push_back(Str(row.get(), 1));
  return keys;
}

// Handles are reused as soon as they are closed: a record must never show
// another one's row, however fast they come and go.
TEST(EngineHandles, RecordsMadeReadAndClosedOnManyThreads) {
  Handle db = OpenFixture("types.msi");
  const std::vector<WString> keys = BinaryKeys(db.get());
  ASSERT_EQ(keys.size(), 5u);
  std::atomic<int> wrong{0};
  test_support::OnThreads(kThreads, [&](int) {
    for (int round = 0; round < 200; ++round) {
      Handle view;
      if (OpenView(db.get(), WTEXT("SELECT * FROM `Binary`"), view) != 0 ||
          MsiViewExecute(view.get(), 0) != 0) {
        ++wrong;
        continue;
      }
      std::vector<Handle> rows;
      for (;;) {
        Handle row;
        if (MsiViewFetch(view.get(), row.out()) != 0) break;
        rows.push_back(std::move(row));
      }
      if (rows.size() != keys.size()) ++wrong;
      for (size_t i = 0; i < rows.size() && i < keys.size(); ++i) {
        WCHAR text[80];
        DWORD length = 80;
        if (MsiRecordGetStringW(rows[i].get(), 1, text, &length) != 0 ||
            WString(text, length) != keys[i]) {
          ++wrong;
        }
      }
#ifndef _WIN32
      // Natively each record reads its stream from the start. (msi.dll
      // under Wine shares one position per stream between the records
      // of all threads.)
      char bytes[32];
      DWORD size = sizeof bytes;
      if (MsiRecordReadStream(rows[0].get(), 2, bytes, &size) != 0 || size != 26 || bytes[25] != 'z') {
        ++wrong;
      }
#endif
    }
  });
  EXPECT_EQ(wrong.load(), 0);
}

// A handle closed while other threads use it: every call either works or
// finds the handle gone (or taken by a new record); none crashes or reads
// freed memory.
TEST(EngineHandles, ClosingWhileOtherThreadsReadIsSafe) {
  Handle db = OpenFixture("types.msi");
  for (int round = 0; round < 20; ++round) {
    std::vector<Handle> rows = Rows(db.get(), "Binary");
    ASSERT_EQ(rows.size(), 5u);
    std::vector<MSIHANDLE> handles;
    for (Handle& row : rows) handles.push_back(row.release());
    std::atomic<bool> go{false};
    std::atomic<int> odd{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < kThreads; ++t) {
      readers.emplace_back([&] {
        while (!go.load()) std::this_thread::yield();
        for (int pass = 0; pass < 50; ++pass) {
          for (MSIHANDLE h : handles) {
            DWORD length = 0;
            UINT rc = MsiRecordGetStringW(h, 1, nullptr, &length);
            if (rc != 0 && rc != ERROR_INVALID_HANDLE) ++odd;
            char bytes[8];
            DWORD size = sizeof bytes;
            rc = MsiRecordReadStream(h, 2, bytes, &size);
            if (rc != 0 && rc != ERROR_INVALID_HANDLE && rc != ERROR_INVALID_DATA) ++odd;
          }
        }
      });
    }
    go = true;
    for (MSIHANDLE h : handles) {
      std::this_thread::yield();
      EXPECT_EQ(MsiCloseHandle(h), 0u);
    }
    for (std::thread& reader : readers) reader.join();
    EXPECT_EQ(odd.load(), 0);
    for (MSIHANDLE h : handles) {
      DWORD length = 0;
      EXPECT_EQ(MsiRecordGetStringW(h, 1, nullptr, &length), static_cast<UINT>(ERROR_INVALID_HANDLE));
      EXPECT_EQ(MsiCloseHandle(h), static_cast<UINT>(ERROR_INVALID_HANDLE));
    }
  }
}

#ifndef _WIN32
// Natively one view serves several threads: between them they fetch every
// row of one execution, each once. (At the end the view starts over, so a
// thread that fetches again before it learns of the end may take one row
// of the next round.)
TEST(EngineHandles, OneViewFetchedFromSeveralThreads) {
  Handle db = OpenFixture("many-strings.msi");
  Handle view;
  ASSERT_EQ(OpenView(db.get(), WTEXT("SELECT * FROM `Names`"), view), 0u);
  ASSERT_EQ(MsiViewExecute(view.get(), 0), 0u);
  std::vector<std::vector<int>> seen(kThreads);
  std::atomic<bool> done{false};
  test_support::OnThreads(kThreads, [&](int t) {
    while (!done.load()) {
      Handle row;
      if (MsiViewFetch(view.get(), row.out()) != 0) {
        done = true;
        break;
      }
      seen[t].push_back(MsiRecordGetInteger(row.get(), 1));
    }
  });
  std::set<int> ids;
  size_t fetched = 0;
  for (const std::vector<int>& part : seen) {
    fetched += part.size();
    ids.insert(part.begin(), part.end());
  }
  EXPECT_EQ(ids.size(), 70000u);
  EXPECT_EQ(ids.size(), static_cast<size_t>(*ids.rbegin() - *ids.begin() + 1));
  EXPECT_GE(fetched, ids.size());
  EXPECT_LE(fetched, ids.size() + kThreads);
}
#endif

}  // namespace
}  // namespace contract
