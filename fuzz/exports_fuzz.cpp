// libFuzzer entry: the plug-in's exported functions over arbitrary bytes, as
// a host drives them: recognise, open, list every entry, extract each one
// into a scratch file (every other one only tested), close.
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include "plugin/exports.h"
#include "plugin/module.h"

namespace {

std::u16string Widen(const std::string& text) {
  return std::u16string(text.begin(), text.end());  // the paths are ASCII
}

// A folder of its own under the temporary folder, removed when the process
// ends normally (libFuzzer's run limits end it through exit).
struct Scratch {
  std::string dir;
  std::u16string database;
  std::u16string output;
  Scratch() {
    std::string pattern = std::filesystem::temp_directory_path().string() +
                          "/msiarc-exports-fuzz-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) abort();
    dir = pattern;
    database = Widen(dir + "/input.msi");
    output = Widen(dir + "/entry.out");
  }
  ~Scratch() {
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
  }
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Scratch scratch;
  AttachModule();
  const std::string path = scratch.dir + "/input.msi";
  FILE* file = fopen(path.c_str(), "wb");
  if (file == nullptr) return 0;
  if (size != 0 && fwrite(data, 1, size, file) != size) {
    fclose(file);
    return 0;
  }
  fclose(file);

  std::u16string database = scratch.database;
  CanYouHandleThisFileW(database.data());

  OpenArchiveDataW open{};
  open.arcName = database.data();
  open.openMode = 1;
  HANDLE archive = OpenArchiveW(&open);
  if (archive == nullptr) return 0;

  std::u16string output = scratch.output;
  static HeaderDataExW header;
  for (int entry = 0; entry < 4096; ++entry) {
    if (ReadHeaderExW(archive, &header) != 0) break;
    ProcessFileW(archive, entry % 2 == 0 ? 2 : 1, nullptr, output.data());
  }
  // Once more past the end: the last entry listed is extracted again.
  ProcessFileW(archive, 2, nullptr, output.data());
  CloseArchive(archive);
  return 0;
}
