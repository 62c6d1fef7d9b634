// Download jobs: `TDownLoadJob` fetches one name with up to five attempts, each on a fresh
// connection after a failure; `TThreadDownLoadJob` drains the executor's queue on its own
// thread and connection; `TDownLoadExecutor` runs several such jobs over the list of files to
// fetch (several files in flight on several connections), credits their
// bytes to the progress counters, and reports the first job's failure after all have ended.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "update/download_client.h"

namespace zor {

inline constexpr int kDownloadAttempts = 5;
// Jobs (threads and connections) of one download phase at most: enough to keep a link busy
// while other files wait for a reply or for the disk, few enough that many launchers at
// once do not flood one server.
inline constexpr int kMaxDownloadJobs = 4;
inline constexpr std::string_view kDefaultDownloadArea = "libs";
inline constexpr std::chrono::milliseconds kExecutorPoll{100};
inline constexpr std::chrono::milliseconds kCancelGrace{1000};

class TDownLoadJob {
 public:
  // Uses `client` (not owned); without one the job makes its own on a new connection.
  explicit TDownLoadJob(TDownloadFileClient* client, std::string name = {}, std::string area = {},
                        std::string baseDir = {});
  virtual ~TDownLoadJob();
  TDownLoadJob(const TDownLoadJob&) = delete;
  TDownLoadJob& operator=(const TDownLoadJob&) = delete;

  virtual bool Run();

  TFileStartEvent OnStartHook;
  TFileProgressEvent OnProgressHook;
  bool OwnsClient = false;
  TDownloadFileClient* Client = nullptr;
  std::string Name, Area, BaseDir;
  std::string ErrorText;
  std::atomic<bool> CancelRequested{false};

 protected:
  friend class TDownLoadExecutor;
  void EnsureClient();
  // `DownloadFiles` of `Name` with up to five attempts on fresh connections; resumed bytes
  // are credited at the start of the first attempt only.
  bool FetchWithRetry();
};

class TDownLoadExecutor;

class TThreadDownLoadJob : public TDownLoadJob {
 public:
  TThreadDownLoadJob(TDownLoadExecutor* executor, TDownloadFileClient* client)
      : TDownLoadJob(client), Executor(executor) {}
  bool Run() override;
  TDownLoadExecutor* Executor;
};

struct TDownloadItem {
  std::string Name;
  std::string Area;
};

class TDownLoadExecutor {
 public:
  TDownLoadExecutor() = default;
  ~TDownLoadExecutor();
  TDownLoadExecutor(const TDownLoadExecutor&) = delete;
  TDownLoadExecutor& operator=(const TDownLoadExecutor&) = delete;

  // Fetches `names` (taken from the last to the first) with one job per file, at most
  // `kMaxDownloadJobs` and at most the transfer capacity. Raises the first failed job's
  // exception (an `EDiskFull` stays one).
  // Returns the number of jobs run.
  int Run(const std::vector<std::string>& names);
  // Stops every job at its next check.
  void CancelAll();

  std::string ErrorText;
  std::atomic<int32_t> ActiveJobs{0};
  std::atomic<bool> Cancelled{false};

 private:
  friend class TThreadDownLoadJob;
  bool TakeItem(TDownloadItem& item);
  void JobFailed(std::exception_ptr error);
  void JobEnded();
  void JoinThreads();

  std::mutex Lock;  // guards Pending, Jobs, ErrorText, FirstError
  std::exception_ptr FirstError;
  std::condition_variable Ended;
  std::vector<TDownloadItem> Pending;
  std::vector<std::unique_ptr<TThreadDownLoadJob>> Jobs;
  std::vector<std::thread> Threads;
};

// Credits of the progress counters: resumed bytes at the start, each block as written;
// traditional-script companions (".CHT", except "FR_Zor.cht") are not counted.
void CreditStart(const std::string& fileName, int32_t fileSize, int32_t filePos);
void CreditProgress(const std::string& fileName, int32_t fileSize, int32_t filePos, int32_t count);

}  // namespace zor
