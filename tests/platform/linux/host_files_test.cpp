// The files a Linux host hands over, through the exports: a database cut
// short while its archive is open, files that are not regular files, and
// paths whose names hold backslashes.
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <future>
#include <map>
#include <tuple>

#include "support/export_support.h"

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

// Recognition and open refuse at once what is not a regular file. Opening a
// pipe that has no writer used to wait for ever (the engine opened the path
// before it looked at the type), freezing a host that asks about every file
// of a folder; so each answer is awaited for a bounded time, and a reader
// left waiting on the pipe is released by opening it for writing.
TEST(HostFiles, SpecialFilesAreRefusedAtOnce) {
  TempFolder folder;
  const fs::path pipe = folder.path() / "pipe.msi";
  ASSERT_EQ(0, mkfifo(pipe.c_str(), 0600));
  const fs::path socketPath = folder.path() / "socket.msi";
  const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(listener, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  ASSERT_LT(socketPath.string().size(), sizeof address.sun_path);
  std::strcpy(address.sun_path, socketPath.c_str());
  ASSERT_EQ(0, bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address));

  for (const fs::path& path : {pipe, socketPath, fs::path("/dev/zero"), folder.path()}) {
    SCOPED_TRACE(path.string());
    WString name = PathText(path);
    auto answers = std::async(std::launch::async, [&name] {
      const BOOL known = CanYouHandleThisFileW(name.data());
      OpenArchiveDataW data{};
      data.arcName = name.data();
      data.openMode = 1;
      HANDLE handle = OpenArchiveW(&data);
      if (handle != nullptr) CloseArchive(handle);
      return std::make_tuple(known, handle != nullptr, data.openResult);
    });
    if (answers.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
      ADD_FAILURE() << "no answer within 10 s";
      while (answers.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready) {
        const int writer = open(pipe.c_str(), O_WRONLY | O_NONBLOCK);
        if (writer >= 0) close(writer);
      }
    }
    const auto [known, opened, result] = answers.get();
    EXPECT_EQ(0, known);
    EXPECT_FALSE(opened);
    EXPECT_EQ(kHostUnknownFormat, result);
  }
  close(listener);
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
