// File entries: creation, sharing and release, look-up by name, and the
// naming rules that make every name a safe, unique path in the archive.
#include <new>

#include "plugin/module.h"
#include "plugin/refcount.h"
#include "tree/tree.h"

namespace {

constexpr size_t kMaxNameChars = kNameCapacity - 1;

bool IsSeparator(WCHAR c) { return c == '\\' || c == '/'; }

// Characters no file name may hold on Windows: control characters and
// < > : " | ? * (a colon would open a stream of another file).
bool IsRefusedInNames(WCHAR c) {
  switch (c) {
    case '<':
    case '>':
    case ':':
    case '"':
    case '|':
    case '?':
    case '*':
      return true;
    default:
      return c < 0x20;
  }
}

size_t DecimalDigits(unsigned value) {
  size_t digits = 1;
  while (value >= 10) {
    value /= 10;
    ++digits;
  }
  return digits;
}

}  // namespace

void MakeSafeName(WCHAR* text) {
  WCHAR* segment = text;
  for (WCHAR* p = text;; ++p) {
    if (*p != 0 && !IsSeparator(*p)) {
      if (IsRefusedInNames(*p)) *p = '_';
      continue;
    }
    // Full stops and spaces that end a segment: Windows drops them, so that
    // "a." would be "a" and ".." would climb out of the folder.
    for (WCHAR* q = p; q != segment && (q[-1] == '.' || q[-1] == ' '); --q) {
      q[-1] = '_';
    }
    if (*p == 0) break;
    segment = p + 1;
  }
}

FileEntry* CreateEntry(TableInfo* table) {
  FileEntry* entry = new (std::nothrow) FileEntry();
  if (entry == nullptr) return nullptr;
  InitListNode(&entry->link, entry);
  entry->table = table;
  entry->target = nullptr;
  entry->record = 0;
  entry->content = Content{nullptr, 0};
  entry->kind = kEntryNone;
  entry->size = 0;
  entry->sized = false;
  entry->refCount = 1;
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
  if (entry->content.data != nullptr) {
    HeapFree(processHeap, 0, entry->content.data);
    entry->content.data = nullptr;
    entry->content.length = 0;
  }
  delete entry;
  return 0;
}

FileEntry* FindEntry(MsiArchive* archive, const WCHAR* name) {
  if (!archive->entryIndexPartial) {
    return archive->entryIndex.Find(name);
  }
  for (ListLink* node = archive->entries.next; node != &archive->entries;
       node = node->next) {
    FileEntry* entry = ListOwner<FileEntry>(node);
    if (_wcsicmp(entry->name.c_str(), name) == 0) return entry;
  }
  return nullptr;
}

void AppendEntry(MsiArchive* archive, FileEntry* entry) {
  LinkAtTail(&archive->entries, &entry->link);
  TakeReference(&archive->entryCount);
  if (archive->entryIndexPartial) return;
  try {
    archive->entryIndex.Insert(entry);
  } catch (const std::bad_alloc&) {
    archive->entryIndexPartial = true;
    archive->entryIndex.Clear();
  }
}

DWORD AssignUniqueName(FileEntry* entry, MsiArchive* archive,
                       const WCHAR* folder, const WCHAR* base,
                       const WCHAR* extension) {
  WCHAR buffer[kNameCapacity];
  buffer[0] = 0;
  WCHAR* position = buffer;
  if (folder != nullptr && folder[0] != 0) {
    WCHAR* end = buffer;
    size_t remaining = 0;
    FormatToBufferEx(buffer, kNameCapacity, &end, &remaining, WTEXT("%s\\"),
                     folder);
    position = end;
  }
  size_t space = kNameCapacity - static_cast<size_t>(position - buffer);
  FormatToBuffer(position, space, WTEXT("%s%s"), base, extension);
  MakeSafeName(buffer);

  const size_t headChars = static_cast<size_t>(position - buffer) + wcslen(base);
  for (unsigned counter = 1; FindEntry(archive, buffer) != nullptr; ++counter) {
    size_t digits = DecimalDigits(counter);
    if (digits < 3) digits = 3;
    if (headChars + 1 + digits <= kMaxNameChars) {
      FormatToBuffer(position, space, WTEXT("%s_%03u%s"), base, counter,
                     extension);
    } else {
      // Folder and base leave no room for the whole counter: shorten the
      // base so that the counter shows and every candidate differs.
      FormatToBuffer(position, space, WTEXT("%s"), base);
      size_t keep = kMaxNameChars - 1 - digits;
      FormatToBuffer(buffer + keep, kNameCapacity - keep, WTEXT("_%03u"),
                     counter);
    }
    MakeSafeName(buffer);
  }
  try {
    entry->name.assign(buffer);
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

  WCHAR base[kNameCapacity];
  size_t length = 0;
  for (; text[length] != 0 && length < kMaxNameChars; ++length) {
    base[length] = text[length];
  }
  base[length] = 0;
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
