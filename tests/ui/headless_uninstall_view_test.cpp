// The uninstall progress window without a person: a few lines, whatever the number of files.
#include "ui/headless/headless_uninstall_view.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "startup/client_info/lang_messages.h"
#include "support/captured_output.h"
#include "ui/headless/headless_ui.h"

namespace zor {
namespace {

// Drives a view through a run over `files` files, every third one removed.
std::string DriveView(int64_t files) {
  testing::CapturedOutput out;
  THeadlessUninstallView view(out.File());
  TUninstallProgressModel window;
  view.Shown(window);
  window.SetMaxValue(files);
  view.ProgressChanged(window);
  for (int64_t i = 0; i < files; ++i) {
    window.Step("file" + std::to_string(i), i % 3 == 0);
    view.ProgressChanged(window);
  }
  view.Hidden(window);
  return out.Text();
}

TEST(HeadlessUninstallView, WritesTheCaptionEachQuarterAndASummary) {
  const int saved = LangIndex();
  SetLangIndex(kLangEnglish);
  struct Case {
    int64_t Files;
    std::string Expected;
  } const kCases[] = {
      {0,
       "[uninstall] Uninstalling program, please wait...\n[uninstall] 0 files looked at, 0 "
       "removed\n"},
      {1,
       "[uninstall] Uninstalling program, please wait...\n[uninstall] 100% (1 of 1 files)\n"
       "[uninstall] 1 files looked at, 1 removed\n"},
      {10,
       "[uninstall] Uninstalling program, please wait...\n[uninstall] 30% (3 of 10 files)\n"
       "[uninstall] 50% (5 of 10 files)\n[uninstall] 80% (8 of 10 files)\n[uninstall] 100% (10 of "
       "10 files)\n"
       "[uninstall] 10 files looked at, 4 removed\n"},
      {100000,
       "[uninstall] Uninstalling program, please wait...\n[uninstall] 25% (25000 of 100000 files)\n"
       "[uninstall] 50% (50000 of 100000 files)\n[uninstall] 75% (75000 of 100000 files)\n"
       "[uninstall] 100% (100000 of 100000 files)\n[uninstall] 100000 files looked at, 33334 "
       "removed\n"},
  };
  for (const Case& c : kCases) EXPECT_EQ(DriveView(c.Files), c.Expected) << c.Files;
  SetLangIndex(saved);
}

TEST(HeadlessUninstallView, IsInstalledWithTheHeadlessPortAndRemovedAfter) {
  HeadlessUi ui(false);
  ASSERT_NE(ui.UninstallView(), nullptr);
  {
    ScopedUiPort installed(ui);
    EXPECT_EQ(GetUninstallView(), ui.UninstallView());
  }
  EXPECT_EQ(GetUninstallView(), nullptr);
}

}  // namespace
}  // namespace zor
