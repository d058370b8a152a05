#include "host.h"

#include <algorithm>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

namespace msiarc::host {

namespace {

void* OpenLibrary(const std::string& path, std::string* error) {
#ifdef _WIN32
  const WString wide = Widen(path);
  HMODULE module = LoadLibraryW(reinterpret_cast<LPCWSTR>(wide.c_str()));
  if (module == nullptr) {
    *error = "cannot load " + path + " (error " +
             std::to_string(GetLastError()) + ")";
  }
  return reinterpret_cast<void*>(module);
#else
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    const char* reason = dlerror();
    *error = "cannot load " + path + (reason ? std::string(": ") + reason : "");
  }
  return library;
#endif
}

void* FindSymbol(void* library, const char* name) {
#ifdef _WIN32
  return reinterpret_cast<void*>(
      GetProcAddress(reinterpret_cast<HMODULE>(library), name));
#else
  return dlsym(library, name);
#endif
}

template <typename Function>
void Resolve(void* library, const char* name, Function* slot,
             std::vector<std::string>* missing) {
  void* address = FindSymbol(library, name);
  if (address == nullptr) missing->push_back(name);
  *slot = reinterpret_cast<Function>(address);
}

std::vector<Command>& Registry() {
  static std::vector<Command> commands;
  return commands;
}

void AppendUtf8(char32_t cp, std::string* out) {
  if (cp < 0x80) {
    out->push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

}  // namespace

bool LoadPlugin(const std::string& path, Plugin* plugin, std::string* error) {
  *plugin = Plugin{};
  plugin->path = path;
  void* library = OpenLibrary(path, error);
  if (library == nullptr) return false;
  plugin->library = library;

  std::vector<std::string> missing;
#define MSIARC_RESOLVE(name) Resolve(library, #name, &plugin->name, &missing)
  MSIARC_RESOLVE(OpenArchive);
  MSIARC_RESOLVE(OpenArchiveW);
  MSIARC_RESOLVE(CloseArchive);
  MSIARC_RESOLVE(ReadHeader);
  MSIARC_RESOLVE(ReadHeaderEx);
  MSIARC_RESOLVE(ReadHeaderExW);
  MSIARC_RESOLVE(ProcessFile);
  MSIARC_RESOLVE(ProcessFileW);
  MSIARC_RESOLVE(SetProcessDataProc);
  MSIARC_RESOLVE(SetProcessDataProcW);
  MSIARC_RESOLVE(SetChangeVolProc);
  MSIARC_RESOLVE(SetChangeVolProcW);
  MSIARC_RESOLVE(GetPackerCaps);
  MSIARC_RESOLVE(CanYouHandleThisFile);
  MSIARC_RESOLVE(CanYouHandleThisFileW);
  MSIARC_RESOLVE(PackFiles);
  MSIARC_RESOLVE(PackFilesW);
  MSIARC_RESOLVE(DeleteFiles);
  MSIARC_RESOLVE(DeleteFilesW);
  MSIARC_RESOLVE(ConfigurePacker);
  MSIARC_RESOLVE(PackSetDefaultParams);
#undef MSIARC_RESOLVE

  if (missing.empty()) return true;
  *error = path + " does not export:";
  for (const std::string& name : missing) *error += " " + name;
  UnloadPlugin(plugin);
  return false;
}

void UnloadPlugin(Plugin* plugin) {
  if (plugin->library != nullptr) {
#ifdef _WIN32
    FreeLibrary(reinterpret_cast<HMODULE>(plugin->library));
#else
    dlclose(plugin->library);
#endif
  }
  const std::string path = plugin->path;
  *plugin = Plugin{};
  plugin->path = path;
}

namespace {

bool FileExists(const std::string& path) {
#ifdef _WIN32
  const WString wide = Widen(path);
  return GetFileAttributesW(reinterpret_cast<LPCWSTR>(wide.c_str())) !=
         INVALID_FILE_ATTRIBUTES;
#else
  return access(path.c_str(), F_OK) == 0;
#endif
}

std::string ProgramFolder() {
  std::string self;
#ifdef _WIN32
  wchar_t buffer[32768];
  const DWORD n = GetModuleFileNameW(nullptr, buffer, 32768);
  if (n > 0 && n < 32768) {
    self = Narrow(reinterpret_cast<const WCHAR*>(buffer), n);
  }
#else
  char buffer[4096];
  const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer);
  if (n > 0 && static_cast<size_t>(n) < sizeof buffer) self.assign(buffer, n);
#endif
  const size_t slash = self.find_last_of("/\\");
  return slash == std::string::npos ? std::string() : self.substr(0, slash + 1);
}

}  // namespace

std::vector<std::string> DefaultPluginCandidates() {
  const std::string folder = ProgramFolder();
#ifdef _WIN32
  return {folder + "msiarc.wcx64", folder + "msiarc.dll"};
#else
  std::vector<std::string> candidates = {folder + "msiarc.wcx",
                                         folder + "msiarc.so"};
  // Installed: PREFIX/bin/msiarc loads the plug-in from Double Commander's
  // plug-in folder, PREFIX/lib/doublecmd/plugins/wcx/msiarc/.
  const std::string_view bin = "/bin/";
  if (folder.size() >= bin.size() &&
      folder.compare(folder.size() - bin.size(), bin.size(), bin) == 0) {
    candidates.push_back(folder.substr(0, folder.size() - 4) +
                         "lib/doublecmd/plugins/wcx/msiarc/msiarc.wcx");
  }
  return candidates;
#endif
}

std::string DefaultPluginPath() {
  const std::vector<std::string> candidates = DefaultPluginCandidates();
  for (const std::string& candidate : candidates) {
    if (FileExists(candidate)) return candidate;
  }
  return candidates.front();
}

std::string UnreadableReason(const std::string& path) {
#ifdef _WIN32
  const WString wide = Widen(path);
  HANDLE file = CreateFileW(reinterpret_cast<LPCWSTR>(wide.c_str()),
                            GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                            nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    CloseHandle(file);
    return {};
  }
  const DWORD code = GetLastError();
  wchar_t* text = nullptr;
  const DWORD units = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
          FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string reason =
      units > 0 ? Narrow(reinterpret_cast<const WCHAR*>(text), units) : "";
  if (text != nullptr) LocalFree(text);
  while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' ||
                             reason.back() == ' ')) {
    reason.pop_back();
  }
  return reason.empty() ? "error " + std::to_string(code) : reason;
#else
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return std::strerror(errno);
  if (S_ISDIR(info.st_mode)) return std::strerror(EISDIR);
  // Only a regular file is opened: a pipe or a device is left alone (the
  // plug-in refuses them as archives).
  if (!S_ISREG(info.st_mode)) return {};
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::strerror(errno);
  close(fd);
  return {};
#endif
}

std::string OpenFailure(const Archive& archive, const std::string& path) {
  const std::string reason = UnreadableReason(path);
  return reason.empty() ? ResultMeaning(archive.openResult()) : reason;
}

WString Widen(std::string_view utf8) {
  WString out;
  size_t i = 0;
  while (i < utf8.size()) {
    const unsigned char lead = static_cast<unsigned char>(utf8[i]);
    size_t need = 0;
    char32_t cp = lead;
    if (lead >= 0xC2 && lead <= 0xDF) {
      need = 1, cp = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      need = 2, cp = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      need = 3, cp = lead & 0x07;
    } else if (lead >= 0x80) {
      cp = 0xFFFD;
    }
    size_t taken = 1;
    while (taken <= need && i + taken < utf8.size() &&
           (static_cast<unsigned char>(utf8[i + taken]) & 0xC0) == 0x80) {
      cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + taken]) & 0x3F);
      ++taken;
    }
    if (taken != need + 1 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF) ||
        (need == 2 && cp < 0x800) || (need == 3 && cp < 0x10000)) {
      cp = 0xFFFD;
    }
    i += taken;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<WCHAR>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<WCHAR>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<WCHAR>(cp));
    }
  }
  return out;
}

std::string Narrow(const WCHAR* text, size_t units) {
  std::string out;
  for (size_t i = 0; i < units; ++i) {
    char32_t cp = static_cast<char16_t>(text[i]);
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < units &&
        static_cast<char16_t>(text[i + 1]) >= 0xDC00 &&
        static_cast<char16_t>(text[i + 1]) <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) +
           (static_cast<char16_t>(text[++i]) - 0xDC00);
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    AppendUtf8(cp, &out);
  }
  return out;
}

std::string Narrow(const WCHAR* text) {
  if (text == nullptr) return {};
  size_t units = 0;
  while (text[units] != 0) ++units;
  return Narrow(text, units);
}

std::string ResultMeaning(int code) {
  switch (code) {
    case kResultOk:
      return "ok";
    case kResultEndArchive:
      return "no more entries";
    case kResultNoMemory:
      return "out of memory";
    case kResultBadData:
      return "data is damaged";
    case kResultBadArchive:
      return "archive is damaged";
    case kResultUnknownFormat:
      return "unknown format";
    case kResultCreateFailed:
      return "cannot create output file";
    case kResultWriteFailed:
      return "write error";
    case kResultAborted:
      return "aborted";
    case kResultNotSupported:
      return "not supported";
    default:
      return "code " + std::to_string(code);
  }
}

Archive::Archive(Plugin& plugin, const std::string& path, int openMode)
    : plugin_(plugin) {
  WString name = Widen(path);
  OpenArchiveDataW data{};
  data.arcName = name.data();
  data.openMode = openMode;
  handle_ = plugin_.OpenArchiveW(&data);
  openResult_ = handle_ != nullptr ? 0 : data.openResult;
}

Archive::~Archive() { Close(); }

int Archive::Close() {
  if (handle_ == nullptr) return 0;
  const int result = plugin_.CloseArchive(handle_);
  handle_ = nullptr;
  return result;
}

void RegisterCommand(const Command& command) {
  std::vector<Command>& commands = Registry();
  commands.push_back(command);
  std::sort(commands.begin(), commands.end(),
            [](const Command& a, const Command& b) {
              return std::string_view(a.name) < std::string_view(b.name);
            });
}

const std::vector<Command>& Commands() { return Registry(); }

}  // namespace msiarc::host
