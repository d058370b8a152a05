// The files a Linux host hands over, through the exports: a database cut
// short while its archive is open, and paths whose names hold backslashes.
#include <map>

#include "plugin/export_support.h"

using namespace plugin_test;

namespace {

::testing::Environment* const kModule =
    ::testing::AddGlobalTestEnvironment(new ModuleEnvironment);

// Every entry of an archive, by the name the host sees, with its bytes.
std::map<WString, std::string> ExtractAll(const fs::path& database, const fs::path& scratch) {
  std::map<WString, std::string> entries;
  OpenedArchive archive(database);
  HeaderDataExW header{};
  WString target = PathText(scratch);
  while (ReadHeaderExW(archive.get(), &header) == 0) {
    if (ProcessFileW(archive.get(), 2, nullptr, target.data()) == 0) {
      entries[header.fileName] = ReadAll(scratch);
    }
  }
  return entries;
}

// Another program cuts the file while the archive is open (a build that
// rewrites its database in place, a download started again): every later
// call answers with a code, and an entry extracted without error has its
// bytes. Before, the engine read a mapping of the file and the host died of
// a bus error at the first page past the new end.
TEST(HostFiles, ArchiveCutShortWhileOpenAnswersEveryCall) {
  TempFolder folder;
  const fs::path original = CorpusFile("lessmsi__putty-0.68-installer.msi");
  const std::map<WString, std::string> whole = ExtractAll(original, folder.path() / "whole");
  ASSERT_GT(whole.size(), 20u);
  for (uintmax_t cut : {uintmax_t{64} << 10, uintmax_t{1} << 20}) {
    SCOPED_TRACE(cut);
    const fs::path copy = folder.path() / "copy.msi";
    fs::copy_file(original, copy, fs::copy_options::overwrite_existing);
    OpenedArchive archive(copy);
    ASSERT_EQ(0, archive.openResult());
    HeaderDataExW header{};
    ASSERT_EQ(0, ReadHeaderExW(archive.get(), &header));
    fs::resize_file(copy, cut);

    const fs::path out = folder.path() / "out";
    WString target = PathText(out);
    size_t extracted = 0;
    size_t refused = 0;
    do {
      fs::remove(out);
      const WString name = header.fileName;
      if (ProcessFileW(archive.get(), 2, nullptr, target.data()) == 0) {
        ++extracted;
        auto known = whole.find(name);
        ASSERT_NE(whole.end(), known);
        EXPECT_TRUE(ReadAll(out) == known->second);
      } else {
        ++refused;
      }
    } while (ReadHeaderExW(archive.get(), &header) == 0);
    // The cut took most of the streams; some entries were still whole.
    EXPECT_GT(refused, 0u);
    EXPECT_GT(extracted, 0u);
  }
}

// On Linux a backslash is an ordinary character of a file name: a database
// saved as "a\b.msi" is recognised and opened, and entries extract into a
// folder named "out\dir", whether the host names the folder and the file
// apart or the whole path at once. Nothing lands in folders "a" or "out".
TEST(HostFiles, BackslashesInHostPathsArePartOfNames) {
  TempFolder folder;
  const fs::path database = folder.path() / "a\\b.msi";
  fs::copy_file(FixtureFile("types.msi"), database);
  WString name = PathText(database);
  EXPECT_EQ(1, CanYouHandleThisFileW(name.data()));
  OpenedArchive archive(database);
  ASSERT_EQ(0, archive.openResult());

  const fs::path dest = folder.path() / "out\\dir";
  fs::create_directory(dest);
  WString destText = PathText(dest);
  HeaderDataExW header{};
  ASSERT_TRUE(archive.ListUntil(HostName("Binary\\alphabet"), &header));
  WString file = W("alphabet");
  EXPECT_EQ(0, ProcessFileW(archive.get(), 2, destText.data(), file.data()));
  EXPECT_EQ("abcdefghijklmnopqrstuvwxyz", ReadAll(dest / "alphabet"));
  ASSERT_TRUE(archive.ListUntil(HostName("Binary\\big"), &header));
  WString whole = PathText(dest / "big");
  EXPECT_EQ(0, ProcessFileW(archive.get(), 2, nullptr, whole.data()));
  EXPECT_EQ(5000u, ReadAll(dest / "big").size());

  EXPECT_FALSE(fs::exists(folder.path() / "a"));
  EXPECT_FALSE(fs::exists(folder.path() / "out"));
}

}  // namespace
