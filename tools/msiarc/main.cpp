// msiarc [--plugin PATH] COMMAND [ARGS...]; msiarc --help; msiarc --version
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "host.h"

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#endif

namespace {

using namespace msiarc::host;

void PrintHelp(std::FILE* out) {
  std::fprintf(out,
               "usage: msiarc [--plugin PATH] COMMAND [ARGS...]\n"
               "\n"
               "Drives the msiarc plug-in library through its exports, as a\n"
               "file manager does: the library --plugin names, else the\n"
               "first of these that exists:\n");
  for (const std::string& candidate : DefaultPluginCandidates()) {
    std::fprintf(out, "  %s\n", candidate.c_str());
  }
  std::fprintf(out,
               "\n"
               "commands:\n");
  for (const Command& command : Commands()) {
    std::string line = std::string(command.name) +
                       (command.usage[0] ? " " : "") + command.usage;
    std::fprintf(out, "  %-34s %s\n", line.c_str(), command.summary);
  }
  std::fprintf(out, "\noptions:\n");
  std::fprintf(out, "  %-34s %s\n", "--plugin PATH", "load the plug-in library PATH");
  std::fprintf(out, "  %-34s %s\n", "--help", "show this help");
  std::fprintf(out, "  %-34s %s\n", "-V, --version", "show the version");
}

std::vector<std::string> Arguments(int argc, char** argv) {
  std::vector<std::string> args;
#ifdef _WIN32
  // The UTF-16 command line, so that any file name arrives intact.
  (void)argv;
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide != nullptr) {
    for (int i = 1; i < count; ++i) {
      args.push_back(Narrow(reinterpret_cast<const WCHAR*>(wide[i])));
    }
    LocalFree(wide);
    return args;
  }
#endif
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  return args;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args = Arguments(argc, argv);
  std::string pluginPath;
  size_t next = 0;
  while (next < args.size() && args[next].rfind("-", 0) == 0) {
    const std::string& option = args[next];
    if (option == "--help") {
      PrintHelp(stdout);
      return kExitOk;
    }
    if (option == "--version" || option == "-V") {
      std::printf("msiarc %s\n", MSIARC_VERSION);
      return kExitOk;
    }
    if (option == "--plugin" && next + 1 < args.size()) {
      pluginPath = args[next + 1];
      next += 2;
    } else if (option.rfind("--plugin=", 0) == 0) {
      pluginPath = option.substr(9);
      next += 1;
    } else {
      std::fprintf(stderr, "msiarc: unknown option %s\n", option.c_str());
      PrintHelp(stderr);
      return kExitUsage;
    }
  }
  if (next == args.size()) {
    PrintHelp(stderr);
    return kExitUsage;
  }
  const std::string name = args[next];
  const Command* command = nullptr;
  for (const Command& candidate : Commands()) {
    if (name == candidate.name) command = &candidate;
  }
  if (command == nullptr) {
    std::fprintf(stderr, "msiarc: unknown command %s\n", name.c_str());
    PrintHelp(stderr);
    return kExitUsage;
  }

  if (pluginPath.empty()) pluginPath = DefaultPluginPath();
  Plugin plugin;
  std::string error;
  if (!LoadPlugin(pluginPath, &plugin, &error)) {
    std::fprintf(stderr, "msiarc: %s\n", error.c_str());
    return kExitUsage;
  }
  const std::vector<std::string> rest(args.begin() + next + 1, args.end());
  const int code = command->run(plugin, rest);
  std::fflush(stdout);
  UnloadPlugin(&plugin);
  return code;
}
