// What a host's listing costs for a database, phase by phase, timed inside
// the process (no process or Wine start-up in the figures):
//
//   discover  the table names (_Validation, the catalogue, the probes)
//   tables    a view and the columns of each table
//   entries   the entries: one per CSV table, one per stream cell
//   list      every header read as a host reads it, each entry's size
//             measured (the CSV text rendered in counting mode)
//
//   msiarc_table_bench [--rounds R] DATABASE...
//
// Prints, per database, the best of R rounds (default 3) of each phase:
//   NAME names=N tables=T entries=E discover_s=S tables_s=S entries_s=S list_s=S
// Exit status 1 when a database does not open.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "plugin/exports.h"
#include "plugin/module.h"
#include "tree/tree.h"

namespace {

using Clock = std::chrono::steady_clock;

double Since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

struct Round {
  size_t names = 0;
  long tables = 0;
  long entries = 0;
  double phase[4] = {0, 0, 0, 0};  // discover, tables, entries, list
};

bool Measure(const char* path, Round* round) {
  const std::string text(path);
  WString wide(text.begin(), text.end());
  OpenArchiveDataW data{};
  data.arcName = wide.data();
  HANDLE handle = OpenArchiveW(&data);
  if (handle == nullptr) return false;

  // The catalogue as the first listing call builds it, one phase at a time.
  MsiArchive* archive = AcquireArchive(handle);
  archive->naming = new (std::nothrow) NamingState();
  Clock::time_point start = Clock::now();
  DiscoverTables(archive);
  round->phase[0] = Since(start);
  start = Clock::now();
  CreateTables(archive);
  round->phase[1] = Since(start);
  start = Clock::now();
  PopulateEntries(archive);
  round->phase[2] = Since(start);
  round->names = archive->tableNames.size();
  round->tables = archive->tableCount;
  round->entries = archive->entryCount;
  LeaveCriticalSection(&archive->lock);
  ReleaseArchive(archive);

  start = Clock::now();
  HeaderDataExW header{};
  while (ReadHeaderExW(handle, &header) == 0) {
  }
  round->phase[3] = Since(start);
  CloseArchive(handle);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  AttachModule();
  int rounds = 3;
  int first = 1;
  if (argc > 2 && std::strcmp(argv[1], "--rounds") == 0) {
    rounds = std::max(1, std::atoi(argv[2]));
    first = 3;
  }
  int status = 0;
  for (int i = first; i < argc; ++i) {
    Round best;
    Round round;
    if (!Measure(argv[i], &best)) {
      std::printf("%s: not opened\n", argv[i]);
      status = 1;
      continue;
    }
    for (int r = 1; r < rounds && Measure(argv[i], &round); ++r) {
      for (int p = 0; p < 4; ++p) best.phase[p] = std::min(best.phase[p], round.phase[p]);
    }
    std::printf("%s names=%zu tables=%ld entries=%ld discover_s=%.6f tables_s=%.6f "
                "entries_s=%.6f list_s=%.6f\n",
                argv[i], best.names, best.tables, best.entries, best.phase[0], best.phase[1],
                best.phase[2], best.phase[3]);
  }
  return status;
}
