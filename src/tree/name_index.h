// The index of entry names beside an archive's `entries`: a leading part
// of an entry's name (the whole name, or a folder the name needs), compared
// as names are compared (each UTF-16 unit by its upper case, as the Windows
// file system compares file names, and "/" matches "\"), to the earliest
// entry bearing it. Open addressing over a flat array of (entry, hash,
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
    FileEntry* entry;  // null: empty
    uint32_t hash;     // the low half of the name's
    uint32_t length;   // a name is at most 259 units long
  };
  std::vector<Slot> slots_;
  size_t count_ = 0;
};

// Entries by a 64-bit hash of a text that the caller can rebuild from the
// entry: open addressing over (hash, entry) slots, the texts kept nowhere.
// The caller compares the text of each entry found under a hash.
class EntryHashIndex {
 public:
  // The first entry under `hash` for which same(entry) holds, or null.
  template <typename Same>
  FileEntry* Find(uint64_t hash, Same&& same) const {
    if (slots_.empty()) return nullptr;
    const size_t mask = slots_.size() - 1;
    for (size_t i = static_cast<size_t>(hash) & mask;; i = (i + 1) & mask) {
      const Slot& slot = slots_[i];
      if (slot.entry == nullptr) return nullptr;
      if (slot.hash == hash && same(slot.entry)) return slot.entry;
    }
  }
  // Adds the entry under `hash`. May throw std::bad_alloc while growing;
  // the index is then unchanged.
  void Insert(uint64_t hash, FileEntry* entry);
  void Clear();

 private:
  struct Slot {
    FileEntry* entry;  // null: empty
    uint64_t hash;
  };
  std::vector<Slot> slots_;
  size_t count_ = 0;
};

// The hash EntryHashIndex expects of a text compared exactly.
uint64_t HashExact(const WCHAR* text, size_t length);
