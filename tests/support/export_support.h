// Driving the exports as a host does: open, list, extract, close.
#pragma once

#include <gtest/gtest.h>

#ifndef _WIN32
#include <unistd.h>
#endif

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "plugin/exports.h"
#include "plugin/module.h"
#include "support/helpers.h"
#include "support/path_text.h"
#include "text/text.h"

namespace plugin_test {

namespace fs = std::filesystem;

using test_support::ReadAll;
using test_support::TempFolder;
using test_support::W;

// The entry name the way this platform's host sees it.
inline WString HostName(const std::string& archiveName) {
  WString name = W(archiveName);
#ifndef _WIN32
  for (WCHAR& c : name) {
    if (c == WTEXT('\\')) c = WTEXT('/');
  }
#endif
  return name;
}

// One record of each listing kind with every byte set to `fill`, so that a
// test sees which bytes a call wrote.
struct HeaderRecords {
  HeaderData narrow;
  HeaderDataEx ex;
  HeaderDataExW wide;
  explicit HeaderRecords(unsigned char fill) {
    std::memset(&narrow, fill, sizeof narrow);
    std::memset(&ex, fill, sizeof ex);
    std::memset(&wide, fill, sizeof wide);
  }
};

class OpenedArchive {
 public:
  explicit OpenedArchive(const fs::path& file) {
    WString name = PathText(file);
    OpenArchiveDataW data{};
    data.arcName = name.data();
    data.openMode = 1;
    handle_ = OpenArchiveW(&data);
    openResult_ = data.openResult;
  }
  ~OpenedArchive() {
    if (handle_ != nullptr) CloseArchive(handle_);
  }
  OpenedArchive(const OpenedArchive&) = delete;
  OpenedArchive& operator=(const OpenedArchive&) = delete;
  HANDLE get() const { return handle_; }
  int openResult() const { return openResult_; }

  // Lists up to and including the entry named (host form); false at the end.
  bool ListUntil(const WString& name, HeaderDataExW* header) {
    while (ReadHeaderExW(handle_, header) == 0) {
      if (WString(header->fileName) == name) return true;
    }
    return false;
  }

 private:
  HANDLE handle_ = nullptr;
  int openResult_ = 0;
};

inline std::string FixtureFile(const char* name) {
  return test_support::FixturePath(name).string();
}

inline std::string CorpusFile(const char* name) {
  return test_support::CorpusPath(name).string();
}

class ModuleEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { AttachModule(); }
};

}  // namespace plugin_test
