// msiarc_engine_bench DATABASE [ROUNDS [CHUNK]]
//
// Opens the database, queries every table of _Tables and _Streams, fetches
// every row, reads every cell as text (length query, then read) and every
// stream to its end in chunks of CHUNK bytes (default 65536). Prints one
// line per round and a summary line:
//   open=S scan=S total=S rows=N rows/s=R stream_bytes=B MB/s=M
// The best round counts (the machine is shared).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/msi_api.h"

namespace {

using Text = std::basic_string<WCHAR>;
using Clock = std::chrono::steady_clock;

Text Widen(const char* s) {
  Text t;
  while (*s) t += static_cast<WCHAR>(static_cast<unsigned char>(*s++));
  return t;
}

struct Totals {
  double open = 0, scan = 0;
  unsigned long long rows = 0, cells = 0, streamBytes = 0;
};

std::vector<WCHAR> text(4096);
std::vector<char> chunk(1 << 16);

void ScanTable(MSIHANDLE db, const Text& name, Totals& t) {
  Text query = Widen("SELECT * FROM `") + name + Widen("`");
  MSIHANDLE view = 0;
  if (MsiDatabaseOpenViewW(db, query.c_str(), &view) != 0) return;
  if (MsiViewExecute(view, 0) == 0) {
    MSIHANDLE record = 0;
    while (MsiViewFetch(view, &record) == 0) {
      ++t.rows;
      UINT count = MsiRecordGetFieldCount(record);
      for (UINT f = 1; f <= count; ++f) {
        ++t.cells;
        DWORD length = 0;
        if (MsiRecordGetStringW(record, f, nullptr, &length) == 0) {
          if (length + 1 > text.size()) text.resize(length + 1);
          DWORD size = length + 1;
          MsiRecordGetStringW(record, f, text.data(), &size);
        }
        for (;;) {
          DWORD size = static_cast<DWORD>(chunk.size());
          if (MsiRecordReadStream(record, f, chunk.data(), &size) != 0 || size == 0) break;
          t.streamBytes += size;
        }
      }
      MsiCloseHandle(record);
    }
    MsiViewClose(view);
  }
  MsiCloseHandle(view);
}

bool Round(const Text& path, Totals& t) {
  auto start = Clock::now();
  MSIHANDLE db = 0;
  if (MsiOpenDatabaseW(path.c_str(), MSIDBOPEN_READONLY, &db) != 0) return false;
  auto opened = Clock::now();
  std::vector<Text> names;
  MSIHANDLE view = 0;
  if (MsiDatabaseOpenViewW(db, Widen("SELECT * FROM _Tables").c_str(), &view) == 0) {
    MsiViewExecute(view, 0);
    MSIHANDLE record = 0;
    while (MsiViewFetch(view, &record) == 0) {
      DWORD length = 0;
      MsiRecordGetStringW(record, 1, nullptr, &length);
      Text name(length + 1, 0);
      DWORD size = length + 1;
      MsiRecordGetStringW(record, 1, name.data(), &size);
      name.resize(size);
      names.push_back(name);
      MsiCloseHandle(record);
    }
    MsiCloseHandle(view);
  }
  names.push_back(Widen("_Streams"));
  for (const Text& name : names) ScanTable(db, name, t);
  MsiCloseHandle(db);
  auto done = Clock::now();
  t.open = std::chrono::duration<double>(opened - start).count();
  t.scan = std::chrono::duration<double>(done - opened).count();
  return true;
}

void Print(const char* label, const Totals& t) {
  double total = t.open + t.scan;
  printf("%s open=%.6f scan=%.6f total=%.6f rows=%llu cells=%llu rows/s=%.0f stream_bytes=%llu MB/s=%.1f\n",
         label, t.open, t.scan, total, t.rows, t.cells, total > 0 ? t.rows / total : 0.0,
         t.streamBytes, total > 0 ? t.streamBytes / 1e6 / total : 0.0);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: msiarc_engine_bench DATABASE [ROUNDS [CHUNK]]\n");
    return 2;
  }
  int rounds = argc > 2 ? atoi(argv[2]) : 3;
  if (rounds < 1) rounds = 1;
  const long chunkSize = argc > 3 ? atol(argv[3]) : 0;
  if (chunkSize > 0 && chunkSize <= (1L << 30)) chunk.resize(static_cast<size_t>(chunkSize));
  Text path = Widen(argv[1]);
  Totals best;
  bool any = false;
  for (int r = 0; r < rounds; ++r) {
    Totals t;
    if (!Round(path, t)) {
      printf("open failed\n");
      return 1;
    }
    Print("round", t);
    if (!any || t.open + t.scan < best.open + best.scan) best = t;
    any = true;
  }
  Print("best", best);
  return 0;
}
