// Eight host threads on eight databases, each listing and extracting every
// entry through the exports, while two more share one archive handle; every
// result must equal that of the same work done on one thread.
#include <atomic>
#include <set>
#include <thread>

#include "support/catalog_support.h"
#include "support/export_support.h"

namespace corpus_threads_test {
namespace {

using catalog_test::Corpus;
using catalog_test::Fixture;
using catalog_test::OpenPath;
using plugin_test::ReadAll;
using plugin_test::TempFolder;
using plugin_test::W;
namespace fs = std::filesystem;

// Small to medium databases of different makes: tables, streams of one and
// of several chunks, code pages 1252 and 936 (a fixture), a merge module.
std::vector<fs::path> OwnDatabases() {
  return {Corpus("wix__ui.msi"),        Corpus("winget__AppInstallerTestMsiInstaller.msi"),
          Corpus("wix__Firewall4.msi"), Corpus("wix__Module401.msm"),
          Corpus("scoop__MSITest.msi"), Fixture("codepage-936"),
          Corpus("filetype__fixture.msi"), Corpus("wix3__SimpleBinary.msi")};
}
const char kSharedDatabase[] = "wix3__Scenario02.msi";
constexpr int kOwn = 8;

struct Listing {
  std::vector<WString> names;
  std::vector<uint64_t> sizes;
  std::vector<std::string> bytes;
  std::string problem;  // the first thing that went wrong, if any
};

// Lists every entry of an open archive through ReadHeaderExW and extracts
// each into `folder` under its position in the listing.
void ListAndExtract(HANDLE handle, const fs::path& folder, Listing* out) {
  WString folderText = PathText(folder);
  HeaderDataExW header{};
  int result;
  while ((result = ReadHeaderExW(handle, &header)) == kHostSuccess) {
    std::string file = std::to_string(out->names.size());
    file.insert(file.begin(), 'e');
    WString fileText = W(file);
    out->names.push_back(header.fileName);
    out->sizes.push_back(header.unpSize | uint64_t{header.unpSizeHigh} << 32);
    const int extracted = ProcessFileW(handle, 2, folderText.data(), fileText.data());
    if (extracted != kHostSuccess && out->problem.empty()) {
      out->problem = file + ": ProcessFileW gave " + std::to_string(extracted);
    }
    out->bytes.push_back(ReadAll(folder / file));
  }
  if (result != kHostEndArchive && out->problem.empty()) {
    out->problem = "the listing ended with " + std::to_string(result);
  }
}

void OpenListAndExtract(const fs::path& database, const fs::path& folder, Listing* out) {
  HANDLE handle = OpenPath(database, 1);
  if (handle == nullptr) {
    out->problem = "not opened";
    return;
  }
  ListAndExtract(handle, folder, out);
  const int closed = CloseArchive(handle);
  if (closed != kHostSuccess && out->problem.empty()) {
    out->problem = "CloseArchive gave " + std::to_string(closed);
  }
}

// Extracts whatever the shared archive's current entry is, again and again,
// until the lister is done; each file must be one whole entry of the
// database, never a mix or a fragment.
struct Follower {
  std::set<std::string> contents;
  int checked = 0;
  std::string problem;
};

void FollowSharedArchive(HANDLE handle, const fs::path& folder, const std::atomic<bool>& done,
                         Follower* out) {
  WString folderText = PathText(folder);
  WString fileText = W("current");
  // After the lister is done the last entry stays current: a few more
  // passes make sure something was checked however the threads ran.
  for (int after = 0; after < 3 && (out->checked == 0 || !done.load());) {
    if (done.load()) ++after;
    const int tested = ProcessFileW(handle, 1, folderText.data(), fileText.data());
    const int extracted = ProcessFileW(handle, 2, folderText.data(), fileText.data());
    // 24 from either: nothing listed yet.
    if ((tested != kHostSuccess && tested != kHostNotSupported) ||
        (extracted != kHostSuccess && extracted != kHostNotSupported)) {
      out->problem = "test gave " + std::to_string(tested) + ", extract " +
                     std::to_string(extracted);
      return;
    }
    if (extracted != kHostSuccess) continue;  // nothing listed yet
    ++out->checked;
    if (out->contents.count(ReadAll(folder / "current")) == 0) {
      out->problem = "extracted bytes that are no entry's";
      return;
    }
  }
}

// Progress from many threads at once through the one module-wide slot.
std::atomic<long> progressCalls{0};
int WINAPI CountProgress(WCHAR*, int) {
  progressCalls.fetch_add(1, std::memory_order_relaxed);
  return 1;
}

void ExpectSame(const Listing& expected, const Listing& actual, const std::string& what) {
  EXPECT_EQ(actual.problem, "") << what;
  EXPECT_EQ(actual.names, expected.names) << what;
  EXPECT_EQ(actual.sizes, expected.sizes) << what;
  ASSERT_EQ(actual.bytes.size(), expected.bytes.size()) << what;
  for (size_t i = 0; i < expected.bytes.size(); ++i) {
    EXPECT_EQ(actual.bytes[i].size(), expected.sizes[i]) << what << " entry " << i;
    EXPECT_TRUE(actual.bytes[i] == expected.bytes[i]) << what << " entry " << i;
  }
}

TEST(ConcurrencyCorpus, EightArchivesAndOneSharedMatchASingleThread) {
  fs::path databases[kOwn + 1];
  const std::vector<fs::path> own = OwnDatabases();
  for (int i = 0; i < kOwn; ++i) databases[i] = own[i];
  databases[kOwn] = Corpus(kSharedDatabase);

  // The same work on one thread first.
  Listing expected[kOwn + 1];
  {
    TempFolder folder;
    for (int i = 0; i <= kOwn; ++i) {
      fs::path own = folder.path() / std::to_string(i);
      fs::create_directories(own);
      OpenListAndExtract(databases[i], own, &expected[i]);
      ASSERT_EQ(expected[i].problem, "") << databases[i];
      ASSERT_FALSE(expected[i].names.empty()) << databases[i];
    }
  }

  TempFolder folder;
  fs::path folders[kOwn + 2];
  for (int i = 0; i < kOwn + 2; ++i) {
    folders[i] = folder.path() / std::to_string(i);
    fs::create_directories(folders[i]);
  }
  HANDLE shared = OpenPath(databases[kOwn], 1);
  ASSERT_NE(shared, nullptr);

  Listing actual[kOwn + 1];
  Follower follower;
  follower.contents.insert(expected[kOwn].bytes.begin(), expected[kOwn].bytes.end());
  std::atomic<bool> listed{false};
  progressCalls = 0;
  SetProcessDataProcW(nullptr, CountProgress);
  {
    std::vector<std::thread> threads;
    for (int i = 0; i < kOwn; ++i) {
      threads.emplace_back(OpenListAndExtract, databases[i], folders[i], &actual[i]);
    }
    threads.emplace_back([&] {
      ListAndExtract(shared, folders[kOwn], &actual[kOwn]);
      listed = true;
    });
    threads.emplace_back(FollowSharedArchive, shared, folders[kOwn + 1], std::cref(listed),
                         &follower);
    for (std::thread& thread : threads) thread.join();
  }
  SetProcessDataProcW(nullptr, nullptr);
  EXPECT_EQ(CloseArchive(shared), kHostSuccess);

  for (int i = 0; i <= kOwn; ++i) ExpectSame(expected[i], actual[i], databases[i].string());
  EXPECT_EQ(follower.problem, "");
  EXPECT_GT(follower.checked, 0);
  EXPECT_GT(progressCalls.load(), 0);
}

}  // namespace
}  // namespace corpus_threads_test
