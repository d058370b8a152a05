// Tables whose names a query must quote (keywords, a leading digit, a
// space), two whose names differ only in case, and one whose name no query
// can hold (a back quote): every table the engine can read is shown under
// its own name with its own rows, and a keyword-named stream table keeps
// its folder and its _Streams aliases. Run on both builds.
#include <map>

#include "support/export_support.h"

using namespace plugin_test;

namespace {

::testing::Environment* const kModule =
    ::testing::AddGlobalTestEnvironment(new ModuleEnvironment);

std::vector<WString> ListNames(const std::string& database) {
  OpenedArchive archive(database);
  std::vector<WString> names;
  HeaderDataExW header{};
  while (ReadHeaderExW(archive.get(), &header) == 0) names.emplace_back(header.fileName);
  return names;
}

TEST(TableNames, EveryTableUnderItsOwnNameWithItsOwnRows) {
  const std::string path = FixtureFile("table-names.msi");
  // Entry -> what it holds: a table's first row (its Id and Value cells) or
  // a cell's bytes. _Validation's order first (FOO has no table), then the
  // engine's catalogue; foo` is in the catalogue, and shows nowhere.
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"_SummaryInformation.csv", ""},
      {"Order.csv", "\"row of Order\",\"value 1\""},
      {"foo.csv", "\"row of foo\",\"value 5\""},
      {"Long\\k1", "first cell of Long"},
      {"Long\\k2", "second cell of Long, longer"},
      {"Select.csv", "\"row of Select\",\"value 2\""},
      {"1abc.csv", "\"row of 1abc\",\"value 3\""},
      {"my table.csv", "\"row of my table\",\"value 4\""},
      {"Foo_001.csv", "\"row of Foo\",\"value 6\""},
      {"_Validation.csv", "\"Order\",\"Data\""},
      {"_Streams\\k1", "first cell of Long"},
      {"_Streams\\k2", "second cell of Long, longer"},
      {"_Streams\\_SummaryInformation", ""},
  };
  const std::vector<WString> listed = ListNames(path);
  std::vector<WString> want;
  for (const auto& [name, content] : expected) want.push_back(HostName(name));
  EXPECT_EQ(want, listed);

  // Each in an archive of its own: Wine's msi.dll reads a stream once per
  // database, and the aliases read the cells' streams.
  for (const auto& [name, content] : expected) {
    if (content.empty()) continue;
    SCOPED_TRACE(name);
    OpenedArchive archive(path);
    HeaderDataExW header{};
    ASSERT_TRUE(archive.ListUntil(HostName(name), &header));
    TempFolder folder;
    WString destination = PathText(folder.path() / "out");
    ASSERT_EQ(0, ProcessFileW(archive.get(), 2, nullptr, destination.data()));
    const std::string bytes = ReadAll(folder.path() / "out");
    if (name.find(".csv") == std::string::npos) {
      EXPECT_EQ(content, bytes);
    } else {
      EXPECT_NE(bytes.find(content), std::string::npos) << bytes;
    }
  }
}

}  // namespace
