// Archive handle and lifecycle: open, validate, close.
//
// Every handle the host holds is the address of an MsiArchive. Besides the
// `magic` marker, a registry of live archives (guarded by its own short
// lock) decides whether an address is an archive at all, so that a closed
// or made-up handle is refused without reading the memory it points at.
#include "plugin/archive.h"

#include <mutex>
#include <new>
#include <unordered_set>

#include "plugin/exports.h"
#include "plugin/refcount.h"
#include "tree/tree.h"

namespace {

// The live archives: inserted at open, removed by CloseArchive. Built on
// first use so that no static initialisation order matters.
struct LiveArchives {
  std::mutex lock;
  std::unordered_set<const MsiArchive*> members;
};

LiveArchives& Live() {
  static LiveArchives live;
  return live;
}

bool IsLive(const MsiArchive* archive) {
  LiveArchives& live = Live();
  std::lock_guard<std::mutex> guard(live.lock);
  return live.members.count(archive) != 0;
}

void DestroyArchive(MsiArchive* archive) {
  if (archive->database != 0) {
    MsiCloseHandle(archive->database);
    archive->database = 0;
  }
  DeleteCriticalSection(&archive->lock);
  archive->tableNames.clear();
  delete archive;
}

// The opening steps shared by both exports, on a UTF-16 path.
HANDLE OpenArchivePath(const WCHAR* path, int openMode, int* openResult) {
  *openResult = kHostUnknownFormat;
  if (path == nullptr || path[0] == 0) return nullptr;
  if (openMode != 0 && openMode != 1) return nullptr;

  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(path, &found);
  if (search == INVALID_HANDLE_VALUE) return nullptr;

  MSIHANDLE database = 0;
  if (MsiOpenDatabaseW(path, MSIDBOPEN_READONLY, &database) != 0) {
    FindClose(search);
    return nullptr;
  }

  MsiArchive* archive = new (std::nothrow) MsiArchive();
  if (archive != nullptr) {
    InitializeCriticalSection(&archive->lock);
    archive->nextEntry = nullptr;
    archive->currentEntry = nullptr;
    InitListHead(&archive->tables);
    InitListHead(&archive->entries);
    archive->magic = kArchiveMagic;
    archive->database = database;
    archive->archiveTime = found.ftLastWriteTime;
    archive->tableCount = 0;
    archive->entryCount = 0;
    archive->refCount = 1;
    try {
      LiveArchives& live = Live();
      std::lock_guard<std::mutex> guard(live.lock);
      live.members.insert(archive);
    } catch (const std::bad_alloc&) {
      archive->database = 0;  // closed below, with the failed-open path
      DestroyArchive(archive);
      archive = nullptr;
    }
  }
  if (archive == nullptr) {
    *openResult = kHostNoMemory;
    MsiCloseHandle(database);
    FindClose(search);
    return nullptr;
  }

  FindClose(search);
  *openResult = kHostSuccess;
  return archive;
}

}  // namespace

// The reference is taken while the registry lock is held, before the
// archive lock is entered: a caller waiting for the archive lock thus keeps
// the object alive. Should the host close the archive meanwhile (which it
// must not do), the waiter finds it gone from the registry once it holds
// the lock, and gives up with no archive instead of using a dead one.
MsiArchive* AcquireArchive(HANDLE handle) {
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return nullptr;
  MsiArchive* archive = static_cast<MsiArchive*>(handle);
  {
    LiveArchives& live = Live();
    std::lock_guard<std::mutex> guard(live.lock);
    if (live.members.count(archive) == 0) return nullptr;
    if (archive->magic != kArchiveMagic) return nullptr;
    TakeReference(&archive->refCount);
  }
  EnterCriticalSection(&archive->lock);
  if (!IsLive(archive)) {
    LeaveCriticalSection(&archive->lock);
    ReleaseArchive(archive);
    return nullptr;
  }
  return archive;
}

LONG ReleaseArchive(MsiArchive* archive) {
  LONG left = DropReference(&archive->refCount);
  if (left == 0) DestroyArchive(archive);
  return left;
}

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
  MsiArchive* archive = AcquireArchive(handle);
  if (archive == nullptr) return kHostNotSupported;

  // From here on no other call can acquire the handle.
  {
    LiveArchives& live = Live();
    std::lock_guard<std::mutex> guard(live.lock);
    live.members.erase(archive);
  }

  if (archive->currentEntry != nullptr) {
    ReleaseEntry(archive->currentEntry);
    archive->currentEntry = nullptr;
  }
  archive->entryIndex.Clear();
  archive->folderIndex.Clear();
  while (!ListEmpty(&archive->entries)) {
    ListLink* node = archive->entries.next;
    Unlink(node);
    ReleaseEntry(ListOwner<FileEntry>(node));
  }
  archive->entryCount = 0;
  while (!ListEmpty(&archive->tables)) {
    ListLink* node = archive->tables.next;
    Unlink(node);
    ReleaseTable(ListOwner<TableInfo>(node));
  }
  archive->tableCount = 0;

  LeaveCriticalSection(&archive->lock);
  ReleaseArchive(archive);  // this call's reference
  ReleaseArchive(archive);  // the host's, from the open
  return kHostSuccess;
}

}  // extern "C"
