// Opening test databases and reading back what the catalogue made of them.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "catalog/catalog.h"
#include "plugin/exports.h"
#include "plugin/module.h"
#include "support/helpers.h"
#include "support/path_text.h"
#include "tree/tree.h"

namespace catalog_test {

namespace fs = std::filesystem;

// The module attach runs from the library's entry point, which a test
// program does not have.
class AttachEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { AttachModule(); }
};
inline ::testing::Environment* const attach =
    ::testing::AddGlobalTestEnvironment(new AttachEnvironment);

using test_support::W;

inline std::string Narrow(const WString& text) {
  std::string out;
  for (WCHAR c : text) out += c < 0x80 ? static_cast<char>(c) : '?';
  return out;
}

inline fs::path Fixture(const std::string& name) {
  return test_support::FixturePath(name + ".msi");
}

inline fs::path Corpus(const std::string& name) { return test_support::CorpusPath(name); }

inline HANDLE OpenPath(const fs::path& path, int mode = 0,
                       int* result = nullptr) {
  WString name = PathText(path);
  OpenArchiveDataW data{};
  data.arcName = name.data();
  data.openMode = mode;
  data.openResult = -1;
  HANDLE handle = OpenArchiveW(&data);
  if (result != nullptr) *result = data.openResult;
  return handle;
}

// An open archive whose catalogue the test builds and inspects directly.
class Opened {
 public:
  explicit Opened(const fs::path& path) : handle_(OpenPath(path)) {}
  ~Opened() {
    if (handle_ != nullptr) CloseArchive(handle_);
  }
  Opened(const Opened&) = delete;
  Opened& operator=(const Opened&) = delete;

  MsiArchive* archive() const { return static_cast<MsiArchive*>(handle_); }
  // What a list of the archive links, in order.
  template <typename T>
  static std::vector<T*> Owners(ListLink& list) {
    std::vector<T*> owners;
    for (ListLink* n = list.next; n != &list; n = n->next) owners.push_back(ListOwner<T>(n));
    return owners;
  }
  HANDLE handle() const { return handle_; }
  void Build() { BuildCatalogue(archive()); }

  std::vector<std::string> TableNames() const {
    std::vector<std::string> names;
    for (const WString& name : archive()->tableNames) names.push_back(Narrow(name));
    return names;
  }
  std::vector<TableInfo*> Tables() const { return Owners<TableInfo>(archive()->tables); }
  TableInfo* Table(const std::string& name) const {
    for (TableInfo* table : Tables()) {
      if (Narrow(table->name) == name) return table;
    }
    return nullptr;
  }
  std::vector<FileEntry*> Entries() const { return Owners<FileEntry>(archive()->entries); }
  std::vector<std::string> EntryNames() const {
    std::vector<std::string> names;
    for (FileEntry* entry : Entries()) names.push_back(Narrow(entry->name));
    return names;
  }
  FileEntry* Entry(const std::string& name) const {
    return FindEntry(archive(), W(name).c_str());
  }

 private:
  HANDLE handle_;
};

// True when a name holds a segment made only of dots and spaces with a dot.
inline bool HasClimbingSegment(const std::string& name) {
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find_first_of("\\/", start);
    if (end == std::string::npos) end = name.size();
    std::string segment = name.substr(start, end - start);
    if (!segment.empty() && segment.find_first_not_of(". ") == std::string::npos &&
        segment.find('.') != std::string::npos) {
      return true;
    }
    start = end + 1;
  }
  return false;
}

}  // namespace catalog_test
