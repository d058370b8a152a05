// An installer database over a compound file: the string pool, the column
// catalogue, tables loaded on first use, the stream of a binary cell, and
// the virtual tables _Streams and _Storages.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "engine/native/cfb/compound_file.h"

namespace msiarc::msidb {

enum class OpenStatus : uint8_t { Ok, NotDatabase, Corrupt, NoMemory };
enum class TableStatus : uint8_t { Ok, Missing, Corrupt, NoMemory };

// Column type bits as stored in _Columns.Type (Wine's MSITYPE_*).
constexpr uint32_t kTypeWidthMask = 0x00FF;
constexpr uint32_t kTypeValid = 0x0100;
constexpr uint32_t kTypeLocalizable = 0x0200;
constexpr uint32_t kTypeString = 0x0800;
constexpr uint32_t kTypeNullable = 0x1000;
constexpr uint32_t kTypeKey = 0x2000;
constexpr uint32_t kTypeTemporary = 0x4000;
constexpr uint32_t kTypeUnknown = 0x8000;

inline bool IsBinaryType(uint32_t type) { return (type & ~kTypeNullable) == (kTypeString | kTypeValid); }

// Widths of the fixed columns: table and column names in the catalogue,
// stream names, and 2-byte integers.
constexpr uint32_t kCatalogueNameWidth = 64;
constexpr uint32_t kStreamNameWidth = 62;
constexpr uint32_t kShortIntegerWidth = 2;

// Integer cells are stored biased, so that 0 is null: a 2-byte cell holds
// the value plus 0x8000 in 16 bits, a 4-byte cell the value with its top
// bit flipped.
constexpr uint32_t kShortIntegerBias = 0x8000;
constexpr uint32_t kLongIntegerBias = 0x80000000;

// Stream names: the database's 6-bit packing of [0-9A-Za-z._].
std::u16string EncodeStreamName(std::u16string_view name, bool table);
std::u16string DecodeStreamName(std::u16string_view raw);

// "s72", "S255", "L0", "i2", "V0", ...
std::u16string ColumnTypeText(uint32_t type);

// A pool string: 7-bit text (the same in every code page) read in place as
// bytes, anything else converted to UTF-16 once.
struct StringRef {
  const void* data = nullptr;
  uint32_t length = 0;
  bool narrow = false;

  char16_t At(size_t i) const {
    return narrow ? static_cast<const uint8_t*>(data)[i] : static_cast<const char16_t*>(data)[i];
  }
  std::u16string ToString() const;
  bool Equals(std::u16string_view text) const;
  bool Equals(const StringRef& other) const;
};

class StringPool {
 public:
  StringPool() = default;
  StringPool(const StringPool&) = delete;
  StringPool& operator=(const StringPool&) = delete;

  // pool is the raw _StringPool stream; data the _StringData bytes, which
  // must outlive the pool.
  OpenStatus Load(const std::vector<uint8_t>& pool, const uint8_t* data, size_t dataSize);
  uint32_t CodePage() const { return codePage_; }
  uint32_t RefBytes() const { return longRefs_ ? 3 : 2; }
  // The string of an id; false for id 0, holes and ids out of range.
  bool Lookup(uint32_t id, StringRef* out) const {
    if (id == 0 || id >= start_.size() || start_[id] == kNone) return false;
    out->narrow = (length_[id] & kNarrow) != 0;
    out->length = length_[id] & ~kNarrow;
    out->data = out->narrow ? static_cast<const void*>(data_ + start_[id])
                            : static_cast<const void*>(text_.data() + start_[id]);
    return true;
  }
  // The lowest id holding exactly this text, 0 if none. After a few calls
  // the pool is indexed by hash (throws std::bad_alloc when it cannot).
  uint32_t Find(std::u16string_view text) const;
  // Every id holding exactly this text, lowest first.
  std::vector<uint32_t> FindAll(std::u16string_view text) const;
  size_t Count() const { return start_.size(); }

 private:
  static constexpr uint32_t kNone = 0xFFFFFFFF;
  static constexpr uint32_t kNarrow = 0x80000000;
  bool Indexed() const;
  void BuildIndex() const;

  uint32_t codePage_ = 0;
  bool longRefs_ = false;
  const uint8_t* data_ = nullptr;
  std::u16string text_;            // the converted strings
  std::vector<uint32_t> start_;    // per id: offset in data_ or text_; kNone if unresolvable
  std::vector<uint32_t> length_;   // per id: units, top bit set for strings read in place
  mutable std::atomic<uint32_t> lookups_{0};
  mutable std::once_flag indexed_;
  mutable std::vector<uint32_t> index_;     // the lowest id of each text, by hash
  mutable unsigned indexBits_ = 0;          // index_ holds 2^indexBits_ slots
  mutable std::vector<uint32_t> sameText_;  // per id: the next id of its text, 0 at the end
                                            // (empty while no text is held twice)
};

enum class TableKind : uint8_t { Ordinary, Streams, Storages };

struct Column {
  std::u16string name;
  uint32_t type = 0;
  uint32_t bytes = 0;        // cell width on disk
  uint64_t blockOffset = 0;  // where this column's cells begin
};

struct Table {
  TableKind kind = TableKind::Ordinary;
  std::u16string name;
  std::vector<Column> columns;
  uint32_t rowCount = 0;
  bool hasBinary = false;
  std::vector<uint8_t> cells;     // column-major
  std::vector<uint32_t> entries;  // virtual tables: the directory entry of each row

  uint32_t Cell(uint32_t row, size_t column) const {
    const Column& c = columns[column];
    const uint8_t* p = cells.data() + c.blockOffset + static_cast<uint64_t>(row) * c.bytes;
    uint32_t v = p[0] | (static_cast<uint32_t>(p[1]) << 8);
    if (c.bytes >= 3) v |= static_cast<uint32_t>(p[2]) << 16;
    if (c.bytes == 4) v |= static_cast<uint32_t>(p[3]) << 24;
    return v;
  }
};

// The Name of a virtual table's row: _Streams shows stream names decoded,
// _Storages storage names as stored. Names hold 31 units at most, and
// decode to 62 at most.
constexpr size_t kMaxRowName = 64;
size_t RowName(const cfb::CompoundFile& file, const Table& table, uint32_t row,
               char16_t (&out)[kMaxRowName]);

class Database {
 public:
  static OpenStatus Open(std::unique_ptr<cfb::Source> source, std::shared_ptr<Database>* out);

  const cfb::CompoundFile& File() const { return *file_; }
  const StringPool& Strings() const { return strings_; }

  // The table of a query; tables are loaded once and shared.
  TableStatus GetTable(std::u16string_view name, std::shared_ptr<const Table>* out);

  // The stream named by a row's keys (binary cells); -1 when it does not exist.
  int64_t CellStream(const Table& table, uint32_t row);

  // The names of a table's key columns, as msi.dll answers them: the table
  // is one of _Tables, _Columns, _Streams and _Storages (no keys), or one
  // that _Tables names (Missing otherwise); its keys are the _Columns rows
  // of that name whose type has the key bit, in stored order. Corrupt when
  // _Tables or _Columns cannot be read.
  TableStatus PrimaryKeys(std::u16string_view name, std::vector<std::u16string>* keys);

  // The raw summary information stream, empty if absent or unreadable.
  std::vector<uint8_t> SummaryBytes() const;

 private:
  Database() = default;
  TableStatus LoadTable(std::u16string_view name, std::shared_ptr<Table>* out);
  TableStatus LoadColumns(std::u16string_view name, std::vector<Column>* columns);
  // _Columns, with its rows indexed by table once per database.
  TableStatus ColumnCatalogue(std::shared_ptr<const Table>* catalogue);
  // The rows of _Columns whose Table cell holds this string id, in stored order.
  std::pair<const uint64_t*, const uint64_t*> ColumnRows(uint32_t tableId) const;
  void NoteStreamUsed(uint32_t entry);
  void FindSameNames();
  std::shared_ptr<Table> VirtualTable(TableKind kind, const char16_t* name);

  std::unique_ptr<cfb::CompoundFile> file_;
  std::vector<uint8_t> stringData_;
  StringPool strings_;
  std::mutex lock_;
  std::map<std::u16string, std::shared_ptr<const Table>, std::less<>> tables_;
  std::once_flag columnsIndexed_;
  std::vector<uint64_t> columnRows_;  // (Table id << 32) | row, sorted
  std::once_flag tablesIndexed_;
  std::vector<uint32_t> tableNames_;  // the string ids _Tables holds, sorted
  // Streams in the order the _Streams table lists them: those opened through
  // binary cells first, in the order they were first opened, then the rest.
  // A decoded name is listed once, even when the directory holds it twice.
  std::vector<uint32_t> streamOrder_;
  std::once_flag streamsIndexed_;
  std::unique_ptr<std::atomic<uint8_t>[]> streamState_;  // per directory entry
  std::unordered_map<uint32_t, uint32_t> sameName_;      // entry -> first entry of its decoded name
};

}  // namespace msiarc::msidb
