// Extraction: the ProcessFile family. The entry written is always the one
// the listing handed out last; the two path arguments only say where.
#include <new>
#include <optional>
#include <vector>

#include "archive/archive.h"
#include "archive/refcount.h"
#include "plugin/exports.h"
#include "plugin/host_conventions.h"
#include "plugin/module.h"
#include "render/render.h"
#include "tree/tree.h"

namespace {

size_t UnitLength(const WCHAR* text) {
  size_t n = 0;
  while (text[n] != 0) ++n;
  return n;
}

// Hands produced content to the file as it comes, reporting the running
// total to the host before each write and once at the end. Without a file
// (a test) nothing is written, but the reports are the same.
class HostOutput final : public ContentSink {
 public:
  HostOutput(HANDLE file, WCHAR* path) : file_(file), path_(path) {}

  bool Put(const BYTE* data, size_t count) override {
    if (!Report()) return false;
    while (count > 0) {
      const DWORD piece = count > kMaxWrite ? kMaxWrite : static_cast<DWORD>(count);
      DWORD written = piece;
      // A write that makes no progress would spin for ever.
      if (file_ != nullptr &&
          (!WriteFile(file_, data, piece, &written, nullptr) || written == 0 || written > piece)) {
        result_ = kHostWriteFailed;
        return false;
      }
      data += written;
      count -= written;
      total_ += written;
    }
    return true;
  }
  // The host's progress callback with the running total; false (and the
  // result 21, aborted) when it says stop.
  bool Report() {
    const ProcessDataProcW wide = processDataProcW.load();
    const int go = wide != nullptr ? wide(path_, static_cast<int>(total_))
                                   : ReportProgress(path_, total_);
    if (go != 0) return true;
    result_ = kHostAborted;
    return false;
  }
  int result() const { return result_; }

 private:
  static constexpr DWORD kMaxWrite = 1u << 30;
  HANDLE file_;
  WCHAR* path_;
  DWORD total_ = 0;
  int result_ = kHostSuccess;
};

// Cut where writing stopped, given the time the listing shows for every
// entry (the archive's last-write time, as for the folders a host creates
// from the same header), and closed on every way out, an exception from the
// host's callback or from a conversion included: an open handle would leak
// and keep the file locked against the host. A time that cannot be set
// changes nothing else.
class OutputFile {
 public:
  OutputFile(const WCHAR* path, FILETIME time)
      : file_(CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                          CREATE_ALWAYS, 0, nullptr)),
        time_(time) {
    if (file_ == INVALID_HANDLE_VALUE) file_ = nullptr;
  }
  ~OutputFile() {
    if (file_ != nullptr) {
      SetEndOfFile(file_);
      SetFileTime(file_, nullptr, nullptr, &time_);
      CloseHandle(file_);
    }
  }
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  HANDLE get() const { return file_; }

 private:
  HANDLE file_;
  FILETIME time_;
};

// What the host is told when an entry's content cannot be produced: a
// table that cannot be shown as text is not supported (and extracted as an
// empty file), memory may run out, and anything else the engine answers
// while reading is damaged data.
int ContentFailure(DWORD result) {
  switch (result) {
    case ERROR_NOT_SUPPORTED:
      return kHostNotSupported;
    case ERROR_NOT_ENOUGH_MEMORY:
      return kHostNoMemory;
    default:
      return kHostBadData;
  }
}

// Extracts or tests the current entry: its content is produced the same way
// for both, written as it comes, and content shorter than the size listed
// for it (a stream cut short in a damaged file) is damaged data, after the
// bytes there are were written.
int ProduceCurrent(MsiArchive* archive, int operation, WCHAR* destPath,
                   WCHAR* destName) {
  FileEntry* entry = archive->currentEntry;
  if (entry == nullptr) return kHostNotSupported;
  TakeReference(&entry->refCount);
  struct Release {
    FileEntry* entry;
    ~Release() { ReleaseEntry(entry); }
  } release{entry};

  // As long as a path may be: on the heap, not on the host's stack.
  std::vector<WCHAR> destination(kDestinationUnits);
  WCHAR* buffer = destination.data();
  // A destination that does not fit is refused: cutting it would write the
  // file under a name nobody asked for, or over another entry's file.
  const bool composed = ComposeDestinationPath(buffer, destPath, destName);
  std::optional<OutputFile> output;
  if (operation == kExtract) {
    if (!composed) return kHostCreateFailed;
    output.emplace(HostFilePath(buffer).c_str(), archive->archiveTime);
    if (output->get() == nullptr) return kHostCreateFailed;
  } else if (!composed || buffer[0] == 0) {
    // A test reports progress under the entry's own name when the host
    // names no destination.
    const WString name = HostEntryName(entry->name);
    const size_t n = name.size() < kDestinationUnits - 1 ? name.size()
                                                         : kDestinationUnits - 1;
    buffer[name.copy(buffer, n)] = 0;
  }
  HostOutput out(output ? output->get() : nullptr, buffer);
  const DWORD produced = ProduceContent(archive, entry, out);
  if (produced == kContentStopped) return out.result();
  if (produced != ERROR_SUCCESS && produced != kContentShort) return ContentFailure(produced);
  if (!out.Report()) return out.result();
  return produced == ERROR_SUCCESS ? kHostSuccess : kHostBadData;
}

}  // namespace

bool ComposeDestinationPath(WCHAR* buffer, const WCHAR* path,
                            const WCHAR* name) {
  buffer[0] = 0;
  size_t n = 0;
  if (path != nullptr && path[0] != 0) {
    const size_t length = UnitLength(path);
    if (length > kDestinationUnits - 1) return false;
    for (; n < length; ++n) buffer[n] = path[n];
    buffer[n] = 0;
  }
  if (name == nullptr || name[0] == 0) return true;
  AppendPathSeparator(buffer);
  n = UnitLength(buffer);
  const size_t length = UnitLength(name);
  if (length > kDestinationUnits - 1 - n) {
    buffer[0] = 0;
    return false;
  }
  for (size_t i = 0; i < length; ++i) buffer[n + i] = name[i];
  buffer[n + length] = 0;
  return true;
}

void AppendPathSeparator(WCHAR* buffer) {
  const size_t n = UnitLength(buffer);
  if (n == 0 || n >= kDestinationUnits - 1) return;
  if (IsHostPathSeparator(buffer[n - 1])) return;
  buffer[n] = HostPathSeparator(buffer, n);
  buffer[n + 1] = 0;
}

int ReportProgress(WCHAR* path, DWORD count) {
  const ProcessDataProc narrow = processDataProc.load();
  if (narrow == nullptr) return 1;
  NarrowBuffer converted;
  WideToAnsi(&converted, path);
  char empty[1] = {0};
  const int go = narrow(converted.text != nullptr ? converted.text : empty,
                        static_cast<int>(count));
  FreeNarrowBuffer(&converted);
  return go;
}

extern "C" {

int WINAPI ProcessFileW(HANDLE handle, int operation, WCHAR* destPath,
                        WCHAR* destName) {
  try {
    ArchiveCall call(handle);
    MsiArchive* archive = call.get();
    if (archive == nullptr) return kHostNotSupported;
    switch (operation) {
      case kSkip:
        return kHostSuccess;
      case kTest:
      case kExtract:
        return ProduceCurrent(archive, operation, destPath, destName);
      default:
        return kHostNotSupported;
    }
  } catch (const std::bad_alloc&) {
    return kHostNoMemory;
  } catch (...) {
    // A host callback that threw: the entry is not done.
    return kHostNotSupported;
  }
}

int WINAPI ProcessFile(HANDLE handle, int operation, char* destPath,
                       char* destName) {
  try {
    // Both freed on every way out, a conversion that throws included.
    struct Names {
      WideBuffer path{};
      WideBuffer name{};
      ~Names() {
        FreeWideBuffer(&path);
        FreeWideBuffer(&name);
      }
    } names;
    AnsiToWide(&names.path, destPath);
    MultiByteToWideBuffer(&names.name, CP_UTF8, destName);
    return ProcessFileW(handle, operation, names.path.text, names.name.text);
  } catch (const std::bad_alloc&) {
    return kHostNoMemory;
  } catch (...) {
    return kHostNotSupported;
  }
}

}  // extern "C"
