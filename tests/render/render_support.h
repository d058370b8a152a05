// Entries and tables built by hand over a real database, so the writers can
// be tested without the catalogue.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "archive/archive.h"
#include "plugin/module.h"
#include "render/render.h"
#include "support/helpers.h"

namespace render_test {

using test_support::W;

inline std::string FixturePath(const char* name) {
  return test_support::FixturePath(name).string();
}

class Database {
 public:
  explicit Database(const std::string& path) {
    const WString wide = W(path.c_str());
    status_ = MsiOpenDatabaseW(wide.c_str(), MSIDBOPEN_READONLY,
                               &handle_);
  }
  ~Database() {
    if (handle_ != 0) MsiCloseHandle(handle_);
  }
  UINT status() const { return status_; }
  MSIHANDLE get() const { return handle_; }

 private:
  MSIHANDLE handle_ = 0;
  UINT status_ = 0;
};

struct Column {
  const char* name;
  ColumnKind kind;
};

// A TableInfo with an open view over every column, as the catalogue makes it.
struct HandTable {
  TableInfo info{};
  HandTable(MSIHANDLE db, const char* name, std::vector<Column> columns,
            int64_t streamColumn = -1) {
    info.name = W(name);
    for (const Column& c : columns) {
      ColumnInfo column;
      column.name = W(c.name);
      column.kind = c.kind;
      column.width = 0;
      info.columns.push_back(column);
    }
    InitListNode(&info.link, &info);
    const WString query = W("SELECT * FROM `") + W(name) + W("`");
    EXPECT_EQ(0u, MsiDatabaseOpenViewW(db, query.c_str(), &info.view));
    info.streamColumn = streamColumn;
    info.nameColumn = -1;
    info.refCount = 1;
  }
  ~HandTable() {
    if (info.view != 0) MsiCloseHandle(info.view);
  }
};

// A FileEntry as the catalogue makes it; the record (if any) is owned.
struct HandEntry {
  FileEntry entry{};
  HandEntry(EntryKind kind, TableInfo* table, MSIHANDLE record = 0) {
    InitListNode(&entry.link, &entry);
    entry.table = table;
    entry.kind = kind;
    entry.record = record;
    entry.refCount = 1;
  }
  ~HandEntry() {
    if (entry.record != 0) MsiCloseHandle(entry.record);
  }
};

// An archive with nothing in it but what producing content keeps.
struct HandArchive {
  MsiArchive archive{};
  ~HandArchive() { ClearContent(&archive); }
};

// Keeps every byte produced, and the size of each piece.
struct Collected final : ContentSink {
  std::string bytes;
  std::vector<size_t> pieces;
  bool Put(const BYTE* data, size_t count) override {
    bytes.append(reinterpret_cast<const char*>(data), count);
    pieces.push_back(count);
    return true;
  }
};

// Produces the entry's content; the bytes, and the result in `result`.
inline std::string Produce(MsiArchive* archive, FileEntry* entry, DWORD* result = nullptr) {
  Collected collected;
  const DWORD produced = ProduceContent(archive, entry, collected);
  if (result != nullptr) {
    *result = produced;
  } else {
    EXPECT_EQ(0u, produced);
  }
  return collected.bytes;
}

// Measures, then produces; returns the bytes and checks the two agree.
inline std::string MeasureAndFill(FileEntry* entry) {
  HandArchive hand;
  EXPECT_EQ(0u, MeasureContent(&hand.archive, entry));
  const DWORD measured = GetContentSize(entry);
  const std::string bytes = Produce(&hand.archive, entry);
  EXPECT_EQ(measured, bytes.size());
  return bytes;
}

// The record of the row whose column `column` (1-based field) holds key.
inline MSIHANDLE FetchRow(MSIHANDLE db, const char* table, UINT field,
                          const char* key) {
  const WString query = W("SELECT * FROM `") + W(table) + W("`");
  const WString wanted = W(key);
  MSIHANDLE view = 0;
  MSIHANDLE record = 0;
  if (MsiDatabaseOpenViewW(db, query.c_str(), &view) != 0) return 0;
  if (MsiViewExecute(view, 0) == 0) {
    while (MsiViewFetch(view, &record) == 0) {
      WCHAR text[256] = {};
      DWORD length = 256;
      if (MsiRecordGetStringW(record, field, text, &length) == 0 &&
          WString(text) == wanted) {
        break;
      }
      MsiCloseHandle(record);
      record = 0;
    }
  }
  MsiViewClose(view);
  MsiCloseHandle(view);
  return record;
}

class ModuleEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { AttachModule(); }
};

}  // namespace render_test
