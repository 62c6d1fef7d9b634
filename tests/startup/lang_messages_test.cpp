#include "startup/client_info/lang_messages.h"

#include <gtest/gtest.h>

#include "startup/client_info/font_substitution.h"

namespace zor {
namespace {

TEST(LangMessages, LanguageAndMessageFollowTheLcid) {
  struct Case {
    uint32_t Lcid;
    int Lang;
    const char* Message1;
    const char* Message11;
  } const kCases[] = {
      {1033, kLangEnglish, "Applcation is executed duplicated.",
       "Application need to restart computer!"},
      {1028, kLangTraditional, "本程式正在執行中, 不可重複啟動!",
       "應用程式目前需要重新啟動電腦完成安裝設定後方可正確執行!"},
      {3076, kLangTraditional, "本程式正在執行中, 不可重複啟動!",
       "應用程式目前需要重新啟動電腦完成安裝設定後方可正確執行!"},
      {2052, kLangSimplified, "本程序正在执行中, 不可重复激活!",
       "应用程序目前需要重新启动计算机完成安装设定后方可正确执行!"},
      // Singapore and Macau write the simplified or traditional script but get English.
      {4100, kLangEnglish, "Applcation is executed duplicated.",
       "Application need to restart computer!"},
      {5124, kLangEnglish, "Applcation is executed duplicated.",
       "Application need to restart computer!"},
      {1041, kLangEnglish, "Applcation is executed duplicated.",
       "Application need to restart computer!"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.Lcid);
    const int lang = LangIndexForLcid(c.Lcid);
    EXPECT_EQ(lang, c.Lang);
    EXPECT_EQ(GetLangMessageIn(lang, kMsgAlreadyRunning), c.Message1);
    EXPECT_EQ(GetLangMessageIn(lang, kMsgNeedRestart), c.Message11);
  }
}

TEST(LangMessages, EnglishLeavesTheEditionRowsEmptyAndEveryOtherLanguageFillsThem) {
  for (int number : {12, 13, 14, 20, 21, 22, 23, 24, 26, 27, 28, 29, 30, 31, 38, 39, 40, 41}) {
    SCOPED_TRACE(number);
    EXPECT_EQ(GetLangMessageIn(kLangEnglish, number), "");
    EXPECT_NE(GetLangMessageIn(kLangTraditional, number), "");
    EXPECT_NE(GetLangMessageIn(kLangSimplified, number), "");
  }
  // Every other row has a text in all three languages.
  for (int number = 0; number < kLangMessageCount; ++number) {
    if (GetLangMessageIn(kLangEnglish, number).empty()) continue;
    SCOPED_TRACE(number);
    EXPECT_NE(GetLangMessageIn(kLangTraditional, number), "");
    EXPECT_NE(GetLangMessageIn(kLangSimplified, number), "");
  }
  EXPECT_EQ(GetLangMessageIn(kLangSimplified, 38), "岳川观星者");
  EXPECT_EQ(GetLangMessageIn(kLangTraditional, 38), "觀星者");
  EXPECT_EQ(GetLangMessageIn(kLangEnglish, 17), "Continue with ininstall M880");
}

TEST(LangMessages, OutOfRangeNumbersAndLanguagesGiveEmptyText) {
  EXPECT_EQ(GetLangMessageIn(kLangEnglish, -1), "");
  EXPECT_EQ(GetLangMessageIn(kLangEnglish, kLangMessageCount), "");
  EXPECT_EQ(GetLangMessageIn(3, 1), "");
  EXPECT_EQ(GetLangMessageIn(-1, 1), "");
}

TEST(LangMessages, ProcessLanguageDrivesGetLangMessage) {
  const int saved = LangIndex();
  SetLangIndex(kLangTraditional);
  EXPECT_TRUE(IsTraditionalLanguage());
  EXPECT_EQ(GetLangMessage(kMsgAlreadyRunning), "本程式正在執行中, 不可重複啟動!");
  SetLangIndex(kLangSimplified);
  EXPECT_FALSE(IsTraditionalLanguage());
  EXPECT_EQ(GetLangMessage(2), "应用程序正在激活中, 请稍候");
  SetLangIndex(saved);
}

TEST(FontSubstitution, SubstitutesTheTwoSimplifiedFontsIgnoringCase) {
  struct Case {
    const char* Name;
    const char* Replacement;  // nullptr: no substitution
  } const kCases[] = {
      {"宋体", "新細明體"}, {"楷体_GB2312", "標楷體"}, {"楷体_gb2312", "標楷體"},
      {"宋体 ", nullptr},   {"Tahoma", nullptr},       {"", nullptr},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.Name);
    const FontSubstitution* found = FindFontSubstitution(c.Name);
    if (!c.Replacement) {
      EXPECT_EQ(found, nullptr);
      continue;
    }
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->Replacement, c.Replacement);
    EXPECT_EQ(found->Charset, 136);
  }
  EXPECT_TRUE(FontsNeedSubstitution(kLangEnglish));
  EXPECT_TRUE(FontsNeedSubstitution(kLangTraditional));
  EXPECT_FALSE(FontsNeedSubstitution(kLangSimplified));
}

}  // namespace
}  // namespace zor
