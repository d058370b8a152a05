// Lookups that must not grow with the size of the database: thousands of
// tables, each opened and read through its name, and a pool that holds one
// text a hundred thousand times.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/msi_api.h"
#include "engine/native/api/open_memory.h"
#include "engine/native/db_builder.h"

namespace msiarc::testing {
namespace {

constexpr uint32_t kKeyString = 0x2D48;  // s72, key
constexpr uint32_t kShort = 0x1502;      // I2

std::u16string Wide(const std::string& s) { return std::u16string(s.begin(), s.end()); }

std::string TableName(int i) { return "Table" + std::to_string(i); }

TEST(Lookups, ThousandsOfTablesAndATextHeldOverAndOver) {
  constexpr int kTables = 5000;
  constexpr int kCopies = 100000;
  DbBuilder b;
  for (int i = 0; i < kTables; ++i) {
    auto& t = b.Table(TableName(i), {{"Key", kKeyString}, {"Value", kShort}});
    t.rows.push_back({b.String("key" + std::to_string(i)), static_cast<uint32_t>(0x8000 + i % 30000)});
  }
  const uint32_t first = b.String("again");
  for (int i = 0; i < kCopies; ++i) b.StringAgain("again");
  auto& last = b.Table("Again", {{"Key", kKeyString}});
  last.rows.push_back({first + kCopies});  // the text's last copy
  Bytes bytes = b.Build();

  MSIHANDLE db = 0;
  ASSERT_EQ(engine::OpenDatabaseFromMemory(bytes.data(), bytes.size(), &db), ERROR_SUCCESS);
  for (int i = kTables - 1; i >= 0; --i) {
    const std::u16string query = u"SELECT * FROM `" + Wide(TableName(i)) + u"`";
    MSIHANDLE view = 0;
    ASSERT_EQ(MsiDatabaseOpenViewW(db, query.c_str(), &view), ERROR_SUCCESS) << i;
    ASSERT_EQ(MsiViewExecute(view, 0), ERROR_SUCCESS);
    MSIHANDLE row = 0;
    ASSERT_EQ(MsiViewFetch(view, &row), ERROR_SUCCESS);
    EXPECT_EQ(MsiRecordGetInteger(row, 2), i % 30000);
    MsiCloseHandle(row);
    MsiCloseHandle(view);
  }
  for (int i : {0, kTables / 2, kTables - 1}) {
    MSIHANDLE keys = 0;
    ASSERT_EQ(MsiDatabaseGetPrimaryKeysW(db, Wide(TableName(i)).c_str(), &keys), ERROR_SUCCESS);
    EXPECT_EQ(MsiRecordGetFieldCount(keys), 1u);
    MsiCloseHandle(keys);
  }
  MSIHANDLE view = 0;
  ASSERT_EQ(MsiDatabaseOpenViewW(db, u"SELECT * FROM `Again`", &view), ERROR_SUCCESS);
  ASSERT_EQ(MsiViewExecute(view, 0), ERROR_SUCCESS);
  MSIHANDLE row = 0;
  ASSERT_EQ(MsiViewFetch(view, &row), ERROR_SUCCESS);
  DWORD length = 0;
  EXPECT_EQ(MsiRecordGetStringW(row, 1, nullptr, &length), ERROR_SUCCESS);
  EXPECT_EQ(length, 5u);
  MsiCloseHandle(row);
  MsiCloseHandle(view);
  view = 0;
  EXPECT_EQ(MsiDatabaseOpenViewW(db, u"SELECT * FROM `again`", &view), ERROR_BAD_QUERY_SYNTAX);
  MsiCloseHandle(db);
}

}  // namespace
}  // namespace msiarc::testing
