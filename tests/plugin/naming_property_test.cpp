// Generated names through the exports, as a host extracts everything into
// one folder: naming-probes.msi (300 tables whose names mix separators, dots
// and spaces, empty and null texts, device names, case variants, names that
// are each other's folders, long keys and surrogate pairs at the limits;
// see tests/fixtures/naming-probes, seeded) and a table of 20,000 equal
// names. Every entry must come out with 0 in a file of its own, with the
// bytes msitools reads for its stream and the archive's time; the trees of
// both builds are compared by tests/cmake/naming.cmake.
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <set>

#include "support/export_support.h"

using namespace plugin_test;

namespace {

::testing::Environment* const kModule =
    ::testing::AddGlobalTestEnvironment(new ModuleEnvironment);

std::string Unhex(const std::string& hex) {
  std::string bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  }
  return bytes;
}

// The first segment of a host name: the table's folder.
WString TopFolder(const WString& name) {
  const size_t end = name.find_first_of(WTEXT("/\\"));
  return end == WString::npos ? WString() : name.substr(0, end);
}

std::string Ascii(const WString& text) { return std::string(text.begin(), text.end()); }

// Runs in `folder` as the current folder, so that names are given to the
// plug-in, and files read back, relative to it: a name of 259 units then
// fits the 259 units of a Windows path. Emptied, the same way, on leaving.
class InFolder {
 public:
  explicit InFolder(const fs::path& folder) : previous_(fs::current_path()) {
    fs::current_path(folder);
  }
  ~InFolder() {
    std::error_code ignored;
    std::vector<fs::path> items;
    for (fs::directory_iterator it(".", ignored), end; !ignored && it != end; it.increment(ignored)) {
      items.push_back(it->path());
    }
    for (const fs::path& item : items) fs::remove_all(item, ignored);
    fs::current_path(previous_);
  }

 private:
  fs::path previous_;
};

// Every file under the current folder, by its path from there. Under
// Windows std::filesystem cannot enter a folder whose full path passes 259
// units: the folders are read through \\?\ paths instead.
std::vector<fs::path> FilesBelowHere() {
  std::vector<fs::path> files;
#ifdef _WIN32
  std::vector<wchar_t> full(32768);
  GetFullPathNameW(L".", static_cast<DWORD>(full.size()), full.data(), nullptr);
  std::function<void(const std::wstring&, const fs::path&)> walk =
      [&](const std::wstring& folder, const fs::path& relative) {
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE) return;
        do {
          const std::wstring name = found.cFileName;
          if (name == L"." || name == L"..") continue;
          if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            walk(folder + L"\\" + name, relative / name);
          } else {
            files.push_back(relative / name);
          }
        } while (FindNextFileW(search, &found));
        FindClose(search);
      };
  walk(std::wstring(L"\\\\?\\") + full.data(), fs::path());
#else
  for (const fs::path& file : test_support::FilesIn(".", true)) {
    files.push_back(file.lexically_relative("."));
  }
#endif
  return files;
}

// Every file under the current folder: its path (UTF-8, "/" between
// folders), size and FNV-1a hash, one line each, in byte order.
std::string TreeManifest() {
  std::vector<std::string> lines;
  for (const fs::path& file : FilesBelowHere()) {
    const std::string bytes = ReadAll(file);
    uint64_t hash = 14695981039346656037ULL;
    for (unsigned char c : bytes) hash = (hash ^ c) * 1099511628211ULL;
    const auto path = file.generic_u8string();
    char tail[48];
    std::snprintf(tail, sizeof tail, "\t%zu\t%016llx\n", bytes.size(),
                  static_cast<unsigned long long>(hash));
    lines.push_back(std::string(path.begin(), path.end()) + tail);
  }
  std::sort(lines.begin(), lines.end());
  std::string manifest;
  for (const std::string& line : lines) manifest += line;
  return manifest;
}

// MSIARC_PROBE_DATABASE names another database of the same making (both
// builds then read one file); MSIARC_PROBE_TREE, a file to write the
// extracted tree's manifest to, for comparing the builds.
TEST(NamingProperty, EveryEntryIsAFileOfItsOwnWithItsStreamsBytes) {
  const char* other = std::getenv("MSIARC_PROBE_DATABASE");
  const std::string database = other != nullptr ? other : FixtureFile("naming-probes.msi");
  const fs::path base = fs::path(database).replace_extension();
  const std::string seed = ReadAll(base.string() + ".seed");
  SCOPED_TRACE("seed " + seed);
  // The stream of every content, and the rows of every table.
  std::map<std::string, std::string> streamOf;
  for (const fs::path& file : test_support::FilesIn(base.string() + ".streams")) {
    const std::string stream = Unhex(file.filename().string());
    ASSERT_TRUE(streamOf.emplace(ReadAll(file), stream).second) << stream;
  }
  std::map<std::string, size_t> rows;
  std::ifstream manifest(base.string() + ".rows");
  for (std::string table; manifest >> table;) manifest >> rows[table];
  ASSERT_EQ(300u, rows.size());

  TempFolder folder;
  const auto archiveTime = fs::last_write_time(database);
  std::vector<std::pair<WString, uint64_t>> listed;
  InFolder inside(folder.path());
  {
    OpenedArchive archive(database);
    HeaderDataExW header{};
    while (ReadHeaderExW(archive.get(), &header) == 0) {
      WString name(header.fileName);
      listed.emplace_back(name, (static_cast<uint64_t>(header.unpSizeHigh) << 32) |
                                    static_cast<uint32_t>(header.unpSize));
      const fs::path parent = fs::path(name).parent_path();
      std::error_code ignored;  // a folder that cannot be made fails the extraction
      if (!parent.empty()) fs::create_directories(parent, ignored);
      EXPECT_EQ(0, ProcessFileW(archive.get(), 2, nullptr, name.data()))
          << fs::path(name).string();
    }
  }
  EXPECT_EQ(listed.size(), FilesBelowHere().size()) << "files lost or overwritten";

  std::map<std::string, size_t> entries, cellStreams, streamsOfTable;
  std::set<std::string> seenInCells, seenInStreams;
  for (const auto& entry : streamOf) {
    ++streamsOfTable[entry.second.substr(0, entry.second.find('.'))];
  }
  for (const auto& [name, size] : listed) {
    const fs::path file(name);
    const std::string bytes = ReadAll(file);
    EXPECT_EQ(size, bytes.size()) << file.string();
    // The time as the listing has it: to the 100 ns of a FILETIME.
    EXPECT_LT(std::chrono::abs(archiveTime - fs::last_write_time(file)),
              std::chrono::microseconds(1))
        << file.string();
    const std::string top = Ascii(TopFolder(name));
    if (top.empty()) continue;  // _SummaryInformation.csv
    ++entries[top];
    if (bytes.empty()) continue;  // a row without a stream
    const auto found = streamOf.find(bytes);
    ASSERT_NE(found, streamOf.end()) << file.string() << ": no stream holds these bytes";
    if (top == "_Streams") {
      EXPECT_TRUE(seenInStreams.insert(found->second).second) << found->second << " twice";
    } else {
      EXPECT_EQ(top + ".", found->second.substr(0, top.size() + 1)) << file.string();
      EXPECT_TRUE(seenInCells.insert(found->second).second) << found->second << " twice";
      ++cellStreams[top];
    }
  }
  EXPECT_EQ(streamOf.size(), seenInStreams.size()) << "streams missing from _Streams";
  for (const auto& [table, count] : rows) {
    EXPECT_EQ(count, entries[table]) << table;
    EXPECT_EQ(streamsOfTable[table], cellStreams[table]) << table;
  }
  if (const char* tree = std::getenv("MSIARC_PROBE_TREE")) {
    std::ofstream(fs::path(tree), std::ios::binary) << TreeManifest();
  }
}

// 20,000 rows of one name list promptly, numbered as counting afresh from
// 1 for every name would number them, each name once.
TEST(NamingProperty, TwentyThousandEqualNamesAreNumberedInOrder) {
  OpenedArchive archive(FixtureFile("colliding-rows.msi"));
  std::vector<WString> names;
  HeaderDataExW header{};
  while (ReadHeaderExW(archive.get(), &header) == 0) names.emplace_back(header.fileName);
  // The summary, the rows, _Validation.csv, the summary's stream.
  ASSERT_EQ(20003u, names.size());
  EXPECT_EQ(HostName("Rows\\same.bin"), names[1]);
  char expected[32];
  for (unsigned k = 1; k < 400; ++k) {
    std::snprintf(expected, sizeof expected, "Rows\\same_%03u.bin", k);
    ASSERT_EQ(HostName(expected), names[k + 1]);
  }
  EXPECT_EQ(HostName("Rows\\same_19999.bin"), names[20000]);
  EXPECT_EQ(names.size(), std::set<WString>(names.begin(), names.end()).size());
}

}  // namespace
