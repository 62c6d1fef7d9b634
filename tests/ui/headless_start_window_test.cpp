// The start window without a person: status lines once each, progress at every tenth, and
// the note when the update gives up.
#include <gtest/gtest.h>

#include <chrono>

#include "startup/client_info/lang_messages.h"
#include "support/captured_output.h"
#include "ui/headless/headless_start_window.h"

namespace zor {
namespace {

using testing::CapturedOutput;

TEST(HeadlessStartWindow, StatusLinesAppearOnceEach) {
  SetLangIndex(kLangEnglish);
  CapturedOutput err;
  THeadlessStartWindowView view(err.File());
  view.StatusChanged("Use the ZORPath, press F1 to change setting.");
  view.StatusChanged("Use the ZORPath, press F1 to change setting.");
  view.StatusChanged("Program is starting, please wait....");
  EXPECT_EQ(err.Text(),
            "[start] Use the ZORPath, press F1 to change setting.\n[start] Program is starting, "
            "please wait....\n");
}

TEST(HeadlessStartWindow, ProgressIsWrittenAtEveryTenthOfTheWay) {
  SetLangIndex(kLangEnglish);
  CapturedOutput err;
  THeadlessStartWindowView view(err.File(), false);
  TDownloadProgressModel window;
  window.SetMaxValue(1000);
  view.DownloadWindowShown(window);
  for (int64_t done : {0, 50, 99, 100, 150, 420, 430, 999, 1000, 1000}) {
    window.SetProgress(done);
    view.ProgressChanged(window);
  }
  EXPECT_EQ(err.Text(),
            "[download] Downloading files, please wait...\n"
            "[download] 0% (0 of 1000 bytes)\n"
            "[download] 10% (100 of 1000 bytes)\n"
            "[download] 42% (420 of 1000 bytes)\n"
            "[download] 99% (999 of 1000 bytes)\n"
            "[download] 100% (1000 of 1000 bytes)\n");
}

// Progress samples a second apart, 100 bytes a second, the file named from the second on.
void FeedProgress(THeadlessStartWindowView& view, TDownloadProgressModel& window) {
  const std::chrono::steady_clock::time_point start{};
  for (int second = 0; second <= 3; ++second) {
    window.SetProgress(second * 100);
    if (second == 1) window.SetFileName("bpls\\ZORMain.bpl");
    window.Sample(start + std::chrono::seconds(second));
    view.ProgressChanged(window);
  }
  view.DownloadWindowHidden();
}

TEST(HeadlessStartWindow, OnATerminalTheProgressIsOneLineRedrawnInPlace) {
  SetLangIndex(kLangEnglish);
  CapturedOutput err;
  THeadlessStartWindowView view(err.File(), true);
  TDownloadProgressModel window;
  window.SetMaxValue(1000);
  view.DownloadWindowShown(window);
  FeedProgress(view, window);
  view.StatusChanged("Program is starting, please wait....");
  EXPECT_EQ(err.Text(),
            "[download] Downloading files, please wait...\n"
            "\r[download] 0% (0 of 1000 bytes)\x1b[K"
            "\r[download] 10% (100 of 1000 bytes) ZORMain.bpl, about 0:09 left\x1b[K"
            "\r[download] 20% (200 of 1000 bytes) ZORMain.bpl, about 0:08 left\x1b[K"
            "\r[download] 30% (300 of 1000 bytes) ZORMain.bpl, about 0:07 left\x1b[K\n"
            "[start] Program is starting, please wait....\n");
}

TEST(HeadlessStartWindow, InALogTheProgressLinesNameTheFileAndTheTimeLeft) {
  SetLangIndex(kLangEnglish);
  CapturedOutput err;
  THeadlessStartWindowView view(err.File(), false);
  TDownloadProgressModel window;
  window.SetMaxValue(1000);
  view.DownloadWindowShown(window);
  FeedProgress(view, window);
  EXPECT_EQ(err.Text(),
            "[download] Downloading files, please wait...\n"
            "[download] 0% (0 of 1000 bytes)\n"
            "[download] 10% (100 of 1000 bytes) ZORMain.bpl, about 0:09 left\n"
            "[download] 20% (200 of 1000 bytes) ZORMain.bpl, about 0:08 left\n"
            "[download] 30% (300 of 1000 bytes) ZORMain.bpl, about 0:07 left\n");
}

TEST(HeadlessStartWindow, GivingUpIsSaid) {
  CapturedOutput err;
  THeadlessStartWindowView view(err.File());
  view.UpdateAbandoned(kHeadlessMaxFailedPasses);
  EXPECT_EQ(err.Text(),
            "[headless] the update failed 3 times: ending without starting the main program\n");
}

}  // namespace
}  // namespace zor
