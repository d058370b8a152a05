// Many threads on many archives, and many threads on one archive.
#include <atomic>
#include <thread>

#include "support/catalog_support.h"
#include "support/helpers.h"

namespace catalog_test {
namespace {

constexpr int kThreads = 4;

// The number of entries the catalogue of a database holds, built alone.
size_t EntryCount(const fs::path& path) {
  Opened opened(path);
  opened.Build();
  return opened.Entries().size();
}

TEST(ConcurrencyArchives, OpenBuildAndCloseFromSeveralThreads) {
  const fs::path paths[] = {Fixture("cat-naming"), Fixture("cat-discovery"),
                            Corpus("psmsi__Example.msi")};
  size_t expected[3];
  for (int i = 0; i < 3; ++i) expected[i] = EntryCount(paths[i]);

  std::atomic<int> failures{0};
  test_support::OnThreads(kThreads, [&](int t) {
    for (int round = 0; round < 25; ++round) {
      int which = (t + round) % 3;
      HANDLE handle = OpenPath(paths[which]);
      if (handle == nullptr) {
        ++failures;
        continue;
      }
      MsiArchive* archive = AcquireArchive(handle);
      if (archive == nullptr) {
        ++failures;
      } else {
        BuildCatalogue(archive);
        if (static_cast<size_t>(archive->entryCount) != expected[which]) ++failures;
        LeaveCriticalSection(&archive->lock);
        ReleaseArchive(archive);
      }
      if (CloseArchive(handle) != kHostSuccess) ++failures;
    }
  });
  EXPECT_EQ(failures.load(), 0);
}

TEST(ConcurrencyOneArchive, CallsOnOneHandleAreSerialised) {
  HANDLE handle = OpenPath(Fixture("cat-naming"));
  ASSERT_NE(handle, nullptr);
  const size_t expected = EntryCount(Fixture("cat-naming"));

  // Every thread lists through the host's export; between them they see
  // each entry exactly once, and the catalogue is built once.
  std::atomic<size_t> listed{0};
  std::atomic<int> failures{0};
  test_support::OnThreads(kThreads, [&](int) {
    HeaderDataExW header;
    for (;;) {
      int result = ReadHeaderExW(handle, &header);
      if (result != 0) {
        if (result != kHostEndArchive) ++failures;
        break;
      }
      ++listed;
      MsiArchive* archive = AcquireArchive(handle);
      if (archive == nullptr || FindEntry(archive, header.fileName) == nullptr) {
#ifndef _WIN32
        // The host sees '/' where the archive holds '\'.
        if (archive == nullptr) ++failures;
#else
        ++failures;
#endif
      }
      if (archive != nullptr) {
        LeaveCriticalSection(&archive->lock);
        ReleaseArchive(archive);
      }
    }
  });
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(listed.load(), expected);
  MsiArchive* archive = AcquireArchive(handle);
  ASSERT_NE(archive, nullptr);
  EXPECT_EQ(archive->refCount, 2 + archive->tableCount);
  LeaveCriticalSection(&archive->lock);
  ReleaseArchive(archive);
  EXPECT_EQ(CloseArchive(handle), kHostSuccess);
}

// A host must not close a handle while other calls use it; if it does
// anyway, each call either gets the live archive or is refused, and never
// touches a destroyed one.
TEST(ConcurrencyOneArchive, CloseDuringUseRefusesLaterCallsWithoutCrashing) {
  for (int round = 0; round < 10; ++round) {
    HANDLE handle = OpenPath(Fixture("cat-naming"));
    ASSERT_NE(handle, nullptr);
    std::atomic<bool> go{false};
    std::atomic<int> refused{0};
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&] {
        while (!go.load()) std::this_thread::yield();
        // Until the close is seen, which comes early in every run.
        for (int i = 0; i < 1000000; ++i) {
          MsiArchive* archive = AcquireArchive(handle);
          if (archive == nullptr) {
            ++refused;
            break;
          }
          if (archive->magic != kArchiveMagic) ++failures;
          BuildCatalogue(archive);
          if (FindEntry(archive, WTEXT("Icon\\logo")) == nullptr &&
              archive->entryCount != 0) {
            ++failures;
          }
          LeaveCriticalSection(&archive->lock);
          ReleaseArchive(archive);
        }
      });
    }
    go = true;
    std::this_thread::yield();
    EXPECT_EQ(CloseArchive(handle), kHostSuccess);
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(refused.load(), kThreads);
    EXPECT_EQ(CloseArchive(handle), kHostNotSupported);
  }
}

}  // namespace
}  // namespace catalog_test
