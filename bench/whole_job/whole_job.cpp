// msiarc_whole_job PLUGIN ARCHIVE DEST
//
// A host's whole job over one archive, timed from inside the process: load
// the plug-in library by path, then the host's own extract command (open for
// extraction, one ReadHeaderExW per entry with its size, ProcessFileW
// extracting it under DEST, close), then unload. Prints one line:
//   load_s=S job_s=S peak_kib=K
// peak_kib is the process's peak resident set (peak working set on Windows).
// The exit code is the extract command's (0: every entry extracted).
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#include <psapi.h>
#else
#include <sys/resource.h>
#endif

#include "host.h"

namespace {

using namespace msiarc::host;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point from) {
  return std::chrono::duration<double>(Clock::now() - from).count();
}

long long PeakKib() {
#ifdef _WIN32
  PROCESS_MEMORY_COUNTERS counters{};
  if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) {
    return -1;
  }
  return static_cast<long long>(counters.PeakWorkingSetSize / 1024);
#else
  struct rusage usage {};
  if (getrusage(RUSAGE_SELF, &usage) != 0) return -1;
  return usage.ru_maxrss;  // KiB on Linux
#endif
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: msiarc_whole_job PLUGIN ARCHIVE DEST\n");
    return kExitUsage;
  }
  const Command* extract = nullptr;
  for (const Command& command : Commands()) {
    if (std::string(command.name) == "extract") extract = &command;
  }
  if (extract == nullptr) return kExitUsage;

  const Clock::time_point loading = Clock::now();
  Plugin plugin;
  std::string error;
  if (!LoadPlugin(argv[1], &plugin, &error)) {
    std::fprintf(stderr, "msiarc_whole_job: %s\n", error.c_str());
    return kExitUsage;
  }
  const double load = Seconds(loading);

  const Clock::time_point working = Clock::now();
  const int code = extract->run(plugin, {argv[2], argv[3]});
  UnloadPlugin(&plugin);
  const double job = Seconds(working);

  std::printf("load_s=%.6f job_s=%.6f peak_kib=%lld\n", load, job, PeakKib());
  return code;
}
