// The archive model: the object behind every handle the host holds, its
// lifetime, and the guard every call on a handle runs under.
#pragma once

#include <cstdint>
#include <vector>

#include "archive/list.h"
#include "engine/msi_api.h"
#include "text/text.h"

struct FileEntry;
// What the virtual file tree keeps beside the entries while it names them;
// owned and defined by the tree.
struct NamingState;
// What producing content keeps between calls (the row cursor, the text of
// the current entry); owned and defined by the content renderer.
struct ContentState;

constexpr uint64_t kArchiveMagic = 0x434947414D49534DULL;  // "MSIMAGIC"

struct MsiArchive {
  CRITICAL_SECTION lock;
  std::vector<WString> tableNames;
  // Listing cursor: null until the catalogue is built, then the next entry's
  // node in `entries`, or `&entries` itself at the end.
  ListLink* nextEntry;
  FileEntry* currentEntry;
  ListLink tables;   // TableInfo, one reference each
  ListLink entries;  // FileEntry in listing order, one reference each
  uint64_t magic;
  MSIHANDLE database;
  FILETIME archiveTime;
  volatile LONG tableCount;
  volatile LONG entryCount;
  volatile LONG refCount;
  // Null until the tree is built; the tree frees it when it is cleared.
  NamingState* naming;
  // Null until content is first measured or produced; freed on close.
  ContentState* content;
};

// A new archive over an open database, registered as live and holding the
// host's reference; null when no memory can be had (the database handle is
// then still the caller's).
MsiArchive* CreateArchive(MSIHANDLE database, FILETIME archiveTime);
// The only way to use a handle: validates it, enters the lock, takes a
// reference. Null for a handle that is not a live archive.
MsiArchive* AcquireArchive(HANDLE handle);
// Drops a reference; the last one destroys the archive and closes its
// database.
LONG ReleaseArchive(MsiArchive* archive);

// Holds an acquired archive for the length of one export call: leaves the
// lock and drops the call's reference on every way out.
class ArchiveCall {
 public:
  explicit ArchiveCall(HANDLE handle) : archive_(AcquireArchive(handle)) {}
  ~ArchiveCall();
  ArchiveCall(const ArchiveCall&) = delete;
  ArchiveCall& operator=(const ArchiveCall&) = delete;
  MsiArchive* get() const { return archive_; }
  // Closing: no later call acquires the handle, and the host's reference
  // is dropped after this call's when the call ends.
  void Retire();

 private:
  MsiArchive* archive_;
  bool retired_ = false;
};
