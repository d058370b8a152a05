// The installer operations over the native reader.
#include <algorithm>
#include <cstring>
#include <new>
#include <string>

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

struct DatabaseObject final : Object {
  static constexpr Kind kKind = Kind::Database;
  explicit DatabaseObject(std::shared_ptr<Database> d) : Object(kKind), db(std::move(d)) {}
  std::shared_ptr<Database> db;
};

struct ViewObject final : Object {
  static constexpr Kind kKind = Kind::View;
  ViewObject(std::shared_ptr<Database> d, std::shared_ptr<const Table> t)
      : Object(kKind), db(std::move(d)), table(std::move(t)) {}
  std::shared_ptr<Database> db;
  std::shared_ptr<const Table> table;
  std::mutex lock;
  uint32_t cursor = 0;
  bool executed = false;
};

enum class FieldType : uint8_t { Null, Integer, String, Stream };

struct Field {
  FieldType type = FieldType::Null;
  bool narrow = false;  // text is 7-bit bytes rather than UTF-16
  int32_t integer = 0;
  uint32_t length = 0;  // string: units; stream: index into streams
  const void* text = nullptr;

  char16_t At(size_t i) const {
    return narrow ? static_cast<const uint8_t*>(text)[i] : static_cast<const char16_t*>(text)[i];
  }
};

struct StreamField {
  uint32_t entry = 0;
  uint64_t size = 0;
  uint64_t position = 0;
  uint64_t held = 0;  // bytes the file holds, once laid out
  bool laidOut = false;
  bool endsEarly = false;  // reading past the bytes held fails
  std::vector<cfb::Run> runs;
};

struct RecordObject final : Object {
  static constexpr Kind kKind = Kind::Record;
  RecordObject() : Object(kKind) {}
  std::shared_ptr<Database> db;
  std::shared_ptr<const Table> table;  // keeps row names alive
  std::vector<Field> fields;           // fields[0] is field 0
  std::vector<StreamField> streams;
  std::vector<std::u16string> owned;
  std::mutex lock;
  UINT Count() const { return static_cast<UINT>(fields.size() - 1); }
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

UINT OpenSource(std::unique_ptr<cfb::Source> source, MSIHANDLE* database) {
  std::shared_ptr<Database> db;
  msidb::OpenStatus status = Database::Open(std::move(source), &db);
  if (status == msidb::OpenStatus::NoMemory) return kOutOfMemory;
  if (status != msidb::OpenStatus::Ok) return ERROR_OPEN_FAILED;
  MSIHANDLE handle = Handles().Add(std::make_shared<DatabaseObject>(std::move(db)));
  if (handle == 0) return kOutOfMemory;
  *database = handle;
  return ERROR_SUCCESS;
}

void FillRow(RecordObject& rec, Database& db, const Table& table, uint32_t row) {
  size_t n = table.columns.size();
  rec.fields.resize(n + 1);
  rec.fields[0].type = FieldType::Integer;
  rec.fields[0].integer = 1;
  auto setStream = [&rec, &db](Field& f, uint32_t entry) {
    // A stream whose recorded size the file cannot hold reads as null, like a
    // stream that cannot be opened: nobody is told to set aside gigabytes for
    // a few kilobytes of damaged file.
    if (!db.File().SizeFits(entry)) return;
    f.type = FieldType::Stream;
    f.length = static_cast<uint32_t>(rec.streams.size());
    StreamField s;
    s.entry = entry;
    s.size = db.File().Entry(entry).size;
    rec.streams.push_back(std::move(s));
  };
  if (table.kind != msidb::TableKind::Ordinary) {
    const std::u16string& name = table.names[row];
    if (!name.empty()) {
      rec.fields[1].type = FieldType::String;
      rec.fields[1].text = name.data();
      rec.fields[1].length = static_cast<uint32_t>(name.size());
    }
    if (table.kind == msidb::TableKind::Streams) setStream(rec.fields[2], table.entries[row]);
    return;
  }
  const msidb::StringPool& strings = db.Strings();
  int64_t stream = -2;  // looked up once per row, for the first binary column
  for (size_t c = 0; c < n; ++c) {
    const msidb::Column& column = table.columns[c];
    Field& f = rec.fields[c + 1];
    if (msidb::IsBinaryType(column.type)) {
      if (stream == -2) stream = db.CellStream(table, row);
      if (stream >= 0) setStream(f, static_cast<uint32_t>(stream));
      continue;
    }
    uint32_t raw = table.Cell(row, c);
    if (raw == 0) continue;
    if (column.type & msidb::kTypeString) {
      msidb::StringRef text;
      if (strings.Lookup(raw, &text) && text.length != 0) {
        f.type = FieldType::String;
        f.text = text.data;
        f.narrow = text.narrow;
        f.length = text.length;
      }
    } else if (column.bytes == 2) {
      f.type = FieldType::Integer;
      f.integer = static_cast<int32_t>(raw) - 0x8000;
    } else {
      f.type = FieldType::Integer;
      f.integer = static_cast<int32_t>(raw ^ 0x80000000u);
    }
  }
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
    auto db = Lookup<DatabaseObject>(database);
    if (!db) return ERROR_INVALID_HANDLE;
    if (query == nullptr) return ERROR_BAD_QUERY_SYNTAX;
    std::u16string name;
    if (!msiarc::msidb::ParseSelectAll(std::u16string_view(query), &name)) return ERROR_BAD_QUERY_SYNTAX;
    std::shared_ptr<const msiarc::msidb::Table> table;
    msiarc::msidb::TableStatus status = db->db->GetTable(name, &table);
    if (status == msiarc::msidb::TableStatus::NoMemory) return kOutOfMemory;
    if (status != msiarc::msidb::TableStatus::Ok) return ERROR_BAD_QUERY_SYNTAX;
    MSIHANDLE handle = Handles().Add(std::make_shared<ViewObject>(db->db, std::move(table)));
    if (handle == 0) return kOutOfMemory;
    *view = handle;
    return ERROR_SUCCESS;
  });
}

UINT MsiDatabaseGetPrimaryKeysW(MSIHANDLE database, LPCWSTR table, MSIHANDLE* record) {
  return Guarded([&]() -> UINT {
    auto db = Lookup<DatabaseObject>(database);
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
    auto rec = std::make_shared<RecordObject>();
    rec->db = db->db;
    rec->fields.resize(keys.size() + 1);
    rec->owned.reserve(keys.size() + 1);
    auto set = [&rec](size_t field, const std::u16string& value) {
      rec->owned.push_back(value);
      const std::u16string& text = rec->owned.back();
      if (text.empty()) return;
      Field& f = rec->fields[field];
      f.type = FieldType::String;
      f.text = text.data();
      f.length = static_cast<uint32_t>(text.size());
    };
    if (!keys.empty()) set(0, name);
    for (size_t i = 0; i < keys.size(); ++i) set(i + 1, keys[i]);
    MSIHANDLE handle = Handles().Add(std::move(rec));
    if (handle == 0) return kOutOfMemory;
    *record = handle;
    return ERROR_SUCCESS;
  });
}

UINT MsiViewExecute(MSIHANDLE view, MSIHANDLE) {
  return Guarded([&]() -> UINT {
    auto v = Lookup<ViewObject>(view);
    if (!v) return ERROR_INVALID_HANDLE;
    std::lock_guard<std::mutex> guard(v->lock);
    v->cursor = 0;
    v->executed = true;
    return ERROR_SUCCESS;
  });
}

UINT MsiViewFetch(MSIHANDLE view, MSIHANDLE* record) {
  return Guarded([&]() -> UINT {
    if (record == nullptr) return ERROR_INVALID_PARAMETER;
    *record = 0;
    auto v = Lookup<ViewObject>(view);
    if (!v) return ERROR_INVALID_HANDLE;
    uint32_t row;
    {
      std::lock_guard<std::mutex> guard(v->lock);
      if (!v->executed) return ERROR_FUNCTION_FAILED;
      if (v->cursor >= v->table->rowCount) {
        v->cursor = 0;  // a further fetch starts over
        return ERROR_NO_MORE_ITEMS;
      }
      row = v->cursor++;
    }
    auto rec = std::make_shared<RecordObject>();
    rec->db = v->db;
    rec->table = v->table;
    FillRow(*rec, *v->db, *v->table, row);
    MSIHANDLE handle = Handles().Add(std::move(rec));
    if (handle == 0) return kOutOfMemory;
    *record = handle;
    return ERROR_SUCCESS;
  });
}

UINT MsiViewClose(MSIHANDLE view) {
  return Guarded([&]() -> UINT {
    auto v = Lookup<ViewObject>(view);
    if (!v) return ERROR_INVALID_HANDLE;
    std::lock_guard<std::mutex> guard(v->lock);
    v->executed = false;
    v->cursor = 0;
    return ERROR_SUCCESS;
  });
}

UINT MsiViewGetColumnInfo(MSIHANDLE view, MSICOLINFO info, MSIHANDLE* record) {
  return Guarded([&]() -> UINT {
    if (record == nullptr) return ERROR_INVALID_PARAMETER;
    *record = 0;
    if (info != MSICOLINFO_NAMES && info != MSICOLINFO_TYPES) return ERROR_INVALID_PARAMETER;
    auto v = Lookup<ViewObject>(view);
    if (!v) return ERROR_INVALID_HANDLE;
    const auto& columns = v->table->columns;
    auto rec = std::make_shared<RecordObject>();
    rec->db = v->db;
    rec->fields.resize(columns.size() + 1);
    rec->owned.reserve(columns.size());
    for (size_t i = 0; i < columns.size(); ++i) {
      rec->owned.push_back(info == MSICOLINFO_NAMES ? columns[i].name
                                                    : msiarc::msidb::ColumnTypeText(columns[i].type));
      const std::u16string& text = rec->owned.back();
      if (text.empty()) continue;
      Field& f = rec->fields[i + 1];
      f.type = FieldType::String;
      f.text = text.data();
      f.length = static_cast<uint32_t>(text.size());
    }
    MSIHANDLE handle = Handles().Add(std::move(rec));
    if (handle == 0) return kOutOfMemory;
    *record = handle;
    return ERROR_SUCCESS;
  });
}

UINT MsiRecordGetFieldCount(MSIHANDLE record) {
  return Guarded([&]() -> UINT {
    auto r = Lookup<RecordObject>(record);
    if (!r) return 0xFFFFFFFFu;
    return r->Count();
  });
}

UINT MsiRecordGetStringW(MSIHANDLE record, UINT field, LPWSTR buffer, DWORD* length) {
  return Guarded([&]() -> UINT {
    auto r = Lookup<RecordObject>(record);
    if (!r) return ERROR_INVALID_HANDLE;
    if (length == nullptr) return ERROR_INVALID_PARAMETER;
    if (field > r->Count()) {
      if (buffer != nullptr && *length > 0) buffer[0] = 0;
      *length = 0;
      return ERROR_SUCCESS;
    }
    const Field& f = r->fields[field];
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
    auto r = Lookup<RecordObject>(record);
    if (!r || field > r->Count()) return MSI_NULL_INTEGER;
    const Field& f = r->fields[field];
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
    auto r = Lookup<RecordObject>(record);
    if (!r || field > r->Count()) return 0;
    const Field& f = r->fields[field];
    switch (f.type) {
      case FieldType::Integer:
        return sizeof(int32_t);
      case FieldType::String:
        return f.length;
      case FieldType::Stream:
        return static_cast<UINT>(r->streams[f.length].size);
      case FieldType::Null:
        break;
    }
    return 0;
  });
}

UINT MsiRecordReadStream(MSIHANDLE record, UINT field, char* buffer, DWORD* bytes) {
  return Guarded([&]() -> UINT {
    auto r = Lookup<RecordObject>(record);
    if (!r) return ERROR_INVALID_HANDLE;
    if (bytes == nullptr || field > r->Count()) return ERROR_INVALID_PARAMETER;
    const Field& f = r->fields[field];
    if (f.type == FieldType::Null) {
      *bytes = 0;
      return ERROR_INVALID_DATA;
    }
    if (f.type != FieldType::Stream) return ERROR_INVALID_DATATYPE;
    std::lock_guard<std::mutex> guard(r->lock);
    StreamField& s = r->streams[f.length];
    uint64_t remaining = s.size - std::min(s.position, s.size);
    if (buffer == nullptr) {
      *bytes = static_cast<DWORD>(std::min<uint64_t>(remaining, 0xFFFFFFFFu));
      return ERROR_SUCCESS;
    }
    const msiarc::cfb::CompoundFile& file = r->db->File();
    if (!s.laidOut) {
      if (file.Layout(s.entry, &s.runs, &s.endsEarly) != msiarc::cfb::Status::Ok) {
        *bytes = 0;
        return ERROR_FUNCTION_FAILED;
      }
      s.held = msiarc::cfb::CompoundFile::Length(s.runs);
      s.laidOut = true;
    }
    // A file that ends inside the stream holds fewer bytes than its size
    // says: those it holds are read, then nothing. A file that has lost
    // bytes since it was opened fails the read, and so does a read past the
    // end of the mini stream.
    if (s.endsEarly && s.position >= s.held && s.position < s.size) {
      *bytes = 0;
      return ERROR_FUNCTION_FAILED;
    }
    size_t take = static_cast<size_t>(std::min<uint64_t>(*bytes, s.held - std::min(s.position, s.held)));
    if (file.Copy(s.runs, s.position, reinterpret_cast<uint8_t*>(buffer), take) != msiarc::cfb::Status::Ok) {
      *bytes = 0;
      return ERROR_FUNCTION_FAILED;
    }
    s.position += take;
    *bytes = static_cast<DWORD>(take);
    return ERROR_SUCCESS;
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
      auto d = Lookup<DatabaseObject>(database);
      if (!d) return ERROR_INVALID_HANDLE;
      db = d->db;
    }
    auto object = std::make_shared<SummaryObject>();
    object->info = msiarc::msidb::ParseSummary(db->SummaryBytes());
    MSIHANDLE handle = Handles().Add(std::move(object));
    if (handle == 0) return kOutOfMemory;
    *summary = handle;
    return ERROR_SUCCESS;
  });
}

UINT MsiSummaryInfoGetPropertyCount(MSIHANDLE summary, UINT* count) {
  return Guarded([&]() -> UINT {
    auto s = Lookup<SummaryObject>(summary);
    if (!s) return ERROR_INVALID_HANDLE;
    if (count != nullptr) *count = s->info.Count();
    return ERROR_SUCCESS;
  });
}

UINT MsiSummaryInfoGetPropertyW(MSIHANDLE summary, UINT property, UINT* type, INT* integer,
                                FILETIME* time, LPWSTR buffer, DWORD* length) {
  return Guarded([&]() -> UINT {
    auto s = Lookup<SummaryObject>(summary);
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
