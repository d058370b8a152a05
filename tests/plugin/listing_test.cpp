// Listing through the exports: what each header record receives, what it
// keeps of the host's bytes, and sizes that match the bytes extracted for
// every entry of every corpus database.
#include <cstring>
#include <fstream>

#include "support/export_support.h"
#include "plugin/host_conventions.h"

using namespace plugin_test;

namespace {

::testing::Environment* const kModule =
    ::testing::AddGlobalTestEnvironment(new ModuleEnvironment);

struct Span {
  size_t offset;
  size_t bytes;
};

// Every byte outside the written spans still holds the host's filler.
template <typename Record>
void ExpectHostBytesKept(const Record& record, std::vector<Span> written) {
  const BYTE* bytes = reinterpret_cast<const BYTE*>(&record);
  for (size_t i = 0; i < sizeof(Record); ++i) {
    bool inside = false;
    for (const Span& span : written) {
      inside = inside || (i >= span.offset && i < span.offset + span.bytes);
    }
    if (!inside) {
      ASSERT_EQ(0xA5, bytes[i]) << "offset " << i;
    }
  }
}

TEST(Listing, RecordsFillOnlyTheirFields) {
  OpenedArchive wide(FixtureFile("ren-csv.msi"));
  OpenedArchive ex(FixtureFile("ren-csv.msi"));
  OpenedArchive narrow(FixtureFile("ren-csv.msi"));
  ASSERT_NE(nullptr, wide.get());
  for (;;) {
    HeaderRecords records(0xA5);
    HeaderDataExW& w = records.wide;
    HeaderDataEx& e = records.ex;
    HeaderData& n = records.narrow;
    const int result = ReadHeaderExW(wide.get(), &w);
    ASSERT_EQ(result, ReadHeaderEx(ex.get(), &e));
    ASSERT_EQ(result, ReadHeader(narrow.get(), &n));
    if (result != 0) {
      EXPECT_EQ(kHostEndArchive, result);
      ExpectHostBytesKept(w, {});
      break;
    }
    const size_t units = WString(w.fileName).size();
    const size_t bytes = std::strlen(e.fileName);
    ExpectHostBytesKept(w, {{2048, (units + 1) * 2}, {4100, 16}, {4124, 4}, {4136, 4}});
    ExpectHostBytesKept(e, {{1024, bytes + 1}, {2052, 16}, {2076, 4}, {2088, 4}});
    ExpectHostBytesKept(n, {{260, bytes + 1}, {524, 8}, {540, 4}, {552, 4}});
    EXPECT_EQ(0u, w.packSizeHigh);
    EXPECT_EQ(0u, w.unpSizeHigh);
    EXPECT_EQ(w.packSize, w.unpSize);
    EXPECT_EQ(w.packSize, e.packSize);
    EXPECT_EQ(static_cast<int>(w.packSize), n.unpSize);
    EXPECT_EQ(w.fileTime, n.fileTime);
    EXPECT_EQ(HostFileAttributes(), w.fileAttr);
    EXPECT_EQ(HostFileAttributes(), n.fileAttr);
    EXPECT_EQ(std::string(n.fileName), std::string(e.fileName));
    // The fixture's names are ASCII: all three carry the same text.
    EXPECT_EQ(WString(w.fileName), W(e.fileName));
#ifdef _WIN32
    EXPECT_EQ(nullptr, std::strchr(e.fileName, '/'));
#else
    EXPECT_EQ(nullptr, std::strchr(e.fileName, '\\'));
#endif
  }
}

TEST(Listing, StreamNamesAndSizes) {
  OpenedArchive archive(FixtureFile("ren-csv.msi"));
  HeaderDataExW header{};
  ASSERT_TRUE(archive.ListUntil(HostName("Binary\\ten"), &header));
  EXPECT_EQ(10000u, header.unpSize);
#ifndef _WIN32
  // The archive file's last-write time as Unix time.
  const auto written = fs::last_write_time(FixtureFile("ren-csv.msi"));
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
      std::chrono::file_clock::to_sys(written).time_since_epoch());
  EXPECT_LE(std::abs(seconds.count() - header.fileTime), 1);
#endif
}

TEST(Listing, AnsiNamesEndWithinTheirField) {
  char field[8];
  std::memset(field, 0x5A, sizeof field);
  StoreAnsiName(field, sizeof field, W("abcdefghij"));
  EXPECT_STREQ("abcdefg", field);

  std::memset(field, 0x5A, sizeof field);
  StoreAnsiName(field, sizeof field, W("abcdefg"));
  EXPECT_STREQ("abcdefg", field);

  // A surrogate pair is never split, whatever it converts to.
  WString pair = W("abcdef");
  pair.push_back(0xD83D);
  pair.push_back(0xDE00);
  std::memset(field, 0x5A, sizeof field);
  StoreAnsiName(field, sizeof field, pair);
  EXPECT_LT(std::strlen(field), sizeof field);
  EXPECT_EQ(0, std::strncmp(field, "abcdef", 6));

  // Characters of several bytes are cut whole.
  const WString accents(10, static_cast<WCHAR>(0xE9));
  char whole[64];
  StoreAnsiName(whole, sizeof whole, accents);
  const size_t perChar = std::strlen(whole) / 10;
  ASSERT_GE(perChar, 1u);
  std::memset(field, 0x5A, sizeof field);
  StoreAnsiName(field, sizeof field, accents);
  EXPECT_EQ(0u, std::strlen(field) % perChar);
  EXPECT_EQ(0, std::strncmp(field, whole, std::strlen(field)));
}

// Every corpus database: each entry's listed size is the number of bytes
// its extraction writes.
TEST(Corpus, ListedSizeIsWrittenSize) {
  std::vector<fs::path> files = test_support::CorpusDatabases();
  for (const fs::path& file : test_support::BrokenInputs()) {
#ifdef _WIN32
    // Wine's own open crashes on this one file.
    if (file.filename() == "mimetype__msi-4096-truncated.msi") continue;
#endif
    files.push_back(file);
  }
  ASSERT_FALSE(files.empty());
  TempFolder folder;
  size_t entries = 0;
  for (const fs::path& file : files) {
    OpenedArchive archive(file);
    if (archive.get() == nullptr) continue;
    HeaderDataExW header{};
    int index = 0;
    while (ReadHeaderExW(archive.get(), &header) == 0) {
      std::string leaf = "e";
      leaf += std::to_string(index++);
      const fs::path out = folder.path() / leaf;
      WString name = PathText(out);
      ASSERT_EQ(0, ProcessFileW(archive.get(), 2, nullptr, name.data()))
          << file << " " << fs::path(WString(header.fileName)).string();
      EXPECT_EQ(header.unpSize, fs::file_size(out))
          << file << " entry " << index;
      fs::remove(out);
      ++entries;
    }
  }
  EXPECT_GT(entries, 100u);
}

}  // namespace
