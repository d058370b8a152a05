// msiarc check FILE...: whether the plug-in recognises each file, one line
// per file, answered by CanYouHandleThisFileW alone.
#include <cstdio>

#include "host.h"

namespace {

using namespace msiarc::host;

int RunCheck(Plugin& plugin, const std::vector<std::string>& args) {
  if (args.empty()) {
    std::fprintf(stderr, "msiarc check: names no file\n");
    return kExitUsage;
  }
  bool all = true;
  for (const std::string& file : args) {
    WString path = Widen(file);
    bool yes = plugin.CanYouHandleThisFileW(path.data()) != 0;
    all = all && yes;
    std::printf("%s: %s\n", file.c_str(), yes ? "yes" : "no");
  }
  return all ? kExitOk : kExitFailure;
}

}  // namespace

MSIARC_COMMAND("check", "FILE...",
               "say yes or no for each file the plug-in recognises "
               "(exit 1 if any is no)",
               RunCheck);
