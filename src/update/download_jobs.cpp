#include "update/download_jobs.h"

#include <algorithm>
#include <utility>

#include <string_view>

#include "base/ascii_case.h"
#include "base/clock.h"
#include "base/format.h"
#include "intercom/ic_connection.h"
#include "platform/directories.h"
#include "platform/file_system.h"
#include "update/disk_full.h"
#include "update/download_progress.h"
#include "update/download_settings.h"
#include "update/list_entry_fault.h"
#include "update/release_guard.h"
#include "update/release_pass.h"
#include "update/request_name.h"

namespace zor {

namespace {

bool IsCountedFile(const std::string& fileName) {
  const auto endsWith = [&](std::string_view tail) {
    return fileName.size() >= tail.size() &&
           SameTextAscii(std::string_view(fileName).substr(fileName.size() - tail.size()), tail);
  };
  return !endsWith(".CHT") || endsWith("FR_Zor.cht");
}

}  // namespace

void CreditStart(const std::string& fileName, int32_t, int32_t filePos) {
  if (!IsCountedFile(fileName)) return;
  SetCurrentDownloadName(fileName);
  DownloadedBytes().fetch_add(filePos);
}

void CreditProgress(const std::string& fileName, int32_t, int32_t, int32_t count) {
  if (!IsCountedFile(fileName)) return;
  // The file that moved last is the one the window names, whichever job started last.
  SetCurrentDownloadName(fileName);
  DownloadedBytes().fetch_add(count);
}

// ---- TDownLoadJob ----

TDownLoadJob::TDownLoadJob(TDownloadFileClient* client, std::string name, std::string area,
                           std::string baseDir)
    : Client(client), Name(std::move(name)), Area(std::move(area)), BaseDir(std::move(baseDir)) {}

TDownLoadJob::~TDownLoadJob() {
  if (OwnsClient) delete Client;
}

void TDownLoadJob::EnsureClient() {
  if (Client != nullptr) return;
  Client = new TDownloadFileClient();  // every attempt connects it anew
  OwnsClient = true;
}

bool TDownLoadJob::Run() {
  CancelRequested = false;
  ErrorText.clear();
  EnsureClient();
  Client->Cancel = 0;  // a cancel of an earlier run does not stop this one
  return FetchWithRetry();
}

bool TDownLoadJob::FetchWithRetry() {
  Client->Events.OnProgress = OnProgressHook;
  Client->Events.OnStart = OnStartHook;
  struct Reattach {
    TDownLoadJob& Job;
    ~Reattach() { Job.Client->Events.OnStart = Job.OnStartHook; }
  } reattach{*this};
  bool result = false;
  bool started = false;    // a transfer of this name began, and its resumed bytes were credited
  bool resumed = false;    // the last failure left the connection resumed on its session
  int otherRelease = 0;    // answers of servers on another release than the pass's
  bool elsewhere = false;  // the next attempt goes out on a new connection
  for (int attempt = 1; !ApplicationTerminating(); ++attempt) {
    try {
      // A connection that is still up carries the next file; after a failure the retry
      // starts on a fresh one, unless the connection resumed its session after a cut and
      // only the interrupted command has to be asked again.
      if ((attempt > 1 && !resumed) || elsewhere) {
        Client->Reconnect();
      } else {
        Client->RequestConnection();
      }
      resumed = false;
      elsewhere = false;
      if (!started && OnStartHook) {
        Client->Events.OnStart = [this, &started](const std::string& file, int32_t size,
                                                  int32_t pos) {
          started = true;
          OnStartHook(file, size, pos);
        };
      }
      result = DownloadFiles(*Client, Name, Area, BaseDir);
      break;
    } catch (const EAbort&) {
      throw;  // a stop is not a failure to retry
    } catch (const EReleaseRefused&) {
      throw;  // the server would only send the same refused file again
    } catch (const EDiskFull&) {
      throw;  // another attempt would meet the same full disk
    } catch (const EOtherRelease& e) {
      // The server is on another release: asked again on a new connection, which a
      // balancer sends elsewhere, after a short wait that lets a roll-out move on. These
      // attempts have their own bound and do not use up those for failures.
      // Past the bound the file failed like any other transfer that could not be done.
      if (++otherRelease >= GetDownloadSettings().OtherReleaseAttempts)
        throw Exception(Format(kDownloadErrorText, {e.what()}));
      --attempt;
      resumed = false;
      elsewhere = true;
      if (started) Client->Events.OnStart = nullptr;
      GetClock().SleepFor(std::chrono::milliseconds(OtherReleaseWaitMs(otherRelease + 1)));
    } catch (const std::exception& e) {
      if (attempt >= kDownloadAttempts) throw;
      // Resumed by the connection while it waited for a reply, or now, after a cut in the
      // middle of a data stream.
      resumed =
          (std::string_view(e.what()).find(kReconnectedIncompleteText) != std::string_view::npos &&
           Client->GetConnection() != nullptr && Client->GetConnection()->Connected()) ||
          Client->ResumeSession();
      // Bytes resumed on a later attempt were credited when they first arrived.
      if (started) Client->Events.OnStart = nullptr;
    }
  }
  return result;
}

// ---- TThreadDownLoadJob ----

bool TThreadDownLoadJob::Run() {
  CancelRequested = false;
  ErrorText.clear();
  try {
    EnsureClient();
    TDownloadItem item;
    while (!CancelRequested && !Executor->Cancelled && Executor->TakeItem(item)) {
      Name = item.Name;
      Area = item.Area;
      const bool served = FetchWithRetry();
      if (CancelRequested || Executor->Cancelled || ApplicationTerminating()) break;
      // A listed file the server does not hold fails the pass: it was not updated.
      if (!served) RaiseListEntryFault(Name, TListEntryFault::NotServed);
    }
  } catch (const EAbort&) {
  } catch (const std::exception& e) {
    ErrorText = e.what();
    Executor->JobFailed(std::current_exception());
    Executor->CancelAll();
  }
  if (Client) Client->DisconnectQuietly();
  Executor->JobEnded();
  return ErrorText.empty();
}

// ---- TDownLoadExecutor ----

TDownLoadExecutor::~TDownLoadExecutor() {
  CancelAll();
  JoinThreads();
}

bool TDownLoadExecutor::TakeItem(TDownloadItem& item) {
  std::lock_guard guard(Lock);
  if (Pending.empty()) return false;
  item = std::move(Pending.back());
  Pending.pop_back();
  return true;
}

void TDownLoadExecutor::JobFailed(std::exception_ptr error) {
  std::lock_guard guard(Lock);
  if (FirstError) return;
  FirstError = error;
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    ErrorText = e.what();
  } catch (...) {
  }
}

void TDownLoadExecutor::JobEnded() {
  std::lock_guard guard(Lock);
  ActiveJobs.fetch_sub(1);
  Ended.notify_all();
}

void TDownLoadExecutor::CancelAll() {
  Cancelled = true;
  std::lock_guard guard(Lock);
  for (auto& job : Jobs) {
    job->CancelRequested = true;
    if (job->Client) job->Client->Cancel = -1;
  }
}

void TDownLoadExecutor::JoinThreads() {
  for (std::thread& thread : Threads)
    if (thread.joinable()) thread.join();
  Threads.clear();
}

int TDownLoadExecutor::Run(const std::vector<std::string>& names) {
  Cancelled = false;
  ErrorText.clear();
  FirstError = nullptr;
  if (names.empty()) return 0;
  DownloadedBytes() = 0;
  SetCurrentDownloadName("");
  {
    std::lock_guard guard(Lock);
    Pending.clear();
    for (const std::string& name : names)
      Pending.push_back({name, std::string(kDefaultDownloadArea)});
  }
  // Several files in flight, each job on its own connection; never more jobs than files or
  // than transfer slots, since each job holds a slot while its data flows.
  const int jobCount = static_cast<int>(std::min<size_t>(
      {names.size(), static_cast<size_t>(kMaxDownloadJobs),
       static_cast<size_t>(std::max<int32_t>(1, GetDownloadSettings().DownloadCapacity))}));
  {
    std::lock_guard guard(Lock);
    for (int i = 0; i < jobCount; ++i) {
      // The first job shares the process's client; the others have their own (and so their
      // own connections).
      auto job =
          std::make_unique<TThreadDownLoadJob>(this, i == 0 ? &GetDownloadClient() : nullptr);
      job->EnsureClient();
      job->OnProgressHook = CreditProgress;
      job->OnStartHook = CreditStart;
      job->Client->Cancel = 0;
      Jobs.push_back(std::move(job));
    }
    ActiveJobs = jobCount;
  }
  for (auto& job : Jobs) {
    job->ErrorText.clear();
    Threads.emplace_back([job = job.get()] { job->Run(); });
  }
  {
    std::unique_lock guard(Lock);
    while (ActiveJobs > 0) {
      if (Cancelled || ApplicationTerminating()) {
        guard.unlock();
        CancelAll();
        GetClock().SleepFor(kCancelGrace);
        guard.lock();
        break;
      }
      // A job's end notifies `Ended`; the round only bounds how late a cancel from outside
      // (the application ending) is seen.
      GetClock().WaitUntil(guard, Ended, GetClock().Now() + kExecutorPoll, [&] {
        return ActiveJobs == 0 || Cancelled || ApplicationTerminating();
      });
    }
  }
  // The jobs stop at their next check; they end before anything they use is freed.
  JoinThreads();
  std::exception_ptr error;
  {
    std::lock_guard guard(Lock);
    error = std::exchange(FirstError, nullptr);
    Jobs.clear();
    Pending.clear();
  }
  // The job's own exception, so that a full disk or a refused release keeps its kind.
  if (error) std::rethrow_exception(error);
  return jobCount;
}

bool DownloadOne(TDownloadFileClient& client, std::string_view name, std::string_view area,
                 bool deleteFirst, std::string_view baseDir) {
  // The local copy that "delete first" removes: the file itself, where the download puts it.
  const TRequestName checked = CheckRequestName(name);
  const std::string folder =
      baseDir.empty() ? GetDownloadSettings().DataFolder : std::string(baseDir);
  const std::string local =
      IncludeTrailingPathDelimiter(folder.empty() ? GetInstallDir() : folder) + checked.Relative;
  TDownLoadJob job(&client, std::string(name), std::string(area), std::string(baseDir));
  if (deleteFirst) {
    FileSystem& files = CurrentFileSystem();
    if (files.IsFile(local)) files.RemoveIfPresent(local);
  }
  return job.Run();
}

}  // namespace zor
