// Opens a database from bytes and drives every engine call: summary
// information, every table's column information and rows, every field as
// text, integer, size and stream. Shared by the fuzz target and the replay of
// its findings.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/msi_api.h"
#include "engine/native/api/open_memory.h"

namespace msiarc::testing {
namespace driver {

using Text = std::u16string;

void ReadRecord(MSIHANDLE rec) {
  UINT count = MsiRecordGetFieldCount(rec);
  for (UINT f = 0; f <= count + 1; ++f) {
    DWORD length = 0;
    MsiRecordGetStringW(rec, f, nullptr, &length);
    std::vector<WCHAR> text(length + 1);
    DWORD room = length + 1;
    MsiRecordGetStringW(rec, f, text.data(), &room);
    DWORD small = length / 2;
    MsiRecordGetStringW(rec, f, text.data(), &small);
    MsiRecordGetInteger(rec, f);
    MsiRecordDataSize(rec, f);
    char buffer[4096];
    for (int reads = 0; reads < 64; ++reads) {
      DWORD bytes = sizeof buffer;
      if (MsiRecordReadStream(rec, f, buffer, &bytes) != ERROR_SUCCESS || bytes == 0) break;
    }
    DWORD rest = 0;
    MsiRecordReadStream(rec, f, nullptr, &rest);
  }
}

Text FieldText(MSIHANDLE rec, UINT field) {
  DWORD length = 0;
  if (MsiRecordGetStringW(rec, field, nullptr, &length) != ERROR_SUCCESS) return Text();
  Text text(length + 1, u'\0');
  DWORD room = length + 1;
  MsiRecordGetStringW(rec, field, reinterpret_cast<WCHAR*>(text.data()), &room);
  text.resize(room);
  return text;
}

void Query(MSIHANDLE db, const Text& table) {
  Text query = u"SELECT * FROM `" + table + u"`";
  MSIHANDLE view = 0;
  if (MsiDatabaseOpenViewW(db, reinterpret_cast<LPCWSTR>(query.c_str()), &view) != ERROR_SUCCESS) return;
  for (int info = 0; info < 2; ++info) {
    MSIHANDLE columns = 0;
    if (MsiViewGetColumnInfo(view, static_cast<MSICOLINFO>(info), &columns) == ERROR_SUCCESS) {
      ReadRecord(columns);
      MsiCloseHandle(columns);
    }
  }
  MsiViewExecute(view, 0);
  MSIHANDLE rec = 0;
  for (int rows = 0; rows < 2000 && MsiViewFetch(view, &rec) == ERROR_SUCCESS; ++rows) {
    ReadRecord(rec);
    MsiCloseHandle(rec);
  }
  MsiViewClose(view);
  // The same rows read as cells, a few at a time.
  MsiViewExecute(view, 0);
  MSIHANDLE names = 0;
  UINT width = 0;
  if (MsiViewGetColumnInfo(view, MSICOLINFO_NAMES, &names) == ERROR_SUCCESS) {
    width = MsiRecordGetFieldCount(names);
    MsiCloseHandle(names);
  }
  NativeCell cells[4 * 64];
  UINT fetched = 0;
  for (int batches = 0; width <= 64 && batches < 500; ++batches) {
    if (NativeViewFetchRows(view, cells, width, 4, &fetched) != ERROR_SUCCESS) break;
  }
  MsiCloseHandle(view);
}

}  // namespace driver


inline void DriveEngine(const uint8_t* data, size_t size) {
  MSIHANDLE db = 0;
  if (msiarc::engine::OpenDatabaseFromMemory(data, size, &db) != ERROR_SUCCESS) return;
  MSIHANDLE summary = 0;
  if (MsiGetSummaryInformationW(db, nullptr, 0, &summary) == ERROR_SUCCESS) {
    UINT count = 0;
    MsiSummaryInfoGetPropertyCount(summary, &count);
    for (UINT id = 0; id <= 20; ++id) {
      UINT type = 0;
      INT integer = 0;
      FILETIME time{};
      WCHAR text[8];
      DWORD length = sizeof text / sizeof text[0];
      MsiSummaryInfoGetPropertyW(summary, id, &type, &integer, &time, text, &length);
    }
    MsiCloseHandle(summary);
  }
  std::vector<driver::Text> tables;
  MSIHANDLE view = 0;
  if (MsiDatabaseOpenViewW(db, reinterpret_cast<LPCWSTR>(u"SELECT * FROM _Tables"), &view) == ERROR_SUCCESS) {
    MsiViewExecute(view, 0);
    MSIHANDLE rec = 0;
    while (tables.size() < 64 && MsiViewFetch(view, &rec) == ERROR_SUCCESS) {
      tables.push_back(driver::FieldText(rec, 1));
      MsiCloseHandle(rec);
    }
    MsiCloseHandle(view);
  }
  for (const char16_t* fixed : {u"_Tables", u"_Columns", u"_Streams", u"_Storages"}) tables.push_back(fixed);
  for (const driver::Text& table : tables) driver::Query(db, table);
  MsiCloseHandle(db);
}

}  // namespace msiarc::testing
