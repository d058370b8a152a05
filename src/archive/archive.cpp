// Archive lifetime: creation, validation and release.
//
// Every handle the host holds is the address of an MsiArchive. Besides the
// `magic` marker, a registry of live archives (guarded by its own short
// lock) decides whether an address is an archive at all, so that a closed
// or made-up handle is refused without reading the memory it points at.
#include "archive/archive.h"

#include <mutex>
#include <new>
#include <unordered_set>

#include "archive/refcount.h"

namespace {

// The live archives: inserted at creation, removed when the archive is
// retired. Built on first use so that no static initialisation order
// matters.
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
  delete archive;
}

}  // namespace

MsiArchive* CreateArchive(MSIHANDLE database, FILETIME archiveTime) {
  MsiArchive* archive = new (std::nothrow) MsiArchive();
  if (archive == nullptr) return nullptr;
  InitializeCriticalSection(&archive->lock);
  archive->nextEntry = nullptr;
  archive->currentEntry = nullptr;
  InitListHead(&archive->tables);
  InitListHead(&archive->entries);
  archive->magic = kArchiveMagic;
  archive->database = 0;
  archive->archiveTime = archiveTime;
  archive->tableCount = 0;
  archive->entryCount = 0;
  archive->refCount = 1;
  archive->naming = nullptr;
  archive->content = nullptr;
  try {
    LiveArchives& live = Live();
    std::lock_guard<std::mutex> guard(live.lock);
    live.members.insert(archive);
  } catch (const std::bad_alloc&) {
    DestroyArchive(archive);
    return nullptr;
  }
  archive->database = database;
  return archive;
}

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

ArchiveCall::~ArchiveCall() {
  if (archive_ == nullptr) return;
  LeaveCriticalSection(&archive_->lock);
  ReleaseArchive(archive_);         // this call's reference
  if (retired_) ReleaseArchive(archive_);  // the host's, from the open
}

void ArchiveCall::Retire() {
  if (archive_ == nullptr || retired_) return;
  LiveArchives& live = Live();
  std::lock_guard<std::mutex> guard(live.lock);
  live.members.erase(archive_);
  retired_ = true;
}
