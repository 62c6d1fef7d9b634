// What a windowed message box draws and answers: its caption, its buttons in order with their
// texts in the three languages, and what Escape or the close box answers.
#include "startup/launch/message_box.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "startup/client_info/lang_messages.h"

namespace zor {
namespace {

TEST(MessageBoxLayout, CaptionFallsBackToTheSystemDefault) {
  EXPECT_EQ(MessageBoxCaption({"text", "", MessageIcon::Error, MessageButtons::Ok}), "Error");
  EXPECT_EQ(MessageBoxCaption({"text", "岳川系列", MessageIcon::None, MessageButtons::Ok}),
            "岳川系列");
  EXPECT_EQ(FormatMessageBoxLine({"a\r\nb", "", MessageIcon::None, MessageButtons::Ok}),
            "[Error] a\nb\n");
}

TEST(MessageBoxLayout, TheWindowTitleFollowsTheLanguageOfTheMessage) {
  struct Case {
    const char* text;
    const char* caption;
    int langIndex;
    const char* title;
  } const kCases[] = {
      {"WinSock Error. Code: 111. Connection refused", "", 2, "Error"},
      {"无法连接到APP服务器!", "", 0, "错误"},  // the simplified string table, English user
      {"无法连接到APP服务器!", "", 2, "错误"},
      {"本程式正在執行中, 不可重複啟動!", "", 1, "錯誤"},
      {"Server 10.0.0.7：port", "", 0, "错误"},  // a full-width colon
      {"Fehler \xC3\xA4", "", 2, "Error"},       // Latin letters beyond ASCII are not Chinese
      {"\xE4\xB8", "", 2, "Error"},              // a cut sequence
      {"下载失败", "岳川系列", 2, "岳川系列"},   // a caption given is kept
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(
        MessageBoxTitle({c.text, c.caption, MessageIcon::Error, MessageButtons::Ok}, c.langIndex),
        c.title)
        << c.text;
  }
  // The line form keeps its English prefix.
  EXPECT_EQ(FormatMessageBoxLine({"下载失败", "", MessageIcon::Error, MessageButtons::Ok}),
            "[Error] 下载失败\n");
}

TEST(MessageBoxLayout, ButtonsTheirTextsAndTheDismissAnswer) {
  using R = MessageResult;
  struct Case {
    MessageButtons Buttons;
    std::vector<R> List;
    std::vector<std::string> English, Traditional, Simplified;
    std::optional<R> Dismiss;
  } const kCases[] = {
      {MessageButtons::Ok, {R::Ok}, {"OK"}, {"確定"}, {"确定"}, R::Ok},
      {MessageButtons::OkCancel,
       {R::Ok, R::Cancel},
       {"OK", "Cancel"},
       {"確定", "取消"},
       {"确定", "取消"},
       R::Cancel},
      {MessageButtons::YesNo, {R::Yes, R::No}, {"Yes", "No"}, {"是", "否"}, {"是", "否"}, R::No},
      {MessageButtons::YesNoCancel,
       {R::Yes, R::No, R::Cancel},
       {"Yes", "No", "Cancel"},
       {"是", "否", "取消"},
       {"是", "否", "取消"},
       R::Cancel},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(static_cast<int>(c.Buttons));
    ASSERT_EQ(MessageBoxButtonList(c.Buttons), c.List);
    for (size_t i = 0; i < c.List.size(); ++i) {
      EXPECT_EQ(MessageButtonCaption(c.List[i], kLangEnglish), c.English[i]);
      EXPECT_EQ(MessageButtonCaption(c.List[i], kLangTraditional), c.Traditional[i]);
      EXPECT_EQ(MessageButtonCaption(c.List[i], kLangSimplified), c.Simplified[i]);
    }
    EXPECT_EQ(DismissAnswer(c.Buttons), c.Dismiss);
  }
  // A language index out of range reads as English.
  EXPECT_EQ(MessageButtonCaption(MessageResult::Yes, 7), "Yes");
}

}  // namespace
}  // namespace zor
