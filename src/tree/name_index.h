// The index of entry names beside an archive's `entries`: each name,
// compared as _wcsicmp compares (ASCII A-Z match a-z, every other character
// exactly), to the earliest entry bearing it. Open addressing over a flat
// array of (hash, entry) slots, so that a look-up touches little memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/win32.h"

struct FileEntry;

class EntryNameIndex {
 public:
  // The earliest entry named `name`, or null.
  FileEntry* Find(const WCHAR* name) const;
  // Adds the entry under its name unless an entry of that name is indexed
  // already. May throw std::bad_alloc while growing; the index is then
  // unchanged.
  void Insert(FileEntry* entry);
  void Clear();
  size_t Size() const { return count_; }

 private:
  struct Slot {
    uint64_t hash;
    FileEntry* entry;  // null: empty
  };
  void Grow();
  std::vector<Slot> slots_;
  size_t count_ = 0;
};
