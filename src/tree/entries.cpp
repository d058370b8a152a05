// File entries: creation, sharing and release, look-up by name, and the
// naming rules that make every name a safe, unique path in the archive.
#include <cstdlib>
#include <new>
#include <string>

#include "archive/refcount.h"
#include "tree/tree.h"

namespace {

constexpr size_t kMaxNameChars = kNameCapacity - 1;

bool IsSeparator(WCHAR c) { return c == '\\' || c == '/'; }
bool IsHigh(WCHAR c) { return c >= 0xD800 && c <= 0xDBFF; }

size_t UnitCount(const WCHAR* text) {
  size_t n = 0;
  while (text[n] != 0) ++n;
  return n;
}

// Appends up to `limit` units of text to out[*n], never half a surrogate
// pair.
void AppendCut(WCHAR* out, size_t* n, const WCHAR* text, size_t limit) {
  size_t length = 0;
  while (length < limit && text[length] != 0) ++length;
  if (length == limit && length > 0 && text[length] != 0 && IsHigh(text[length - 1])) --length;
  for (size_t i = 0; i < length; ++i) out[(*n)++] = text[i];
  out[*n] = 0;
}

// The archive's naming state when its name indexes can be trusted: null
// before the tree has one, and once an index could not be kept up (no
// memory), when look-ups walk `entries` instead.
NamingState* IndexedNaming(MsiArchive* archive) {
  NamingState* naming = archive->naming;
  return naming != nullptr && !naming->entryIndexPartial ? naming : nullptr;
}

// How a name stands against the names listed so far: whether an entry bears
// it or needs it as a folder, and the shortest leading part it needs as a
// folder that an entry bears as a file (0 when there is none).
struct Standing {
  bool taken;
  size_t fileAsFolder;
  bool Free() const { return !taken && fileAsFolder == 0; }
};

Standing StandingOf(MsiArchive* archive, const WCHAR* name, size_t length) {
  Standing standing{false, 0};
  if (const NamingState* naming = IndexedNaming(archive)) {
    for (size_t i = 1; i < length; ++i) {
      if (IsSeparator(name[i]) && naming->entryIndex.Find(name, i) != nullptr) {
        standing.fileAsFolder = i;
        return standing;
      }
    }
    standing.taken = naming->entryIndex.Find(name, length) != nullptr ||
                     naming->folderIndex.Find(name, length) != nullptr;
    return standing;
  }
  for (ListLink* node = archive->entries.next; node != &archive->entries;
       node = node->next) {
    const EntryName& other = ListOwner<FileEntry>(node)->name;
    const size_t n = other.size();
    if (n >= length && SameNames(other.c_str(), name, length) &&
        (n == length || IsSeparator(other[length]))) {
      standing.taken = true;
    } else if (n < length && IsSeparator(name[n]) && SameNames(other.c_str(), name, n) &&
               (standing.fileAsFolder == 0 || n < standing.fileAsFolder)) {
      standing.fileAsFolder = n;
    }
  }
  return standing;
}

// The numbered name into out (kNameWorkUnits): head, an underscore, the
// number (at least three digits), tail, made safe. The head gives way at
// its end, so that the number shows whole within 259 units and within its
// segment's 255 units and bytes, and every number gives another name.
void ComposeNumbered(const WCHAR* head, size_t headLength, unsigned number,
                     const WCHAR* tail, WCHAR* out) {
  WCHAR counter[16];
  FormatToBuffer(counter, 16, WTEXT("_%03u"), number);
  const size_t counterLength = UnitCount(counter);
  size_t keep = headLength;
  if (keep + counterLength > kMaxNameChars) keep = kMaxNameChars - counterLength;
  if (keep < headLength && keep > 0 && IsHigh(head[keep - 1])) --keep;
  size_t start = keep;
  while (start > 0 && !IsSeparator(head[start - 1])) --start;
  keep = start + FitSegment(head + start, keep - start, kSegmentUnits - counterLength,
                            kSegmentBytes - counterLength);
  size_t n = 0;
  AppendCut(out, &n, head, keep);
  AppendCut(out, &n, counter, counterLength);
  AppendCut(out, &n, tail, kNameWorkUnits - 1 - n);
  MakeSafeName(out);
}

// A folder the name shares with an entry listed before keeps that entry's
// spelling (its case and separators): on a file system that ignores case
// the folder is made once, by the first, so both platforms write the same
// tree.
void SpellFoldersAsListed(MsiArchive* archive, WCHAR* name) {
  const NamingState* naming = IndexedNaming(archive);
  if (naming == nullptr) return;
  for (size_t i = UnitCount(name); i > 1; --i) {
    if (!IsSeparator(name[i - 1])) continue;
    const FileEntry* first = naming->folderIndex.Find(name, i - 1);
    if (first == nullptr) continue;
    for (size_t k = 0; k + 1 < i; ++k) name[k] = first->name[k];
    return;
  }
}

}  // namespace

void EntryName::assign(const WCHAR* text) {
  size_t length = 0;
  while (length < kNameCapacity - 1 && text[length] != 0) ++length;
  auto* block = static_cast<WCHAR*>(std::malloc((length + 2) * sizeof(WCHAR)));
  if (block == nullptr) throw std::bad_alloc();
  block[0] = static_cast<WCHAR>(length);
  for (size_t i = 0; i < length; ++i) block[i + 1] = text[i];
  block[length + 1] = 0;
  Free();
  block_ = block;
}

void EntryName::Free() {
  std::free(block_);
  block_ = nullptr;
}

bool operator==(const EntryName& name, const WString& text) {
  return name.size() == text.size() &&
         std::char_traits<WCHAR>::compare(name.c_str(), text.data(), text.size()) == 0;
}

FileEntry* CreateEntry(TableInfo* table) {
  FileEntry* entry = new (std::nothrow) FileEntry();
  if (entry == nullptr) return nullptr;
  InitListNode(&entry->link, entry);
  entry->table = table;
  entry->target = nullptr;
  entry->record = 0;
  entry->size = 0;
  entry->row = 0;
  entry->refCount = 1;
  entry->kind = kEntryNone;
  entry->sized = false;
  entry->streamRead = false;
  if (table != nullptr) TakeReference(&table->refCount);
  return entry;
}

LONG ReleaseEntry(FileEntry* entry) {
  LONG left = DropReference(&entry->refCount);
  if (left != 0) return left;
  if (entry->target != nullptr) {
    ReleaseEntry(entry->target);
    entry->target = nullptr;
  }
  if (entry->table != nullptr) {
    ReleaseTable(entry->table);
    entry->table = nullptr;
  }
  if (entry->record != 0) {
    MsiCloseHandle(entry->record);
    entry->record = 0;
  }
  delete entry;
  return 0;
}

FileEntry* FindEntry(MsiArchive* archive, const WCHAR* name) {
  const size_t length = UnitCount(name);
  if (const NamingState* naming = IndexedNaming(archive)) {
    return naming->entryIndex.Find(name, length);
  }
  for (ListLink* node = archive->entries.next; node != &archive->entries;
       node = node->next) {
    FileEntry* entry = ListOwner<FileEntry>(node);
    if (entry->name.size() == length && SameNames(entry->name.c_str(), name, length)) {
      return entry;
    }
  }
  return nullptr;
}

void AppendEntry(MsiArchive* archive, FileEntry* entry) {
  LinkAtTail(&archive->entries, &entry->link);
  TakeReference(&archive->entryCount);
  NamingState* naming = IndexedNaming(archive);
  if (naming == nullptr) return;
  try {
    const EntryName& name = entry->name;
    naming->entryIndex.Insert(entry, name.size());
    for (size_t i = 1; i < name.size(); ++i) {
      if (IsSeparator(name[i])) naming->folderIndex.Insert(entry, i);
    }
  } catch (const std::bad_alloc&) {
    naming->entryIndexPartial = true;
    naming->entryIndex.Clear();
    naming->folderIndex.Clear();
  }
}

DWORD AssignUniqueName(FileEntry* entry, MsiArchive* archive,
                       const WCHAR* folder, const WCHAR* base,
                       const WCHAR* extension) {
  // The folder, a backslash and the base: the part a number follows.
  WCHAR head[kNameWorkUnits];
  size_t headLength = 0;
  head[0] = 0;
  if (folder != nullptr && folder[0] != 0) {
    AppendCut(head, &headLength, folder, kMaxNameChars);
    AppendCut(head, &headLength, WTEXT("\\"), 1);
  }
  AppendCut(head, &headLength, base, kMaxNameChars);
  WCHAR name[kNameWorkUnits];
  size_t length = 0;
  AppendCut(name, &length, head, headLength);
  AppendCut(name, &length, extension, kMaxNameChars);
  MakeSafeName(name);

  Standing standing = StandingOf(archive, name, UnitCount(name));
  if (!standing.Free()) {
    WCHAR tail[kNameWorkUnits];
    size_t tailLength = 0;
    if (standing.fileAsFolder != 0) {
      // A folder the name needs is another entry's file: that folder gets
      // the number, before its extension, and the rest of the name follows.
      size_t start = standing.fileAsFolder;
      while (start > 0 && !IsSeparator(name[start - 1])) --start;
      size_t split = standing.fileAsFolder;
      for (size_t i = standing.fileAsFolder; i > start + 1; --i) {
        if (name[i - 1] == '.') {
          split = i - 1;
          break;
        }
      }
      AppendCut(tail, &tailLength, name + split, kNameWorkUnits - 1);
      headLength = 0;
      AppendCut(head, &headLength, name, split);
    } else {
      AppendCut(tail, &tailLength, extension, kMaxNameChars);
      WCHAR mended[kNameWorkUnits];
      headLength = MakeSafeHead(head, mended);
      for (size_t i = 0; i <= headLength; ++i) head[i] = mended[i];
    }
    // The next number worth trying for this head and tail: the numbers
    // below it were all taken when it was stored, and names are only ever
    // added.
    NamingState* naming = archive->naming;
    WString key;
    uint32_t number = 1;
    if (naming != nullptr) {
      try {
        AppendFolded(head, headLength, key);
        key.push_back(0);
        AppendFolded(tail, tailLength, key);
        const auto found = naming->nextNumber.find(key);
        if (found != naming->nextNumber.end()) number = found->second;
      } catch (const std::bad_alloc&) {
        key.clear();
      }
    }
    for (;; ++number) {
      ComposeNumbered(head, headLength, number, tail, name);
      if (StandingOf(archive, name, UnitCount(name)).Free() || number == UINT32_MAX) break;
    }
    if (!key.empty()) {
      try {
        naming->nextNumber[key] = number + 1;
      } catch (const std::bad_alloc&) {
        // Only the next name of this kind starts its search lower.
      }
    }
  }
  SpellFoldersAsListed(archive, name);
  try {
    entry->name.assign(name);
  } catch (const std::bad_alloc&) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
  return 0;
}

size_t FindExtension(const WCHAR* text) {
  size_t segment = 0;
  size_t end = 0;
  for (; text[end] != 0; ++end) {
    if (IsSeparator(text[end])) segment = end + 1;
  }
  for (size_t i = end; i > segment; --i) {
    if (text[i - 1] == '.') return i - 1;
  }
  return end;
}

DWORD NameStreamCell(FileEntry* entry, MsiArchive* archive, const WCHAR* key) {
  TableInfo* table = entry->table;
  FileEntry* target =
      table->isStreamsTable ? FindStreamAlias(archive, key) : nullptr;
  // An alias is named by what follows the table's name in its stream's.
  const WCHAR* text = target != nullptr ? wcschr(key, '.') + 1 : key;

  WCHAR base[kNameWorkUnits];
  size_t length = 0;
  AppendCut(base, &length, text, kMaxNameChars);
  MakeSafeName(base);
  WCHAR extension[kNameCapacity];
  extension[0] = 0;
  const size_t p = FindExtension(base);
  if (p >= 1) {
    FormatToBuffer(extension, kNameCapacity, WTEXT("%s"), base + p);
    base[p] = 0;
  }
  const DWORD result =
      AssignUniqueName(entry, archive, table->name.c_str(), base, extension);
  if (result != 0) return result;
  if (target != nullptr) {
    TakeReference(&target->refCount);
    entry->target = target;
  }
  return 0;
}
