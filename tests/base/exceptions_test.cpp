#include "base/exceptions.h"

#include <gtest/gtest.h>

#include "base/format.h"
#include "base/utf.h"

namespace zor {
namespace {

TEST(TruncateErrorMessage, KeepsUpTo500UnitsAndCutsLongerOnCharacterBoundaries) {
  const std::string exact(500, 'a');
  EXPECT_EQ(TruncateErrorMessage(exact), exact);

  std::string longer;
  for (int i = 0; i < 501; ++i) longer += static_cast<char>('a' + i % 26);
  const std::string cut = TruncateErrorMessage(longer);
  EXPECT_EQ(cut, std::string(kMessageTruncatedPrefix) + longer.substr(0, 100) + "......" +
                     longer.substr(451));

  // 600 double-byte characters: each is one UTF-16 unit and three UTF-8 bytes.
  std::string cjk;
  for (int i = 0; i < 600; ++i) cjk += "中";
  const std::string cjkCut = TruncateErrorMessage(cjk);
  std::string expected(kMessageTruncatedPrefix);
  for (int i = 0; i < 100; ++i) expected += "中";
  expected += "......";
  for (int i = 0; i < 50; ++i) expected += "中";
  EXPECT_EQ(cjkCut, expected);

  // A surrogate pair straddling unit 100 is not split.
  std::string pairs = std::string(99, 'x');
  for (int i = 0; i < 250; ++i) pairs += "\U0001F600";
  const std::u16string units = Utf8ToUtf16(TruncateErrorMessage(pairs));
  EXPECT_EQ(Utf16ToUtf8(units).find("\xEF\xBF\xBD"), std::string::npos);
}

TEST(RaiseZORError, BuildsTheRequestedClassWithBothCodes) {
  try {
    RaiseZORError(71001, -1, "no data folder");
    FAIL();
  } catch (const EZORException& e) {
    EXPECT_STREQ(e.ClassName(), "EZORException");
    EXPECT_EQ(e.ErrorCode, 71001);
    EXPECT_EQ(e.ErrorData, -1);
    EXPECT_EQ(e.Message, "no data folder");
    EXPECT_NE(std::string(e.Where.file_name()).find("exceptions_test"), std::string::npos);
  }
  EXPECT_THROW(RaiseZORError(0, 0, "x", ZORErrorClass::EZORAlert), EZORAlert);
  EXPECT_THROW(RaiseZORError(0, 0, "x", ZORErrorClass::ZORError), ZORError);
}

TEST(RaiseWin32ErrorEx, FormatsContextNumberAndTextAndIgnoresZero) {
  EXPECT_NO_THROW(RaiseWin32ErrorEx("open", 0, "ignored"));
  try {
    RaiseWin32ErrorEx("open config", 2, "No such file or directory");
    FAIL();
  } catch (const EWin32ErrorEx& e) {
    EXPECT_EQ(e.Message, "open config (2)No such file or directory");
    EXPECT_EQ(e.ErrorCode, 2u);
  }
}

TEST(CheckWinSecurity, RaisesOnlyForNegativeStatusWithEightHexDigits) {
  EXPECT_NO_THROW(CheckWinSecurity(0));
  EXPECT_NO_THROW(CheckWinSecurity(0x00090312));
  try {
    CheckWinSecurity(static_cast<int32_t>(0x8009030C), "The logon attempt failed");
    FAIL();
  } catch (const EWinSecurityError& e) {
    EXPECT_EQ(e.Message, "Win32 Security Error. Code: $8009030c.\r\nThe logon attempt failed");
    EXPECT_EQ(e.ErrorCode, 0x8009030Cu);
  }
  EXPECT_FALSE(IsSecurityContinueStatus(0x00090313));
  EXPECT_FALSE(IsSecurityContinueStatus(0x00090314));
  EXPECT_TRUE(IsSecurityContinueStatus(0x00090312));
}

TEST(ReraiseWithContext, AddsTextKeepsClassAndReplacesAborts) {
  try {
    try {
      RaiseZORError(80316, 5, "disk full");
    } catch (...) {
      ReraiseWithContext(" while saving", true);
    }
  } catch (const EZORException& e) {
    EXPECT_EQ(e.Message, "disk full while saving");
    EXPECT_EQ(e.ErrorCode, 80316);
  }
  try {
    try {
      throw EAbort("quiet");
    } catch (...) {
      ReraiseWithContext("ctx: ", false);
    }
  } catch (const EAbort& e) {
    EXPECT_EQ(e.Message, "ctx: Operation aborted!");
  }
  try {
    try {
      throw std::runtime_error("x");
    } catch (...) {
      ReraiseWithContext("", true);
    }
  } catch (const Exception& e) {
    EXPECT_STREQ(e.ClassName(), "Exception");
    EXPECT_EQ(e.Message, "Unexcept error! The error object is std::runtime_error");
  }
  EXPECT_THROW(ReraiseWithContext("x", true), EAbort);
}

TEST(Format, DirectivesOfTheStringTable) {
  struct Case {
    const char* format;
    std::initializer_list<FormatArg> args;
    const char* expected;
  };
  const Case kCases[] = {
      {"[0x%4x] 不是一个合法的命令！", {0x1234}, "[0x1234] 不是一个合法的命令！"},
      {"[0x%4x]", {0x80}, "[0x0080]"},
      {"Error result data of %s.",
       {"TIcClientConnection"},
       "Error result data of TIcClientConnection."},
      {"%d%%", {-5}, "-5%"},
      {"%-4s|", {"ab"}, "ab  |"},
      {"%s", {}, "%s"},
      {"%d", {"text"}, "%d"},
      {"%.1f", {2.25}, "2.2"},
  };
  for (const Case& c : kCases) EXPECT_EQ(Format(c.format, c.args), c.expected) << c.format;
}

}  // namespace
}  // namespace zor
