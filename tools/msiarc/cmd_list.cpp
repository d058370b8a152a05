// msiarc list: one line per entry: size, local date and time, name.
#include <cstdio>

#include "listing.h"

namespace {

using namespace msiarc::host;

int RunList(Plugin& plugin, const std::vector<std::string>& args) {
  bool ansi = false;
  std::string path;
  for (const std::string& arg : args) {
    if (arg == "--ansi") {
      ansi = true;
    } else if (path.empty()) {
      path = arg;
    } else {
      path.clear();
      break;
    }
  }
  if (path.empty()) {
    std::fprintf(stderr, "usage: msiarc list [--ansi] ARCHIVE\n");
    return kExitUsage;
  }
  Archive archive(plugin, path, kOpenForList);
  if (!archive.ok()) {
    std::fprintf(stderr, "msiarc list: %s: %s\n", path.c_str(),
                 OpenFailure(archive, path).c_str());
    return kExitFailure;
  }
  const int ended = WalkEntries(plugin, archive.handle(), ansi, [&](const ListedEntry& entry) {
    std::printf("%llu\t%s\t%s\n", static_cast<unsigned long long>(entry.size),
                LocalTimeText(entry.time).c_str(), entry.name.c_str());
    if (ansi) {
      plugin.ProcessFile(archive.handle(), kSkip, nullptr, nullptr);
    } else {
      plugin.ProcessFileW(archive.handle(), kSkip, nullptr, nullptr);
    }
  });
  return WalkedToTheEnd(ended, "list", path) ? kExitOk : kExitFailure;
}

}  // namespace

MSIARC_COMMAND("list", "[--ansi] ARCHIVE",
               "list the entries: size, local date and time, name", RunList);
