// A file system path as the 16-bit text the exported functions take.
#pragma once

#include <filesystem>
#include <string>

#include "platform/win32.h"

inline std::basic_string<WCHAR> PathText(const std::filesystem::path& path) {
#ifdef _WIN32
  return path.wstring();
#else
  return path.u16string();
#endif
}
