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

uint64_t HashName(const WCHAR* name, size_t length) {
  uint64_t hash = 14695981039346656037ULL;
  for (size_t i = 0; i < length; ++i) {
    hash = (hash ^ static_cast<uint64_t>(Fold(name[i]))) * 1099511628211ULL;
  }
  // Spread every bit into the low ones, which pick the slot.
  hash ^= hash >> 30;
  hash *= 0xBF58476D1CE4E5B9ULL;
  hash ^= hash >> 27;
  hash *= 0x94D049BB133111EBULL;
  hash ^= hash >> 31;
  return hash;
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
  const uint64_t hash = HashName(text, length);
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
  if ((count_ + 1) * 2 > slots_.size()) Grow();
  const WCHAR* name = entry->name.c_str();
  const uint64_t hash = HashName(name, length);
  const size_t mask = slots_.size() - 1;
  for (size_t i = static_cast<size_t>(hash) & mask;; i = (i + 1) & mask) {
    Slot& slot = slots_[i];
    if (slot.entry == nullptr) {
      slot = Slot{hash, entry, length};
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

void EntryNameIndex::Grow() {
  std::vector<Slot> grown(slots_.empty() ? 64 : slots_.size() * 2, Slot{0, nullptr, 0});
  const size_t mask = grown.size() - 1;
  for (const Slot& slot : slots_) {
    if (slot.entry == nullptr) continue;
    size_t i = static_cast<size_t>(slot.hash) & mask;
    while (grown[i].entry != nullptr) i = (i + 1) & mask;
    grown[i] = slot;
  }
  slots_.swap(grown);
}

void EntryNameIndex::Clear() {
  std::vector<Slot>().swap(slots_);
  count_ = 0;
}
