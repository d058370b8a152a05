// The files a Linux host hands over, through the exports.
#include "plugin/export_support.h"

using namespace plugin_test;

namespace {

::testing::Environment* const kModule =
    ::testing::AddGlobalTestEnvironment(new ModuleEnvironment);

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
