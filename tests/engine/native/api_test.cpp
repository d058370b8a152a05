// The installer operations over databases built in memory: the record
// length protocol, streams, keys, wide string references and handles.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "engine/native/db_builder.h"
#include "engine/msi_api.h"
#include "engine/native/api/open_memory.h"

namespace msiarc::testing {
namespace {

constexpr uint32_t kKeyString = 0x2D48;  // s72, key
constexpr uint32_t kString = 0x1DFF;     // S255
constexpr uint32_t kShort = 0x1502;      // I2
constexpr uint32_t kLong = 0x1104;       // I4
constexpr uint32_t kKeyShort = 0x2502;   // i2, key
constexpr uint32_t kBinary = 0x1900;     // V0

uint32_t Short(int v) { return static_cast<uint32_t>(v + 0x8000); }
uint32_t Long(int v) { return static_cast<uint32_t>(v) ^ 0x80000000u; }

class Db {
 public:
  explicit Db(const Bytes& bytes) { status = engine::OpenDatabaseFromMemory(bytes.data(), bytes.size(), &handle); }
  ~Db() { MsiCloseHandle(handle); }
  UINT status;
  MSIHANDLE handle = 0;

  // Every row of a table: fetched records, closed by the caller.
  std::vector<MSIHANDLE> Rows(const std::u16string& table, UINT* openResult = nullptr) {
    std::u16string query = u"SELECT * FROM `" + table + u"`";
    MSIHANDLE view = 0;
    UINT r = MsiDatabaseOpenViewW(handle, query.c_str(), &view);
    if (openResult) *openResult = r;
    std::vector<MSIHANDLE> rows;
    if (r != ERROR_SUCCESS) return rows;
    MsiViewExecute(view, 0);
    MSIHANDLE rec;
    while (MsiViewFetch(view, &rec) == ERROR_SUCCESS) rows.push_back(rec);
    MsiCloseHandle(view);
    return rows;
  }
};

std::u16string Str(MSIHANDLE rec, UINT field) {
  DWORD n = 0;
  MsiRecordGetStringW(rec, field, nullptr, &n);
  std::u16string s(n + 1, u'\0');
  DWORD room = n + 1;
  MsiRecordGetStringW(rec, field, s.data(), &room);
  s.resize(room);
  return s;
}

void CloseAll(const std::vector<MSIHANDLE>& handles) {
  for (MSIHANDLE h : handles) MsiCloseHandle(h);
}

Bytes Sample() {
  DbBuilder b;
  auto& props = b.Table("Property", {{"Property", kKeyString}, {"Value", kString}, {"Small", kShort}, {"Big", kLong}});
  props.rows.push_back({b.String("hello"), b.String("world"), Short(-5), Long(-70000)});
  props.rows.push_back({b.String("empty"), 0, 0, 0});
  props.rows.push_back({b.String("number"), b.String("42"), Short(32767), Long(2147483647)});
  auto& bin = b.Table("Binary", {{"Name", kKeyString}, {"ID", kKeyShort}, {"Data", kBinary}});
  bin.rows.push_back({b.String("filename1"), Short(1), 0});
  bin.rows.push_back({b.String("missing"), Short(2), 0});
  b.file.Stream(msidb::EncodeStreamName(u"Binary.filename1.1", false), Bytes(26, 'x'));
  b.file.Stream(msidb::EncodeStreamName(u"aaa", false), Bytes(3, 'a'));
  b.file.Stream(u"\005SummaryInformation", Bytes(8, 0));
  b.file.Storage(u"1033");
  return b.Build();
}

TEST(Records, StringLengthProtocol) {
  Db db(Sample());
  ASSERT_EQ(db.status, ERROR_SUCCESS);
  auto rows = db.Rows(u"Property");
  ASSERT_EQ(rows.size(), 3u);
  MSIHANDLE rec = rows[0];
  EXPECT_EQ(MsiRecordGetFieldCount(rec), 4u);

  DWORD n = 0;
  EXPECT_EQ(MsiRecordGetStringW(rec, 2, nullptr, &n), ERROR_SUCCESS);
  EXPECT_EQ(n, 5u);
  WCHAR buf[16] = {u'#', u'#', u'#', u'#', u'#', u'#', u'#'};
  n = 0;
  EXPECT_EQ(MsiRecordGetStringW(rec, 2, buf, &n), ERROR_MORE_DATA);
  EXPECT_EQ(buf[0], u'#');  // cch 0 leaves the buffer alone
  n = 5;
  EXPECT_EQ(MsiRecordGetStringW(rec, 2, buf, &n), ERROR_MORE_DATA);
  EXPECT_EQ(n, 5u);
  EXPECT_EQ(std::u16string(buf), u"worl");
  n = 6;
  EXPECT_EQ(MsiRecordGetStringW(rec, 2, buf, &n), ERROR_SUCCESS);
  EXPECT_EQ(std::u16string(buf), u"world");
  EXPECT_EQ(n, 5u);

  // Integers as text, nulls, fields past the end.
  EXPECT_EQ(Str(rec, 3), u"-5");
  EXPECT_EQ(Str(rec, 4), u"-70000");
  n = 2;
  EXPECT_EQ(MsiRecordGetStringW(rec, 3, buf, &n), ERROR_MORE_DATA);
  EXPECT_EQ(std::u16string(buf), u"-");
  n = 4;
  buf[0] = u'#';
  EXPECT_EQ(MsiRecordGetStringW(rows[1], 2, buf, &n), ERROR_SUCCESS);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(buf[0], 0);
  n = 4;
  EXPECT_EQ(MsiRecordGetStringW(rec, 10, buf, &n), ERROR_SUCCESS);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(MsiRecordGetStringW(rec, 1, buf, nullptr), ERROR_INVALID_PARAMETER);

  // Integers, sizes.
  EXPECT_EQ(MsiRecordGetInteger(rec, 3), -5);
  EXPECT_EQ(MsiRecordGetInteger(rows[2], 3), 32767);
  EXPECT_EQ(MsiRecordGetInteger(rows[2], 4), 2147483647);
  EXPECT_EQ(MsiRecordGetInteger(rows[2], 2), 42);  // the string "42"
  EXPECT_EQ(MsiRecordGetInteger(rec, 2), MSI_NULL_INTEGER);
  EXPECT_EQ(MsiRecordGetInteger(rows[1], 3), MSI_NULL_INTEGER);
  EXPECT_EQ(MsiRecordDataSize(rec, 2), 5u);
  EXPECT_EQ(MsiRecordDataSize(rec, 3), 4u);
  EXPECT_EQ(MsiRecordDataSize(rows[1], 2), 0u);
  EXPECT_EQ(MsiRecordDataSize(rec, 9), 0u);
  CloseAll(rows);
}

TEST(Records, StreamsReadOnFromWhereTheyStopped) {
  Db db(Sample());
  auto rows = db.Rows(u"Binary");
  ASSERT_EQ(rows.size(), 2u);
  MSIHANDLE rec = rows[0];
  EXPECT_EQ(MsiRecordDataSize(rec, 3), 26u);
  char buf[32];
  DWORD sizes[4];
  for (DWORD& size : sizes) {
    size = 10;
    EXPECT_EQ(MsiRecordReadStream(rec, 3, buf, &size), ERROR_SUCCESS);
  }
  EXPECT_EQ(sizes[0], 10u);
  EXPECT_EQ(sizes[1], 10u);
  EXPECT_EQ(sizes[2], 6u);
  EXPECT_EQ(sizes[3], 0u);
  EXPECT_EQ(MsiRecordDataSize(rec, 3), 26u);

  // A second fetch has its own position; a null buffer asks what is left.
  auto again = db.Rows(u"Binary");
  DWORD size = 20;
  EXPECT_EQ(MsiRecordReadStream(again[0], 3, buf, &size), ERROR_SUCCESS);
  EXPECT_EQ(MsiRecordReadStream(again[0], 3, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 6u);

  // Field kinds that are not streams.
  size = 10;
  EXPECT_EQ(MsiRecordReadStream(rows[1], 3, buf, &size), ERROR_INVALID_DATA);  // no such stream: null
  EXPECT_EQ(size, 0u);
  size = 10;
  EXPECT_EQ(MsiRecordReadStream(rec, 1, buf, &size), ERROR_INVALID_DATATYPE);
  EXPECT_EQ(size, 10u);
  EXPECT_EQ(MsiRecordReadStream(rec, 7, buf, &size), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(MsiRecordReadStream(rec, 3, buf, nullptr), ERROR_INVALID_PARAMETER);
  // A stream field has no text.
  DWORD n = 0;
  EXPECT_EQ(MsiRecordGetStringW(rec, 3, nullptr, &n), ERROR_SUCCESS);
  EXPECT_EQ(n, 0u);
  CloseAll(rows);
  CloseAll(again);
}

TEST(VirtualTables, StreamsListUsedStreamsFirstAndStoragesByName) {
  Db db(Sample());
  CloseAll(db.Rows(u"Binary"));  // opens Binary.filename1.1
  auto streams = db.Rows(u"_Streams");
  std::vector<std::u16string> names;
  for (MSIHANDLE rec : streams) names.push_back(Str(rec, 1));
  EXPECT_EQ(names, (std::vector<std::u16string>{u"Binary.filename1.1", u"aaa", u"\005SummaryInformation"}));
  EXPECT_EQ(MsiRecordDataSize(streams[1], 2), 3u);
  CloseAll(streams);

  auto storages = db.Rows(u"_Storages");
  ASSERT_EQ(storages.size(), 1u);
  EXPECT_EQ(Str(storages[0], 1), u"1033");
  char buf[4];
  DWORD size = 4;
  EXPECT_EQ(MsiRecordReadStream(storages[0], 2, buf, &size), ERROR_INVALID_DATA);
  CloseAll(storages);

  MSIHANDLE view = 0, info = 0;
  ASSERT_EQ(MsiDatabaseOpenViewW(db.handle, u"SELECT * FROM _Columns", &view), ERROR_SUCCESS);
  ASSERT_EQ(MsiViewGetColumnInfo(view, MSICOLINFO_TYPES, &info), ERROR_SUCCESS);
  EXPECT_EQ(Str(info, 1) + Str(info, 2) + Str(info, 3) + Str(info, 4), u"s64i2s64i2");
  MsiCloseHandle(info);
  EXPECT_EQ(MsiViewGetColumnInfo(view, static_cast<MSICOLINFO>(2), &info), ERROR_INVALID_PARAMETER);
  MsiCloseHandle(view);
}

TEST(Tables, WideReferencesLongStringsAndNarrowIntegers) {
  DbBuilder b;
  for (int i = 0; i < 70000; ++i) b.String(std::string("s").append(std::to_string(i)));
  std::string longText(70000, 'L');
  auto& t = b.Table("Wide", {{"Key", kKeyString}, {"Text", kString}, {"Tiny", 0x1501}, {"Num", kLong}});
  t.rows.push_back({b.String("s69999"), b.String(longText), Short(-3), Long(7)});
  t.rows.push_back({b.String("s1"), 0, 0, Long(-1)});
  Db db(b.Build());
  ASSERT_EQ(db.status, ERROR_SUCCESS);
  auto rows = db.Rows(u"Wide");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(Str(rows[0], 1), u"s69999");
  EXPECT_EQ(MsiRecordDataSize(rows[0], 2), 70000u);
  EXPECT_EQ(Str(rows[0], 2), std::u16string(70000, u'L'));
  EXPECT_EQ(MsiRecordGetInteger(rows[0], 3), -3);  // a width-1 column is a 2-byte cell
  EXPECT_EQ(MsiRecordGetInteger(rows[0], 4), 7);
  EXPECT_EQ(Str(rows[1], 1), u"s1");
  EXPECT_EQ(MsiRecordGetInteger(rows[1], 4), -1);
  CloseAll(rows);
}

TEST(Tables, DamagedOrMissingTablesFailTheQuery) {
  auto openView = [](const Bytes& bytes, const char16_t* query) {
    Db db(bytes);
    MSIHANDLE view = 0;
    UINT r = MsiDatabaseOpenViewW(db.handle, query, &view);
    MsiCloseHandle(view);
    return r;
  };
  Bytes good = Sample();
  EXPECT_EQ(openView(good, u"SELECT * FROM Property"), ERROR_SUCCESS);
  EXPECT_EQ(openView(good, u"SELECT * FROM property"), ERROR_BAD_QUERY_SYNTAX);
  EXPECT_EQ(openView(good, u"SELECT * FROM Nothing"), ERROR_BAD_QUERY_SYNTAX);
  EXPECT_EQ(openView(good, u"SELECT * FROM _SummaryInformation"), ERROR_BAD_QUERY_SYNTAX);
  EXPECT_EQ(openView(good, nullptr), ERROR_BAD_QUERY_SYNTAX);

  // A table stream whose size is not a whole number of rows.
  DbBuilder odd;
  odd.Table("T", {{"A", kKeyShort}});
  odd.file.Stream(msidb::EncodeStreamName(u"T", true), Bytes(3, 1));
  EXPECT_EQ(openView(odd.Build(), u"SELECT * FROM T"), ERROR_BAD_QUERY_SYNTAX);

  // Two columns claiming the same number.
  DbBuilder dup;
  dup.Table("D", {{"A", kKeyShort}, {"B", kShort}}).numbers = {1, 1};
  EXPECT_EQ(openView(dup.Build(), u"SELECT * FROM D"), ERROR_BAD_QUERY_SYNTAX);
  DbBuilder gap;
  gap.Table("G", {{"A", kKeyShort}, {"B", kShort}}).numbers = {1, 3};
  EXPECT_EQ(openView(gap.Build(), u"SELECT * FROM G"), ERROR_BAD_QUERY_SYNTAX);
}

TEST(Views, FetchNeedsExecuteAndStartsOverAtTheEnd) {
  Db db(Sample());
  MSIHANDLE view = 0, rec = 0;
  ASSERT_EQ(MsiDatabaseOpenViewW(db.handle, u"SELECT * FROM Binary", &view), ERROR_SUCCESS);
  EXPECT_EQ(MsiViewFetch(view, &rec), ERROR_FUNCTION_FAILED);
  EXPECT_EQ(MsiViewFetch(view, nullptr), ERROR_INVALID_PARAMETER);
  ASSERT_EQ(MsiViewExecute(view, 0), ERROR_SUCCESS);
  for (int i = 0; i < 2; ++i) {
    ASSERT_EQ(MsiViewFetch(view, &rec), ERROR_SUCCESS);
    MsiCloseHandle(rec);
  }
  EXPECT_EQ(MsiViewFetch(view, &rec), ERROR_NO_MORE_ITEMS);
  EXPECT_EQ(rec, 0u);
  EXPECT_EQ(MsiViewFetch(view, &rec), ERROR_SUCCESS);
  EXPECT_EQ(Str(rec, 1), u"filename1");
  MsiCloseHandle(rec);
  EXPECT_EQ(MsiViewClose(view), ERROR_SUCCESS);
  EXPECT_EQ(MsiViewFetch(view, &rec), ERROR_FUNCTION_FAILED);
  MsiCloseHandle(view);
}

TEST(Handles, InvalidClosedAndWrongKind) {
  Db db(Sample());
  auto rows = db.Rows(u"Property");
  MSIHANDLE rec = rows[0];
  EXPECT_EQ(MsiCloseHandle(0), ERROR_SUCCESS);
  MSIHANDLE view = 0;
  EXPECT_EQ(MsiDatabaseOpenViewW(rec, u"SELECT * FROM Property", &view), ERROR_INVALID_HANDLE);
  EXPECT_EQ(MsiViewExecute(db.handle, 0), ERROR_INVALID_HANDLE);
  EXPECT_EQ(MsiRecordGetFieldCount(db.handle), 0xFFFFFFFFu);
  CloseAll(rows);
  EXPECT_EQ(MsiCloseHandle(rec), ERROR_INVALID_HANDLE);
  EXPECT_EQ(MsiRecordGetFieldCount(0x7FFFFFF0u), 0xFFFFFFFFu);
  DWORD n = 0;
  EXPECT_EQ(MsiRecordGetStringW(0, 1, nullptr, &n), ERROR_INVALID_HANDLE);
  UINT count = 0;
  EXPECT_EQ(MsiSummaryInfoGetPropertyCount(0, &count), ERROR_INVALID_HANDLE);

  // A record outlives its view and its database.
  MSIHANDLE dbHandle = 0;
  Bytes bytes = Sample();
  ASSERT_EQ(engine::OpenDatabaseFromMemory(bytes.data(), bytes.size(), &dbHandle), ERROR_SUCCESS);
  ASSERT_EQ(MsiDatabaseOpenViewW(dbHandle, u"SELECT * FROM Binary", &view), ERROR_SUCCESS);
  MsiViewExecute(view, 0);
  ASSERT_EQ(MsiViewFetch(view, &rec), ERROR_SUCCESS);
  MsiCloseHandle(view);
  MsiCloseHandle(dbHandle);
  char buf[30];
  DWORD size = sizeof buf;
  EXPECT_EQ(MsiRecordReadStream(rec, 3, buf, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 26u);
  MsiCloseHandle(rec);

  EXPECT_EQ(engine::OpenDatabaseFromMemory(bytes.data(), 100, &dbHandle), ERROR_OPEN_FAILED);
  EXPECT_EQ(MsiOpenDatabaseW(u"/nonexistent/x.msi", MSIDBOPEN_READONLY, &dbHandle), ERROR_OPEN_FAILED);
  EXPECT_EQ(MsiOpenDatabaseW(u"/nonexistent/x.msi", MSIDBOPEN_READONLY, nullptr), ERROR_INVALID_PARAMETER);
  // A string pool in a code page no system converts (12345): refused, as
  // Wine's msi.dll refuses it.
  EXPECT_EQ(MsiOpenDatabaseW(u"" MSIARC_FIXTURE_DIR "/codepage-12345.msi", MSIDBOPEN_READONLY, &dbHandle),
            ERROR_OPEN_FAILED);
}

TEST(Handles, ParallelReadersShareOneDatabase) {
  Bytes bytes = Sample();
  Db db(bytes);
  std::vector<std::thread> threads;
  std::vector<int> failures(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 50; ++round) {
        Db own(bytes);
        for (Db* d : {&db, &own}) {
          for (const char16_t* table : {u"Property", u"Binary", u"_Streams", u"_Columns"}) {
            auto rows = d->Rows(table);
            if (rows.empty()) ++failures[t];
            for (MSIHANDLE rec : rows) {
              Str(rec, 1);
              char buf[64];
              DWORD size = sizeof buf;
              MsiRecordReadStream(rec, 2, buf, &size);
            }
            CloseAll(rows);
          }
        }
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(failures, std::vector<int>(4, 0));
}

}  // namespace
}  // namespace msiarc::testing

namespace msiarc::testing {
namespace {

TEST(SummaryInformation, AbsentPropertiesAndShortBuffers) {
  DbBuilder b;
  Bytes s(0x30, 0);
  Put16(s, 0, 0xFFFE);
  const uint8_t fmtid[16] = {0xE0, 0x85, 0x9F, 0xF2, 0xF9, 0x4F, 0x68, 0x10,
                             0xAB, 0x91, 0x08, 0x00, 0x2B, 0x27, 0xB3, 0xD9};
  std::memcpy(s.data() + 0x1C, fmtid, 16);
  Put32(s, 0x2C, 0x30);
  // Section: two properties, Author "Mike" and Codepage 1252.
  Bytes section(8 + 16, 0);
  Put32(section, 4, 2);
  Put32(section, 8, 4);
  Put32(section, 12, 24);
  Put32(section, 16, 1);
  Put32(section, 20, 40);
  const uint8_t author[] = {30, 0, 0, 0, 5, 0, 0, 0, 'M', 'i', 'k', 'e', 0, 0, 0, 0};
  section.insert(section.end(), author, author + sizeof author);
  const uint8_t codepage[] = {2, 0, 0, 0, 0xE4, 0x04, 0, 0};
  section.insert(section.end(), codepage, codepage + sizeof codepage);
  Put32(section, 0, static_cast<uint32_t>(section.size()));
  s.insert(s.end(), section.begin(), section.end());
  b.file.Stream(u"\005SummaryInformation", s);
  Db db(b.Build());
  MSIHANDLE summary = 0;
  ASSERT_EQ(MsiGetSummaryInformationW(db.handle, nullptr, 0, &summary), ERROR_SUCCESS);
  UINT count = 0;
  EXPECT_EQ(MsiSummaryInfoGetPropertyCount(summary, &count), ERROR_SUCCESS);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(MsiSummaryInfoGetPropertyCount(summary, nullptr), ERROR_SUCCESS);

  UINT type = 99;
  INT integer = 1234;
  FILETIME time{7, 7};
  WCHAR buf[16] = {u'x', 0};
  DWORD n = 0x10;
  EXPECT_EQ(MsiSummaryInfoGetPropertyW(summary, 3, &type, &integer, &time, buf, &n), ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<UINT>(VT_EMPTY));
  EXPECT_EQ(integer, 1234);
  EXPECT_EQ(n, 0x10u);
  EXPECT_EQ(buf[0], u'x');
  EXPECT_EQ(MsiSummaryInfoGetPropertyW(summary, 20, &type, nullptr, nullptr, nullptr, nullptr), ERROR_UNKNOWN_PROPERTY);
  EXPECT_EQ(type, static_cast<UINT>(VT_EMPTY));

  n = 2;
  EXPECT_EQ(MsiSummaryInfoGetPropertyW(summary, 4, &type, nullptr, nullptr, buf, &n), ERROR_MORE_DATA);
  EXPECT_EQ(std::u16string(buf), u"M");
  EXPECT_EQ(n, 4u);
  n = 4;
  EXPECT_EQ(MsiSummaryInfoGetPropertyW(summary, 4, &type, nullptr, nullptr, nullptr, &n), ERROR_MORE_DATA);
  n = 5;
  EXPECT_EQ(MsiSummaryInfoGetPropertyW(summary, 4, &type, nullptr, nullptr, buf, &n), ERROR_SUCCESS);
  EXPECT_EQ(std::u16string(buf), u"Mike");
  EXPECT_EQ(type, static_cast<UINT>(VT_LPSTR));
  EXPECT_EQ(MsiSummaryInfoGetPropertyW(summary, 1, &type, &integer, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<UINT>(VT_I2));
  EXPECT_EQ(integer, 1252);
  MsiCloseHandle(summary);

  // Without the stream: an empty set. Without a database: an invalid handle.
  Db bare(Sample());
  ASSERT_EQ(MsiGetSummaryInformationW(bare.handle, nullptr, 0, &summary), ERROR_SUCCESS);
  EXPECT_EQ(MsiSummaryInfoGetPropertyCount(summary, &count), ERROR_SUCCESS);
  EXPECT_EQ(count, 0u);
  MsiCloseHandle(summary);
  EXPECT_EQ(MsiGetSummaryInformationW(0, nullptr, 0, &summary), ERROR_INVALID_HANDLE);
  EXPECT_EQ(MsiGetSummaryInformationW(bare.handle, nullptr, 0, nullptr), ERROR_INVALID_PARAMETER);
}

}  // namespace
}  // namespace msiarc::testing
