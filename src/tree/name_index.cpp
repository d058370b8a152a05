// Open-addressing index of entry names, compared as names are compared.
#include "tree/name_index.h"

#include "tree/tree.h"

namespace {

#include "tree/upcase_table.inc"

}  // namespace

WCHAR UpcaseUnit(WCHAR c) {
  const unsigned unit = static_cast<uint16_t>(c);
  const int delta = kUpcaseDelta[kUpcaseBlockOf[unit >> kUpcaseBlockBits]]
                                [unit & ((1u << kUpcaseBlockBits) - 1)];
  return static_cast<WCHAR>(static_cast<uint16_t>(unit + delta));
}

namespace {

WCHAR Fold(WCHAR c) { return c == '/' ? WCHAR('\\') : UpcaseUnit(c); }

// FNV-1a over the units as `unit` gives them, every bit then spread into
// the low ones, which pick the slot.
template <typename Unit>
uint64_t HashUnits(const WCHAR* text, size_t length, Unit unit) {
  uint64_t hash = 14695981039346656037ULL;
  for (size_t i = 0; i < length; ++i) {
    hash = (hash ^ static_cast<uint64_t>(unit(text[i]))) * 1099511628211ULL;
  }
  hash ^= hash >> 30;
  hash *= 0xBF58476D1CE4E5B9ULL;
  hash ^= hash >> 27;
  hash *= 0x94D049BB133111EBULL;
  hash ^= hash >> 31;
  return hash;
}

uint32_t HashName(const WCHAR* name, size_t length) {
  return static_cast<uint32_t>(HashUnits(name, length, Fold));
}

// Makes room for one more slot in an open-addressing array of `count`
// entries: past three quarters full it doubles, each slot moving to its
// place in the larger array.
template <typename Slot>
void Reserve(std::vector<Slot>& slots, size_t count) {
  if ((count + 1) * 4 <= slots.size() * 3) return;
  std::vector<Slot> grown(slots.empty() ? 64 : slots.size() * 2, Slot{});
  const size_t mask = grown.size() - 1;
  for (const Slot& slot : slots) {
    if (slot.entry == nullptr) continue;
    size_t i = static_cast<size_t>(slot.hash) & mask;
    while (grown[i].entry != nullptr) i = (i + 1) & mask;
    grown[i] = slot;
  }
  slots.swap(grown);
}

}  // namespace

bool SameNames(const WCHAR* a, const WCHAR* b, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    if (Fold(a[i]) != Fold(b[i])) return false;
  }
  return true;
}

void AppendFolded(const WCHAR* text, size_t length, std::basic_string<WCHAR>& out) {
  for (size_t i = 0; i < length; ++i) out.push_back(Fold(text[i]));
}

FileEntry* EntryNameIndex::Find(const WCHAR* text, size_t length) const {
  if (slots_.empty()) return nullptr;
  const uint32_t hash = HashName(text, length);
  const size_t mask = slots_.size() - 1;
  for (size_t i = static_cast<size_t>(hash) & mask;; i = (i + 1) & mask) {
    const Slot& slot = slots_[i];
    if (slot.entry == nullptr) return nullptr;
    if (slot.hash == hash && slot.length == length &&
        SameNames(slot.entry->name.c_str(), text, length)) {
      return slot.entry;
    }
  }
}

void EntryNameIndex::Insert(FileEntry* entry, size_t length) {
  Reserve(slots_, count_);
  const WCHAR* name = entry->name.c_str();
  const uint32_t hash = HashName(name, length);
  const size_t mask = slots_.size() - 1;
  for (size_t i = static_cast<size_t>(hash) & mask;; i = (i + 1) & mask) {
    Slot& slot = slots_[i];
    if (slot.entry == nullptr) {
      slot = Slot{entry, hash, static_cast<uint32_t>(length)};
      ++count_;
      return;
    }
    // The earliest entry keeps the name.
    if (slot.hash == hash && slot.length == length &&
        SameNames(slot.entry->name.c_str(), name, length)) {
      return;
    }
  }
}

void EntryNameIndex::Clear() {
  std::vector<Slot>().swap(slots_);
  count_ = 0;
}

uint64_t HashExact(const WCHAR* text, size_t length) {
  return HashUnits(text, length, [](WCHAR c) { return c; });
}

void EntryHashIndex::Insert(uint64_t hash, FileEntry* entry) {
  Reserve(slots_, count_);
  const size_t mask = slots_.size() - 1;
  size_t i = static_cast<size_t>(hash) & mask;
  while (slots_[i].entry != nullptr) i = (i + 1) & mask;
  slots_[i] = Slot{entry, hash};
  ++count_;
}

void EntryHashIndex::Clear() {
  std::vector<Slot>().swap(slots_);
  count_ = 0;
}
