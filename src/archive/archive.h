// The archive handle: the object behind every handle the host holds.
#pragma once

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "engine/msi_api.h"
#include "plugin/list.h"
#include "tree/name_index.h"
#include "text/text.h"

struct FileEntry;

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
  // Beside `entries`: every listed name, compared without regard to case,
  // to the earliest entry bearing it, so that look-ups do not walk the list.
  EntryNameIndex entryIndex;
  // Every folder a listed name needs (each leading part of a name that a
  // separator ends), to the earliest entry needing it.
  EntryNameIndex folderIndex;
  // Set when the indexes could not be kept up (no memory): look-ups then
  // walk `entries` instead.
  bool entryIndexPartial = false;
  // While the catalogue is built: for each numbered name (its head and tail,
  // compared as names are), the next number worth trying. Names are only
  // ever added, so every number below it stays taken.
  std::unordered_map<WString, uint32_t> nextNumber;
  // While the catalogue is built: the cells by the name of the stream each
  // reads ("Icon.logo"), for the rows of _Streams to find theirs.
  std::unordered_map<WString, FileEntry*> streamCells;
};

// The only way to use a handle: validates it, enters the lock, takes a
// reference. Null for a handle that is not a live archive.
MsiArchive* AcquireArchive(HANDLE handle);
// Drops a reference; the last one destroys the archive.
LONG ReleaseArchive(MsiArchive* archive);
