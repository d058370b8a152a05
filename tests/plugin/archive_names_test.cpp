// What a host sees of names and stream aliases, checked against the streams
// as msitools reads them (the fixture scripts write them beside each
// database): every entry shows the bytes of the stream it names, no two
// entries share a name, and no name is one that Windows' file system would
// change, so that extracting everything into one folder loses nothing.
#include <map>

#include "support/export_support.h"

using namespace plugin_test;

namespace {

::testing::Environment* const kModule =
    ::testing::AddGlobalTestEnvironment(new ModuleEnvironment);

struct Listed {
  WString name;  // as the host sees it
  uint64_t size;
};

std::vector<Listed> ListAll(const std::string& database) {
  OpenedArchive archive(database);
  std::vector<Listed> listed;
  HeaderDataExW header{};
  while (ReadHeaderExW(archive.get(), &header) == 0) {
    listed.push_back({WString(header.fileName),
                      (static_cast<uint64_t>(header.unpSizeHigh) << 32) |
                          static_cast<uint32_t>(header.unpSize)});
  }
  return listed;
}

// Lists the database and extracts, into `folder` under its host name,
// every entry for which `wanted` holds, creating folders as a host does.
// Returns each extracted entry's result.
template <typename Wanted>
std::map<WString, int> ExtractInto(const std::string& database,
                                   const fs::path& folder, Wanted wanted) {
  OpenedArchive archive(database);
  std::map<WString, int> results;
  HeaderDataExW header{};
  while (ReadHeaderExW(archive.get(), &header) == 0) {
    const WString name(header.fileName);
    if (!wanted(name)) continue;
    const fs::path file = folder / fs::path(name);
    fs::create_directories(file.parent_path());
    WString destination = PathText(file);
    results[name] = ProcessFileW(archive.get(), 2, nullptr, destination.data());
  }
  return results;
}

bool InStreams(const WString& name) {
  return name.rfind(HostName("_Streams\\"), 0) == 0;
}

// The stream as msitools read it when the fixture was built: a file named
// by the hexadecimal bytes of the stream's name.
std::string Reference(const char* database, const std::string& stream) {
  std::string hex;
  for (unsigned char c : stream) {
    const char digits[] = "0123456789abcdef";
    hex += digits[c >> 4];
    hex += digits[c & 15];
  }
  const fs::path file =
      fs::path(FixtureFile(database)).replace_extension(".streams") / hex;
  EXPECT_TRUE(fs::exists(file)) << file;
  return ReadAll(file);
}

size_t RegularFilesUnder(const fs::path& folder) {
  return test_support::FilesIn(folder, true).size();
}

// Extracts the whole archive into `folder` in two passes, each in its own
// archive: the _Streams folder, then everything else. (Wine's msi.dll keeps
// one read position per stream and database, so a stream read through a
// table's cell reads as empty through its _Streams row in the same archive.)
// Every entry must come out whole, in a file of its own.
void ExtractEachApart(const std::string& database,
                      const std::vector<Listed>& listed, const fs::path& folder) {
  std::map<WString, int> results = ExtractInto(database, folder, InStreams);
  for (const auto& [name, result] : ExtractInto(
           database, folder, [](const WString& n) { return !InStreams(n); })) {
    results[name] = result;
  }
  for (const auto& [name, result] : results) {
    EXPECT_EQ(0, result) << fs::path(name).string();
  }
  EXPECT_EQ(listed.size(), results.size());
  EXPECT_EQ(listed.size(), RegularFilesUnder(folder));
  for (const Listed& entry : listed) {
    EXPECT_EQ(entry.size, ReadAll(folder / fs::path(entry.name)).size())
        << fs::path(entry.name).string();
  }
}

// A _Streams row is the alias of the cell whose stream it is: the stream
// is named by the table's keys, whichever column names the cell (Mix is
// keyed by Id and named by Label), and by all of them (multi-key.msi: two
// keys, a null and a negative integer, three keys). Keys that become one
// name once made safe stay apart, as do aliases of equal keys in two
// tables: an alias is named by its stream's key, made safe and unique like
// any name. Extracted in one pass, every entry comes out whole, on Wine's
// msi.dll too, which would read a stream only once.
TEST(StreamAliases, EveryEntryShowsTheStreamItNames) {
  const std::map<std::string, std::vector<std::pair<std::string, std::string>>> databases = {
      // entry (archive form) -> stream it shows
      {"alias-probes.msi",
       {{"Mix\\2", "Mix.1"},           {"Mix\\1", "Mix.2"},
        {"Icon\\__", "Icon.__"},       {"Icon\\___001", "Icon..."},
        {"Icon\\logo", "Icon.logo"},   {"Art\\logo", "Art.logo"},
        {"_Streams\\1", "Mix.1"},      {"_Streams\\2", "Mix.2"},
        {"_Streams\\__", "Icon..."},   {"_Streams\\___001", "Icon.__"},
        {"_Streams\\logo", "Art.logo"}, {"_Streams\\logo_001", "Icon.logo"}}},
      {"multi-key.msi",
       {{"Sig\\Media", "Sig.Media.1"},         {"Sig\\Media_001", "Sig.Media.2"},
        {"Patch\\file", "Patch.file.1"},       {"Patch\\file_001", "Patch.file.2"},
        {"Late\\x", "Late.-32768"},            {"Late\\y", "Late.-4"},
        {"Wide\\w", "Wide.70000"},             {"Three\\p", "Three.p.7.q"},
        {"_Streams\\Media.1", "Sig.Media.1"},  {"_Streams\\Media.2", "Sig.Media.2"},
        {"_Streams\\file.1", "Patch.file.1"},  {"_Streams\\file.2", "Patch.file.2"},
        {"_Streams\\-32768", "Late.-32768"},   {"_Streams\\-4", "Late.-4"},
        {"_Streams\\70000", "Wide.70000"},     {"_Streams\\p.7.q", "Three.p.7.q"}}},
  };
  for (const auto& [db, expected] : databases) {
    SCOPED_TRACE(db);
    const std::string path = FixtureFile(db.c_str());
    std::vector<Listed> listed = ListAll(path);
    // and the two summaries and _Validation.csv
    ASSERT_EQ(expected.size() + 3, listed.size());
    EXPECT_EQ(HostName("_SummaryInformation.csv"), listed.front().name);
    EXPECT_EQ(HostName("_Streams\\_SummaryInformation"), listed.back().name);

    TempFolder folder;
    for (const auto& [name, result] :
         ExtractInto(path, folder.path(), [](const WString&) { return true; })) {
      EXPECT_EQ(0, result) << fs::path(name).string();
    }
    EXPECT_EQ(listed.size(), RegularFilesUnder(folder.path()));
    for (const auto& [entry, stream] : expected) {
      const fs::path file = folder.path() / fs::path(HostName(entry));
      EXPECT_EQ(Reference(db.c_str(), stream), ReadAll(file)) << entry;
    }
  }
}

// Names Windows' CreateFileW would change (trailing full stops and spaces
// dropped) or refuse (< > : " | ? *) are mended the same way on both
// builds, and every entry lands in a file of its own.
TEST(WindowsNames, MendedNamesKeepEveryStreamApart) {
  const char* db = "windows-names.msi";
  const std::string path = FixtureFile(db);
  // Cells in row order, each with its key.
  const std::vector<std::pair<std::string, std::string>> cells = {
      {"Names\\trail_", "trail."},       {"Names\\trail", "trail"},
      {"Names\\a.b.c_", "a.b.c "},       {"Names\\a.b.c", "a.b.c"},
      {"Names\\x_y", "x:y"},             {"Names\\x", "x"},
      {"Names\\x_y_001", "x_y"},         {"Names\\ask_", "ask?"},
      {"Names\\_in_", "<in>"},           {"Names\\_q_", "\"q\""},
      {"Names\\p_q", "p|q"},             {"Names\\st_r", "st*r"},
      {"Names\\dots___", "dots..."},     {"Names\\sp__", "sp  "},
      {"Names\\dir_\\f", "dir.\\f"},    {"Names\\dir_\\f_001", "dir_\\f"},
      {"Names\\ok name.txt", "ok name.txt"},
  };
  std::vector<Listed> listed = ListAll(path);
  // The summary, the cells, _Validation.csv, the aliases and the summary
  // stream.
  ASSERT_EQ(1 + 2 * cells.size() + 2, listed.size());
  for (size_t i = 0; i < cells.size(); ++i) {
    EXPECT_EQ(HostName(cells[i].first), listed[1 + i].name);
  }
  EXPECT_EQ(HostName("_Validation.csv"), listed[1 + cells.size()].name);
  std::map<WString, int> aliases;
  for (size_t i = 2 + cells.size(); i + 1 < listed.size(); ++i) {
    EXPECT_TRUE(InStreams(listed[i].name));
    ++aliases[listed[i].name];
  }
  EXPECT_EQ(cells.size(), aliases.size()) << "alias names repeat";

  TempFolder folder;
  ExtractEachApart(path, listed, folder.path());
  std::map<std::string, int> aliasBytes;  // bytes of each alias -> count
  for (const auto& [name, count] : aliases) {
    ++aliasBytes[ReadAll(folder.path() / fs::path(name))];
  }
  for (const auto& [entry, key] : cells) {
    const std::string want = Reference(db, "Names." + key);
    EXPECT_EQ(want, ReadAll(folder.path() / fs::path(HostName(entry)))) << entry;
    EXPECT_EQ(1, aliasBytes[want]) << "alias of " << entry;
  }
}

}  // namespace
