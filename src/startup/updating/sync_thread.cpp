#include "startup/updating/sync_thread.h"

#include <mutex>

#include "base/clock.h"
#include "base/exceptions.h"
#include "base/format.h"
#include "base/timer_queue.h"
#include "startup/client_info/client_edition.h"
#include "startup/launch/application_state.h"
#include "startup/launch/launch_outcome.h"
#include "startup/launch/message_box.h"
#include "startup/launch/path_names.h"
#include "update/release_guard.h"

namespace zor {
namespace {

std::mutex classLock;
TUpdateThreadClass updateThreadClass;

std::string GlobalMutexName(std::string_view base, bool netMode) {
  return std::string(kGlobalMutexPrefix) + NetModeMutexName(base, netMode);
}

void ShowErrorBox(const std::exception_ptr& error) {
  MessageBoxRequest request;
  request.Text = ErrorText(error);
  request.Icon = MessageIcon::Error;
  ShowMessageBox(request);
}

bool IsAbort(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const EAbort&) {
    return true;
  } catch (...) {
    return false;
  }
}

bool IsReleaseRefusal(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const EReleaseRefused&) {
    return true;
  } catch (...) {
    return false;
  }
}

}  // namespace

std::string ErrorText(const std::exception_ptr& error) {
  if (!error) return {};
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return {};
  }
}

TSyncThread::TSyncThread(TSyncThreadOwner& form, TSyncThreadSettings settings)
    : Form(form), Settings(std::move(settings)), Dir(ExtractFilePath(Settings.ExePath)) {}

TSyncThread::~TSyncThread() {
  Terminate();
  WaitFor();
}

void TSyncThread::Start() {
  IsRunning.store(true);  // from now on, until `Execute` has ended
  Thread = std::thread([this] { Execute(); });
}

void TSyncThread::WaitFor() {
  if (Thread.joinable() && Thread.get_id() != std::this_thread::get_id()) Thread.join();
}

void TSyncThread::Synchronize(const std::function<void()>& call) {
  CallOnMainThread(call);
}

void TSyncThread::SyncBeforeUpdate() {
  Synchronize([this] { BeforeUpdate(); });
}

void TSyncThread::BeforeUpdate() {
  Form.CheckZorInfo();
}

void TSyncThread::ShowError() {
  if (!IsAbort(LastError)) ShowErrorBox(LastError);
  Form.ChangeSettings(true);
}

bool TSyncThread::WaitForStart() {
  // The F1 time still lets the user change the server settings the main program uses.
  Form.WaitStartEvent();
  return !Terminated() && !IsApplicationTerminating();
}

bool TSyncThread::RunPasses() {
  for (;;) {
    if (Terminated()) return false;
    try {
      const auto start = GetClock().Now();
      SyncBeforeUpdate();
      if (Terminated()) return false;
      Form.SetWorkerElapsed(MillisecondsSince(start));
      Form.WaitStartEvent();
      if (Terminated() || IsApplicationTerminating()) return false;  // ends without a word
      Form.ClearSettingsChanged();
      TFileList list;
      GetFileList(list);
      UpdateFiles(list);
      return true;
    } catch (...) {
      if (Terminated() || IsApplicationTerminating()) return false;
      LastError = std::current_exception();
      const int failures = Failures.fetch_add(1) + 1;
      const bool lastPass = Settings.MaxFailedPasses <= 0 || failures >= Settings.MaxFailedPasses;
      // The service's run only keeps the folder: it has no main program to fall back on.
      if (lastPass && !Settings.UpdateOnly) {
        if (const std::optional<uint64_t> installed = InstalledRelease()) {
          const std::string notice =
              Format(ReleaseTextIn(Settings.LangIndex, TReleaseText::InstalledReleaseStarted),
                     {ErrorText(LastError), *installed});
          Synchronize([this, &notice] { Form.StartingInstalledRelease(notice); });
          return true;
        }
      }
      Synchronize([this] { ShowError(); });
      if (Settings.MaxFailedPasses > 0 && failures >= Settings.MaxFailedPasses) {
        RecordLaunchOutcome(IsReleaseRefusal(LastError) ? TLaunchOutcome::ReleaseRefused
                                                        : TLaunchOutcome::UpdateFailed);
        Synchronize([this, failures] { Form.UpdateAbandoned(failures); });
        return false;
      }
    }
  }
}

void TSyncThread::Execute() {
  IsRunning.store(true);
  try {
    if (Settings.TerminalServer) {
      UpgradeMutex =
          std::make_unique<NamedMutex>(GlobalMutexName(kUpgradeMutexBase, Settings.NetMode));
      UpgradeMutex->Acquire();
    }
    bool productRunning = false;
    if (Settings.TerminalServer) {
      NamedMutex probe(GlobalMutexName(kProductMutexBase, Settings.NetMode));
      productRunning = probe.AlreadyExisted();
    }
    const bool updated =
        productRunning || (Settings.StartWithoutUpdate ? WaitForStart() : RunPasses());
    if (updated && !Terminated() && !IsApplicationTerminating()) {
      if (Settings.UpdateOnly)
        RecordLaunchOutcome(TLaunchOutcome::JobDone);
      else
        Synchronize([this] { Form.StartMainExe(); });
    }
  } catch (const EAbort&) {
  } catch (...) {
    LastError = std::current_exception();
    try {
      Synchronize([this] { ShowErrorBox(LastError); });
    } catch (...) {
      // The main thread is gone: nobody is left to tell.
    }
  }
  if (UpgradeMutex) {
    UpgradeMutex->Release();
    UpgradeMutex.reset();
  }
  IsRunning.store(false);
  Form.SetDone();
}

void SetUpdateThreadClass(TUpdateThreadClass threadClass) {
  std::lock_guard guard(classLock);
  updateThreadClass = std::move(threadClass);
}

TUpdateThreadClass GetUpdateThreadClass() {
  std::lock_guard guard(classLock);
  if (updateThreadClass) return updateThreadClass;
  return [](TSyncThreadOwner& form, TSyncThreadSettings settings) {
    return std::make_unique<TSyncThread>(form, std::move(settings));
  };
}

}  // namespace zor
