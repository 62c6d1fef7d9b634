// The start window without a window: the launcher's one main form. It shows a status line
// with a moving arrow, gives the user a short time ("WaitInput") in which F1 opens the server
// settings, runs the update worker and meets it through StartEvent and a few flags, shows
// the progress window while the worker downloads, starts the main program when the worker
// asks, and closes once the worker is done.
//
// A view draws it (`TStartWindowView`); its loop calls `Tick` every 100 ms and
// `DownloadTimerTick` every second on the main thread. The worker calls the hooks of
// `TSyncThreadOwner`, the window ones through the main thread.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "startup/updating/download_progress_model.h"
#include "startup/updating/start_event.h"
#include "startup/updating/sync_thread.h"

namespace zor {

inline constexpr int kMsgStartPrompt = 3;
inline constexpr int kMsgTitle = 8;
inline constexpr int kStartTickMs = 100;
inline constexpr int kDownloadTimerMs = 1000;
inline constexpr int kKeyF1 = 112;
// The arrow: 17 shown positions over 64 pixels of track, turning at -3 and 20.
inline constexpr int kArrowShownPositions = 17;
inline constexpr int kArrowTurnHigh = 20;
inline constexpr int kArrowTurnLow = -3;
inline constexpr int kArrowTrackPixels = 64;
inline constexpr int kArrowTrackSteps = 19;
// Where the status line lies on the splash ("Starting" at (12, 330)).
inline constexpr int kStatusLeft = 12;
inline constexpr int kArrowGap = 4;
// Where the status line ends: the window is 482 pixels wide, with the same margin both sides.
inline constexpr int kStatusRight = 482 - kStatusLeft;

// The splash picture's resource: "TCFORM" for the traditional script, else "SCFORM".
std::string_view BackgroundName(int langIndex);

class TStartWindowModel;

// What the window draws through; every call comes on the main thread.
class TStartWindowView {
 public:
  virtual ~TStartWindowView() = default;
  // The model this view draws and forwards its keys to, from its construction on; nullptr
  // once it is gone.
  virtual void Attached(TStartWindowModel* model) { (void)model; }
  virtual void TitleChanged(const std::string& title) { (void)title; }
  virtual void StatusChanged(const std::string& text) { (void)text; }
  virtual void ArrowChanged(bool visible, int left, std::string_view text) {
    (void)visible, (void)left, (void)text;
  }
  virtual void DownloadWindowShown(const TDownloadProgressModel& window) { (void)window; }
  virtual void ProgressChanged(const TDownloadProgressModel& window) { (void)window; }
  virtual void DownloadWindowHidden() {}
  virtual void UpdateAbandoned(int failedPasses) { (void)failedPasses; }
  virtual void Closed() {}
  // Width in pixels of the status text, for the arrow's track (0 when nothing is drawn).
  virtual int StatusWidth(const std::string& text) {
    (void)text;
    return 0;
  }
};

// What the window takes from the process around it.
struct TStartWindowEnvironment {
  int WaitInputMs = 3000;  // "WaitInput", already at least 500
  // Nobody can press F1 (a front end without a person): the start goes on at once, as with
  // WaitInput 0, instead of waiting for a key that cannot come.
  bool Unattended = false;
  std::function<bool()> ShouldShowServerDialog;  // before the first pass
  std::function<bool()> ShowServerSettings;      // the dialog: true when the connection changed
  std::shared_ptr<TUpdateSource> Source;         // the download client's owner
  TUpdateThreadClass WorkerClass;                // empty: `GetUpdateThreadClass()`
  TSyncThreadSettings
      WorkerSettings;  // ExePath is also the launcher the main program starts beside
  std::function<std::string()> MainExeName;  // read once per process
  std::function<void(const std::string& commandLine)>
      StartProcess;  // without waiting; failures are silent
};

class TStartWindowModel : public TSyncThreadOwner {
 public:
  TStartWindowModel(TStartWindowEnvironment environment, TStartWindowView& view);
  // The destroy step when `Shutdown` was not run: stops and frees the worker.
  ~TStartWindowModel() override;

  // The create step: captions (title message 8, status message 2).
  void Create();
  // Reads WaitInput, shows message 3 and starts the worker; with WaitInput 0 or unattended
  // goes on at once.
  void StartSequence();
  // The 100 ms tick: the arrow, the F1 time, and closing once Done.
  void Tick();
  // The 1-second download timer: the gauge follows the progress counters.
  void DownloadTimerTick();
  // A key press; F1 without Shift, Ctrl or Alt opens the settings while the F1 time runs.
  void KeyDown(int key, bool shift, bool ctrl, bool alt);
  // StartEvent signalled, status message 2, F1 time over.
  void ContinueStart();
  // The destroy step: tells the worker to stop, wakes it, runs `pump` (which must run the
  // main thread's pending calls) until the worker has ended, then frees it.
  void Shutdown(const std::function<void()>& pump);

  // The worker's hooks.
  void CheckZorInfo() override;
  void StartMainExe() override;
  // Shows the notice (a warning box; without a person a line on standard error) and marks the
  // start that follows as one of the installed release.
  void StartingInstalledRelease(const std::string& notice) override;
  void ChangeSettings(bool force) override;
  void ShowDownloadWindow() override;
  void HideDownloadWindow() override;
  void WaitStartEvent() override;
  void ClearSettingsChanged() override { SettingsChanged.store(false); }
  void SetWorkerElapsed(int64_t milliseconds) override { WorkerElapsed.store(milliseconds); }
  void UpdateAbandoned(int failedPasses) override { View.UpdateAbandoned(failedPasses); }
  // Also wakes the main thread's loop, which then closes the window at once instead of at
  // the next tick.
  void SetDone() override;

  bool Closed() const { return IsClosed; }
  bool IsDone() const { return Done.load(); }
  // The worker is done and no dialog is open: the loop may end and close the window.
  bool ReadyToClose() const { return Done.load() && !Busy; }
  bool IsBusy() const { return Busy; }
  int WaitInput() const { return WaitInputMs; }
  int Ticks() const { return TickCount; }
  int ArrowPos() const { return Position; }
  int ArrowStep() const { return Step; }
  bool ArrowVisible() const { return Visible; }
  int ArrowLeftEdge() const { return Left; }
  std::string_view ArrowText() const { return Arrow; }
  const std::string& Status() const { return StatusText; }
  bool SettingsWereChanged() const { return SettingsChanged.load(); }
  int64_t WorkerMilliseconds() const { return WorkerElapsed.load(); }
  TStartEvent& StartEvent() { return Event; }
  TSyncThread* Worker() const { return WorkerThread.get(); }
  const TDownloadProgressModel* DownloadWindow() const {
    return DownLoadForm ? &*DownLoadForm : nullptr;
  }

 private:
  void SetStatus(const std::string& text);
  void AnimateArrow();
  void Close();

  TStartWindowEnvironment Env;
  TStartWindowView& View;
  std::atomic<bool> Done{false};
  int Step = 1;
  int Position = 0;
  int WaitInputMs = 0;
  int TickCount = 0;
  bool Busy = false;
  bool ArrowFits = true;  // the track and the arrow end before the status line does
  bool Visible = false;
  int ArrowLeft = 0;
  int Left = 0;
  std::string_view Arrow = ">";
  std::string StatusText;
  std::atomic<int64_t> WorkerElapsed{0};
  TStartEvent Event;
  std::atomic<bool> SettingsChanged{false};
  std::unique_ptr<TSyncThread> WorkerThread;
  std::optional<TDownloadProgressModel> DownLoadForm;
  std::optional<std::string> MainExe;
  bool InstalledReleaseStart = false;  // the update failed; the installed release starts
  bool IsClosed = false;
};

}  // namespace zor
