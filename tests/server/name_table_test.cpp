#include "server/name_table.h"

#include <gtest/gtest.h>

#include "base/exceptions.h"

namespace zor {
namespace {

TEST(NameTable, ReadsNamesWithoutCaseAndSkipsComments) {
  const TNameTable table = TNameTable::Parse(
      "# names of our servers\r\n"
      "shop1 = 10.1.2.3\n"
      "\n"
      "; another comment\n"
      "  Head-Office\t192.168.0.7  \n"
      "abcdefghijklmnopqrstuvwxyz01234=127.0.0.1");
  EXPECT_EQ(table.Size(), 3u);
  EXPECT_EQ(table.Find("SHOP1"), 0x0302010Au);  // bytes 10 1 2 3 in memory order
  EXPECT_EQ(table.Find("head-office"), 0x0700A8C0u);
  EXPECT_TRUE(table.Find("abcdefghijklmnopqrstuvwxyz01234").has_value());
  EXPECT_FALSE(table.Find("shop2").has_value());
}

TEST(NameTable, RefusesBadLinesWithTheirNumber) {
  struct Case {
    const char* Text;
    const char* Message;
  } const kCases[] = {
      {"a = 1.2.3.4\nb\n", "Names file line 2: a name and an address are expected"},
      {"a = 1.2.3\n", "Names file line 1: '1.2.3' is not a dotted IPv4 address"},
      {"a = host.example\n", "Names file line 1: 'host.example' is not a dotted IPv4 address"},
      {"abcdefghijklmnopqrstuvwxyz012345 = 1.2.3.4",
       "Names file line 1: The name 'abcdefghijklmnopqrstuvwxyz012345' is empty or longer than 31 "
       "characters"},
      {" = 1.2.3.4", "Names file line 1: The name '' is empty or longer than 31 characters"},
      {"a b = 1.2.3.4", "Names file line 1: The name 'a b' holds a blank or a control character"},
      {"a = 1.2.3.4\nA = 5.6.7.8", "Names file line 2: The name 'A' is given twice"},
  };
  for (const Case& c : kCases) {
    try {
      TNameTable::Parse(c.Text);
      ADD_FAILURE() << c.Text;
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message, c.Message);
    }
  }
}

}  // namespace
}  // namespace zor
