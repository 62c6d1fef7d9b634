#include "startup/updating/start_window_model.h"

#include <algorithm>
#include <cmath>

#include "base/clock.h"
#include "base/format.h"
#include "base/timer_queue.h"
#include "platform/file_system.h"
#include "startup/client_info/lang_messages.h"
#include "startup/launch/application_state.h"
#include "startup/launch/launch_outcome.h"
#include "startup/launch/main_exe.h"
#include "startup/launch/message_box.h"
#include "startup/launch/path_names.h"
#include "update/release_guard.h"
#include "update/request_name.h"

namespace zor {

std::string_view BackgroundName(int langIndex) {
  return langIndex == kLangTraditional ? "TCFORM" : "SCFORM";
}

TStartWindowModel::TStartWindowModel(TStartWindowEnvironment environment, TStartWindowView& view)
    : Env(std::move(environment)), View(view) {
  View.Attached(this);
}

TStartWindowModel::~TStartWindowModel() {
  if (WorkerThread) {
    WorkerThread->Terminate();
    Event.Set();
    WorkerThread.reset();
  }
  View.Attached(nullptr);
}

void TStartWindowModel::Create() {
  View.TitleChanged(GetLangMessage(kMsgTitle));
  SetStatus(GetLangMessage(kMsgStarting));
}

void TStartWindowModel::SetStatus(const std::string& text) {
  StatusText = text;
  View.StatusChanged(text);
  // The arrow's track begins after the text shown now, so a longer status moves it on
  // rather than letting the arrow run over the words; a track that would not end inside the
  // window is not shown at all.
  ArrowLeft = kStatusLeft + View.StatusWidth(text) + kArrowGap;
  const int arrowWidth = std::max(View.StatusWidth(">"), View.StatusWidth("<"));
  ArrowFits = ArrowLeft + kArrowTrackPixels + arrowWidth <= kStatusRight;
}

void TStartWindowModel::StartSequence() {
  WaitInputMs = Env.WaitInputMs;
  SetStatus(GetLangMessage(kMsgStartPrompt));
  const TUpdateThreadClass workerClass = Env.WorkerClass ? Env.WorkerClass : GetUpdateThreadClass();
  TSyncThreadSettings settings = Env.WorkerSettings;
  if (!settings.Source) settings.Source = Env.Source;
  WorkerThread = workerClass(*this, std::move(settings));
  WorkerThread->Start();
  if (WaitInputMs == 0 || Env.Unattended) ContinueStart();
}

void TStartWindowModel::AnimateArrow() {
  // The position is taken as unsigned: negative positions are hidden as well.
  Visible =
      ArrowFits && static_cast<unsigned>(Position) < static_cast<unsigned>(kArrowShownPositions);
  if (Visible) {
    Left = static_cast<int>(std::nearbyint(Position * static_cast<double>(kArrowTrackPixels) /
                                           kArrowTrackSteps)) +
           ArrowLeft;
  }
  Position += Step;
  if (Position <= kArrowTurnLow || Position >= kArrowTurnHigh) {
    Step = -Step;
    Arrow = Step == 1 ? ">" : "<";
  }
  View.ArrowChanged(Visible, Left, Arrow);
}

void TStartWindowModel::Tick() {
  if (IsClosed) return;
  AnimateArrow();
  if (Busy) return;
  ++TickCount;
  if (WaitInputMs != 0 && WaitInputMs <= TickCount * kStartTickMs) ContinueStart();
  if (Done.load()) Close();
}

void TStartWindowModel::DownloadTimerTick() {
  if (!DownLoadForm || !Env.Source) return;
  const int64_t total = Env.Source->DownloadTotal();
  if (DownLoadForm->MaxValue() != total) DownLoadForm->SetMaxValue(total);
  DownLoadForm->SetProgress(Env.Source->DownloadedBytes());
  if (const std::string name = Env.Source->CurrentFileName(); !name.empty())
    DownLoadForm->SetFileName(name);
  DownLoadForm->Sample(GetClock().Now());
  View.ProgressChanged(*DownLoadForm);
}

void TStartWindowModel::KeyDown(int key, bool shift, bool ctrl, bool alt) {
  if (key == kKeyF1 && !shift && !ctrl && !alt && WaitInputMs != 0) ChangeSettings(false);
}

void TStartWindowModel::ContinueStart() {
  Event.Set();
  SetStatus(GetLangMessage(kMsgStarting));
  WaitInputMs = 0;
}

void TStartWindowModel::ChangeSettings(bool force) {
  if (Busy) return;
  Busy = true;
  try {
    const bool changed = Env.ShowServerSettings && Env.ShowServerSettings();
    SettingsChanged.store(changed);
    if (!IsApplicationTerminating() && (force || changed)) {
      // The client connects again on its next use, where a failure counts as a failed pass.
      if (Env.Source) Env.Source->ResetClient();
      ContinueStart();
    }
  } catch (...) {
    Busy = false;
    throw;
  }
  Busy = false;
}

void TStartWindowModel::CheckZorInfo() {
  if (IsMainThread() && Env.ShouldShowServerDialog && Env.ShouldShowServerDialog()) {
    ChangeSettings(false);
    if (IsApplicationTerminating()) return;
  }
  if (Env.Source) Env.Source->EnsureClient();
}

void TStartWindowModel::StartMainExe() {
  if (!MainExe) MainExe = Env.MainExeName ? Env.MainExeName() : std::string();
  if (MainExe->empty()) return RecordLaunchOutcome(TLaunchOutcome::MainProgramNotStarted);
  // The name comes from a file the server sends: it must name a file inside the client folder
  // and, with a signed release, one of the release's files.
  bool inside = true;
  try {
    (void)CheckRequestName(*MainExe);
  } catch (const std::exception&) {
    inside = false;
  }
  const std::shared_ptr<const TReleaseGuard> guard = GetReleaseGuard();
  if (!inside || (guard && guard->HasManifest() && guard->Manifest().Find(*MainExe) == nullptr)) {
    MessageBoxRequest request;
    request.Text = Format(
        ReleaseTextIn(Env.WorkerSettings.LangIndex, TReleaseText::MainExeNotSigned), {*MainExe});
    request.Icon = MessageIcon::Error;
    ShowMessageBox(request);
    return RecordLaunchOutcome(TLaunchOutcome::MainProgramNotStarted);
  }
  const std::string path = ExtractFilePath(Env.WorkerSettings.ExePath) + *MainExe;
  // A missing main program is not reported (but the exit status of a run without a person
  // says so).
  if (!CurrentFileSystem().IsFile(path))
    return RecordLaunchOutcome(TLaunchOutcome::MainProgramNotStarted);
  try {
    if (Env.StartProcess) Env.StartProcess(MainExeCommandLine(path));
    RecordLaunchOutcome(InstalledReleaseStart ? TLaunchOutcome::InstalledReleaseStarted
                                              : TLaunchOutcome::MainProgramStarted);
  } catch (...) {
    // A failed start is not reported either.
    RecordLaunchOutcome(TLaunchOutcome::MainProgramNotStarted);
  }
}

void TStartWindowModel::StartingInstalledRelease(const std::string& notice) {
  InstalledReleaseStart = true;
  MessageBoxRequest request;
  request.Caption = GetLangMessage(kMsgTitle);  // not an error: the work goes on
  request.Text = notice;
  request.Icon = MessageIcon::Warning;
  ShowMessageBox(request);
}

void TStartWindowModel::ShowDownloadWindow() {
  DownLoadForm.emplace();
  View.DownloadWindowShown(*DownLoadForm);
}

void TStartWindowModel::HideDownloadWindow() {
  if (!DownLoadForm) return;
  DownloadTimerTick();  // the last state of the counters, which the timer may not have seen
  DownLoadForm.reset();
  View.DownloadWindowHidden();
}

void TStartWindowModel::SetDone() {
  Done.store(true);
  try {
    PostToThread([] {}, true);  // only wakes the loop, so it may come after the window is gone
  } catch (...) {
    // No main thread runs a loop: the tick closes the window.
  }
}

void TStartWindowModel::WaitStartEvent() {
  Event.Wait();
}

void TStartWindowModel::Close() {
  if (IsClosed) return;
  IsClosed = true;
  View.Closed();
}

void TStartWindowModel::Shutdown(const std::function<void()>& pump) {
  Close();
  if (!WorkerThread) return;
  WorkerThread->Terminate();
  Event.Set();  // a worker still waiting for the start must see the end, not wait forever
  while (WorkerThread->Running()) pump();
  WorkerThread.reset();
  HideDownloadWindow();
}

}  // namespace zor
