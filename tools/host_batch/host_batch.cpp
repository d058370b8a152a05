// msiarc_host_batch PLUGIN RESULTS ARCHIVE DEST [ARCHIVE DEST...]
//
// For the k-th pair (from 1), what `msiarc list ARCHIVE` and `msiarc extract
// ARCHIVE DEST` would give, through the same commands over one loaded
// plug-in: RESULTS.k.list (standard output of list), RESULTS.k.list.err,
// RESULTS.k.extract.err, and RESULTS.k.rc with the two exit codes. Exit
// code 2 when the plug-in does not load or a file cannot be written.
#include <cstdio>
#include <string>
#include <vector>

#include "host.h"

namespace {

using namespace msiarc::host;

const Command* Find(const char* name) {
  for (const Command& command : Commands()) {
    if (std::string(command.name) == name) return &command;
  }
  return nullptr;
}

// Runs a command with standard output and error going to the files named.
bool RunInto(const Command& command, Plugin& plugin, const std::vector<std::string>& args,
             const std::string& out, const std::string& err, int* code) {
  std::fflush(stdout);
  std::fflush(stderr);
  if (std::freopen(out.c_str(), "wb", stdout) == nullptr) return false;
  if (std::freopen(err.c_str(), "wb", stderr) == nullptr) return false;
  *code = command.run(plugin, args);
  std::fflush(stdout);
  std::fflush(stderr);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5 || (argc - 3) % 2 != 0) {
    std::fprintf(stderr, "usage: msiarc_host_batch PLUGIN RESULTS ARCHIVE DEST [ARCHIVE DEST...]\n");
    return kExitUsage;
  }
  const Command* list = Find("list");
  const Command* extract = Find("extract");
  if (list == nullptr || extract == nullptr) return kExitUsage;
  Plugin plugin;
  std::string error;
  if (!LoadPlugin(argv[1], &plugin, &error)) {
    std::fprintf(stderr, "msiarc_host_batch: %s\n", error.c_str());
    return kExitUsage;
  }
  const std::string results = argv[2];
  int status = kExitOk;
  for (int i = 3, k = 1; i + 1 < argc; i += 2, ++k) {
    const std::string prefix = results + "." + std::to_string(k);
    int listed = 0;
    int extracted = 0;
    if (!RunInto(*list, plugin, {argv[i]}, prefix + ".list", prefix + ".list.err", &listed) ||
        !RunInto(*extract, plugin, {argv[i], argv[i + 1]}, prefix + ".extract", prefix + ".extract.err",
                 &extracted)) {
      status = kExitUsage;
      break;
    }
    if (std::FILE* rc = std::fopen((prefix + ".rc").c_str(), "wb")) {
      std::fprintf(rc, "%d %d\n", listed, extracted);
      std::fclose(rc);
    } else {
      status = kExitUsage;
      break;
    }
  }
  UnloadPlugin(&plugin);
  return status;
}
