#include "platform/code_page.h"

#include <gtest/gtest.h>

#include "base/exceptions.h"
#include "platform/locale.h"

namespace zor {
namespace {

TEST(AnsiCodePage, FollowsTheSystemDefaultLcid) {
  struct Case {
    uint32_t lcid;
    uint32_t codePage;
  } const kCases[] = {{2052, 936},  {4100, 936},  {1028, 950}, {3076, 950},
                      {1033, 1252}, {5124, 1252}, {1041, 1252}};
  for (const Case& c : kCases) {
    EXPECT_EQ(AnsiCodePageForLcid(c.lcid), c.codePage) << c.lcid;
    ScopedLcidOverride scoped(c.lcid);
    EXPECT_EQ(AnsiCodePage(), c.codePage) << c.lcid;
  }
}

TEST(CodePageConversion, RoundTripsEachCodePage) {
  struct Case {
    uint32_t codePage;
    std::string utf8;
    std::string ansi;
  } const kCases[] = {
      {936, "中文 abc", "\xD6\xD0\xCE\xC4 abc"},
      {950, "中文", "\xA4\xA4\xA4\xE5"},
      {1252, "café €5",
       "caf\xE9 \x80"
       "5"},
      {65001, "中", "中"},
      {936, "", ""},
      {936, "plain ascii", "plain ascii"},
      {1026, "abc", "\x81\x82\x83"},  // EBCDIC: even plain ASCII letters change
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(Utf8ToAnsi(c.utf8, c.codePage), c.ansi) << c.codePage;
    EXPECT_EQ(AnsiToUtf8(c.ansi, c.codePage), c.utf8) << c.codePage;
  }
  // The default argument is the machine's code page.
  ScopedLcidOverride scoped(kLcidChineseTaiwan);
  EXPECT_EQ(Utf8ToAnsi("中"), "\xA4\xA4");
  EXPECT_EQ(AnsiToUtf8("\xA4\xA4"), "中");
}

TEST(CodePageConversion, UnconvertibleAndMalformedCharactersBecomeOneQuestionMarkEach) {
  struct Case {
    uint32_t codePage;
    std::string utf8;
    std::string ansi;
  } const kCases[] = {
      {1252, "a中b", "a?b"},         // not in the code page
      {1252, "x😀y", "x?y"},          // four-byte sequence
      {936, "a\xE4\xB8z", "a?z"},    // cut-off sequence inside the text
      {936, "ok\xE4", "ok?"},        // cut-off sequence at the end
      {950, "\xFF中", "?\xA4\xA4"},  // a byte that never starts UTF-8
      {950, "한", "?"},              // Hangul has no Big5 form
  };
  for (const Case& c : kCases)
    EXPECT_EQ(Utf8ToAnsi(c.utf8, c.codePage), c.ansi) << c.codePage << " " << c.utf8;

  // ANSI input: a lead byte without a valid second byte, and a lone lead byte at the end.
  EXPECT_EQ(AnsiToUtf8("a\xD6", 936), "a?");
  EXPECT_EQ(AnsiToUtf8("\xA4\x01z", 950), "?z");
  EXPECT_EQ(AnsiToUtf8("\xFF"
                       "a",
                       936),
            "?a");
}

TEST(CodePageConversion, UnknownCodePageIsRefused) {
  try {
    Utf8ToAnsi("x", 4242);
    FAIL();
  } catch (const Exception& e) {
    EXPECT_STREQ(e.ClassName(), "Exception");
    EXPECT_EQ(e.Message, "Code page 4242 is not supported.");
  }
  EXPECT_THROW(AnsiToUtf8("x", 4242), Exception);
}

TEST(IsLeadByte, DependsOnTheCodePage) {
  EXPECT_TRUE(IsLeadByte(0x81, 936));
  EXPECT_TRUE(IsLeadByte(0xFE, 950));
  EXPECT_FALSE(IsLeadByte(0x80, 936));
  EXPECT_FALSE(IsLeadByte(0xFF, 950));
  EXPECT_FALSE(IsLeadByte(0x41, 936));
  EXPECT_FALSE(IsLeadByte(0xD6, 1252));
  EXPECT_TRUE(IsLeadByte(0x9F, 932));
  EXPECT_FALSE(IsLeadByte(0xA0, 932));
}

TEST(CopyMbcs, NeverSplitsADoubleByteCharacter) {
  // GBK: "中" = D6 D0, "文" = CE C4; D0 and CE both have the value of a lead byte.
  const std::string text = "a\xD6\xD0\xCE\xC4z";
  struct Case {
    int64_t index;
    int64_t count;
    std::string expected;
  } const kCases[] = {
      {1, 6, text},         {1, 3, "a\xD6\xD0"}, {1, 2, "a"},  // would end with the lead byte D6
      {2, 2, "\xD6\xD0"},   {3, 2, "\xD6\xD0"},  // index on a second byte: one byte earlier
      {4, 2, "\xCE\xC4"},                        // D0 before it is a second byte, not a lead byte
      {4, 1, ""},                                // only a lead byte would remain
      {5, 10, "\xCE\xC4z"}, {6, 1, "z"},         {0, 1, "a"},  // below 1 counts as 1
      {-5, 2, "a"},         {7, 1, ""},                        // past the end
      {3, 0, ""},           {3, -1, ""},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(CopyMbcs(text, c.index, c.count, 936), c.expected) << c.index << "," << c.count;
  }
  // A text that itself ends in a lone lead byte.
  EXPECT_EQ(CopyMbcs("ab\xA4", 1, 3, 950), "ab");
  // Single-byte code pages copy plainly.
  EXPECT_EQ(CopyMbcs("a\xD6\xD0", 3, 1, 1252), "\xD0");
}

}  // namespace
}  // namespace zor
