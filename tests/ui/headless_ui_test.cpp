#include "ui/headless/headless_ui.h"

#include <gtest/gtest.h>

#include <string>

#include "support/captured_output.h"

namespace zor {
namespace {

using testing::CapturedOutput;

TEST(HeadlessUi, WritesCaptionAndTextAndAnswersFromTheConfirmation) {
  struct Case {
    const char* Confirm;
    MessageButtons Buttons;
    MessageResult Answer;
  } const kCases[] = {
      {nullptr, MessageButtons::Ok, MessageResult::Ok},
      {"yes", MessageButtons::Ok, MessageResult::Ok},
      {nullptr, MessageButtons::YesNo, MessageResult::No},
      {"yes", MessageButtons::YesNo, MessageResult::Yes},
      {"YES", MessageButtons::YesNoCancel, MessageResult::Yes},
      {"no", MessageButtons::YesNo, MessageResult::No},
      {"y", MessageButtons::YesNo, MessageResult::No},
      {"", MessageButtons::YesNo, MessageResult::No},
      {"yes", MessageButtons::OkCancel, MessageResult::Ok},
      {"maybe", MessageButtons::OkCancel, MessageResult::Cancel},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.Confirm ? c.Confirm : "(unset)");
    CapturedOutput out;
    HeadlessUi ui(ConfirmFromText(c.Confirm), out.File());
    MessageBoxRequest request{"确认删除岳川系统吗?", "岳川系列", MessageIcon::Question, c.Buttons};
    EXPECT_EQ(ui.ShowMessageBox(request), c.Answer);
    EXPECT_EQ(out.Text(), "[岳川系列] 确认删除岳川系统吗?\n");
  }
}

TEST(HeadlessUi, EmptyCaptionIsTheSystemDefaultAndLineBreaksStay) {
  CapturedOutput out;
  HeadlessUi ui(false, out.File());
  ScopedUiPort installed(ui);
  ShowMessage("Unable to register a.\r\nreason");
  EXPECT_EQ(out.Text(), "[Error] Unable to register a.\nreason\n");
}

TEST(SelectUiKind, FollowsZorUiThenTheDisplay) {
  struct Case {
    const char* ZorUi;
    bool Display;
    UiKind Kind;
  } const kCases[] = {
      {"headless", true, UiKind::Headless},
      {"gui", false, UiKind::Gui},
      {"GUI", false, UiKind::Gui},
      {nullptr, true, UiKind::Gui},
      {nullptr, false, UiKind::Headless},
      {"fancy", false, UiKind::Headless},
      {"", true, UiKind::Gui},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.ZorUi ? c.ZorUi : "(unset)");
    EXPECT_EQ(SelectUiKind(c.ZorUi, c.Display), c.Kind);
  }
}

}  // namespace
}  // namespace zor
