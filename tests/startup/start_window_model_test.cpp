// The start window without a window: the F1 time, the arrow, the settings dialog and its
// effect on the worker, the progress window feed, closing when done, the main program's
// start; and one whole run on the main thread's timer queue with the network worker.
#include <gtest/gtest.h>

#include <cmath>

#include "base/clock.h"
#include "base/timer_queue.h"
#include "pe_version_writer.h"
#include "startup/client_info/lang_messages.h"
#include "startup/launch/application_state.h"
#include "startup/launch/launch_outcome.h"
#include "startup/launch/main_exe.h"
#include "startup/updating/download_progress_model.h"
#include "startup/updating/remote_update_thread.h"
#include "startup/updating/start_window_loop.h"
#include "startup/updating/start_window_model.h"
#include "update_test_fakes.h"

namespace zor {
namespace {

using test::FakeUpdateSource;
using test::LaunchFolder;
using test::WriteFile;

struct RecordingView : TStartWindowView {
  void StatusChanged(const std::string& text) override { Events.push_back("status " + text); }
  void DownloadWindowShown(const TDownloadProgressModel& window) override {
    Events.push_back("shown " + window.Caption());
  }
  void ProgressChanged(const TDownloadProgressModel& window) override {
    Events.push_back("progress " + std::to_string(window.Progress()) + "/" +
                     std::to_string(window.MaxValue()));
  }
  void DownloadWindowHidden() override { Events.push_back("hidden"); }
  void Closed() override { Events.push_back("closed"); }
  int StatusWidth(const std::string&) override { return 50; }
  void Attached(TStartWindowModel* model) override { Model = model; }
  std::vector<std::string> Events;
  TStartWindowModel* Model = nullptr;
};

// A worker that never runs: the tests play its part by calling the hooks.
struct IdleWorker : TSyncThread {
  using TSyncThread::TSyncThread;
  void Start() override {}
};

class StartWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    DeclareMainThread();
    SetLangIndex(kLangEnglish);
    Env.WaitInputMs = 3000;
    Env.Source = Source;
    Env.WorkerClass = [](TSyncThreadOwner& form,
                         TSyncThreadSettings settings) -> std::unique_ptr<TSyncThread> {
      return std::make_unique<IdleWorker>(form, std::move(settings));
    };
    Env.ShouldShowServerDialog = [this] { return ShowDialogFirst; };
    Env.ShowServerSettings = [this] {
      ++DialogRuns;
      if (DuringDialog) DuringDialog();
      return DialogChanges;
    };
    Env.WorkerSettings.ExePath = Dir / "Client";
    Env.MainExeName = [this] {
      ++NameReads;
      return std::string("IClient");
    };
    Env.StartProcess = [this](const std::string& commandLine) { Started.push_back(commandLine); };
  }
  void TearDown() override { DestroyTimerWindow(); }

  // The real network worker, starting at once, against a source whose list holds the main
  // program alone.
  void UseTheNetworkWorkerForOneFile() {
    Env.WaitInputMs = 0;
    Env.WorkerClass = RemoteUpdateThreadClass();
    Env.WorkerSettings.TempDir = Dir / "tmp";
    Source->InstallDir = Dir.Path();
    Source->ListText = "IClient=1.0.0.0,0,7";
    Source->Files["IClient"] = {{"1.0.0.0", 0, 7}, "program"};
  }

  std::unique_ptr<TStartWindowModel> Open() {
    auto model = std::make_unique<TStartWindowModel>(Env, View);
    model->Create();
    model->StartSequence();
    return model;
  }

  test::ApplicationStateReset AppState;
  LaunchFolder Dir;
  std::shared_ptr<FakeUpdateSource> Source = std::make_shared<FakeUpdateSource>();
  TStartWindowEnvironment Env;
  RecordingView View;
  bool ShowDialogFirst = false;
  bool DialogChanges = false;
  std::function<void()> DuringDialog;
  int DialogRuns = 0;
  int NameReads = 0;
  std::vector<std::string> Started;
};

TEST_F(StartWindow, TheF1TimeEndsAfterWaitInputInTicksOfOneHundredMilliseconds) {
  struct Case {
    int WaitInput;
    int TicksBeforeStart;
  } const kCases[] = {{3000, 30}, {500, 5}, {550, 6}};
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.WaitInput);
    Env.WaitInputMs = c.WaitInput;
    auto model = Open();
    EXPECT_EQ(model->Status(), "Use the ZORPath, press F1 to change setting.");
    for (int i = 1; i < c.TicksBeforeStart; ++i) model->Tick();
    EXPECT_FALSE(model->StartEvent().IsSet());
    EXPECT_EQ(model->WaitInput(), c.WaitInput);
    model->Tick();
    EXPECT_TRUE(model->StartEvent().IsSet());
    EXPECT_EQ(model->WaitInput(), 0);
    EXPECT_EQ(model->Status(), "Program is starting, please wait....");
  }
}

TEST_F(StartWindow, WaitInputZeroStartsAtOnce) {
  Env.WaitInputMs = 0;
  auto model = Open();
  EXPECT_TRUE(model->StartEvent().IsSet());
  EXPECT_EQ(View.Events,
            (std::vector<std::string>{"status Program is starting, please wait....",
                                      "status Use the ZORPath, press F1 to change setting.",
                                      "status Program is starting, please wait...."}));
}

TEST_F(StartWindow, UnattendedStartsAtOnceWhateverWaitInputAndIgnoresF1) {
  Env.WaitInputMs = 3000;
  Env.Unattended = true;
  auto model = Open();
  EXPECT_TRUE(model->StartEvent().IsSet());
  EXPECT_EQ(model->WaitInput(), 0);
  EXPECT_EQ(model->Status(), "Program is starting, please wait....");
  model->KeyDown(kKeyF1, false, false, false);
  EXPECT_EQ(DialogRuns, 0);
}

TEST_F(StartWindow, TheArrowSweepsRightHidesTurnsAndSweepsBack) {
  auto model = Open();
  std::string shown;  // one letter per tick: '>' or '<' shown, '.' hidden
  std::vector<int> lefts;
  for (int i = 0; i < 48; ++i) {
    model->Tick();
    shown += model->ArrowVisible() ? model->ArrowText()[0] : '.';
    if (i < 17) lefts.push_back(model->ArrowLeftEdge());
    // The text turns when the position reaches 20 and -3.
    if (model->ArrowPos() == 20) {
      EXPECT_EQ(model->ArrowText(), "<");
    }
    if (model->ArrowPos() == -3) {
      EXPECT_EQ(model->ArrowText(), ">");
    }
  }
  // 17 shown going right, 7 hidden, 17 shown going left ('<' from the turn on), 5 hidden, then
  // right again.
  EXPECT_EQ(shown, std::string(17, '>') + std::string(7, '.') + std::string(17, '<') +
                       std::string(5, '.') + ">>");
  for (int pos = 0; pos < 17; ++pos) {
    EXPECT_EQ(lefts[pos],
              static_cast<int>(std::nearbyint(pos * 64.0 / 19)) + kStatusLeft + 50 + kArrowGap);
  }
  EXPECT_EQ(lefts[16], 54 + 66);
}

// The arrow runs after the status text the window shows now: when the prompt gives way to a
// longer or shorter line its track moves with it, so the arrow never covers a word, and a line
// too long to leave room for the track inside the window hides the arrow.
TEST_F(StartWindow, TheArrowsTrackFollowsTheCurrentStatusTextAndStaysInsideTheWindow) {
  struct MeasuringView : RecordingView {
    int StatusWidth(const std::string& text) override {
      return static_cast<int>(text.size()) * PixelsPerByte;
    }
    int PixelsPerByte = 7;
  };
  MeasuringView view;
  const auto ticks = [](TStartWindowModel& model, int count) {
    int leftmost = 1 << 20;
    bool shown = false;
    for (int i = 0; i < count; ++i) {
      model.Tick();
      if (!model.ArrowVisible()) continue;
      shown = true;
      leftmost = std::min(leftmost, model.ArrowLeftEdge());
    }
    return shown ? leftmost : -1;
  };
  Env.WaitInputMs = 500;
  auto model = std::make_unique<TStartWindowModel>(Env, view);
  model->Create();
  const int starting = static_cast<int>(model->Status().size());
  model->StartSequence();
  const int prompt = static_cast<int>(model->Status().size());
  ASSERT_GT(prompt, starting);  // the prompt is the longer line
  // The prompt is shown for five ticks; the arrow starts just after it.
  EXPECT_EQ(ticks(*model, 4), kStatusLeft + prompt * 7 + kArrowGap);
  model->Tick();
  ASSERT_EQ(model->Status(), "Program is starting, please wait....");
  const int continued = static_cast<int>(model->Status().size());
  EXPECT_EQ(ticks(*model, 48), kStatusLeft + continued * 7 + kArrowGap);

  // 20 pixels a byte: the track would end outside the window, so no arrow is drawn.
  view.PixelsPerByte = 20;
  auto wide = std::make_unique<TStartWindowModel>(Env, view);
  wide->Create();
  wide->StartSequence();
  EXPECT_EQ(ticks(*wide, 48), -1);
}

TEST_F(StartWindow, F1OpensTheSettingsOnlyWithoutModifiersAndOnlyDuringTheF1Time) {
  auto model = Open();
  struct Case {
    int Key;
    bool Shift, Ctrl, Alt;
    int DialogRuns;
  } const kCases[] = {{kKeyF1, false, true, false, 0},
                      {kKeyF1, true, false, false, 0},
                      {kKeyF1, false, false, true, 0},
                      {113, false, false, false, 0},
                      {kKeyF1, false, false, false, 1}};
  for (const Case& c : kCases) {
    DialogRuns = 0;
    model->KeyDown(c.Key, c.Shift, c.Ctrl, c.Alt);
    EXPECT_EQ(DialogRuns, c.DialogRuns) << c.Key << c.Shift << c.Ctrl << c.Alt;
  }
  model->ContinueStart();
  DialogRuns = 0;
  model->KeyDown(kKeyF1, false, false, false);
  EXPECT_EQ(DialogRuns, 0);
}

// A window forwards its keys to the model it was attached to, and no longer once that is gone.
TEST_F(StartWindow, TheViewKnowsItsModelForItsLifetime) {
  auto model = Open();
  ASSERT_EQ(View.Model, model.get());
  View.Model->KeyDown(kKeyF1, false, false, false);
  EXPECT_EQ(DialogRuns, 1);
  model.reset();
  EXPECT_EQ(View.Model, nullptr);
}

TEST_F(StartWindow, ChangedSettingsResetTheClientAndStartTheWorker) {
  struct Case {
    const char* Label;
    bool Changed;
    bool Force;
    bool QuitInDialog;
    bool Continues;
  } const kCases[] = {
      {"unchanged", false, false, false, false},
      {"changed", true, false, false, true},
      {"unchanged but forced after an error", false, true, false, true},
      {"quit in the dialog", true, true, true, false},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.Label);
    ResetApplicationState();
    DialogChanges = c.Changed;
    DuringDialog = [&] {
      if (c.QuitInDialog) TerminateApplication();
    };
    auto model = Open();
    Source->TakeCalls();
    model->ChangeSettings(c.Force);
    EXPECT_EQ(model->SettingsWereChanged(), c.Changed);
    EXPECT_EQ(model->StartEvent().IsSet(), c.Continues);
    EXPECT_EQ(Source->TakeCalls(),
              c.Continues ? std::vector<std::string>{"ResetClient"} : std::vector<std::string>{});
    EXPECT_FALSE(model->IsBusy());
  }
}

TEST_F(StartWindow, TicksDoNotCountOrCloseWhileTheDialogIsOpen) {
  Env.WaitInputMs = 500;
  auto model = Open();
  model->SetDone();
  DuringDialog = [&] {
    for (int i = 0; i < 10; ++i) model->Tick();
    EXPECT_EQ(model->Ticks(), 0);
    EXPECT_FALSE(model->Closed());
    model->ChangeSettings(true);  // a second dialog is not opened over the first
  };
  model->KeyDown(kKeyF1, false, false, false);
  EXPECT_EQ(DialogRuns, 1);
  model->Tick();
  EXPECT_TRUE(model->Closed());
  EXPECT_EQ(View.Events.back(), "closed");
}

TEST_F(StartWindow, CheckZorInfoOpensTheDialogFirstWhenAskedThenMakesTheClient) {
  struct Case {
    bool AskFirst;
    bool Quit;
    int DialogRuns;
    std::vector<std::string> SourceCalls;
  } const kCases[] = {
      {false, false, 0, {"EnsureClient"}},
      {true, false, 1, {"EnsureClient"}},
      {true, true, 1, {}},
  };
  for (const Case& c : kCases) {
    ResetApplicationState();
    ShowDialogFirst = c.AskFirst;
    DuringDialog = [&] {
      if (c.Quit) TerminateApplication();
    };
    DialogRuns = 0;
    auto model = Open();
    Source->TakeCalls();
    model->CheckZorInfo();
    EXPECT_EQ(DialogRuns, c.DialogRuns);
    EXPECT_EQ(Source->TakeCalls(), c.SourceCalls);
  }
}

TEST_F(StartWindow, TheDownloadTimerFeedsTheProgressWindowWhileItExists) {
  auto model = Open();
  View.Events.clear();
  model->DownloadTimerTick();
  EXPECT_TRUE(View.Events.empty());
  Source->StartCounters(4000);
  model->ShowDownloadWindow();
  Source->Downloaded = 400;  // a resumed transfer starts above zero
  model->DownloadTimerTick();
  Source->Downloaded = 4000;
  model->DownloadTimerTick();
  ASSERT_NE(model->DownloadWindow(), nullptr);
  EXPECT_EQ(model->DownloadWindow()->PercentDone(), 100);
  model->HideDownloadWindow();
  model->DownloadTimerTick();
  EXPECT_EQ(model->DownloadWindow(), nullptr);
  EXPECT_EQ(View.Events, (std::vector<std::string>{"shown Downloading files, please wait...",
                                                   "progress 400/4000", "progress 4000/4000",
                                                   "progress 4000/4000", "hidden"}));
}

TEST_F(StartWindow, TheDownloadWindowNamesTheFileAndEstimatesTheTimeLeft) {
  ManualClock clock;
  ScopedClock useClock(clock);
  auto model = Open();
  Source->StartCounters(10'000'000);
  model->ShowDownloadWindow();
  model->DownloadTimerTick();
  const TDownloadProgressModel& window = *model->DownloadWindow();
  EXPECT_EQ(window.FileName(), "");
  EXPECT_EQ(window.DetailLine(kLangEnglish), "0 B / 9.5 MB");  // no rate yet
  {
    std::lock_guard guard(Source->Lock);
    Source->CurrentFile = "/home/u/client/bpls/ZORMain.bpl";
  }
  for (int second = 1; second <= 4; ++second) {
    clock.Advance(std::chrono::seconds(1));
    Source->Downloaded = second * 1'000'000LL;  // 1 MB a second
    model->DownloadTimerTick();
  }
  EXPECT_EQ(window.FileName(), "ZORMain.bpl");  // without its folder
  EXPECT_EQ(window.SecondsLeft(), 6);
  EXPECT_EQ(window.DetailLine(kLangEnglish), "3.8 MB / 9.5 MB, about 0:06 left");
  EXPECT_EQ(window.DetailLine(kLangTraditional), "3.8 MB / 9.5 MB, 約剩 0:06");
  EXPECT_EQ(window.DetailLine(kLangSimplified), "3.8 MB / 9.5 MB, 约剩 0:06");
}

TEST(DownloadProgress, TheEstimateFollowsTheRateOfTheLastTenSeconds) {
  using namespace std::chrono;
  struct Case {
    const char* Name;
    std::vector<std::pair<int, int64_t>> Samples;  // (second, bytes done)
    int64_t Max;
    std::optional<int64_t> Left;
  } const kCases[] = {
      {"one sample", {{0, 0}}, 1000, std::nullopt},
      {"less than a second", {{0, 0}, {0, 500}}, 1000, std::nullopt},
      {"stalled", {{0, 100}, {5, 100}}, 1000, std::nullopt},
      {"steady", {{0, 0}, {1, 100}, {2, 200}}, 1000, 8},
      {"rounded up", {{0, 0}, {3, 100}}, 150, 2},
      {"done", {{0, 0}, {1, 1000}}, 1000, 0},
      // Fast at first, then slow: only the last ten seconds count (100 bytes a second).
      {"slowed down", {{0, 0}, {1, 100000}, {11, 101000}, {21, 102000}}, 112000, 100},
      {"credited beyond the total", {{0, 0}, {1, 2000}}, 1000, 0},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.Name);
    TDownloadProgressModel window;
    window.SetMaxValue(c.Max);
    const steady_clock::time_point start{};
    for (const auto& [second, done] : c.Samples) {
      window.SetProgress(done);
      window.Sample(start + seconds(second));
    }
    EXPECT_EQ(window.SecondsLeft(), c.Left);
  }
}

TEST(DownloadProgress, BytesAndDurationsAsTheWindowWritesThem) {
  const std::pair<int64_t, const char*> kBytes[] = {{-1, "0 B"},
                                                    {0, "0 B"},
                                                    {1023, "1023 B"},
                                                    {1024, "1.0 KB"},
                                                    {1536, "1.5 KB"},
                                                    {10'485'760, "10.0 MB"},
                                                    {3'221'225'472LL, "3.0 GB"}};
  for (const auto& [bytes, text] : kBytes) EXPECT_EQ(FormatByteCount(bytes), text) << bytes;
  const std::pair<int64_t, const char*> kDurations[] = {{-4, "0:00"},      {0, "0:00"},
                                                        {42, "0:42"},      {725, "12:05"},
                                                        {3723, "1:02:03"}, {360000, "100:00:00"}};
  for (const auto& [seconds, text] : kDurations)
    EXPECT_EQ(FormatDuration(seconds), text) << seconds;
}

TEST(DownloadProgress, PercentAsTheGaugeDrawsIt) {
  SetLangIndex(kLangSimplified);
  TDownloadProgressModel window;
  EXPECT_EQ(window.Caption(), "正在下载档案中, 请稍候");
  SetLangIndex(kLangEnglish);
  struct Case {
    int64_t Max;
    int64_t Progress;
    int Percent;
  } const kCases[] = {
      {0, 10, 0},        {-5, 1, 0},        {1000, 0, 0},  {1000, 999, 99},
      {1000, 1000, 100}, {1000, 5000, 100}, {1000, -3, 0}, {4'000'000'000LL, 3'000'000'000LL, 75}};
  for (const Case& c : kCases) {
    window.SetMaxValue(c.Max);
    window.SetProgress(c.Progress);
    EXPECT_EQ(window.PercentDone(), c.Percent) << c.Max << " " << c.Progress;
  }
}

TEST_F(StartWindow, TheMainProgramStartsFromTheLauncherFolderWithNetMode) {
  auto model = Open();
  model->StartMainExe();
  EXPECT_TRUE(Started.empty());  // missing: nothing started, nothing said
  WriteFile(Dir / "IClient", "#!/bin/sh\n");
  model->StartMainExe();
  Env.StartProcess = [](const std::string&) { throw Exception("cannot start"); };
  EXPECT_EQ(Started, (std::vector<std::string>{"\"" + Dir.Path() + "IClient\" /NetMode"}));
  EXPECT_EQ(NameReads, 1);  // read once per process
  TStartWindowModel failing(Env, View);
  EXPECT_NO_THROW(failing.StartMainExe());  // a failed start is not reported
}

// The worker found the installed release in place after a failed update: the notice is shown
// (a line on standard error without a person), and the start counts as one of the installed
// release, for its own exit status. A later start without that notice is an ordinary one.
TEST_F(StartWindow, AStartOfTheInstalledReleaseShowsTheNoticeAndHasItsOwnExitStatus) {
  test::MessageCatcher boxes;
  WriteFile(Dir / "IClient", "#!/bin/sh\n");
  const auto startOnce = [&](bool installedRelease) {
    ResetLaunchOutcome();
    TStartWindowModel model(Env, View);
    if (installedRelease) model.StartingInstalledRelease("The update failed: x");
    model.StartMainExe();
    return LaunchOutcome();
  };
  EXPECT_EQ(startOnce(true), TLaunchOutcome::InstalledReleaseStarted);
  EXPECT_EQ(HeadlessExitCode(TLaunchOutcome::InstalledReleaseStarted), 6);
  EXPECT_EQ(boxes.Take(), (std::vector<std::string>{"[" + GetLangMessage(kMsgTitle) +
                                                    "] The update failed: x\n"}));
  EXPECT_EQ(startOnce(false), TLaunchOutcome::MainProgramStarted);
  EXPECT_TRUE(boxes.Take().empty());
  EXPECT_EQ(Started.size(), 2u);
  ResetLaunchOutcome();
}

TEST(MainExeName, FromTheSystemIniElseTheLaunchersDefault) {
  LaunchFolder dir;
  struct Case {
    const char* Ini;  // nullptr: no file
    const char* Launcher;
    const char* Expected;
  } const kCases[] = {
      {nullptr, "Client", "IClient"},
      {nullptr, "nclient.exe", "Iclient.exe"},
      {"[System]\r\nMainExe=ZORMain.exe\r\n", "Client", "ZORMain.exe"},
      {"\xEF\xBB\xBF[system]\nmainexe =  Spaced Name.exe \n", "Client", "Spaced Name.exe"},
      {"[Other]\nMainExe=Wrong\n[System]\nX=1\n", "Client", "IClient"},
      {"[System]\nMainExe=\n", "NClient", "IClient"},
      {"; [System]\nMainExe=Wrong\n", "Client", "IClient"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.Expected);
    std::filesystem::remove(dir / "ZORSys.ini");
    if (c.Ini) WriteFile(dir / "ZORSys.ini", c.Ini);
    EXPECT_EQ(GetMainExeName(dir.Path(), c.Launcher), c.Expected);
  }
}

TEST(StartWindowPicture, TraditionalScriptHasItsOwnSplash) {
  EXPECT_EQ(BackgroundName(kLangTraditional), "TCFORM");
  EXPECT_EQ(BackgroundName(kLangSimplified), "SCFORM");
  EXPECT_EQ(BackgroundName(kLangEnglish), "SCFORM");
}

// A whole run on the main thread's loop with the network worker on its own thread: the worker
// checks the settings on the main thread, waits for the start, fetches one file while the
// progress window is shown, asks for the main program, and the window closes.
TEST_F(StartWindow, AWholeRunOnTheTimerQueue) {
  UseTheNetworkWorkerForOneFile();
  Env.MainExeName = [] { return std::string("IClient"); };
  TStartWindowModel model(Env, View);
  RunStartWindowLoop(model);
  EXPECT_TRUE(model.Closed());
  EXPECT_EQ(model.Worker(), nullptr);
  EXPECT_EQ(test::ReadFile(Dir / "IClient"), "program");
  EXPECT_EQ(Started, (std::vector<std::string>{"\"" + Dir.Path() + "IClient\" /NetMode"}));
  const auto shown =
      std::find(View.Events.begin(), View.Events.end(), "shown Downloading files, please wait...");
  EXPECT_NE(shown, View.Events.end());
  EXPECT_NE(std::find(shown, View.Events.end(), "hidden"), View.Events.end());
  EXPECT_EQ(View.Events.back(), "closed");
}

// The loop ends as soon as the worker is done: the clock stands still, so no tick ever
// comes, and the window closes all the same. (Should it wait for a tick after all, the
// clock is moved on after a while so that the test ends, and fails.)
TEST_F(StartWindow, TheWindowClosesAsSoonAsTheWorkerIsDoneWithoutATick) {
  ManualClock clock;
  ScopedClock scopedClock(clock);
  UseTheNetworkWorkerForOneFile();
  std::atomic<bool> ended{false};
  std::thread unstick([&] {
    for (int i = 0; i < 200 && !ended; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    while (!ended) {
      clock.Advance(std::chrono::milliseconds(kStartTickMs));
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  });
  TStartWindowModel model(Env, View);
  RunStartWindowLoop(model);
  ended = true;
  unstick.join();
  EXPECT_TRUE(model.Closed());
  EXPECT_EQ(model.Ticks(), 0);
  EXPECT_EQ(Started, (std::vector<std::string>{"\"" + Dir.Path() + "IClient\" /NetMode"}));
}

// A windowed front end's own round runs the loop and the destroy step, and the calls the
// worker hands over still reach the main thread through it.
TEST_F(StartWindow, AFrontEndsOwnRoundDrivesTheLoop) {
  UseTheNetworkWorkerForOneFile();
  int rounds = 0;
  TStartWindowModel model(Env, View);
  RunStartWindowLoop(
      model, [&rounds](std::chrono::milliseconds duration, const std::function<bool()>& stop) {
        ++rounds;
        RunTimerQueue(duration, stop);
      });
  EXPECT_TRUE(model.Closed());
  EXPECT_GT(rounds, 0);
  EXPECT_EQ(Started, (std::vector<std::string>{"\"" + Dir.Path() + "IClient\" /NetMode"}));
}

// Quitting while the worker still waits for the start must not leave it waiting forever.
TEST_F(StartWindow, QuittingDuringTheF1TimeReleasesTheWaitingWorker) {
  Env.WaitInputMs = 60000;
  Env.WorkerClass = RemoteUpdateThreadClass();
  Env.WorkerSettings.TempDir = Dir / "tmp";
  TStartWindowModel model(Env, View);
  std::thread quitter;
  Source->ConnectError.clear();
  PostToThread([&] { quitter = std::thread([] { TerminateApplication(); }); }, true);
  RunStartWindowLoop(model);
  quitter.join();
  EXPECT_EQ(model.Worker(), nullptr);
  EXPECT_TRUE(Started.empty());
}

}  // namespace
}  // namespace zor
