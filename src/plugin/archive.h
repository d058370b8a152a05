// The archive handle: the object behind every handle the host holds.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "engine/msi_api.h"
#include "plugin/list.h"
#include "text/text.h"

struct FileEntry;

// Entry names compare as _wcsicmp compares them: ASCII A-Z match a-z, every
// other character must match exactly.
using EntryNameView = std::basic_string_view<WCHAR>;

struct EntryNameHash {
  size_t operator()(EntryNameView name) const {
    // Names hold at most 259 characters; longer text is hashed by its start.
    WCHAR folded[260];
    size_t length = name.size() < 260 ? name.size() : 260;
    for (size_t i = 0; i < length; ++i) {
      WCHAR c = name[i];
      folded[i] = c >= 'A' && c <= 'Z' ? static_cast<WCHAR>(c - 'A' + 'a') : c;
    }
    return std::hash<EntryNameView>()(EntryNameView(folded, length));
  }
};

struct EntryNameEqual {
  bool operator()(EntryNameView a, EntryNameView b) const {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
      WCHAR x = a[i], y = b[i];
      if (x >= 'A' && x <= 'Z') x = static_cast<WCHAR>(x - 'A' + 'a');
      if (y >= 'A' && y <= 'Z') y = static_cast<WCHAR>(y - 'A' + 'a');
      if (x != y) return false;
    }
    return true;
  }
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
  // The keys view the entries' own names, which never change once listed.
  std::unordered_map<EntryNameView, FileEntry*, EntryNameHash, EntryNameEqual>
      entryIndex;
  // Set when the index could not be kept up (no memory): look-ups then
  // walk `entries` instead.
  bool entryIndexPartial = false;
};

// The only way to use a handle: validates it, enters the lock, takes a
// reference. Null for a handle that is not a live archive.
MsiArchive* AcquireArchive(HANDLE handle);
// Drops a reference; the last one destroys the archive.
LONG ReleaseArchive(MsiArchive* archive);
