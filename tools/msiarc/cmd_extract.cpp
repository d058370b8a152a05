// msiarc extract: writes every entry (or the entries named) under DEST,
// creating the folders the names imply, as a file manager does.
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "listing.h"

namespace {

using namespace msiarc::host;
namespace fs = std::filesystem;

// Progress on standard error, fed by the plug-in's callback.
struct Progress {
  bool enabled = false;
  uint64_t size = 0;
  std::string name;
} progress;

int WINAPI ShowProgress(WCHAR*, int total) {
  const uint64_t done = static_cast<uint32_t>(total);
  const int percent =
      progress.size == 0 ? 100 : static_cast<int>(done * 100 / progress.size);
  char bar[21];
  for (int i = 0; i < 20; ++i) bar[i] = i < percent / 5 ? '#' : '.';
  bar[20] = 0;
  std::fprintf(stderr, "\r[%s] %3d%% %s\033[K", bar, percent,
               progress.name.c_str());
  std::fflush(stderr);
  return 1;
}

bool IsTerminal() {
#ifdef _WIN32
  return _isatty(_fileno(stderr)) != 0;
#else
  return isatty(fileno(stderr)) != 0;
#endif
}

// Names compare as the plug-in compares them: without regard to case, and
// either separator matches either.
WString Comparable(WString name) {
  for (WCHAR& c : name) {
    if (c == WTEXT('/')) c = WTEXT('\\');
    if (c >= WTEXT('A') && c <= WTEXT('Z')) c = static_cast<WCHAR>(c + 32);
  }
  return name;
}

// The entry's file under dest, or false when its name would leave dest
// (an absolute name, a drive, or a "." or ".." part) or has an empty part.
bool TargetPath(const fs::path& dest, const std::string& name, fs::path* out) {
  fs::path result = dest;
  std::string part;
  auto take = [&]() {
    if (part.empty() || part == "." || part == "..") return false;
#ifdef _WIN32
    if (part.find(':') != std::string::npos) return false;
#endif
    result /= fs::u8path(part);
    part.clear();
    return true;
  };
  for (char c : name) {
    if (c == '/' || c == '\\') {
      if (!take()) return false;
    } else {
      part.push_back(c);
    }
  }
  if (!take()) return false;
  *out = result;
  return true;
}

WString PathText(const fs::path& path) {
#ifdef _WIN32
  return path.wstring();
#else
  return Widen(path.string());
#endif
}

int RunExtract(Plugin& plugin, const std::vector<std::string>& args) {
  if (args.size() < 2) {
    std::fprintf(stderr, "usage: msiarc extract ARCHIVE DEST [NAME...]\n");
    return kExitUsage;
  }
  const std::string& path = args[0];
  std::error_code error;
  const fs::path dest = fs::absolute(fs::u8path(args[1]), error);
  std::map<WString, std::string> wanted;  // comparable form -> as given
  for (size_t i = 2; i < args.size(); ++i) {
    wanted.emplace(Comparable(Widen(args[i])), args[i]);
  }

  Archive archive(plugin, path, kOpenForExtract);
  if (!archive.ok()) {
    std::fprintf(stderr, "msiarc extract: %s: %s\n", path.c_str(),
                 OpenFailure(archive, path).c_str());
    return kExitFailure;
  }
  progress.enabled = IsTerminal();
  plugin.SetProcessDataProcW(archive.handle(),
                             progress.enabled ? ShowProgress : nullptr);

  size_t failed = 0;
  std::set<WString> found;
  const int ended = WalkEntries(plugin, archive.handle(), false, [&](const ListedEntry& entry) {
    const WString key = Comparable(entry.wideName);
    if (!wanted.empty() && wanted.count(key) == 0) {
      plugin.ProcessFileW(archive.handle(), kSkip, nullptr, nullptr);
      return;
    }
    found.insert(key);
    fs::path target;
    std::string problem;
    if (!TargetPath(dest, entry.name, &target)) {
      plugin.ProcessFileW(archive.handle(), kSkip, nullptr, nullptr);
      problem = "name would leave the destination folder";
    } else {
      std::error_code made;
      fs::create_directories(target.parent_path(), made);
      progress.size = entry.size;
      progress.name = entry.name;
      WString text = PathText(target);
      const int result = plugin.ProcessFileW(archive.handle(), kExtract,
                                             nullptr, text.data());
      if (result != kResultOk) problem = ResultMeaning(result);
    }
    if (!problem.empty()) {
      if (progress.enabled) std::fprintf(stderr, "\r\033[K");
      std::fprintf(stderr, "msiarc extract: %s: %s\n", entry.name.c_str(),
                   problem.c_str());
      ++failed;
    }
  });
  if (progress.enabled) std::fprintf(stderr, "\r\033[K");
  plugin.SetProcessDataProcW(nullptr, nullptr);
  if (!WalkedToTheEnd(ended, "extract", path)) ++failed;
  for (const auto& [name, given] : wanted) {
    if (found.count(name) == 0) {
      std::fprintf(stderr, "msiarc extract: %s: no such entry\n",
                   given.c_str());
      ++failed;
    }
  }
  return failed == 0 ? kExitOk : kExitFailure;
}

}  // namespace

MSIARC_COMMAND("extract", "ARCHIVE DEST [NAME...]",
               "extract every entry, or those named, into DEST", RunExtract);
