#include "platform/locale.h"

#include <gtest/gtest.h>

namespace zor {
namespace {

TEST(DeriveLcid, ZorLcidWinsWhenValidElseFirstNonEmptyLocaleVariable) {
  struct Case {
    const char* zorLcid;
    const char* lcAll;
    const char* lcMessages;
    const char* lang;
    uint32_t expected;
  } const kCases[] = {
      {"3076", "zh_CN.UTF-8", nullptr, nullptr, 3076},
      {"0x0404", nullptr, nullptr, nullptr, 1028},
      {"0X804", nullptr, nullptr, nullptr, 2052},
      // Not a valid id: the locale variables decide.
      {"", nullptr, nullptr, "zh_TW.UTF-8", 1028},
      {"0", nullptr, nullptr, "zh_TW.UTF-8", 1028},
      {"12ab", nullptr, nullptr, "zh_HK.Big5-HKSCS", 3076},
      {"-2052", nullptr, nullptr, "zh_SG", 4100},
      {"4294967296", nullptr, nullptr, "zh_CN", 2052},
      {"0x", nullptr, nullptr, "zh_CN", 2052},
      // LC_ALL before LC_MESSAGES before LANG; empty ones are skipped.
      {nullptr, "zh_TW.UTF-8", "zh_CN.UTF-8", "en_US.UTF-8", 1028},
      {nullptr, "", "zh_CN.GB18030", "zh_TW", 2052},
      {nullptr, nullptr, "", "zh_SG.UTF-8", 4100},
      {nullptr, "C", "zh_CN", "zh_CN", 1033},
      {nullptr, nullptr, nullptr, nullptr, 1033},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(DeriveLcid(c.zorLcid, c.lcAll, c.lcMessages, c.lang), c.expected)
        << (c.zorLcid ? c.zorLcid : "(unset)") << " / " << (c.lcAll ? c.lcAll : "(unset)") << " / "
        << (c.lcMessages ? c.lcMessages : "(unset)") << " / " << (c.lang ? c.lang : "(unset)");
  }
}

TEST(LcidFromLocaleName, MapsTheFourChineseTerritoriesAndNothingElse) {
  struct Case {
    const char* name;
    uint32_t expected;
  } const kCases[] = {
      {"zh_TW", 1028},       {"zh_TW.UTF-8", 1028}, {"ZH-tw", 1028},        {"zh_HK.UTF-8@x", 3076},
      {"zh_CN.GBK", 2052},   {"zh_SG", 4100},       {"zh_MO", 1033},        {"zh", 1033},
      {"zh_TWN", 1033},      {"en_GB.UTF-8", 1033}, {"POSIX", 1033},        {"", 1033},
      {"ja_JP.eucJP", 1033}, {"xzh_CN", 1033},      {"zh_CNx.UTF-8", 1033},
  };
  for (const Case& c : kCases) EXPECT_EQ(LcidFromLocaleName(c.name), c.expected) << c.name;
}

TEST(ScopedLcidOverride, ReplacesTheSystemValueAndNestsBack) {
  const uint32_t system = GetSystemDefaultLCID();
  {
    ScopedLcidOverride outer(kLcidChineseHongKong);
    EXPECT_EQ(GetSystemDefaultLCID(), 3076u);
    EXPECT_TRUE(IsTraditionalScriptSystem());
    {
      ScopedLcidOverride inner(kLcidChineseSingapore);
      EXPECT_EQ(GetSystemDefaultLCID(), 4100u);
      EXPECT_FALSE(IsTraditionalScriptSystem());
    }
    EXPECT_EQ(GetSystemDefaultLCID(), 3076u);
  }
  EXPECT_EQ(GetSystemDefaultLCID(), system);
  for (uint32_t lcid : {1028u, 3076u, 2052u, 4100u, 1033u, 5124u}) {
    ScopedLcidOverride scoped(lcid);
    EXPECT_EQ(IsTraditionalScriptSystem(), lcid == 1028u || lcid == 3076u) << lcid;
  }
}

}  // namespace
}  // namespace zor
