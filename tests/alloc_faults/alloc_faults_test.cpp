// Allocation failures at the exports, as a host meets them: this program
// replaces the global operator new so that the k-th allocation made inside
// an export call fails, for every k that listing, testing and extracting a
// database reaches. Every call must answer with its own result codes, every
// entry it does extract must hold the right bytes, and extracting the entry
// again once memory is back must give the right bytes or a failure code,
// never padding reported as success.
#include <cstdlib>
#include <map>
#include <set>
#include <new>

#include "support/export_support.h"

using namespace plugin_test;

// The replaced operators below pair malloc with free themselves; GCC, seeing
// free() reached from a delete of memory that came from new, would warn.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

namespace {

// Allocations are counted only while armed; the one numbered failAt fails.
bool armed = false;
long counted = 0;
long failAt = 0;

bool FailThisOne() {
  if (!armed) return false;
  return ++counted == failAt;
}

void* Allocate(std::size_t size) {
  if (FailThisOne()) return nullptr;
  return std::malloc(size != 0 ? size : 1);
}

}  // namespace

void* operator new(std::size_t size) {
  void* p = Allocate(size);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return Allocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return Allocate(size);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

namespace {

::testing::Environment* const kModule =
    ::testing::AddGlobalTestEnvironment(new ModuleEnvironment);

class Armed {
 public:
  Armed() { armed = true; }
  ~Armed() { armed = false; }
};

bool OneOf(int value, std::initializer_list<int> allowed) {
  for (int a : allowed) {
    if (value == a) return true;
  }
  return false;
}

struct Reference {
  std::vector<WString> names;
  std::map<WString, std::string> bytes;
  std::set<std::string> contents;
};

Reference ReadReference(const std::string& database, const fs::path& folder) {
  Reference ref;
  OpenedArchive archive(database);
  HeaderDataExW header{};
  while (ReadHeaderExW(archive.get(), &header) == 0) {
    const fs::path file = folder / "reference";
    WString name = PathText(file);
    EXPECT_EQ(0, ProcessFileW(archive.get(), 2, nullptr, name.data()));
    ref.names.push_back(header.fileName);
    ref.bytes[header.fileName] = ReadAll(file);
    ref.contents.insert(ReadAll(file));
  }
  return ref;
}

struct Figures {
  long allocations = 0;  // the most one pass reached
  long passes = 0;
  long answers = 0;       // export results checked
  long failedCalls = 0;   // calls that answered with a failure code
};

// One pass with the k-th allocation failing. False once a pass ends
// without reaching k: every allocation has then been failed once.
bool FailOnePass(const std::string& database, const Reference& ref,
                 const fs::path& folder, long k, Figures* figures) {
  counted = 0;
  failAt = k;
  const fs::path file = folder / "out";
  WString out = PathText(file);
  WString path = PathText(database);
  OpenArchiveDataW data{};
  data.arcName = path.data();
  data.openMode = 1;
  HANDLE handle = nullptr;
  {
    Armed on;
    handle = OpenArchiveW(&data);
  }
  ++figures->answers;
  if (handle == nullptr) {
    // An engine short of memory may answer as for a file it cannot read,
    // which the plug-in then reads as damaged.
    EXPECT_TRUE(OneOf(data.openResult, {kHostNoMemory, kHostBadArchive, kHostUnknownFormat}))
        << "k=" << k << " open result " << data.openResult;
    ++figures->failedCalls;
  } else {
    std::set<WString> seen;
    std::vector<WString> names;
    std::vector<std::pair<WString, std::string>> extracted;
    for (;;) {
      HeaderDataExW header{};
      int listed;
      {
        Armed on;
        listed = ReadHeaderExW(handle, &header);
      }
      ++figures->answers;
      EXPECT_TRUE(OneOf(listed, {0, kHostEndArchive, kHostNoMemory})) << "k=" << k << " " << listed;
      if (listed != 0) break;
      const WString name(header.fileName);
      // Each name once: a catalogue built again over what a failed build
      // left would list entries twice.
      EXPECT_TRUE(seen.insert(name).second)
          << "k=" << k << ": listed twice: " << fs::path(name).string();
      names.push_back(name);
      // Every byte extracted is some reference entry's content; when the
      // pass lists the reference's names, each entry's own. (Rows left out
      // for want of memory change the names of those after them: no number
      // needed, no alias found.)
      auto expectReference = [&](const char* what) {
        const std::string got = ReadAll(file);
        EXPECT_EQ(1u, ref.contents.count(got))
            << "k=" << k << " " << what << " " << fs::path(name).string();
        extracted.emplace_back(name, got);
      };

      int tested;
      int written;
      {
        Armed on;
        tested = ProcessFileW(handle, 1, nullptr, out.data());
        written = ProcessFileW(handle, 2, nullptr, out.data());
      }
      figures->answers += 2;
      EXPECT_TRUE(OneOf(tested, {0, kHostNoMemory, kHostBadData, kHostNotSupported}))
          << "k=" << k << " " << tested;
      EXPECT_TRUE(OneOf(written, {0, kHostNoMemory, kHostBadData, kHostCreateFailed,
                                  kHostWriteFailed, kHostNotSupported}))
          << "k=" << k << " " << written;
      if (tested != 0) ++figures->failedCalls;
      if (written != 0) ++figures->failedCalls;
      if (written == 0) expectReference("extracted");
      // Memory is back: after a failure, the same entry again.
      if (tested != 0 || written != 0) {
        const int again = ProcessFileW(handle, 2, nullptr, out.data());
        ++figures->answers;
        if (again == 0) expectReference("extracted again");
      }
    }
    if (names == ref.names) {
      for (const auto& [name, got] : extracted) {
        EXPECT_EQ(ref.bytes.at(name), got) << "k=" << k << " " << fs::path(name).string();
      }
    }
    int closed;
    {
      Armed on;
      closed = CloseArchive(handle);
    }
    ++figures->answers;
    EXPECT_EQ(0, closed);
  }
  ++figures->passes;
  if (counted > figures->allocations) figures->allocations = counted;
  return counted >= k;
}

void FailEveryAllocation(const char* fixture) {
  const std::string database = FixtureFile(fixture);
  TempFolder folder;
  const Reference ref = ReadReference(database, folder.path());
  ASSERT_GT(ref.names.size(), 5u);
  Figures figures;
  for (long k = 1; FailOnePass(database, ref, folder.path(), k, &figures); ++k) {
    if (::testing::Test::HasFailure()) break;
  }
  std::printf("%s: %ld allocations reached, %ld passes, %ld answers checked, "
              "%ld of them failure codes\n",
              fixture, figures.allocations, figures.passes, figures.answers,
              figures.failedCalls);
}

// Tables, the summary, stream cells and their aliases.
TEST(AllocationFailures, TablesSummaryAndStreams) { FailEveryAllocation("ren-csv.msi"); }
// Names mended, numbered and aliased.
TEST(AllocationFailures, NamesAndAliases) { FailEveryAllocation("windows-names.msi"); }

}  // namespace
