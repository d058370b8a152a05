// msiarc caps: the capability bits the plug-in reports.
#include <cstdio>

#include "host.h"

namespace {

using namespace msiarc::host;

struct CapabilityBit {
  int bit;
  const char* meaning;
};

// The host interface's capability bits.
constexpr CapabilityBit kBits[] = {
    {1, "can create new archives"},
    {2, "can modify existing archives"},
    {4, "archives hold several files"},
    {8, "can delete files"},
    {16, "has an options dialog"},
    {32, "packs in memory"},
    {64, "recognises archives by content"},
    {128, "files may be searched for text"},
    {256, "hidden from the pack dialog"},
    {512, "supports encryption"},
};

int RunCaps(Plugin& plugin, const std::vector<std::string>& args) {
  if (!args.empty()) {
    std::fprintf(stderr, "msiarc caps: takes no arguments\n");
    return kExitUsage;
  }
  const int caps = plugin.GetPackerCaps();
  std::printf("%d\n", caps);
  int known = 0;
  for (const CapabilityBit& entry : kBits) {
    known |= entry.bit;
    if (caps & entry.bit) std::printf("  %4d  %s\n", entry.bit, entry.meaning);
  }
  if (caps & ~known) std::printf("  %4d  (unknown bits)\n", caps & ~known);
  return kExitOk;
}

}  // namespace

MSIARC_COMMAND("caps", "", "print the plug-in's capabilities and their meaning",
               RunCaps);
