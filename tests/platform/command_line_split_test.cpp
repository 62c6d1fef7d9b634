#include "platform/command_line_split.h"

#include <gtest/gtest.h>

namespace zor {
namespace {

using Args = std::vector<std::string>;

TEST(SplitCommandLine, FollowsTheWindowsRules) {
  struct Case {
    const char* line;
    Args expected;
  } const kCases[] = {
      {"", {}},
      {" \t ", {}},
      {"Client.exe", {"Client.exe"}},
      {"  Client /Again  ", {"Client", "/Again"}},
      {R"("C:\Program Files\ZOR\IClient.exe" /NetMode)",
       {R"(C:\Program Files\ZOR\IClient.exe)", "/NetMode"}},
      // The program name: backslashes are plain, quotes only switch quoting.
      {R"(C:\dir\"x y"z a)", {R"(C:\dir\x yz)", "a"}},
      {R"("" a)", {"", "a"}},
      // Arguments: quotes group blanks and vanish.
      {R"(p "a b" c"d e"f)", {"p", "a b", "cd ef"}},
      {"p a\tb", {"p", "a", "b"}},
      {R"(p "")", {"p", ""}},
      {R"(p "" "")", {"p", "", ""}},
      // Backslashes: literal unless before a quote.
      {R"(p a\b c\\d)", {"p", R"(a\b)", R"(c\\d)"}},
      {R"(p a\"b)", {"p", R"(a"b)"}},        // 1 backslash + quote: literal quote
      {R"(p a\\"b c")", {"p", R"(a\b c)"}},  // 2 backslashes + quote: one backslash, quoting on
      {R"(p a\\\"b)", {"p", R"(a\"b)"}},     // 3: one backslash and a literal quote
      {R"(p "C:\dir\\" next)", {"p", R"(C:\dir\)", "next"}},
      {R"(p "C:\dir\" next)", {"p", R"(C:\dir" next)"}},
      // "" inside quotes is a literal quote and quoting goes on.
      {R"(p "a""b c")", {"p", R"(a"b c)"}},
      {R"(p """")", {"p", R"(")"}},
      // An unfinished quote runs to the end.
      {R"(p "a b)", {"p", "a b"}},
      {R"(p a\)", {"p", R"(a\)"}},
      {"/ReCopy \"/tmp/zor x/Client\"", {"/ReCopy", "/tmp/zor x/Client"}},
  };
  for (const Case& c : kCases) EXPECT_EQ(SplitCommandLine(c.line), c.expected) << c.line;
}

TEST(QuoteArgument, IsTheInverseOfSplitting) {
  struct Case {
    std::string argument;
    std::string quoted;
  } const kCases[] = {
      {"plain", "plain"},
      {"", R"("")"},
      {"a b", R"("a b")"},
      {R"(a"b)", R"("a\"b")"},
      {R"(a\b)", R"(a\b)"},
      {R"(a\"b)", R"("a\\\"b")"},
      {R"(C:\dir\ x\)", R"("C:\dir\ x\\")"},
      {"tab\there", "\"tab\there\""},
      {R"(\\)", R"(\\)"},
      {R"(\ \)", R"("\ \\")"},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(QuoteArgument(c.argument), c.quoted) << c.argument;
    EXPECT_EQ(SplitCommandLine("p " + c.quoted), (Args{"p", c.argument})) << c.argument;
  }
  const Args all = {"/tmp/zor dir/Client", "/ReCopy", "", R"(x\"y)", R"(end\)", "中文 名"};
  EXPECT_EQ(SplitCommandLine(JoinCommandLine(all)), all);
  EXPECT_EQ(JoinCommandLine({"IClient", "/NetMode"}), "IClient /NetMode");
  EXPECT_EQ(JoinCommandLine({""}), R"("")");
}

}  // namespace
}  // namespace zor
