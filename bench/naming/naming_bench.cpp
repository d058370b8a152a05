// Times the naming of N stream rows the way population names them: a table
// of N cells (a tenth of the keys repeat another in another case, so they
// are numbered), then the N rows of _Streams that alias those cells. Prints
// the time per row at 10,000 and 40,000 rows and fails when the larger
// catalogue costs more than a fifth more per row.
//
//   msiarc_naming_bench [--rounds R] [DATABASE...]
//   msiarc_naming_bench --rows N     (one size once, for a profiler)
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

void AddCell(MsiArchive* archive, TableInfo* table, const WString& key) {
  FileEntry* entry = CreateEntry(table);
  NameStreamCell(entry, archive, key.c_str());
  entry->kind = StreamCell;
  AppendEntry(archive, entry);
}

// Seconds to name `rows` cells and their `rows` _Streams aliases.
double NameRows(size_t rows) {
  std::vector<WString> keys;
  keys.reserve(rows);
  char text[64];
  for (size_t i = 0; i < rows; ++i) {
    if (i % 10 == 9) {
      std::snprintf(text, sizeof text, "COMPONENT%06zu.DLL", i - 1);
    } else {
      std::snprintf(text, sizeof text, "component%06zu.dll", i);
    }
    keys.push_back(Widen(text));
  }
  std::vector<WString> streamNames;
  streamNames.reserve(rows);
  for (const WString& key : keys) streamNames.push_back(Widen("Binary.") + key);

  MsiArchive* archive = new MsiArchive();
  InitListHead(&archive->entries);
  InitListHead(&archive->tables);
  TableInfo* binary = MakeTable("Binary");
  TableInfo* streams = MakeTable("_Streams");

  Clock::time_point start = Clock::now();
  for (const WString& key : keys) AddCell(archive, binary, key);
  for (const WString& name : streamNames) AddCell(archive, streams, name);
  double seconds = std::chrono::duration<double>(Clock::now() - start).count();

  archive->entryIndex.Clear();
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

// The best of `rounds` runs, per row (cells and aliases both count).
double PerRow(size_t rows, int rounds) {
  double best = 1e9;
  for (int r = 0; r < rounds; ++r) best = std::min(best, NameRows(rows));
  return best / static_cast<double>(2 * rows);
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
  if (argc == 3 && std::strcmp(argv[1], "--rows") == 0) {
    // One run of one size, for instruction counting under a profiler.
    size_t rows = static_cast<size_t>(std::atol(argv[2]));
    std::printf("naming %zu rows: %.3f us per row\n", rows, PerRow(rows, 1) * 1e6);
    return 0;
  }
  int rounds = 7;
  int first = 1;
  if (argc > 2 && std::strcmp(argv[1], "--rounds") == 0) {
    rounds = std::max(1, std::atoi(argv[2]));
    first = 3;
  }
  PerRow(2000, 1);  // warm up the allocator
  if (std::getenv("MSIARC_NAMING_CURVE") != nullptr) {
    for (size_t rows = 2500; rows <= 160000; rows *= 2) {
      std::printf("naming %zu rows: %.3f us per row\n", rows, PerRow(rows, rounds) * 1e6);
    }
  }
  double small = PerRow(10000, rounds);
  double large = PerRow(40000, rounds);
  double ratio = large / small;
  std::printf("naming 10000 rows: %.3f us per row\n", small * 1e6);
  std::printf("naming 40000 rows: %.3f us per row\n", large * 1e6);
  std::printf("growth per row: %.2fx (limit 1.20x)\n", ratio);
  for (int i = first; i < argc; ++i) BuildDatabase(argv[i]);
  return ratio <= 1.2 ? 0 : 1;
}
