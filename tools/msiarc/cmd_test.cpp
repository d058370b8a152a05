// msiarc test: asks the plug-in to test every entry (operation 1).
#include <cstdio>

#include "listing.h"

namespace {

using namespace msiarc::host;

int RunTest(Plugin& plugin, const std::vector<std::string>& args) {
  if (args.size() != 1) {
    std::fprintf(stderr, "usage: msiarc test ARCHIVE\n");
    return kExitUsage;
  }
  Archive archive(plugin, args[0], kOpenForExtract);
  if (!archive.ok()) {
    std::fprintf(stderr, "msiarc test: %s: %s\n", args[0].c_str(),
                 OpenFailure(archive, args[0]).c_str());
    return kExitFailure;
  }
  size_t tested = 0;
  size_t failed = 0;
  const int ended = WalkEntries(plugin, archive.handle(), false, [&](const ListedEntry& entry) {
    const int result =
        plugin.ProcessFileW(archive.handle(), kTest, nullptr, nullptr);
    ++tested;
    if (result != kResultOk) {
      ++failed;
      std::fprintf(stderr, "msiarc test: %s: %s\n", entry.name.c_str(),
                   ResultMeaning(result).c_str());
    }
  });
  std::printf("%zu entries tested, %zu failed\n", tested, failed);
  const bool whole = WalkedToTheEnd(ended, "test", args[0]);
  return failed == 0 && whole ? kExitOk : kExitFailure;
}

}  // namespace

MSIARC_COMMAND("test", "ARCHIVE", "test every entry", RunTest);
