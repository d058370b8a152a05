// The archive handle: the object behind every handle the host holds.
#pragma once

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "engine/msi_api.h"
#include "plugin/list.h"
#include "text/text.h"

struct FileEntry;

// Entry names compare as _wcsicmp compares them: ASCII A-Z match a-z, every
// other character must match exactly. Transparent, so that a look-up by a
// plain string needs no copy.
struct EntryNameHash {
  using is_transparent = void;
  size_t operator()(const WCHAR* name) const {
    size_t hash = 14695981039346656037ULL;
    for (; *name != 0; ++name) {
      WCHAR c = *name;
      if (c >= 'A' && c <= 'Z') c = static_cast<WCHAR>(c - 'A' + 'a');
      hash = (hash ^ static_cast<size_t>(c)) * 1099511628211ULL;
    }
    return hash;
  }
  size_t operator()(const WString& name) const { return (*this)(name.c_str()); }
};

struct EntryNameEqual {
  using is_transparent = void;
  bool operator()(const WCHAR* a, const WCHAR* b) const {
    for (;; ++a, ++b) {
      WCHAR x = *a, y = *b;
      if (x >= 'A' && x <= 'Z') x = static_cast<WCHAR>(x - 'A' + 'a');
      if (y >= 'A' && y <= 'Z') y = static_cast<WCHAR>(y - 'A' + 'a');
      if (x != y) return false;
      if (x == 0) return true;
    }
  }
  bool operator()(const WString& a, const WString& b) const {
    return (*this)(a.c_str(), b.c_str());
  }
  bool operator()(const WString& a, const WCHAR* b) const { return (*this)(a.c_str(), b); }
  bool operator()(const WCHAR* a, const WString& b) const { return (*this)(a, b.c_str()); }
};

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
  std::unordered_map<WString, FileEntry*, EntryNameHash, EntryNameEqual> entryIndex;
  // Set when the index could not be kept up (no memory): look-ups then
  // walk `entries` instead.
  bool entryIndexPartial = false;
};

// The only way to use a handle: validates it, enters the lock, takes a
// reference. Null for a handle that is not a live archive.
MsiArchive* AcquireArchive(HANDLE handle);
// Drops a reference; the last one destroys the archive.
LONG ReleaseArchive(MsiArchive* archive);
