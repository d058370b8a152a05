// The command-line host: loads the plug-in library by path, resolves its
// exports by name as a file manager does, and runs one command through
// them. Commands live in cmd_<name>.cpp and register themselves with
// MSIARC_COMMAND; they reach the plug-in only through Plugin.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "plugin/host_abi.h"

namespace msiarc::host {

using WString = std::basic_string<WCHAR>;

// The plug-in's exports, resolved by name.
struct Plugin {
  std::string path;
  void* library = nullptr;

  HANDLE(WINAPI* OpenArchive)(OpenArchiveData*) = nullptr;
  HANDLE(WINAPI* OpenArchiveW)(OpenArchiveDataW*) = nullptr;
  int(WINAPI* CloseArchive)(HANDLE) = nullptr;
  int(WINAPI* ReadHeader)(HANDLE, HeaderData*) = nullptr;
  int(WINAPI* ReadHeaderEx)(HANDLE, HeaderDataEx*) = nullptr;
  int(WINAPI* ReadHeaderExW)(HANDLE, HeaderDataExW*) = nullptr;
  int(WINAPI* ProcessFile)(HANDLE, int, char*, char*) = nullptr;
  int(WINAPI* ProcessFileW)(HANDLE, int, WCHAR*, WCHAR*) = nullptr;
  void(WINAPI* SetProcessDataProc)(HANDLE, ProcessDataProc) = nullptr;
  void(WINAPI* SetProcessDataProcW)(HANDLE, ProcessDataProcW) = nullptr;
  void(WINAPI* SetChangeVolProc)(HANDLE, ChangeVolProc) = nullptr;
  void(WINAPI* SetChangeVolProcW)(HANDLE, ChangeVolProcW) = nullptr;
  int(WINAPI* GetPackerCaps)() = nullptr;
  BOOL(WINAPI* CanYouHandleThisFile)(char*) = nullptr;
  BOOL(WINAPI* CanYouHandleThisFileW)(WCHAR*) = nullptr;
  int(WINAPI* PackFiles)(char*, char*, char*, char*, int) = nullptr;
  int(WINAPI* PackFilesW)(WCHAR*, WCHAR*, WCHAR*, WCHAR*, int) = nullptr;
  int(WINAPI* DeleteFiles)(char*, char*) = nullptr;
  int(WINAPI* DeleteFilesW)(WCHAR*, WCHAR*) = nullptr;
  void(WINAPI* ConfigurePacker)(HWND, HINSTANCE) = nullptr;
  void(WINAPI* PackSetDefaultParams)(PackDefaultParams*) = nullptr;
};

// Loads the library and resolves all exports. On failure returns false and
// describes every problem (the library cannot be loaded; each missing
// export by name) in *error.
bool LoadPlugin(const std::string& path, Plugin* plugin, std::string* error);
void UnloadPlugin(Plugin* plugin);

// The plug-in libraries loaded without --plugin, in the order tried: the
// one beside this executable under the name hosts give it (msiarc.wcx64 on
// Windows, msiarc.wcx on Linux), then under the build's name (msiarc.dll,
// msiarc.so); on Linux, for a program in PREFIX/bin,
// PREFIX/lib/doublecmd/plugins/wcx/msiarc/msiarc.wcx, where the package
// installs it.
std::vector<std::string> DefaultPluginCandidates();
// The first candidate that exists, else the first.
std::string DefaultPluginPath();

// Text at the boundary: the command line is UTF-8 (Windows: converted from
// its UTF-16 form in main), the plug-in's text is UTF-16.
WString Widen(std::string_view utf8);
std::string Narrow(const WCHAR* text);
std::string Narrow(const WCHAR* text, size_t units);

// The host result codes and their meanings.
constexpr int kResultOk = 0;
constexpr int kResultEndArchive = 10;
constexpr int kResultNoMemory = 11;
constexpr int kResultBadData = 12;
constexpr int kResultBadArchive = 13;
constexpr int kResultUnknownFormat = 14;
constexpr int kResultCreateFailed = 16;
constexpr int kResultWriteFailed = 19;
constexpr int kResultAborted = 21;
constexpr int kResultNotSupported = 24;
// "ok", "out of memory", ...; "code N" for any other value.
std::string ResultMeaning(int code);

// Open modes of the open-archive record.
constexpr int kOpenForList = 0;
constexpr int kOpenForExtract = 1;
// Operations of ProcessFile.
constexpr int kSkip = 0;
constexpr int kTest = 1;
constexpr int kExtract = 2;

// An archive opened through OpenArchiveW and closed through CloseArchive
// when it goes out of scope.
class Archive {
 public:
  Archive(Plugin& plugin, const std::string& path, int openMode);
  ~Archive();
  Archive(const Archive&) = delete;
  Archive& operator=(const Archive&) = delete;

  bool ok() const { return handle_ != nullptr; }
  HANDLE handle() const { return handle_; }
  // The open-archive record's result when the open failed (0 on success).
  int openResult() const { return openResult_; }
  // Closes now; returns CloseArchive's result (0 when already closed).
  int Close();

 private:
  Plugin& plugin_;
  HANDLE handle_ = nullptr;
  int openResult_ = 0;
};

// Why the system cannot open the file for reading, in its own words ("No
// such file or directory"; on Windows the system's message); empty when it
// can.
std::string UnreadableReason(const std::string& path);
// What to tell the user when the archive at path did not open: the system's
// reason when the file cannot be read, else the meaning of the open result
// ("unknown format" for a file that is not a database, "archive is damaged"
// for one the engine cannot open).
std::string OpenFailure(const Archive& archive, const std::string& path);

// Exit codes of the program.
constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;  // the command ran and reported a failure
constexpr int kExitUsage = 2;    // bad arguments, or the plug-in did not load

// A command: "msiarc [--plugin PATH] <name> <args...>".
struct Command {
  const char* name;
  const char* usage;    // arguments, e.g. "ARCHIVE [DEST]"
  const char* summary;  // one line for --help
  int (*run)(Plugin& plugin, const std::vector<std::string>& args);
};

void RegisterCommand(const Command& command);
const std::vector<Command>& Commands();  // sorted by name

struct CommandRegistration {
  explicit CommandRegistration(const Command& command) {
    RegisterCommand(command);
  }
};

#define MSIARC_COMMAND_CONCAT2(a, b) a##b
#define MSIARC_COMMAND_CONCAT(a, b) MSIARC_COMMAND_CONCAT2(a, b)
// MSIARC_COMMAND("caps", "", "print the capabilities", RunCaps);
#define MSIARC_COMMAND(name, usage, summary, function)                  \
  static const ::msiarc::host::CommandRegistration MSIARC_COMMAND_CONCAT( \
      commandRegistration_, __LINE__) {                                 \
    ::msiarc::host::Command { name, usage, summary, function }          \
  }

}  // namespace msiarc::host
