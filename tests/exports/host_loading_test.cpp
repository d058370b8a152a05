// The built library as a host sees it: loaded by path, every export found
// by its plain name.
#include <gtest/gtest.h>

#include "platform/win32.h"

#ifndef _WIN32
#include <dlfcn.h>
#endif

#include <string>

namespace {

const char* const kExports[] = {
    "OpenArchive",         "OpenArchiveW",          "CloseArchive",
    "ReadHeader",          "ReadHeaderEx",          "ReadHeaderExW",
    "ProcessFile",         "ProcessFileW",          "SetProcessDataProc",
    "SetProcessDataProcW", "SetChangeVolProc",      "SetChangeVolProcW",
    "GetPackerCaps",       "CanYouHandleThisFile",  "CanYouHandleThisFileW",
    "PackFiles",           "PackFilesW",            "DeleteFiles",
    "DeleteFilesW",        "ConfigurePacker",       "PackSetDefaultParams",
};

TEST(HostLoading, EveryExportResolvesByNameAndCapsAnswer) {
#ifdef _WIN32
  HMODULE library = LoadLibraryA(MSIARC_PLUGIN_PATH);
  ASSERT_NE(nullptr, library) << MSIARC_PLUGIN_PATH;
  auto find = [&](const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(library, name));
  };
#else
  void* library = dlopen(MSIARC_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(nullptr, library) << dlerror();
  auto find = [&](const char* name) { return dlsym(library, name); };
#endif
  for (const char* name : kExports) EXPECT_NE(nullptr, find(name)) << name;
  using Caps = int(WINAPI*)();
  auto caps = reinterpret_cast<Caps>(find("GetPackerCaps"));
  ASSERT_NE(nullptr, caps);
  EXPECT_EQ(196, caps());
#ifdef _WIN32
  FreeLibrary(library);
#else
  dlclose(library);
#endif
}

}  // namespace
