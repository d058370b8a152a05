// Destination path composition and the header-field conventions of the
// platform the plug-in is built for.
#include <gtest/gtest.h>

#include "plugin/host_conventions.h"
#include "support/helpers.h"

namespace {

using test_support::W;

WString Compose(const WCHAR* path, const WCHAR* name, bool* fits = nullptr) {
  WCHAR buffer[kDestinationUnits];
  const bool ok = ComposeDestinationPath(buffer, path, name);
  if (fits != nullptr) *fits = ok;
  return ok ? WString(buffer) : WString();
}

#ifdef _WIN32
const char kJoint[] = "\\";
#else
const char kJoint[] = "/";
#endif

TEST(Destination, JoinsPathAndName) {
  const WString name = W("T\\a.bin");
  EXPECT_EQ(W("C:\\out") + W(kJoint) + name,
            Compose(W("C:\\out").c_str(), name.c_str()));
#ifdef _WIN32
  EXPECT_EQ(W("C:\\out\\T\\a.bin"),
            Compose(W("C:\\out\\").c_str(), name.c_str()));
#else
  // A Linux folder may end in a backslash, which is part of its name.
  EXPECT_EQ(W("/tmp/out\\/T\\a.bin"),
            Compose(W("/tmp/out\\").c_str(), name.c_str()));
#endif
  EXPECT_EQ(W("/tmp/out/T\\a.bin"),
            Compose(W("/tmp/out/").c_str(), name.c_str()));
  // URL-like folders take a forward slash; the backslash in the name stays.
  EXPECT_EQ(W("ftp:x/T\\a.bin"), Compose(W("ftp:x").c_str(), name.c_str()));
  EXPECT_EQ(W("HTTP:x/T\\a.bin"), Compose(W("HTTP:x").c_str(), name.c_str()));
  EXPECT_EQ(W("https:x/T\\a.bin"),
            Compose(W("https:x").c_str(), name.c_str()));
  EXPECT_EQ(W("ftp:") + W(kJoint) + name,
            Compose(W("ftp:").c_str(), name.c_str()));
}

TEST(Destination, MissingPartsStandAlone) {
  const WString empty;
  EXPECT_EQ(W("a.bin"), Compose(nullptr, W("a.bin").c_str()));
  EXPECT_EQ(W("a.bin"), Compose(empty.c_str(), W("a.bin").c_str()));
  EXPECT_EQ(W("C:\\x.bin"), Compose(W("C:\\x.bin").c_str(), nullptr));
  EXPECT_EQ(W("C:\\x.bin"), Compose(W("C:\\x.bin").c_str(), empty.c_str()));
  EXPECT_EQ(empty, Compose(nullptr, nullptr));
}

// A destination that does not fit is refused, never cut: two long names
// sharing their first units must not land on one file.
TEST(Destination, RefusesWhatDoesNotFit) {
  const size_t limit = kDestinationUnits - 1;
  const WString folder(limit - 6, WTEXT('d'));
  bool fits = false;
  EXPECT_EQ(folder + W(kJoint) + W("a.bin"),
            Compose(folder.c_str(), W("a.bin").c_str(), &fits));
  EXPECT_TRUE(fits);
  Compose(folder.c_str(), W("ab.bin").c_str(), &fits);
  EXPECT_FALSE(fits);
  const WString whole(limit, WTEXT('p'));
  EXPECT_EQ(whole, Compose(whole.c_str(), nullptr, &fits));
  EXPECT_TRUE(fits);
  const WString over(limit + 1, WTEXT('p'));
  Compose(over.c_str(), nullptr, &fits);
  EXPECT_FALSE(fits);
  Compose(nullptr, over.c_str(), &fits);
  EXPECT_FALSE(fits);
}

// Past 259 units a Windows path takes the form that lifts the limit, made
// full and normalised first, since Windows takes that form literally.
TEST(Destination, LongPathsTakeTheLongForm) {
  const WString leaf(300, WTEXT('n'));
  const WString shortPath = W("C:\\a/b.bin");
#ifdef _WIN32
  const struct {
    const char *given, *created;
  } cases[] = {
      {"C:\\out\\", "\\\\?\\C:\\out\\"},
      {"C:/out/", "\\\\?\\C:\\out\\"},
      {"C:\\out\\x\\..\\.\\", "\\\\?\\C:\\out\\"},
      {"\\\\server\\share\\", "\\\\?\\UNC\\server\\share\\"},
      {"//server/share/", "\\\\?\\UNC\\server\\share\\"},
      {"\\\\?\\C:\\x\\..\\", "\\\\?\\C:\\x\\..\\"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(W(c.created) + leaf, HostFilePath((W(c.given) + leaf).c_str())) << c.given;
  }
  EXPECT_EQ(shortPath, HostFilePath(shortPath.c_str()));
#else
  EXPECT_EQ(W("/tmp/") + leaf + leaf, HostFilePath((W("/tmp/") + leaf + leaf).c_str()));
  EXPECT_EQ(shortPath, HostFilePath(shortPath.c_str()));
#endif
}

TEST(HostConventions, HeaderFieldsFollowThePlatform) {
  const WString name = W("Binary\\setup.dll");
  // 2001-09-09 01:46:40 UTC = Unix time 1000000000.
  const uint64_t ticks = 116444736000000000ULL + 1000000000ULL * 10000000ULL;
  const FILETIME time{static_cast<DWORD>(ticks),
                      static_cast<DWORD>(ticks >> 32)};
#ifdef _WIN32
  EXPECT_EQ(name, HostEntryName(name));
  EXPECT_EQ(0x20, HostFileAttributes());
  EXPECT_EQ(static_cast<int>(PackDosDateTime(time)), HostFileTime(time));
  EXPECT_EQ(kDestinationUnits, 32768u);
#else
  EXPECT_EQ(W("Binary/setup.dll"), HostEntryName(name));
  EXPECT_EQ(0100644, HostFileAttributes());
  EXPECT_EQ(1000000000, HostFileTime(time));
  EXPECT_EQ(-1, HostFileTime(FILETIME{static_cast<DWORD>(116444736000000000ULL - 1),
                                      static_cast<DWORD>((116444736000000000ULL - 1) >> 32)}));
  EXPECT_EQ(INT32_MAX, HostFileTime(FILETIME{0xFFFFFFFF, 0x7FFFFFFF}));
  EXPECT_EQ(kDestinationUnits, 4096u);
#endif
}

TEST(HostConventions, PackedDosTimeFields) {
  auto pack = [](uint64_t unixSeconds) {
    const uint64_t ticks = 116444736000000000ULL + unixSeconds * 10000000ULL;
    return PackDosDateTime(
        FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)});
  };
  // 2001-09-09 01:46:40 UTC; local time is at most a day away, and zone
  // offsets are whole quarter hours, so the seconds survive.
  const DWORD packed = pack(1000000000);
  EXPECT_EQ(21u, packed >> 25);
  EXPECT_EQ(9u, (packed >> 21) & 0xF);
  EXPECT_GE((packed >> 16) & 0x1F, 8u);
  EXPECT_LE((packed >> 16) & 0x1F, 10u);
  EXPECT_EQ(20u, packed & 0x1F);
  // 1970-01-02: the year field wraps to (1970 - 1980) mod 128.
  EXPECT_EQ(118u, pack(86400) >> 25);
}

}  // namespace
