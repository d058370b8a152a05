// The index of entry names beside an archive's `entries`: a leading part
// of an entry's name (the whole name, or a folder the name needs), compared
// as names are compared (each UTF-16 unit by its upper case, as the Windows
// file system compares file names, and "/" matches "\"), to the earliest
// entry bearing it. Open addressing over a flat array of (hash, entry,
// length) slots, so that a look-up touches little memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/win32.h"

struct FileEntry;

// The upper case of one UTF-16 unit as the Windows file system folds file
// names: the table of Wine and of NTFS volumes, per unit, no special
// casing (scripts/generate-upcase-table.py says which units fold).
WCHAR UpcaseUnit(WCHAR c);
// Whether the first `length` units of two names are the same name.
bool SameNames(const WCHAR* a, const WCHAR* b, size_t length);
// The text with every unit folded as names are compared: appended to `out`.
void AppendFolded(const WCHAR* text, size_t length, std::basic_string<WCHAR>& out);

class EntryNameIndex {
 public:
  // The earliest entry whose name begins with text[0, length) as indexed.
  FileEntry* Find(const WCHAR* text, size_t length) const;
  // Adds the first `length` units of the entry's name unless that text is
  // indexed already. May throw std::bad_alloc while growing; the index is
  // then unchanged.
  void Insert(FileEntry* entry, size_t length);
  void Clear();
  size_t Size() const { return count_; }

 private:
  struct Slot {
    uint64_t hash;
    FileEntry* entry;  // null: empty
    size_t length;
  };
  void Grow();
  std::vector<Slot> slots_;
  size_t count_ = 0;
};
