// The windowed port's pieces that need no display: the choice of the port when the display
// cannot be opened, the key codes handed to the models, and labels shown as they are.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "support/scoped_env.h"
#include "ui/ui_port.h"

#if ZOR_WITH_FLTK
#include <FL/Enumerations.H>

#include "ui/fltk/fltk_keys.h"
#include "ui/fltk/fltk_look.h"
#endif

namespace zor {
namespace {

using testing::ScopedEnv;

// A display that no server serves: the windows are asked for and cannot open, so the run
// goes on without them and says so once.
TEST(UiPortChoice, GuiWithoutAReachableDisplayFallsBackToHeadless) {
  ScopedEnv display("DISPLAY", ":987");
  ScopedEnv wayland("WAYLAND_DISPLAY", nullptr);
  for (const char* choice : {"gui", static_cast<const char*>(nullptr)}) {
    SCOPED_TRACE(choice ? choice : "unset");
    ScopedEnv ui("ZOR_UI", choice);
    ::testing::internal::CaptureStderr();
    const std::unique_ptr<UiPort> port = CreateUiPort();
    const std::string err = ::testing::internal::GetCapturedStderr();
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(port->Kind(), UiKind::Headless);
#if ZOR_WITH_FLTK
    EXPECT_EQ(err, GuiFallbackNote("cannot open the display \":987\""));
#else
    EXPECT_EQ(err, GuiFallbackNote("this build has no windows"));
#endif
  }
  // Asked for no windows, nothing is tried and nothing said.
  ScopedEnv ui("ZOR_UI", "headless");
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(CreateUiPort()->Kind(), UiKind::Headless);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

#if ZOR_WITH_FLTK
TEST(FltkKeys, ToTheModelsVirtualKeys) {
  struct Case {
    int Fltk;
    int Virtual;
  } const kCases[] = {
      {FL_F + 1, 112},   {FL_F + 2, 113}, {FL_F + 12, 123}, {FL_Enter, 13},
      {FL_KP_Enter, 13}, {FL_Escape, 27}, {'a', 'A'},       {'z', 'Z'},
      {'7', '7'},        {FL_F, 0},       {FL_Shift_L, 0},  {FL_Tab, 0},
  };
  for (const Case& c : kCases) EXPECT_EQ(VirtualKeyOf(c.Fltk), c.Virtual) << c.Fltk;
}

TEST(FltkLook, LabelsShowAtSignsAsTheyAre) {
  EXPECT_EQ(FltkLabelText("服务器地址"), "服务器地址");
  EXPECT_EQ(FltkLabelText("@->mail@example.com"), "@@->mail@@example.com");
  EXPECT_EQ(FltkLabelText(""), "");
}
#endif

}  // namespace
}  // namespace zor
