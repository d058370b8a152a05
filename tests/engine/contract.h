// Helpers for the engine contract tests: the same assertions run natively
// against our engine and, in the Windows build, against msi.dll under wine.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/msi_api.h"
#include "text/text.h"

namespace contract {

inline WString Widen(const std::string& s) {  // ASCII paths and queries
  return WString(s.begin(), s.end());
}

// For messages: every unit above 0x7F becomes '?'.
inline std::string Narrow(const WString& s) {
  std::string n;
  for (WCHAR c : s) n += c < 0x80 ? static_cast<char>(c) : '?';
  return n;
}

inline WString FixturePath(const char* name) {
  return Widen(std::string(MSIARC_FIXTURE_DIR "/") + name);
}

// Owns one handle of any kind.
class Handle {
 public:
  Handle() = default;
  explicit Handle(MSIHANDLE h) : h_(h) {}
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  Handle(Handle&& other) noexcept : h_(other.h_) { other.h_ = 0; }
  ~Handle() {
    if (h_) MsiCloseHandle(h_);
  }
  MSIHANDLE get() const { return h_; }
  MSIHANDLE* out() { return &h_; }
  MSIHANDLE release() {
    MSIHANDLE h = h_;
    h_ = 0;
    return h;
  }

 private:
  MSIHANDLE h_ = 0;
};

inline Handle OpenFixture(const char* name) {
  Handle db;
  WString path = FixturePath(name);
  UINT rc = MsiOpenDatabaseW(path.c_str(), MSIDBOPEN_READONLY, db.out());
  EXPECT_EQ(rc, 0u) << name;
  return db;
}

inline UINT OpenView(MSIHANDLE db, const WString& query, Handle& view) {
  return MsiDatabaseOpenViewW(db, query.c_str(), view.out());
}

// Every row of "SELECT * FROM `table`", fetched after one execute.
inline std::vector<Handle> Rows(MSIHANDLE db, const char* table) {
  std::vector<Handle> rows;
  Handle view;
  EXPECT_EQ(OpenView(db, Widen(std::string("SELECT * FROM `") + table + "`"), view), 0u) << table;
  if (!view.get()) return rows;
  EXPECT_EQ(MsiViewExecute(view.get(), 0), 0u);
  for (;;) {
    Handle row;
    UINT rc = MsiViewFetch(view.get(), row.out());
    if (rc != 0) {
      EXPECT_EQ(rc, static_cast<UINT>(ERROR_NO_MORE_ITEMS));
      break;
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

// A field's text by the length protocol: no buffer, then exactly enough.
inline WString Str(MSIHANDLE record, UINT field) {
  DWORD length = 0;
  EXPECT_EQ(MsiRecordGetStringW(record, field, nullptr, &length), 0u);
  std::vector<WCHAR> buffer(length + 1, WCHAR('#'));
  DWORD size = length + 1;
  EXPECT_EQ(MsiRecordGetStringW(record, field, buffer.data(), &size), 0u);
  EXPECT_EQ(size, length);
  EXPECT_EQ(buffer[length], 0) << "terminator";
  return WString(buffer.data(), size <= length ? size : length);
}

// Column names or types of a view, one string per column.
inline std::vector<WString> ColumnInfo(MSIHANDLE view, MSICOLINFO kind) {
  std::vector<WString> result;
  Handle info;
  EXPECT_EQ(MsiViewGetColumnInfo(view, kind, info.out()), 0u);
  UINT count = MsiRecordGetFieldCount(info.get());
  for (UINT i = 1; i <= count && i < 1000; ++i) result.push_back(Str(info.get(), i));
  return result;
}

// Reads a stream field to its end in chunks of the given size.
inline std::string ReadAll(MSIHANDLE record, UINT field, DWORD chunk,
                           std::vector<DWORD>* sizes = nullptr) {
  std::string bytes;
  std::vector<char> buffer(chunk);
  for (int guard = 0; guard < 1000000; ++guard) {
    DWORD size = chunk;
    UINT rc = MsiRecordReadStream(record, field, buffer.data(), &size);
    EXPECT_EQ(rc, 0u);
    if (sizes) sizes->push_back(size);
    if (rc != 0 || size == 0) break;
    bytes.append(buffer.data(), size);
  }
  return bytes;
}

}  // namespace contract
