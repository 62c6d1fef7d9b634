// The update worker's driver: the thread the start window creates as soon as it is shown.
// One run: take the upgrade mutex (terminal-server mode only), then repeat a pass until one
// succeeds: let the start window check the settings (on the main thread), wait for its
// StartEvent, fetch the file list and update the files. A failed pass is shown in an error
// box, the server settings are offered, and the pass runs again; then the main program is
// started and Done is set. When the pass that fails is the last one the run would make (with
// a person at the screen: the first), and the folder still holds the installed release as it
// was verified, the main program of that release is started with a notice instead. Everything
// visible goes through the owner's hooks, called on the
// main thread.
//
// `TSyncThread` is the generic driver with empty list and update steps; the network worker
// (`TRemoteUpdateThread`) fills them in.
#pragma once

#include <atomic>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "platform/named_mutex.h"
#include "startup/updating/file_list.h"
#include "startup/updating/update_source.h"

namespace zor {

// The upgrade mutex: "Global\" + the network-mode name of this base name.
inline constexpr std::string_view kUpgradeMutexBase = "ZORUpgradeKernal";
// The product mutex probed before updating: "Global\" + the network-mode name of this.
inline constexpr std::string_view kProductMutexBase = "Global_EB880";
inline constexpr std::string_view kGlobalMutexPrefix = "Global\\";

// What the worker needs of the start window.
class TSyncThreadOwner {
 public:
  virtual ~TSyncThreadOwner() = default;
  // Main thread: the settings check, which may open the settings dialog, and makes sure the
  // download client exists.
  virtual void CheckZorInfo() = 0;
  // Main thread: starts the main program.
  virtual void StartMainExe() = 0;
  // Main thread: offers the server settings after an error (`force`: go on whatever the user
  // chose).
  virtual void ChangeSettings(bool force) = 0;
  // Main thread: create and show, and close and free, the progress window.
  virtual void ShowDownloadWindow() = 0;
  virtual void HideDownloadWindow() = 0;
  // Worker: waits, without time-out, for StartEvent.
  virtual void WaitStartEvent() = 0;
  virtual void ClearSettingsChanged() = 0;
  virtual void SetWorkerElapsed(int64_t milliseconds) = 0;
  // Main thread: the update failed, and the installed release is started instead; `notice`
  // says so in the user's language. The next `StartMainExe` starts that release.
  virtual void StartingInstalledRelease(const std::string& notice) { (void)notice; }
  // Main thread: the run gives up after `failedPasses` failed passes (a bound without a person).
  virtual void UpdateAbandoned(int failedPasses) { (void)failedPasses; }
  // Worker, last thing of a run.
  virtual void SetDone() = 0;
};

// The facts of the process a worker runs in.
struct TSyncThreadSettings {
  std::string ExePath;          // the running launcher file
  bool NetMode = true;          // adds "N" to the mutex names
  bool TerminalServer = false;  // terminal-server mode: the upgrade and product mutexes are used
  // Failed passes after which the run gives up without starting the main program; 0 never
  // (a person ends the program). Without a person there must be a bound.
  int MaxFailedPasses = 0;
  // For the network worker: the server's file service, the user-interface language (1, the
  // traditional script, also fetches missing ".CHT" companions), the temporary folder that
  // receives a new launcher, and how a process is started without waiting.
  std::shared_ptr<TUpdateSource> Source;
  int LangIndex = 0;
  // Where the self-update stages the new launcher; empty: the private staging folder.
  std::string TempDir;
  std::function<void(const std::string& commandLine)> StartProcess;
  // The "ReleaseKey" setting: with it only what the release's publisher signed is installed.
  std::string ReleaseKey;
  // False in the launcher a self-update started ("/Again" after "/ReCopy"): one start
  // replaces the launcher at most once, whatever the server claims about newer versions.
  bool SelfUpdateAllowed = true;
  // The machine-wide copy run by a user who may not write it: no update pass, the main
  // program is started at once (machine_copy.h).
  bool StartWithoutUpdate = false;
  // The service's run that keeps the machine-wide copy: the passes alone, no main program.
  bool UpdateOnly = false;
};

class TSyncThread {
 public:
  TSyncThread(TSyncThreadOwner& form, TSyncThreadSettings settings);
  // Tells the thread to stop and waits for it.
  virtual ~TSyncThread();
  TSyncThread(const TSyncThread&) = delete;
  TSyncThread& operator=(const TSyncThread&) = delete;

  // Starts the thread (the class library creates it running; ours starts after construction
  // so that the derived parts exist before `Execute` runs).
  virtual void Start();
  void Terminate() { IsTerminated.store(true); }
  bool Terminated() const { return IsTerminated.load(); }
  bool Running() const { return IsRunning.load(); }
  // Waits for the thread's end.
  void WaitFor();
  const std::string& ExeDir() const { return Dir; }
  // Passes that failed so far.
  int FailedPasses() const { return Failures.load(); }

  // One run, on the calling thread (the thread body; tests call it directly).
  void Execute();

 protected:
  virtual void GetFileList(TFileList& list) { (void)list; }
  virtual void UpdateFiles(TFileList& list) { (void)list; }
  virtual void SyncBeforeUpdate();
  virtual void BeforeUpdate();
  virtual void ShowError();
  // After a failed pass: the counter of the release installed before when the folder still
  // holds exactly it, so that it may be started without an update; none by default.
  virtual std::optional<uint64_t> InstalledRelease() { return std::nullopt; }
  // Runs `call` on the main thread and waits for it; its exception comes back here.
  void Synchronize(const std::function<void()>& call);

  TSyncThreadOwner& Form;
  TSyncThreadSettings Settings;
  std::exception_ptr LastError;

 private:
  bool RunPasses();
  // Without an update: the F1 time, then true unless the run is being ended.
  bool WaitForStart();

  std::string Dir;
  std::atomic<bool> IsTerminated{false};
  std::atomic<bool> IsRunning{false};
  std::atomic<int> Failures{0};
  std::unique_ptr<NamedMutex> UpgradeMutex;
  std::thread Thread;
};

// The message of a worker's error box: the exception's text ("" for an unknown one).
std::string ErrorText(const std::exception_ptr& error);

// The class the start window creates its worker from.
using TUpdateThreadClass = std::function<std::unique_ptr<TSyncThread>(
    TSyncThreadOwner& form, TSyncThreadSettings settings)>;
void SetUpdateThreadClass(TUpdateThreadClass threadClass);
// The class set, or `TSyncThread` when none is.
TUpdateThreadClass GetUpdateThreadClass();

}  // namespace zor
