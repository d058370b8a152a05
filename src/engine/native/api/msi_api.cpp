// The installer operations over the native reader.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "engine/msi_api.h"

#include "engine/native/api/handles.h"
#include "engine/native/api/open_memory.h"
#include "engine/native/msidb/database.h"
#include "engine/native/msidb/query.h"
#include "engine/native/msidb/summary.h"
#include "platform/linux/files.h"

namespace msiarc::engine {
namespace {

using msidb::Database;
using msidb::Table;
using platform::NativePath;

constexpr UINT kOutOfMemory = 14;
constexpr uint32_t kNoStream = 0xFFFFFFFF;

struct DatabaseObject final : Object {
  static constexpr Kind kKind = Kind::Database;
  explicit DatabaseObject(std::shared_ptr<Database> d) : Object(kKind), db(std::move(d)) {}
  std::shared_ptr<Database> db;
};

// A view's table, shared by the view and every record fetched from it: a
// record is its row, read from the table's cells when asked, and stays
// valid when the view and the database are closed.
class TableSource {
 public:
  TableSource(std::shared_ptr<Database> d, std::shared_ptr<const Table> t)
      : db(std::move(d)), table(std::move(t)) {}
  void Hold() { refs_.fetch_add(1, std::memory_order_relaxed); }
  void Drop() {
    if (refs_.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
  }
  const std::shared_ptr<Database> db;
  const std::shared_ptr<const Table> table;

 private:
  std::atomic<uint32_t> refs_{1};
};

struct ViewObject final : Object {
  static constexpr Kind kKind = Kind::View;
  explicit ViewObject(TableSource* s) : Object(kKind), source(s) {}
  ~ViewObject() override { source->Drop(); }
  TableSource* const source;
  // The next row to fetch, and whether the view is executed.
  static constexpr uint64_t kExecuted = uint64_t{1} << 32;
  std::atomic<uint64_t> cursor{0};
};

enum class FieldType : uint8_t { Null, Integer, String, Stream };

// What one field holds, for the length of one call.
struct FieldValue {
  FieldType type = FieldType::Null;
  bool narrow = false;  // text is 7-bit bytes rather than UTF-16
  int32_t integer = 0;
  uint32_t length = 0;  // string: units
  const void* text = nullptr;
  uint32_t stream = kNoStream;  // the stream's directory entry
  char16_t name[msidb::kMaxRowName];  // a virtual table's row name, decoded here

  char16_t At(size_t i) const {
    return narrow ? static_cast<const uint8_t*>(text)[i] : static_cast<const char16_t*>(text)[i];
  }
  void SetText(const void* data, uint32_t units, bool bytes) {
    if (units == 0) return;
    type = FieldType::String;
    text = data;
    length = units;
    narrow = bytes;
  }
};

// Where a record's reading of one stream field has got to. Each record reads
// its streams from byte 0 on, whatever other records of the same stream have
// read. (msi.dll under Wine keeps one position per stream, shared by every
// record holding it and set back to 0 when such a record is fetched; a
// caller that reads a stream through one record at a time, each fetched
// afresh, gets the same bytes from both.)
struct StreamReader {
  explicit StreamReader(UINT f, StreamReader* n) : field(f), next(n) {}
  const UINT field;
  StreamReader* const next;
  std::mutex lock;
  uint64_t position = 0;
  uint64_t held = 0;  // bytes the file holds, once laid out
  bool laidOut = false;
  bool endsEarly = false;  // reading past the bytes held fails
  size_t run = 0;          // the run the position is in
  std::vector<cfb::Run> runs;  // given back once the position is past them
};

struct RecordObject : Object {
  static constexpr Kind kKind = Kind::Record;
  RecordObject() : Object(kKind) {}
  ~RecordObject() override {
    for (StreamReader* r = readers.load(std::memory_order_acquire); r != nullptr;) {
      StreamReader* next = r->next;
      delete r;
      r = next;
    }
  }
  virtual UINT Count() const = 0;
  // field <= Count().
  virtual void Read(UINT field, FieldValue* out) const = 0;
  virtual const cfb::CompoundFile* File() const { return nullptr; }

  // The reader of a stream field, made on its first read.
  StreamReader* Reader(UINT field) {
    StreamReader* head = readers.load(std::memory_order_acquire);
    for (;;) {
      for (StreamReader* r = head; r != nullptr; r = r->next) {
        if (r->field == field) return r;
      }
      auto* made = new StreamReader(field, head);
      if (readers.compare_exchange_strong(head, made, std::memory_order_acq_rel)) return made;
      delete made;  // another call added one meanwhile: look again
    }
  }
  std::atomic<StreamReader*> readers{nullptr};
};

// The value of a non-null integer cell, stored with a bias.
int32_t IntegerOf(const msidb::Column& column, uint32_t raw) {
  return column.bytes == 2 ? static_cast<int32_t>(raw) - 0x8000 : static_cast<int32_t>(raw ^ 0x80000000u);
}

// A fetched row.
struct RowRecord final : RecordObject {
  RowRecord(TableSource* s, uint32_t r, uint32_t entry) : row(r), stream(entry), source(s) {
    source->Hold();
  }
  ~RowRecord() override { source->Drop(); }
  UINT Count() const override { return static_cast<UINT>(source->table->columns.size()); }
  const cfb::CompoundFile* File() const override { return &source->db->File(); }
  void Read(UINT field, FieldValue* out) const override;

  const uint32_t row;
  const uint32_t stream;  // the row's stream, kNoStream when it has none
  TableSource* const source;
};

void RowRecord::Read(UINT field, FieldValue* out) const {
  if (field == 0) {
    out->type = FieldType::Integer;
    out->integer = 1;
    return;
  }
  const Table& table = *source->table;
  const msidb::Column& column = table.columns[field - 1];
  if (msidb::IsBinaryType(column.type)) {
    if (stream != kNoStream) {
      out->type = FieldType::Stream;
      out->stream = stream;
    }
    return;
  }
  if (table.kind != msidb::TableKind::Ordinary) {  // the Name column
    size_t n = msidb::RowName(source->db->File(), table, row, out->name);
    out->SetText(out->name, static_cast<uint32_t>(n), false);
    return;
  }
  const uint32_t raw = table.Cell(row, field - 1);
  if (raw == 0) return;
  if (column.type & msidb::kTypeString) {
    msidb::StringRef text;
    if (source->db->Strings().Lookup(raw, &text)) out->SetText(text.data, text.length, text.narrow);
  } else {
    out->type = FieldType::Integer;
    out->integer = IntegerOf(column, raw);
  }
}

// A record of texts: column names or types, key columns. An empty text is
// a null field.
struct TextRecord final : RecordObject {
  explicit TextRecord(size_t count) : texts(count + 1) {}
  UINT Count() const override { return static_cast<UINT>(texts.size() - 1); }
  void Read(UINT field, FieldValue* out) const override {
    const std::u16string& text = texts[field];
    out->SetText(text.data(), static_cast<uint32_t>(text.size()), false);
  }
  std::vector<std::u16string> texts;  // texts[0] is field 0
};

struct SummaryObject final : Object {
  static constexpr Kind kKind = Kind::Summary;
  SummaryObject() : Object(kKind) {}
  msidb::SummaryInfo info;
};

template <typename F>
UINT Guarded(F&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return kOutOfMemory;
  } catch (...) {
    return ERROR_FUNCTION_FAILED;
  }
}

// Hands out a handle for a new object; the result code.
UINT Publish(std::unique_ptr<Object> object, MSIHANDLE* handle) {
  MSIHANDLE h = Handles().Add(std::move(object));
  if (h == 0) return kOutOfMemory;
  *handle = h;
  return ERROR_SUCCESS;
}

UINT OpenSource(std::unique_ptr<cfb::Source> source, MSIHANDLE* database) {
  std::shared_ptr<Database> db;
  msidb::OpenStatus status = Database::Open(std::move(source), &db);
  if (status == msidb::OpenStatus::NoMemory) return kOutOfMemory;
  if (status != msidb::OpenStatus::Ok) return ERROR_OPEN_FAILED;
  return Publish(std::make_unique<DatabaseObject>(std::move(db)), database);
}

// The stream a fetched row holds, noted as used when the table is an
// ordinary one. A stream whose recorded size the file cannot hold reads as
// null, like a stream that cannot be opened: nobody is told to set aside
// gigabytes for a few kilobytes of damaged file.
uint32_t RowStream(Database& db, const Table& table, uint32_t row) {
  int64_t entry = -1;
  if (table.kind == msidb::TableKind::Streams) {
    entry = table.entries[row];
  } else if (table.kind == msidb::TableKind::Ordinary && table.hasBinary) {
    entry = db.CellStream(table, row);
  }
  if (entry < 0 || !db.File().SizeFits(static_cast<uint32_t>(entry))) return kNoStream;
  return static_cast<uint32_t>(entry);
}

size_t FormatInteger(int32_t value, char16_t* out) {
  char16_t digits[12];
  size_t n = 0;
  uint32_t magnitude = value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
  do {
    digits[n++] = static_cast<char16_t>(u'0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  size_t len = 0;
  if (value < 0) out[len++] = u'-';
  while (n != 0) out[len++] = digits[--n];
  return len;
}

void CopyUnits(LPWSTR dest, const char16_t* text, size_t count) {
  if (count != 0) std::memcpy(dest, text, count * sizeof(char16_t));
}
void CopyUnits(LPWSTR dest, const uint8_t* text, size_t count) {
  for (size_t i = 0; i < count; ++i) dest[i] = text[i];
}

// Copies text of the given length into a buffer of *count units with the
// installer's length protocol; returns the result code.
template <typename Unit>
UINT CopyOut(const Unit* text, size_t length, LPWSTR buffer, DWORD* count) {
  UINT result = ERROR_SUCCESS;
  if (buffer != nullptr) {
    DWORD room = *count;
    if (room > length) {
      CopyUnits(buffer, text, length);
      buffer[length] = 0;
    } else {
      if (room > 0) {
        CopyUnits(buffer, text, room - 1);
        buffer[room - 1] = 0;
      }
      result = ERROR_MORE_DATA;
    }
  }
  *count = static_cast<DWORD>(length);
  return result;
}

UINT ReadStream(RecordObject& record, UINT field, uint32_t entry, char* buffer, DWORD* bytes) {
  const cfb::CompoundFile& file = *record.File();
  const uint64_t size = file.Entry(entry).size;
  if (buffer == nullptr) {
    // What is left to read: all of it until this field's first read.
    uint64_t position = 0;
    for (StreamReader* r = record.readers.load(std::memory_order_acquire); r != nullptr; r = r->next) {
      if (r->field != field) continue;
      std::lock_guard<std::mutex> guard(r->lock);
      position = r->position;
    }
    *bytes = static_cast<DWORD>(std::min<uint64_t>(size - std::min(position, size), 0xFFFFFFFFu));
    return ERROR_SUCCESS;
  }
  StreamReader& s = *record.Reader(field);
  std::lock_guard<std::mutex> guard(s.lock);
  if (!s.laidOut) {
    if (file.Layout(entry, &s.runs, &s.endsEarly) != cfb::Status::Ok) {
      s.runs.clear();
      *bytes = 0;
      return ERROR_FUNCTION_FAILED;
    }
    s.held = cfb::CompoundFile::Length(s.runs);
    s.laidOut = true;
  }
  // A file that ends inside the stream holds fewer bytes than its size
  // says: those it holds are read, then nothing. A file that has lost
  // bytes since it was opened fails the read, and so does a read past the
  // end of the mini stream.
  if (s.endsEarly && s.position >= s.held && s.position < size) {
    *bytes = 0;
    return ERROR_FUNCTION_FAILED;
  }
  size_t take = static_cast<size_t>(std::min<uint64_t>(*bytes, s.held - std::min(s.position, s.held)));
  if (file.Copy(s.runs, s.position, reinterpret_cast<uint8_t*>(buffer), take, &s.run) != cfb::Status::Ok) {
    *bytes = 0;
    return ERROR_FUNCTION_FAILED;
  }
  s.position += take;
  if (s.position >= s.held) std::vector<cfb::Run>().swap(s.runs);  // nothing more to read
  *bytes = static_cast<DWORD>(take);
  return ERROR_SUCCESS;
}

// Takes up to `wanted` of the view's next rows: *count of them from
// *first; ERROR_NO_MORE_ITEMS past the last (and the next fetch starts
// over).
UINT NextRows(ViewObject& view, uint32_t wanted, uint32_t* first, uint32_t* count) {
  const Table& table = *view.source->table;
  uint64_t cursor = view.cursor.load(std::memory_order_relaxed);
  for (;;) {
    if ((cursor & ViewObject::kExecuted) == 0) return ERROR_FUNCTION_FAILED;
    const uint32_t row = static_cast<uint32_t>(cursor);
    if (row >= table.rowCount) {
      if (view.cursor.compare_exchange_weak(cursor, ViewObject::kExecuted, std::memory_order_relaxed)) {
        return ERROR_NO_MORE_ITEMS;
      }
      continue;
    }
    const uint32_t taken = std::min(wanted, table.rowCount - row);
    if (view.cursor.compare_exchange_weak(cursor, cursor + taken, std::memory_order_relaxed)) {
      *first = row;
      *count = taken;
      return ERROR_SUCCESS;
    }
  }
}

}  // namespace

UINT OpenDatabaseFromMemory(const uint8_t* data, size_t size, MSIHANDLE* database) {
  return Guarded([&]() -> UINT {
    if (database == nullptr) return ERROR_INVALID_PARAMETER;
    *database = 0;
    if (data == nullptr || size == 0) return ERROR_OPEN_FAILED;
    return OpenSource(cfb::CopyBytes(data, size), database);
  });
}

}  // namespace msiarc::engine

using namespace msiarc::engine;

UINT MsiOpenDatabaseW(LPCWSTR path, LPCWSTR persist, MSIHANDLE* database) {
  return Guarded([&]() -> UINT {
    if (database == nullptr || path == nullptr) return ERROR_INVALID_PARAMETER;
    *database = 0;
    // Read-only is the only mode this engine has.
    if (persist != MSIDBOPEN_READONLY) return ERROR_INVALID_PARAMETER;
    std::unique_ptr<msiarc::cfb::Source> source = msiarc::cfb::OpenFile(NativePath(path).c_str());
    if (!source) return ERROR_OPEN_FAILED;
    return OpenSource(std::move(source), database);
  });
}

UINT MsiDatabaseOpenViewW(MSIHANDLE database, LPCWSTR query, MSIHANDLE* view) {
  return Guarded([&]() -> UINT {
    if (view == nullptr) return ERROR_INVALID_PARAMETER;
    *view = 0;
    Pinned<DatabaseObject> db(database);
    if (!db) return ERROR_INVALID_HANDLE;
    if (query == nullptr) return ERROR_BAD_QUERY_SYNTAX;
    std::u16string name;
    if (!msiarc::msidb::ParseSelectAll(std::u16string_view(query), &name)) return ERROR_BAD_QUERY_SYNTAX;
    std::shared_ptr<const msiarc::msidb::Table> table;
    msiarc::msidb::TableStatus status = db->db->GetTable(name, &table);
    if (status == msiarc::msidb::TableStatus::NoMemory) return kOutOfMemory;
    if (status != msiarc::msidb::TableStatus::Ok) return ERROR_BAD_QUERY_SYNTAX;
    auto* source = new TableSource(db->db, std::move(table));
    std::unique_ptr<ViewObject> object;
    try {
      object = std::make_unique<ViewObject>(source);
    } catch (...) {
      source->Drop();
      throw;
    }
    return Publish(std::move(object), view);
  });
}

UINT MsiDatabaseGetPrimaryKeysW(MSIHANDLE database, LPCWSTR table, MSIHANDLE* record) {
  return Guarded([&]() -> UINT {
    Pinned<DatabaseObject> db(database);
    if (!db) return ERROR_INVALID_HANDLE;
    if (table == nullptr || record == nullptr) return ERROR_INVALID_PARAMETER;
    std::u16string name(table);
    std::vector<std::u16string> keys;
    switch (db->db->PrimaryKeys(name, &keys)) {
      case msiarc::msidb::TableStatus::Ok:
        break;
      case msiarc::msidb::TableStatus::Missing:
        return ERROR_INVALID_TABLE;
      case msiarc::msidb::TableStatus::NoMemory:
        return kOutOfMemory;
      case msiarc::msidb::TableStatus::Corrupt:
        return ERROR_BAD_QUERY_SYNTAX;
    }
    // Field 0 holds the table's name once there is a key; fields 1..n the
    // key columns' names. On failure the caller's handle is left as it was.
    auto rec = std::make_unique<TextRecord>(keys.size());
    if (!keys.empty()) rec->texts[0] = name;
    std::move(keys.begin(), keys.end(), rec->texts.begin() + 1);
    return Publish(std::move(rec), record);
  });
}

UINT MsiViewExecute(MSIHANDLE view, MSIHANDLE) {
  return Guarded([&]() -> UINT {
    Pinned<ViewObject> v(view);
    if (!v) return ERROR_INVALID_HANDLE;
    v->cursor.store(ViewObject::kExecuted, std::memory_order_relaxed);
    return ERROR_SUCCESS;
  });
}

UINT MsiViewFetch(MSIHANDLE view, MSIHANDLE* record) {
  return Guarded([&]() -> UINT {
    if (record == nullptr) return ERROR_INVALID_PARAMETER;
    *record = 0;
    Pinned<ViewObject> v(view);
    if (!v) return ERROR_INVALID_HANDLE;
    uint32_t row = 0;
    uint32_t count = 0;
    if (const UINT next = NextRows(*v, 1, &row, &count); next != ERROR_SUCCESS) return next;
    const uint32_t stream = RowStream(*v->source->db, *v->source->table, row);
    return Publish(std::make_unique<RowRecord>(v->source, row, stream), record);
  });
}

UINT NativeViewFetchRows(MSIHANDLE view, NativeCell* cells, UINT columns, UINT rows,
                         UINT* fetched) {
  return Guarded([&]() -> UINT {
    if (cells == nullptr || fetched == nullptr || rows == 0) return ERROR_INVALID_PARAMETER;
    *fetched = 0;
    Pinned<ViewObject> v(view);
    if (!v) return ERROR_INVALID_HANDLE;
    const Table& table = *v->source->table;
    if (table.kind != msiarc::msidb::TableKind::Ordinary || table.hasBinary ||
        columns != table.columns.size()) {
      return ERROR_CALL_NOT_IMPLEMENTED;
    }
    uint32_t first = 0;
    if (const UINT next = NextRows(*v, rows, &first, fetched); next != ERROR_SUCCESS) return next;
    const msiarc::msidb::StringPool& strings = v->source->db->Strings();
    // Column by column, as the table stores its cells.
    for (UINT c = 0; c < columns; ++c) {
      const msiarc::msidb::Column& column = table.columns[c];
      const bool text = (column.type & msiarc::msidb::kTypeString) != 0;
      NativeCell* cell = cells + c;
      for (uint32_t row = first; row < first + *fetched; ++row, cell += columns) {
        *cell = NativeCell{nullptr, 0, 0, NativeCellType::Null, false};
        const uint32_t raw = table.Cell(row, c);
        msiarc::msidb::StringRef ref;
        if (raw == 0) continue;
        if (!text) {
          cell->type = NativeCellType::Integer;
          cell->integer = IntegerOf(column, raw);
        } else if (strings.Lookup(raw, &ref) && ref.length != 0) {
          *cell = NativeCell{ref.data, ref.length, 0, NativeCellType::String, ref.narrow};
        }
      }
    }
    return ERROR_SUCCESS;
  });
}

UINT MsiViewClose(MSIHANDLE view) {
  return Guarded([&]() -> UINT {
    Pinned<ViewObject> v(view);
    if (!v) return ERROR_INVALID_HANDLE;
    v->cursor.store(0, std::memory_order_relaxed);
    return ERROR_SUCCESS;
  });
}

UINT MsiViewGetColumnInfo(MSIHANDLE view, MSICOLINFO info, MSIHANDLE* record) {
  return Guarded([&]() -> UINT {
    if (record == nullptr) return ERROR_INVALID_PARAMETER;
    *record = 0;
    if (info != MSICOLINFO_NAMES && info != MSICOLINFO_TYPES) return ERROR_INVALID_PARAMETER;
    Pinned<ViewObject> v(view);
    if (!v) return ERROR_INVALID_HANDLE;
    const auto& columns = v->source->table->columns;
    auto rec = std::make_unique<TextRecord>(columns.size());
    for (size_t i = 0; i < columns.size(); ++i) {
      rec->texts[i + 1] = info == MSICOLINFO_NAMES ? columns[i].name
                                                   : msiarc::msidb::ColumnTypeText(columns[i].type);
    }
    return Publish(std::move(rec), record);
  });
}

UINT MsiRecordGetFieldCount(MSIHANDLE record) {
  return Guarded([&]() -> UINT {
    Pinned<RecordObject> r(record);
    if (!r) return 0xFFFFFFFFu;
    return r->Count();
  });
}

UINT MsiRecordGetStringW(MSIHANDLE record, UINT field, LPWSTR buffer, DWORD* length) {
  return Guarded([&]() -> UINT {
    Pinned<RecordObject> r(record);
    if (!r) return ERROR_INVALID_HANDLE;
    if (length == nullptr) return ERROR_INVALID_PARAMETER;
    if (field > r->Count()) {
      if (buffer != nullptr && *length > 0) buffer[0] = 0;
      *length = 0;
      return ERROR_SUCCESS;
    }
    FieldValue f;
    r->Read(field, &f);
    switch (f.type) {
      case FieldType::Integer: {
        char16_t digits[12];
        size_t n = FormatInteger(f.integer, digits);
        return CopyOut(digits, n, buffer, length);
      }
      case FieldType::String:
        if (f.narrow) return CopyOut(static_cast<const uint8_t*>(f.text), f.length, buffer, length);
        return CopyOut(static_cast<const char16_t*>(f.text), f.length, buffer, length);
      case FieldType::Null:
        return CopyOut(u"", 0, buffer, length);
      case FieldType::Stream:
        break;
    }
    // A stream has no text: length 0, the buffer untouched.
    UINT result = (buffer != nullptr && *length == 0) ? ERROR_MORE_DATA : ERROR_SUCCESS;
    *length = 0;
    return result;
  });
}

int MsiRecordGetInteger(MSIHANDLE record, UINT field) {
  try {
    Pinned<RecordObject> r(record);
    if (!r || field > r->Count()) return MSI_NULL_INTEGER;
    FieldValue f;
    r->Read(field, &f);
    if (f.type == FieldType::Integer) return f.integer;
    if (f.type != FieldType::String) return MSI_NULL_INTEGER;
    // A string converts when it is an optional '-' and decimal digits only,
    // read as a C string: up to its first NUL.
    size_t i = 0;
    bool negative = false;
    if (f.length > 0 && f.At(0) == u'-') {
      negative = true;
      i = 1;
    }
    uint32_t value = 0;
    for (; i < f.length; ++i) {
      char16_t c = f.At(i);
      if (c == 0) break;
      if (c < u'0' || c > u'9') return MSI_NULL_INTEGER;
      value = value * 10 + static_cast<uint32_t>(c - u'0');
    }
    if (negative) value = 0u - value;
    return static_cast<int>(value);
  } catch (...) {
    return MSI_NULL_INTEGER;
  }
}

UINT MsiRecordDataSize(MSIHANDLE record, UINT field) {
  return Guarded([&]() -> UINT {
    Pinned<RecordObject> r(record);
    if (!r || field > r->Count()) return 0;
    FieldValue f;
    r->Read(field, &f);
    switch (f.type) {
      case FieldType::Integer:
        return sizeof(int32_t);
      case FieldType::String:
        return f.length;
      case FieldType::Stream:
        return static_cast<UINT>(r->File()->Entry(f.stream).size);
      case FieldType::Null:
        break;
    }
    return 0;
  });
}

UINT MsiRecordReadStream(MSIHANDLE record, UINT field, char* buffer, DWORD* bytes) {
  return Guarded([&]() -> UINT {
    Pinned<RecordObject> r(record);
    if (!r) return ERROR_INVALID_HANDLE;
    if (bytes == nullptr || field > r->Count()) return ERROR_INVALID_PARAMETER;
    FieldValue f;
    r->Read(field, &f);
    if (f.type == FieldType::Null) {
      *bytes = 0;
      return ERROR_INVALID_DATA;
    }
    if (f.type != FieldType::Stream) return ERROR_INVALID_DATATYPE;
    return ReadStream(*r, field, f.stream, buffer, bytes);
  });
}

UINT MsiGetSummaryInformationW(MSIHANDLE database, LPCWSTR path, UINT, MSIHANDLE* summary) {
  return Guarded([&]() -> UINT {
    if (summary == nullptr) return ERROR_INVALID_PARAMETER;
    *summary = 0;
    std::shared_ptr<Database> db;
    if (path != nullptr && path[0] != 0) {
      // A path names a database of its own, opened read-only for this.
      std::unique_ptr<msiarc::cfb::Source> source = msiarc::cfb::OpenFile(NativePath(path).c_str());
      if (!source) return ERROR_OPEN_FAILED;
      msiarc::msidb::OpenStatus status = Database::Open(std::move(source), &db);
      if (status == msiarc::msidb::OpenStatus::NoMemory) return kOutOfMemory;
      if (status != msiarc::msidb::OpenStatus::Ok) return ERROR_OPEN_FAILED;
    } else {
      Pinned<DatabaseObject> d(database);
      if (!d) return ERROR_INVALID_HANDLE;
      db = d->db;
    }
    auto object = std::make_unique<SummaryObject>();
    object->info = msiarc::msidb::ParseSummary(db->SummaryBytes());
    return Publish(std::move(object), summary);
  });
}

UINT MsiSummaryInfoGetPropertyCount(MSIHANDLE summary, UINT* count) {
  return Guarded([&]() -> UINT {
    Pinned<SummaryObject> s(summary);
    if (!s) return ERROR_INVALID_HANDLE;
    if (count != nullptr) *count = s->info.Count();
    return ERROR_SUCCESS;
  });
}

UINT MsiSummaryInfoGetPropertyW(MSIHANDLE summary, UINT property, UINT* type, INT* integer,
                                FILETIME* time, LPWSTR buffer, DWORD* length) {
  return Guarded([&]() -> UINT {
    Pinned<SummaryObject> s(summary);
    if (!s) return ERROR_INVALID_HANDLE;
    if (property >= msiarc::msidb::kSummarySlots) {
      if (type != nullptr) *type = VT_EMPTY;
      return ERROR_UNKNOWN_PROPERTY;
    }
    const msiarc::msidb::SummaryProperty& p = s->info.slots[property];
    if (type != nullptr) *type = p.type;
    switch (p.type) {
      case VT_I2:
      case VT_I4:
        if (integer != nullptr) *integer = p.integer;
        return ERROR_SUCCESS;
      case VT_FILETIME:
        if (time != nullptr) {
          time->dwLowDateTime = static_cast<DWORD>(p.filetime);
          time->dwHighDateTime = static_cast<DWORD>(p.filetime >> 32);
        }
        return ERROR_SUCCESS;
      case VT_LPSTR: {
        if (length == nullptr) return ERROR_SUCCESS;
        // Asked for the length only, the answer still says whether the
        // caller's count would have been enough.
        bool fits = *length > p.text.size();
        UINT result = CopyOut(p.text.data(), p.text.size(), buffer, length);
        return buffer == nullptr && !fits ? ERROR_MORE_DATA : result;
      }
      default:
        return ERROR_SUCCESS;
    }
  });
}

UINT MsiCloseHandle(MSIHANDLE handle) {
  return Guarded([&]() -> UINT {
    if (handle == 0) return ERROR_SUCCESS;
    return Handles().Close(handle) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
  });
}
