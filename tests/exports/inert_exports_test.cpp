// The exports that need no database: capabilities, the refusals of a
// read-only plug-in, and the module-wide slots.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "plugin/exports.h"
#include "plugin/module.h"
#include "support/helpers.h"

namespace {

int WINAPI ProgressA(char*, int) { return 1; }
int WINAPI ProgressW(WCHAR*, int) { return 1; }
int WINAPI VolumeA(char*, int) { return 1; }
int WINAPI VolumeW(WCHAR*, int) { return 1; }

TEST(InertExports, CapabilitiesAndRefusals) {
  EXPECT_EQ(196, GetPackerCaps());
  EXPECT_EQ(196, GetPackerCaps());
  char name[] = "a.msi";
  WCHAR wide[] = WTEXT("a.msi");
  EXPECT_EQ(24, PackFiles(nullptr, nullptr, nullptr, nullptr, 0));
  EXPECT_EQ(24, PackFiles(name, name, name, name, 1));
  EXPECT_EQ(24, PackFilesW(nullptr, nullptr, nullptr, nullptr, 0));
  EXPECT_EQ(24, PackFilesW(wide, wide, wide, wide, 1));
  EXPECT_EQ(24, DeleteFiles(nullptr, nullptr));
  EXPECT_EQ(24, DeleteFilesW(wide, wide));
  ConfigurePacker(nullptr, nullptr);
}

TEST(InertExports, CallbackSlotsAreReplacedWhateverTheHandle) {
  SetProcessDataProc(nullptr, ProgressA);
  SetProcessDataProcW(reinterpret_cast<HANDLE>(1), ProgressW);
  SetChangeVolProc(nullptr, VolumeA);
  SetChangeVolProcW(nullptr, VolumeW);
  EXPECT_EQ(&ProgressA, processDataProc.load());
  EXPECT_EQ(&ProgressW, processDataProcW.load());
  EXPECT_EQ(&VolumeA, changeVolProc.load());
  EXPECT_EQ(&VolumeW, changeVolProcW.load());
  SetProcessDataProc(nullptr, nullptr);
  SetProcessDataProcW(nullptr, nullptr);
  SetChangeVolProc(nullptr, nullptr);
  SetChangeVolProcW(nullptr, nullptr);
  EXPECT_EQ(nullptr, processDataProc.load());
  EXPECT_EQ(nullptr, processDataProcW.load());
}

TEST(InertExports, DefaultParamsKeepThePathOrNothing) {
  PackDefaultParams params{};
  params.size = sizeof params;
  std::strcpy(params.defaultIniName, "C:\\settings\\msiarc.ini");
  PackSetDefaultParams(&params);
  EXPECT_EQ(WString(WTEXT("C:\\settings\\msiarc.ini")), DefaultSettingsPath());

  PackSetDefaultParams(nullptr);
  EXPECT_EQ(WString(), DefaultSettingsPath());

  PackSetDefaultParams(&params);
  params.defaultIniName[0] = 0;
  PackSetDefaultParams(&params);
  EXPECT_EQ(WString(), DefaultSettingsPath());

  // 259 characters fit with the terminator.
  std::memset(params.defaultIniName, 'p', 259);
  params.defaultIniName[259] = 0;
  PackSetDefaultParams(&params);
  EXPECT_EQ(WString(259, WTEXT('p')), DefaultSettingsPath());

  // No terminator inside the record: nothing is kept, nothing is overread.
  std::memset(params.defaultIniName, 'q', sizeof params.defaultIniName);
  PackSetDefaultParams(&params);
  EXPECT_EQ(WString(), DefaultSettingsPath());
}

TEST(InertExportsConcurrency, SlotsAreSharedWithoutDataRaces) {
  PackDefaultParams first{}, second{};
  std::strcpy(first.defaultIniName, "first.ini");
  std::strcpy(second.defaultIniName, "second-path.ini");
  test_support::OnThreads(4, [&](int t) {
    for (int i = 0; i < 500; ++i) {
      SetProcessDataProcW(nullptr, (i + t) % 2 ? ProgressW : nullptr);
      (void)processDataProcW.load();
      PackSetDefaultParams((i + t) % 2 ? &first : &second);
      const WString seen = DefaultSettingsPath();
      // Never a mix of the two paths.
      EXPECT_TRUE(seen == WTEXT("first.ini") || seen == WTEXT("second-path.ini"));
    }
  });
  SetProcessDataProcW(nullptr, nullptr);
}

}  // namespace
