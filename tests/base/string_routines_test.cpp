#include "base/string_routines.h"

#include <gtest/gtest.h>

namespace zor {
namespace {

TEST(FetchToken, TakesTheTextBeforeTheDelimiterAndKeepsTheRest) {
  struct Case {
    const char* Text;
    const char* Delimiter;
    const char* Token;
    const char* Rest;
  } const kCases[] = {
      {"a;b;c", ";", "a", "b;c"},
      {"no delimiter", ";", "no delimiter", ""},  // whole text, text emptied
      {";lead", ";", "", "lead"},
      {"trail;", ";", "trail", ""},
      {"key=>value=>x", "=>", "key", "value=>x"},
      {"empty delimiter", "", "empty delimiter", ""},
      {"", ";", "", ""},
  };
  for (const Case& c : kCases) {
    std::string text = c.Text;
    EXPECT_EQ(FetchToken(text, c.Delimiter), c.Token) << c.Text;
    EXPECT_EQ(text, c.Rest) << c.Text;
  }
}

TEST(FetchTokenTrim, TrimsTheTokenAndTheRestOnTheLeft) {
  std::string text = "  Server = host ;  Port=768 ";
  EXPECT_EQ(FetchTokenTrim(text, ";"), "Server = host");
  EXPECT_EQ(text, "Port=768 ");
  EXPECT_EQ(FetchTokenTrim(text, "="), "Port");
  EXPECT_EQ(FetchTokenTrim(text, "="), "768");
  EXPECT_EQ(text, "");
}

TEST(PosFrom, FindsFromAOneBasedStart) {
  struct Case {
    const char* Text;
    const char* Part;
    int Start;
    int Expected;
  } const kCases[] = {
      {"abcabc", "bc", 1, 2}, {"abcabc", "bc", 2, 2}, {"abcabc", "bc", 3, 5},
      {"abcabc", "bc", 6, 0}, {"abcabc", "bc", 0, 2}, {"abcabc", "bc", -5, 2},
      {"abcabc", "c", 6, 6},  {"abcabc", "c", 7, 0},  {"abcabc", "x", 1, 0},
      {"abcabc", "", 1, 0},   {"", "a", 1, 0},
  };
  for (const Case& c : kCases)
    EXPECT_EQ(PosFrom(c.Text, c.Part, c.Start), c.Expected)
        << c.Text << " " << c.Part << " " << c.Start;
}

TEST(RightStr, TakesTheLastBytesWithoutSplittingACharacter) {
  EXPECT_EQ(RightStr("Client.exe", 4), ".exe");
  EXPECT_EQ(RightStr("exe", 10), "exe");
  EXPECT_EQ(RightStr("exe", 0), "");
  EXPECT_EQ(RightStr("exe", -1), "");
  EXPECT_EQ(RightStr("a中", 3), "中");  // the character is three bytes
  EXPECT_EQ(RightStr("a中", 2), "");    // a cut inside it leaves it out
  EXPECT_EQ(RightStr("中文", 4), "文");
}

TEST(SplitToStrings, ReplacesTheListWithThePieces) {
  std::vector<std::string> list{"old"};
  SplitToStrings("a,,b", list, ",");
  EXPECT_EQ(list, (std::vector<std::string>{"a", "", "b"}));
  SplitToStrings("a,b,", list, ",");
  EXPECT_EQ(list, (std::vector<std::string>{"a", "b"}));
  SplitToStrings("", list, ",");
  EXPECT_TRUE(list.empty());
  SplitToStrings("one", list, ",");
  EXPECT_EQ(list, (std::vector<std::string>{"one"}));
}

}  // namespace
}  // namespace zor
