#include "base/language_suffix.h"

#include <gtest/gtest.h>

#include "base/shared_runtime_files.h"

namespace zor {
namespace {

TEST(GetLanguageSuffix, AnswersTheAbbreviationAndMapsHongKongByTheSystemScript) {
  struct Case {
    uint32_t Lcid;
    uint32_t System;
    const char* Expected;
  } const kCases[] = {
      {1033, 2052, "ENU"}, {2052, 1033, "CHS"}, {1028, 2052, "CHT"}, {0, 1028, "CHT"},
      {0, 1033, "ENU"},    {0, 2052, "CHS"},    {3076, 1028, "CHT"}, {3076, 3076, "CHT"},
      {3076, 2052, "CHS"}, {3076, 1033, "CHS"}, {0, 3076, "CHT"},    {4100, 1028, "ZHI"},
      {1041, 1033, "JPN"}, {0x7FFF, 1033, ""},
  };
  for (const Case& c : kCases)
    EXPECT_EQ(GetLanguageSuffix(c.Lcid, c.System), c.Expected) << c.Lcid << " on " << c.System;
  EXPECT_TRUE(IsTraditionalScriptSystem(1028));
  EXPECT_TRUE(IsTraditionalScriptSystem(3076));
  EXPECT_FALSE(IsTraditionalScriptSystem(2052));
  EXPECT_FALSE(IsTraditionalScriptSystem(5124));
}

TEST(IsSharedRuntimeFile, KnowsTheSharedNamesAndTheTwoFolders) {
  struct Case {
    const char* Path;
    bool Expected;
  } const kCases[] = {
      {"libstdc++.so.6", true},
      {"/opt/zor/LIBZ.SO.1", true},
      {"C:\\ZOR\\ZorRtl.bpl", true},
      {"client/zorcom.tlb", true},
      {"client/Bpls/anything.bin", true},
      {"client\\coms\\Reports.dll", true},
      {"Bpls", false},                   // a file named like the folder
      {"client/Bpls/sub/x.dll", false},  // only the folder directly above counts
      {"client/MyBpls/x.dll", false},
      {"IClient", false},
      {"zorrtl.bpl.bak", false},
      {"", false},
  };
  for (const Case& c : kCases) EXPECT_EQ(IsSharedRuntimeFile(c.Path), c.Expected) << c.Path;
}

}  // namespace
}  // namespace zor
