// Wrapping message text: after the last blank when a line has one, between characters when
// it has none (Chinese), line breaks kept, never an empty line of its own making.
#include "ui/text_wrap.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zor {
namespace {

// Every character (not byte) is 10 pixels wide.
int TenPerCharacter(std::string_view text) {
  int characters = 0;
  for (const char c : text) {
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++characters;
  }
  return characters * 10;
}

TEST(WrapText, BreaksAtBlanksOrBetweenCharacters) {
  struct Case {
    const char* Text;
    int Max;
    std::vector<std::string> Lines;
  } const kCases[] = {
      {"short", 100, {"short"}},
      {"", 100, {""}},
      {"abc def ghi", 70, {"abc def", "ghi"}},
      {"abc def ghi", 60, {"abc", "def", "ghi"}},
      {"abcdefghij", 40, {"abcd", "efgh", "ij"}},
      {"请输入统一编号", 40, {"请输入统", "一编号"}},
      {"Error: 无法连接到SOAP服务器:host", 100, {"Error:", "无法连接到SOAP服", "务器:host"}},
      {"one\r\ntwo\nthree", 100, {"one", "two", "three"}},
      {"a\n\nb", 100, {"a", "", "b"}},
      {"wide", 5, {"w", "i", "d", "e"}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.Text);
    EXPECT_EQ(WrapText(c.Text, c.Max, TenPerCharacter), c.Lines);
  }
}

}  // namespace
}  // namespace zor
