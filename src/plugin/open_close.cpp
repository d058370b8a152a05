// Opening and closing: the exports that make a handle and end it.
#include <cstdint>
#include <cstring>

#include "archive/archive.h"
#include "plugin/exports.h"
#include "render/render.h"
#include "tree/tree.h"

namespace {

// A file read at the offsets given, closed on every way out.
class ReadOnlyFile {
 public:
  explicit ReadOnlyFile(const WCHAR* path)
      : file_(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                          nullptr, OPEN_EXISTING, 0, nullptr)) {}
  ~ReadOnlyFile() {
    if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
  }
  ReadOnlyFile(const ReadOnlyFile&) = delete;
  ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;
  // Whether all `bytes` at `offset` were read.
  bool ReadAt(uint64_t offset, BYTE* out, DWORD bytes) {
    if (file_ == INVALID_HANDLE_VALUE || offset > INT64_MAX) return false;
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(offset);
    DWORD got = 0;
    return SetFilePointerEx(file_, at, nullptr, FILE_BEGIN) &&
           ReadFile(file_, out, bytes, &got, nullptr) && got == bytes;
  }

 private:
  HANDLE file_;
};

// What a file the engine refused to open is to the host. A compound file
// (the signature every one begins with) is a damaged archive, a download
// cut short say, unless its root entry can be read and names another kind
// of document (a word processor's, say): that one, like any file that is
// no compound file, is of a format this plug-in does not know.
int RefusedFileResult(const WCHAR* path) {
  static constexpr BYTE kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  // The installer's kinds: database, transform, patch ({000C1084-...},
  // {000C1082-...}, {000C1086-...}), as stored.
  static constexpr BYTE kInstallerClass[15] = {0x10, 0x0C, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0,
                                              0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
  ReadOnlyFile file(path);
  BYTE header[0x34];
  if (!file.ReadAt(0, header, sizeof kSignature) ||
      std::memcmp(header, kSignature, sizeof kSignature) != 0) {
    return kHostUnknownFormat;
  }
  if (!file.ReadAt(0, header, sizeof header)) return kHostBadArchive;
  // The sector size (512 or 4096 bytes) and the directory's first sector,
  // whose first entry is the root.
  const unsigned shift = header[0x1E] | header[0x1F] << 8;
  const uint32_t directory = static_cast<uint32_t>(header[0x30]) | header[0x31] << 8 |
                             header[0x32] << 16 | static_cast<uint32_t>(header[0x33]) << 24;
  BYTE root[128];
  if ((shift != 9 && shift != 12) || directory >= 0xFFFFFFFAu ||
      !file.ReadAt((static_cast<uint64_t>(directory) + 1) << shift, root, sizeof root) ||
      root[0x42] != 5) {
    return kHostBadArchive;
  }
  const bool installer = (root[0x50] == 0x84 || root[0x50] == 0x82 || root[0x50] == 0x86) &&
                         std::memcmp(root + 0x51, kInstallerClass, sizeof kInstallerClass) == 0;
  return installer ? kHostBadArchive : kHostUnknownFormat;
}

// The opening steps shared by both exports, on a UTF-16 path.
HANDLE OpenArchivePath(const WCHAR* path, int openMode, int* openResult) {
  *openResult = kHostUnknownFormat;
  if (path == nullptr || path[0] == 0) return nullptr;
  if (openMode != 0 && openMode != 1) return nullptr;

  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(path, &found);
  if (search == INVALID_HANDLE_VALUE) return nullptr;
  FindClose(search);

  MSIHANDLE database = 0;
  const UINT opened = MsiOpenDatabaseW(path, MSIDBOPEN_READONLY, &database);
  if (opened != ERROR_SUCCESS) {
    *openResult = opened == ERROR_NOT_ENOUGH_MEMORY ? kHostNoMemory : RefusedFileResult(path);
    return nullptr;
  }

  MsiArchive* archive = CreateArchive(database, found.ftLastWriteTime);
  if (archive == nullptr) {
    *openResult = kHostNoMemory;
    MsiCloseHandle(database);
    return nullptr;
  }
  *openResult = kHostSuccess;
  return archive;
}

}  // namespace

extern "C" {

HANDLE WINAPI OpenArchiveW(OpenArchiveDataW* data) {
  if (data == nullptr) return nullptr;
  try {
    return OpenArchivePath(data->arcName, data->openMode, &data->openResult);
  } catch (...) {
    data->openResult = kHostNoMemory;
    return nullptr;
  }
}

HANDLE WINAPI OpenArchive(OpenArchiveData* data) {
  if (data == nullptr) return nullptr;
  data->openResult = kHostUnknownFormat;
  WideBuffer path;
  try {
    AnsiToWide(&path, data->arcName);
  } catch (...) {
    data->openResult = kHostNoMemory;
    return nullptr;
  }
  HANDLE handle = nullptr;
  try {
    handle = OpenArchivePath(path.text, data->openMode, &data->openResult);
  } catch (...) {
    data->openResult = kHostNoMemory;
  }
  FreeWideBuffer(&path);
  return handle;
}

int WINAPI CloseArchive(HANDLE handle) {
  try {
    ArchiveCall call(handle);
    MsiArchive* archive = call.get();
    if (archive == nullptr) return kHostNotSupported;
    // From here on no other call can acquire the handle; the host's
    // reference goes when this call ends.
    call.Retire();
    ClearContent(archive);
    ClearCatalogue(archive);
    return kHostSuccess;
  } catch (...) {
    return kHostNotSupported;
  }
}

}  // extern "C"
