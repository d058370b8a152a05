#include "engine/native/msidb/database.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "engine/native/msidb/codepage.h"
#include "engine/native/name_hash.h"

namespace msiarc::msidb {
namespace {

// Stream names pack two characters of [0-9A-Za-z._] into one unit from
// 0x3800, one into a unit from 0x4800; 0x4840 begins a table's stream.
constexpr char16_t kPairBase = 0x3800;
constexpr char16_t kSingleBase = 0x4800;
constexpr char16_t kTablePrefix = 0x4840;

// The string pool's header: the code page, whose bits 16..30 sit in the
// high word, and in that word's top bit the flag for 3-byte string ids.
constexpr uint32_t kCodePageHighBits = 0x7FFF;
constexpr uint32_t kLongRefsFlag = 0x8000;

constexpr uint8_t kClsidDatabase[16] = {0x84, 0x10, 0x0C, 0x00, 0x00, 0x00, 0x00, 0x00,
                                        0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};

int Symbol(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'A' && c <= u'Z') return c - u'A' + 10;
  if (c >= u'a' && c <= u'z') return c - u'a' + 36;
  if (c == u'.') return 62;
  if (c == u'_') return 63;
  return -1;
}

char16_t SymbolChar(uint32_t s) {
  if (s < 10) return static_cast<char16_t>(u'0' + s);
  if (s < 36) return static_cast<char16_t>(u'A' + s - 10);
  if (s < 62) return static_cast<char16_t>(u'a' + s - 36);
  return s == 62 ? u'.' : u'_';
}

uint32_t CellBytes(uint32_t type, uint32_t refBytes) {
  if (IsBinaryType(type)) return 2;
  if (type & kTypeString) return refBytes;
  return (type & kTypeWidthMask) <= 2 ? 2 : 4;
}

void AppendDecimal(std::u16string& out, int32_t value) {
  char digits[16];
  int n = std::snprintf(digits, sizeof digits, "%d", value);
  for (int i = 0; i < n; ++i) out.push_back(static_cast<char16_t>(digits[i]));
}

Column Fixed(const char16_t* name, uint32_t type) {
  Column c;
  c.name = name;
  c.type = type;
  return c;
}

bool IsTableStreamName(std::u16string_view raw) { return !raw.empty() && raw[0] == kTablePrefix; }

// Calls put with each character of a stream's raw name, decoded.
template <typename Put>
void DecodeUnits(std::u16string_view raw, Put&& put) {
  for (char16_t u : raw) {
    if (u >= kPairBase && u < kSingleBase) {
      uint32_t d = u - kPairBase;
      put(SymbolChar(d & 0x3F));
      put(SymbolChar((d >> 6) & 0x3F));
    } else if (u >= kSingleBase && u < kTablePrefix) {
      put(SymbolChar(u - kSingleBase));
    } else {
      put(u);
    }
  }
}

// Calls put with each unit of a name's encoded form (not a table's).
template <typename Put>
void EncodeUnits(std::u16string_view name, Put&& put) {
  for (size_t i = 0; i < name.size(); ++i) {
    int a = Symbol(name[i]);
    if (a < 0) {
      put(name[i]);
      continue;
    }
    int b = i + 1 < name.size() ? Symbol(name[i + 1]) : -1;
    if (b >= 0) {
      put(static_cast<char16_t>(kPairBase + a + (b << 6)));
      ++i;
    } else {
      put(static_cast<char16_t>(kSingleBase + a));
    }
  }
}

// A pool string's units, read in place, for hashing.
struct RefUnits {
  const StringRef& ref;
  char16_t operator[](size_t i) const { return ref.At(i); }
};

// A directory entry's state while _Streams is ordered.
constexpr uint8_t kStreamMet = 1;        // its first use was seen
constexpr uint8_t kStreamNameTaken = 2;  // on the first entry of a decoded name: one is listed

}  // namespace

std::u16string EncodeStreamName(std::u16string_view name, bool table) {
  std::u16string out;
  out.reserve(name.size() + 1);
  if (table) out.push_back(kTablePrefix);
  EncodeUnits(name, [&out](char16_t c) { out.push_back(c); });
  return out;
}

std::u16string DecodeStreamName(std::u16string_view raw) {
  std::u16string out;
  out.reserve(raw.size() * 2);
  DecodeUnits(raw, [&out](char16_t c) { out.push_back(c); });
  return out;
}

size_t RowName(const cfb::CompoundFile& file, const Table& table, uint32_t row,
               char16_t (&out)[kMaxRowName]) {
  const std::u16string_view raw = file.Entry(table.entries[row]).name;
  size_t n = 0;
  auto put = [&out, &n](char16_t c) {
    if (n < kMaxRowName) out[n++] = c;
  };
  if (table.kind == TableKind::Streams) {
    DecodeUnits(raw, put);
  } else {
    for (char16_t c : raw) put(c);
  }
  return n;
}

std::u16string ColumnTypeText(uint32_t type) {
  char16_t letter;
  if (IsBinaryType(type)) {
    letter = u'v';
  } else if (type & kTypeLocalizable) {
    letter = u'l';
  } else if (type & kTypeUnknown) {
    letter = u'f';
  } else if (type & kTypeString) {
    letter = (type & kTypeTemporary) ? u'g' : u's';
  } else {
    letter = (type & kTypeTemporary) ? u'j' : u'i';
  }
  if (type & kTypeNullable) letter = static_cast<char16_t>(letter - 32);
  std::u16string text(1, letter);
  AppendDecimal(text, static_cast<int32_t>(type & kTypeWidthMask));
  return text;
}

// ---------------------------------------------------------------------------
// String pool

std::u16string StringRef::ToString() const {
  std::u16string out(length, u'\0');
  for (uint32_t i = 0; i < length; ++i) out[i] = At(i);
  return out;
}

bool StringRef::Equals(std::u16string_view text) const {
  if (text.size() != length) return false;
  for (uint32_t i = 0; i < length; ++i) {
    if (At(i) != text[i]) return false;
  }
  return true;
}

OpenStatus StringPool::Load(const std::vector<uint8_t>& pool, const uint8_t* data, size_t dataSize) {
  auto word = [&pool](size_t index) {
    return static_cast<uint32_t>(pool[index * 2] | (pool[index * 2 + 1] << 8));
  };
  size_t count = pool.size() / 4;
  codePage_ = 0;
  longRefs_ = false;
  if (pool.size() > 4) {
    codePage_ = word(0) | ((word(1) & kCodePageHighBits) << 16);
    longRefs_ = (word(1) & kLongRefsFlag) != 0;
  }
  if (!IsKnownCodePage(codePage_)) return OpenStatus::Corrupt;
  const bool asciiIsItself = AsciiIsItself(codePage_);
  start_.assign(count == 0 ? 1 : count, kNone);
  length_.assign(start_.size(), 0);
  data_ = data;
  text_.clear();
  uint64_t offset = 0;
  size_t slot = 1;
  size_t id = 1;
  while (slot < count) {
    uint32_t length = word(slot * 2);
    uint32_t refs = word(slot * 2 + 1);
    if (length == 0 && refs == 0) {  // a hole: the id is used up
      ++slot;
      ++id;
      continue;
    }
    if (length == 0) {  // a long string: its 32-bit length is in the next slot
      if (slot + 1 >= count) break;
      length = word(slot * 2 + 2) | (word(slot * 2 + 3) << 16);
      slot += 2;
    } else {
      slot += 1;
    }
    if (offset + length > dataSize || length >= kNarrow) break;
    // A stored string nobody refers to cannot be looked up.
    if (refs != 0) {
      const uint8_t* bytes = data + offset;
      uint32_t ascii = 0;
      if (asciiIsItself) {
        while (ascii < length && bytes[ascii] < 0x80) ++ascii;
      }
      if (ascii == length) {
        start_[id] = static_cast<uint32_t>(offset);
        length_[id] = length | kNarrow;
      } else {
        size_t before = text_.size();
        AppendConverted(codePage_, bytes, length, text_);
        if (before > 0xFFFFFFF0u || text_.size() - before >= kNarrow) break;
        start_[id] = static_cast<uint32_t>(before);
        length_[id] = static_cast<uint32_t>(text_.size() - before);
      }
    }
    offset += length;
    ++id;
  }
  return OpenStatus::Ok;
}

bool StringRef::Equals(const StringRef& other) const {
  if (other.length != length) return false;
  for (uint32_t i = 0; i < length; ++i) {
    if (At(i) != other.At(i)) return false;
  }
  return true;
}

void StringPool::BuildIndex() const {
  size_t live = 0;
  for (uint32_t start : start_) live += start != kNone;
  unsigned bits = 4;
  while ((size_t{1} << bits) < live * 2) ++bits;
  const size_t mask = (size_t{1} << bits) - 1;
  std::vector<uint32_t> index(mask + 1, 0);
  std::vector<uint32_t> same;
  StringRef ref;
  StringRef held;
  // In id order, so that the id a text is indexed under is its lowest; a
  // text held again is chained behind it rather than put on the probe path.
  for (uint32_t id = 1; id < start_.size(); ++id) {
    if (!Lookup(id, &ref)) continue;
    size_t at = NameSlot(NameHash(RefUnits{ref}, ref.length), bits);
    while (index[at] != 0 && !(Lookup(index[at], &held) && held.Equals(ref))) at = (at + 1) & mask;
    if (index[at] == 0) {
      index[at] = id;
      continue;
    }
    if (same.empty()) same.assign(start_.size(), 0);
    same[id] = same[index[at]];
    same[index[at]] = id;
  }
  index_ = std::move(index);
  indexBits_ = bits;
  sameText_ = std::move(same);
}

bool StringPool::Indexed() const {
  // The names of a few tables are found by walking the pool; a database of
  // many tables is worth the index (8 bytes a string).
  constexpr uint32_t kWalks = 16;
  if (lookups_.fetch_add(1, std::memory_order_relaxed) < kWalks) return false;
  std::call_once(indexed_, [this] { BuildIndex(); });
  return true;
}

uint32_t StringPool::Find(std::u16string_view text) const {
  StringRef ref;
  if (!Indexed()) {
    for (uint32_t id = 1; id < start_.size(); ++id) {
      if (Lookup(id, &ref) && ref.Equals(text)) return id;
    }
    return 0;
  }
  const size_t mask = index_.size() - 1;
  for (size_t at = NameSlot(NameHash(text, text.size()), indexBits_); index_[at] != 0;
       at = (at + 1) & mask) {
    if (Lookup(index_[at], &ref) && ref.Equals(text)) return index_[at];
  }
  return 0;
}

std::vector<uint32_t> StringPool::FindAll(std::u16string_view text) const {
  std::vector<uint32_t> ids;
  StringRef ref;
  if (!Indexed()) {
    for (uint32_t id = 1; id < start_.size(); ++id) {
      if (Lookup(id, &ref) && ref.Equals(text)) ids.push_back(id);
    }
    return ids;
  }
  const uint32_t first = Find(text);
  if (first == 0) return ids;
  ids.push_back(first);
  if (!sameText_.empty()) {
    for (uint32_t id = sameText_[first]; id != 0; id = sameText_[id]) ids.push_back(id);
  }
  std::sort(ids.begin(), ids.end());
  return ids;
}

// ---------------------------------------------------------------------------
// Database

OpenStatus Database::Open(std::unique_ptr<cfb::Source> source, std::shared_ptr<Database>* out) {
  try {
    std::shared_ptr<Database> db(new Database());
    cfb::Status status = cfb::CompoundFile::Open(std::move(source), &db->file_);
    if (status == cfb::Status::NotCompound) return OpenStatus::NotDatabase;
    if (status == cfb::Status::NoMemory) return OpenStatus::NoMemory;
    if (status != cfb::Status::Ok) return OpenStatus::Corrupt;
    // Databases, transforms and patches.
    const uint8_t* clsid = db->file_->RootClsid();
    if (std::memcmp(clsid + 1, kClsidDatabase + 1, 15) != 0 ||
        (clsid[0] != 0x84 && clsid[0] != 0x82 && clsid[0] != 0x86)) {
      return OpenStatus::NotDatabase;
    }
    int64_t poolId = db->file_->FindChild(EncodeStreamName(u"_StringPool", true));
    int64_t dataId = db->file_->FindChild(EncodeStreamName(u"_StringData", true));
    if (poolId < 0 || dataId < 0) return OpenStatus::NotDatabase;
    std::vector<uint8_t> pool;
    if (db->file_->ReadAll(static_cast<uint32_t>(poolId), &pool) != cfb::Status::Ok ||
        db->file_->ReadAll(static_cast<uint32_t>(dataId), &db->stringData_) != cfb::Status::Ok) {
      return OpenStatus::Corrupt;
    }
    OpenStatus loaded = db->strings_.Load(pool, db->stringData_.data(), db->stringData_.size());
    if (loaded != OpenStatus::Ok) return loaded;
    *out = std::move(db);
    return OpenStatus::Ok;
  } catch (const std::bad_alloc&) {
    return OpenStatus::NoMemory;
  }
}

TableStatus Database::LoadColumns(std::u16string_view name, std::vector<Column>* columns) {
  columns->clear();
  if (name == u"_Tables") {
    columns->push_back(Fixed(u"Name", kTypeValid | kTypeString | kTypeKey | kCatalogueNameWidth));
    return TableStatus::Ok;
  }
  if (name == u"_Columns") {
    columns->push_back(Fixed(u"Table", kTypeValid | kTypeString | kTypeKey | kCatalogueNameWidth));
    columns->push_back(Fixed(u"Number", kTypeValid | kTypeKey | kShortIntegerWidth));
    columns->push_back(Fixed(u"Name", kTypeValid | kTypeString | kCatalogueNameWidth));
    columns->push_back(Fixed(u"Type", kTypeValid | kShortIntegerWidth));
    return TableStatus::Ok;
  }
  uint32_t tableId = strings_.Find(name);
  if (tableId == 0) return TableStatus::Missing;
  std::shared_ptr<const Table> catalogue;
  TableStatus status = ColumnCatalogue(&catalogue);
  if (status != TableStatus::Ok) return status;
  const Table& c = *catalogue;
  const auto [first, last] = ColumnRows(tableId);
  const uint32_t matching = static_cast<uint32_t>(last - first);
  if (matching == 0) return TableStatus::Missing;
  columns->resize(matching);
  std::vector<uint8_t> filled(matching, 0);
  uint32_t placed = 0;
  for (const uint64_t* at = first; at != last; ++at) {
    const uint32_t row = static_cast<uint32_t>(*at);
    uint32_t number = (c.Cell(row, 1) - kShortIntegerBias) & 0xFFFF;
    if (number < 1 || number > matching || filled[number - 1] != 0) continue;
    filled[number - 1] = 1;
    Column& column = (*columns)[number - 1];
    StringRef columnName;
    if (strings_.Lookup(c.Cell(row, 2), &columnName)) column.name = columnName.ToString();
    column.type = (c.Cell(row, 3) - kShortIntegerBias) & 0xFFFF;
    ++placed;
  }
  return placed == matching ? TableStatus::Ok : TableStatus::Corrupt;
}

TableStatus Database::ColumnCatalogue(std::shared_ptr<const Table>* catalogue) {
  TableStatus status = GetTable(u"_Columns", catalogue);
  if (status != TableStatus::Ok) return status;
  std::call_once(columnsIndexed_, [this, catalogue] {
    const Table& c = **catalogue;
    std::vector<uint64_t> rows;
    rows.reserve(c.rowCount);
    for (uint32_t row = 0; row < c.rowCount; ++row) {
      rows.push_back((static_cast<uint64_t>(c.Cell(row, 0)) << 32) | row);
    }
    std::sort(rows.begin(), rows.end());
    columnRows_ = std::move(rows);
  });
  return TableStatus::Ok;
}

std::pair<const uint64_t*, const uint64_t*> Database::ColumnRows(uint32_t tableId) const {
  const uint64_t low = static_cast<uint64_t>(tableId) << 32;
  const uint64_t* begin = columnRows_.data();
  const uint64_t* end = begin + columnRows_.size();
  const uint64_t* first = std::lower_bound(begin, end, low);
  return {first, std::upper_bound(first, end, low | 0xFFFFFFFFu)};
}

TableStatus Database::LoadTable(std::u16string_view name, std::shared_ptr<Table>* out) {
  auto table = std::make_shared<Table>();
  table->name.assign(name);
  TableStatus status = LoadColumns(name, &table->columns);
  if (status != TableStatus::Ok) return status;
  uint64_t rowSize = 0;
  for (Column& column : table->columns) {
    column.bytes = CellBytes(column.type, strings_.RefBytes());
    rowSize += column.bytes;
    if (IsBinaryType(column.type)) table->hasBinary = true;
  }
  int64_t streamId = file_->FindChild(EncodeStreamName(name, true));
  if (streamId >= 0) {
    const cfb::DirEntry& entry = file_->Entry(static_cast<uint32_t>(streamId));
    if (entry.type == cfb::EntryType::Stream && entry.size != 0) {
      if (entry.size % rowSize != 0 || entry.size / rowSize > 0xFFFFFFFFu) return TableStatus::Corrupt;
      if (file_->ReadAll(static_cast<uint32_t>(streamId), &table->cells) != cfb::Status::Ok) {
        return TableStatus::Corrupt;
      }
      table->rowCount = static_cast<uint32_t>(entry.size / rowSize);
    }
  }
  uint64_t block = 0;
  for (Column& column : table->columns) {
    column.blockOffset = block;
    block += static_cast<uint64_t>(column.bytes) * table->rowCount;
  }
  *out = std::move(table);
  return TableStatus::Ok;
}

std::shared_ptr<Table> Database::VirtualTable(TableKind kind, const char16_t* name) {
  auto table = std::make_shared<Table>();
  table->kind = kind;
  table->name = name;
  table->columns.push_back(Fixed(u"Name", kTypeValid | kTypeString | kStreamNameWidth));
  table->columns.push_back(Fixed(u"Data", kTypeValid | kTypeString | kTypeNullable));
  if (kind == TableKind::Streams) {
    for (uint32_t id : file_->RootChildren()) {
      const cfb::DirEntry& entry = file_->Entry(id);
      if (entry.type == cfb::EntryType::Stream && !IsTableStreamName(entry.name)) NoteStreamUsed(id);
    }
    std::lock_guard<std::mutex> guard(lock_);
    table->entries = streamOrder_;
  } else {
    for (uint32_t id : file_->RootChildren()) {
      if (file_->Entry(id).type == cfb::EntryType::Storage) table->entries.push_back(id);
    }
  }
  table->rowCount = static_cast<uint32_t>(table->entries.size());
  return table;
}

TableStatus Database::GetTable(std::u16string_view name, std::shared_ptr<const Table>* out) {
  try {
    if (name == u"_Streams") {
      *out = VirtualTable(TableKind::Streams, u"_Streams");
      return TableStatus::Ok;
    }
    if (name == u"_Storages") {
      *out = VirtualTable(TableKind::Storages, u"_Storages");
      return TableStatus::Ok;
    }
    {
      std::lock_guard<std::mutex> guard(lock_);
      auto found = tables_.find(name);
      if (found != tables_.end()) {
        *out = found->second;
        return TableStatus::Ok;
      }
    }
    std::shared_ptr<Table> loaded;
    TableStatus status = LoadTable(name, &loaded);
    if (status != TableStatus::Ok) return status;
    std::lock_guard<std::mutex> guard(lock_);
    // Another thread may have published it meanwhile; keep the first.
    auto inserted = tables_.emplace(std::u16string(name), std::move(loaded));
    *out = inserted.first->second;
    return TableStatus::Ok;
  } catch (const std::bad_alloc&) {
    return TableStatus::NoMemory;
  }
}

void Database::FindSameNames() {
  const std::vector<uint32_t>& children = file_->RootChildren();
  uint32_t entries = 0;
  for (uint32_t id : children) entries = std::max(entries, id + 1);
  streamState_ = std::make_unique<std::atomic<uint8_t>[]>(entries);
  // Two raw names can decode alike (a character packed, or left as itself):
  // such names are rare, and found once by hash.
  std::vector<std::pair<uint64_t, uint32_t>> byHash;  // (hash of the decoded name, entry)
  byHash.reserve(children.size());
  for (uint32_t id : children) {
    if (file_->Entry(id).type != cfb::EntryType::Stream) continue;
    char16_t name[kMaxRowName];
    size_t n = 0;
    DecodeUnits(file_->Entry(id).name, [&name, &n](char16_t c) {
      if (n < kMaxRowName) name[n++] = c;
    });
    byHash.emplace_back(NameHash(name, n), id);
  }
  std::sort(byHash.begin(), byHash.end());
  for (size_t i = 0; i < byHash.size();) {
    size_t end = i + 1;
    while (end < byHash.size() && byHash[end].first == byHash[i].first) ++end;
    if (end - i > 1) {
      std::vector<std::pair<std::u16string, uint32_t>> named;
      for (size_t k = i; k < end; ++k) {
        named.emplace_back(DecodeStreamName(file_->Entry(byHash[k].second).name), byHash[k].second);
      }
      std::sort(named.begin(), named.end());
      for (size_t k = 1; k < named.size(); ++k) {
        if (named[k].first != named[k - 1].first) continue;
        const auto first = sameName_.emplace(named[k - 1].second, named[k - 1].second).first;
        sameName_[named[k].second] = first->second;
      }
    }
    i = end;
  }
}

void Database::NoteStreamUsed(uint32_t entry) {
  std::call_once(streamsIndexed_, [this] { FindSameNames(); });
  std::atomic<uint8_t>& state = streamState_[entry];
  if ((state.load(std::memory_order_acquire) & kStreamMet) != 0) return;
  std::lock_guard<std::mutex> guard(lock_);
  if ((state.load(std::memory_order_relaxed) & kStreamMet) != 0) return;
  auto same = sameName_.find(entry);
  std::atomic<uint8_t>& name = same == sameName_.end() ? state : streamState_[same->second];
  if ((name.load(std::memory_order_relaxed) & kStreamNameTaken) == 0) {
    streamOrder_.push_back(entry);
    name.fetch_or(kStreamNameTaken, std::memory_order_relaxed);
  }
  state.fetch_or(kStreamMet, std::memory_order_release);
}

int64_t Database::CellStream(const Table& table, uint32_t row) {
  // The name is put together in place: an encoded name holds 31 units of
  // two characters at most, so a longer one is in no file.
  constexpr size_t kLongest = 62;
  char16_t name[kLongest];
  size_t n = 0;
  bool tooLong = false;
  auto put = [&](char16_t c) {
    if (n < kLongest) {
      name[n++] = c;
    } else {
      tooLong = true;
    }
  };
  for (char16_t c : table.name) put(c);
  for (size_t i = 0; i < table.columns.size(); ++i) {
    const Column& column = table.columns[i];
    if (!(column.type & kTypeKey)) continue;
    uint32_t raw = table.Cell(row, i);
    put(u'.');
    if (column.type & kTypeString) {
      StringRef text;
      if (raw != 0 && !strings_.Lookup(raw, &text)) return -1;
      // The name ends at an embedded terminator, as a C string would.
      for (uint32_t k = 0; k < text.length && text.At(k) != 0; ++k) put(text.At(k));
    } else {
      char digits[16];
      const int32_t value = column.bytes == 2 ? static_cast<int32_t>(raw - kShortIntegerBias)
                                              : static_cast<int32_t>(raw ^ kLongIntegerBias);
      int count = std::snprintf(digits, sizeof digits, "%d", value);
      for (int k = 0; k < count; ++k) put(static_cast<char16_t>(digits[k]));
    }
  }
  if (tooLong) return -1;
  char16_t encoded[kLongest];
  size_t units = 0;
  EncodeUnits(std::u16string_view(name, n), [&encoded, &units](char16_t c) { encoded[units++] = c; });
  int64_t id = file_->FindChild(std::u16string_view(encoded, units));
  if (id < 0 || file_->Entry(static_cast<uint32_t>(id)).type != cfb::EntryType::Stream) return -1;
  NoteStreamUsed(static_cast<uint32_t>(id));
  return id;
}

TableStatus Database::PrimaryKeys(std::u16string_view name, std::vector<std::u16string>* keys) {
  try {
    keys->clear();
    const bool builtIn = name == u"_Tables" || name == u"_Columns" || name == u"_Streams" ||
                         name == u"_Storages";
    const std::vector<uint32_t> ids = strings_.FindAll(name);
    if (!builtIn) {
      // Named by _Tables, or unknown, whatever _Columns says.
      std::shared_ptr<const Table> tables;
      if (ids.empty() || GetTable(u"_Tables", &tables) != TableStatus::Ok) return TableStatus::Missing;
      std::call_once(tablesIndexed_, [this, &tables] {
        std::vector<uint32_t> named;
        named.reserve(tables->rowCount);
        for (uint32_t row = 0; row < tables->rowCount; ++row) named.push_back(tables->Cell(row, 0));
        std::sort(named.begin(), named.end());
        tableNames_ = std::move(named);
      });
      bool named = false;
      for (uint32_t id : ids) named = named || std::binary_search(tableNames_.begin(), tableNames_.end(), id);
      if (!named) return TableStatus::Missing;
    }
    std::shared_ptr<const Table> catalogue;
    TableStatus status = ColumnCatalogue(&catalogue);
    if (status != TableStatus::Ok) return status == TableStatus::NoMemory ? status : TableStatus::Corrupt;
    const Table& c = *catalogue;
    // The rows of every id holding the name, in stored order.
    std::vector<uint32_t> rows;
    for (uint32_t id : ids) {
      const auto [first, last] = ColumnRows(id);
      for (const uint64_t* at = first; at != last; ++at) rows.push_back(static_cast<uint32_t>(*at));
    }
    std::sort(rows.begin(), rows.end());
    StringRef text;
    for (uint32_t row : rows) {
      const uint32_t type = (c.Cell(row, 3) - kShortIntegerBias) & 0xFFFF;
      if (!(type & kTypeKey)) continue;
      keys->push_back(strings_.Lookup(c.Cell(row, 2), &text) ? text.ToString() : std::u16string());
    }
    return TableStatus::Ok;
  } catch (const std::bad_alloc&) {
    return TableStatus::NoMemory;
  }
}

std::vector<uint8_t> Database::SummaryBytes() const {
  std::vector<uint8_t> bytes;
  int64_t id = file_->FindChild(u"\005SummaryInformation");
  if (id < 0 || file_->Entry(static_cast<uint32_t>(id)).type != cfb::EntryType::Stream) return bytes;
  if (file_->ReadAll(static_cast<uint32_t>(id), &bytes) != cfb::Status::Ok) bytes.clear();
  return bytes;
}

}  // namespace msiarc::msidb
