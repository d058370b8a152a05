// What every test program shares: 16-bit text from ASCII, the test
// databases (the corpus of real ones, the fixtures the build makes from
// text), whole files and scratch folders. A database or folder a test
// needs and does not find fails that test with the missing path named.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "platform/win32.h"

namespace test_support {

namespace fs = std::filesystem;

// ASCII text as the 16-bit text the system works in.
inline std::basic_string<WCHAR> W(std::string_view ascii) {
  return std::basic_string<WCHAR>(ascii.begin(), ascii.end());
}

// Runs body(0) to body(count - 1) at once, each on a thread of its own,
// and returns when all have ended.
inline void OnThreads(int count, const std::function<void(int)>& body) {
  std::vector<std::thread> threads;
  for (int t = 0; t < count; ++t) threads.emplace_back(body, t);
  for (std::thread& thread : threads) thread.join();
}

inline long ProcessId() {
#ifdef _WIN32
  return static_cast<long>(GetCurrentProcessId());
#else
  return static_cast<long>(getpid());
#endif
}

// The path of a test database; records a failure naming it when it is not
// there, so that a missing file reads as such rather than as a wrong answer.
inline fs::path Needed(const fs::path& path, const char* what) {
  std::error_code error;
  if (!fs::is_regular_file(path, error)) {
    ADD_FAILURE() << "missing " << what << ": " << path.string();
  }
  return path;
}

// tests/corpus, or the corpus MSIARC_CORPUS_DIR named at configure time.
inline fs::path CorpusDir() { return fs::path(MSIARC_CORPUS_DIR); }

inline fs::path CorpusPath(std::string_view name) {
  return Needed(CorpusDir() / std::string(name),
                "corpus database (tests/corpus, or MSIARC_CORPUS_DIR)");
}

// A database scripts/build-fixtures.sh built (target fixtures).
inline fs::path FixturePath(std::string_view name) {
  return Needed(fs::path(MSIARC_FIXTURE_DIR) / std::string(name),
                "fixture (built by the target fixtures)");
}

// The regular files of a folder (of its whole tree when recursive), sorted.
// A folder that is missing, cannot be read or holds no file fails the test.
inline std::vector<fs::path> FilesIn(const fs::path& folder, bool recursive = false) {
  std::vector<fs::path> files;
  std::error_code error;
  if (!fs::is_directory(folder, error)) {
    ADD_FAILURE() << "missing folder: " << folder.string();
    return files;
  }
  auto collect = [&](auto it) {
    for (; !error && it != decltype(it)(); it.increment(error)) {
      std::error_code ignored;
      if (it->is_regular_file(ignored)) files.push_back(it->path());
    }
  };
  if (recursive) {
    collect(fs::recursive_directory_iterator(folder, error));
  } else {
    collect(fs::directory_iterator(folder, error));
  }
  if (error) ADD_FAILURE() << "cannot read " << folder.string() << ": " << error.message();
  std::sort(files.begin(), files.end());
  if (files.empty() && !error) ADD_FAILURE() << "no file in " << folder.string();
  return files;
}

// Every database of the corpus (not its broken files, not MANIFEST.tsv nor
// hidden files), sorted by name.
inline std::vector<fs::path> CorpusDatabases() {
  std::vector<fs::path> databases;
  for (const fs::path& file : FilesIn(CorpusDir())) {
    const std::string name = file.filename().string();
    if (file.extension() != ".tsv" && name[0] != '.') databases.push_back(file);
  }
  return databases;
}

// Files that are no database though they look like one: the corpus's
// broken/ folder and the fixture that is a Git LFS pointer's text.
inline std::vector<fs::path> BrokenInputs() {
  std::vector<fs::path> files = FilesIn(CorpusDir() / "broken");
  files.push_back(FixturePath("lfs-pointer.msi"));
  return files;
}

// The whole file as bytes; empty when it cannot be read.
inline std::string ReadAll(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::vector<uint8_t> ReadBytes(const fs::path& file) {
  const std::string bytes = ReadAll(file);
  return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

// A fresh folder under the system's temporary folder, removed afterwards;
// named by the process too, since test programs run side by side.
class TempFolder {
 public:
  TempFolder() {
    static int serial = 0;
    path_ = fs::temp_directory_path() /
            ("msiarc-test-" + std::to_string(ProcessId()) + "-" + std::to_string(serial++));
    fs::remove_all(path_);
    fs::create_directories(path_);
  }
  ~TempFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

}  // namespace test_support
