// Times the naming of stream rows the way population names them, per entry:
//
//   colliding  N rows of one table whose keys are all the same text, so
//              that every name after the first is numbered (20,000 and
//              200,000 rows);
//   distinct   100,000 rows with keys of their own;
//   streams    40,000 cells (a tenth of the keys repeat another in another
//              case) and 40,000 rows of _Streams named after their streams;
//              the cells' own streams are rebuilt from database rows, which
//              this has not, so no row becomes an alias here (a DATABASE's
//              catalogue times that).
//
// Prints the time per entry of each and fails when 200,000 colliding rows
// cost more than 1.5 times as much per entry as 20,000: numbering must stay
// linear in the number of entries.
//
//   msiarc_naming_bench [--rounds R] [DATABASE...]
//   msiarc_naming_bench --colliding N     (one size once, for a profiler)
//
// Each DATABASE given is also opened and its whole catalogue built, timed.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include "plugin/exports.h"
#include "plugin/module.h"
#include "tree/tree.h"

namespace {

using Clock = std::chrono::steady_clock;

WString Widen(const std::string& text) { return WString(text.begin(), text.end()); }

TableInfo* MakeTable(const char* name) {
  TableInfo* table = new TableInfo();
  table->name = Widen(name);
  table->archive = nullptr;
  InitListNode(&table->link, table);
  table->view = 0;
  table->streamColumn = 1;
  table->nameColumn = 0;
  table->isStreamsTable = std::strcmp(name, "_Streams") == 0;
  table->refCount = 1;
  return table;
}

std::vector<WString> CollidingKeys(size_t rows) {
  return std::vector<WString>(rows, Widen("component.dll"));
}

std::vector<WString> DistinctKeys(size_t rows, bool caseRepeats) {
  std::vector<WString> keys;
  keys.reserve(rows);
  char text[64];
  for (size_t i = 0; i < rows; ++i) {
    if (caseRepeats && i % 10 == 9) {
      std::snprintf(text, sizeof text, "COMPONENT%06zu.DLL", i - 1);
    } else {
      std::snprintf(text, sizeof text, "component%06zu.dll", i);
    }
    keys.push_back(Widen(text));
  }
  return keys;
}

// Seconds to name one cell per key in table Binary and, when asked, rows
// of _Streams named after their streams.
double NameRows(const std::vector<WString>& keys, bool aliases) {
  std::vector<WString> streamNames;
  if (aliases) {
    streamNames.reserve(keys.size());
    for (const WString& key : keys) streamNames.push_back(Widen("Binary.") + key);
  }
  MsiArchive* archive = new MsiArchive();
  InitListHead(&archive->entries);
  InitListHead(&archive->tables);
  archive->naming = new NamingState();
  TableInfo* binary = MakeTable("Binary");
  TableInfo* streams = MakeTable("_Streams");

  Clock::time_point start = Clock::now();
  for (size_t i = 0; i < keys.size(); ++i) {
    FileEntry* entry = CreateEntry(binary);
    NameStreamCell(entry, archive, keys[i].c_str());
    entry->kind = StreamCell;
    AppendEntry(archive, entry);
  }
  for (const WString& name : streamNames) {
    FileEntry* entry = CreateEntry(streams);
    NameStreamCell(entry, archive, name.c_str());
    entry->kind = StreamCell;
    AppendEntry(archive, entry);
  }
  double seconds = std::chrono::duration<double>(Clock::now() - start).count();

  delete archive->naming;
  while (!ListEmpty(&archive->entries)) {
    ListLink* node = archive->entries.next;
    Unlink(node);
    ReleaseEntry(ListOwner<FileEntry>(node));
  }
  ReleaseTable(binary);
  ReleaseTable(streams);
  delete archive;
  return seconds;
}

// The best of `rounds` runs, per entry named.
double PerEntry(const std::vector<WString>& keys, bool aliases, int rounds) {
  double best = 1e9;
  for (int r = 0; r < rounds; ++r) best = std::min(best, NameRows(keys, aliases));
  return best / static_cast<double>(aliases ? 2 * keys.size() : keys.size());
}

void BuildDatabase(const char* path) {
  std::string text(path);
  WString wide = Widen(text);
  OpenArchiveDataW data{};
  data.arcName = wide.data();
  Clock::time_point start = Clock::now();
  HANDLE handle = OpenArchiveW(&data);
  if (handle == nullptr) {
    std::printf("%s: not opened (%d)\n", path, data.openResult);
    return;
  }
  MsiArchive* archive = AcquireArchive(handle);
  BuildCatalogue(archive);
  LONG entries = archive->entryCount;
  LeaveCriticalSection(&archive->lock);
  ReleaseArchive(archive);
  double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  CloseArchive(handle);
  std::printf("%s: %ld entries in %.3f s (%.2f us per entry)\n", path,
              static_cast<long>(entries), seconds,
              entries ? seconds * 1e6 / entries : 0.0);
}

}  // namespace

int main(int argc, char** argv) {
  AttachModule();
#ifdef __GLIBC__
  // Keep freed memory in the process between rounds, so that the rounds
  // time naming and not the kernel mapping the same pages again.
  mallopt(M_TRIM_THRESHOLD, 1 << 30);
  mallopt(M_TOP_PAD, 256 << 20);
#endif
  if (argc == 3 && std::strcmp(argv[1], "--colliding") == 0) {
    size_t rows = static_cast<size_t>(std::atol(argv[2]));
    std::printf("colliding %zu rows: %.3f us per entry\n", rows,
                PerEntry(CollidingKeys(rows), false, 1) * 1e6);
    return 0;
  }
  int rounds = 5;
  int first = 1;
  if (argc > 2 && std::strcmp(argv[1], "--rounds") == 0) {
    rounds = std::max(1, std::atoi(argv[2]));
    first = 3;
  }
  PerEntry(DistinctKeys(2000, false), false, 1);  // warm up the allocator
  const double small = PerEntry(CollidingKeys(20000), false, rounds);
  const double large = PerEntry(CollidingKeys(200000), false, rounds);
  const double distinct = PerEntry(DistinctKeys(100000, false), false, rounds);
  const double streams = PerEntry(DistinctKeys(40000, true), true, rounds);
  const double ratio = large / small;
  std::printf("colliding  20000 rows: %.3f us per entry\n", small * 1e6);
  std::printf("colliding 200000 rows: %.3f us per entry\n", large * 1e6);
  std::printf("distinct  100000 rows: %.3f us per entry\n", distinct * 1e6);
  std::printf("streams    40000 rows: %.3f us per entry (cells and _Streams rows)\n",
              streams * 1e6);
  std::printf("colliding 200000 / 20000 per entry: %.2fx (limit 1.50x)\n", ratio);
  for (int i = first; i < argc; ++i) BuildDatabase(argv[i]);
  return ratio <= 1.5 ? 0 : 1;
}
