#include "server/pack_scheduler.h"

#include <algorithm>
#include <condition_variable>
#include <utility>

#include "base/exceptions.h"
#include "base/format.h"

namespace zor {

namespace {

constexpr std::string_view kTag = "FileService";

}  // namespace

TPackSource PackSourceOf(const TReleaseFile& file) {
  TPackSource source;
  source.Name = file.Name;
  source.Path = file.Path;
  source.Root = file.Root;
  source.Size = file.Size;
  source.ModifiedNs = file.ModifiedNs;
  source.DosTime = file.DosTime;
  source.Sha256 = file.Sha256;
  return source;
}

TPackScheduler::TPackScheduler(TPackCache& cache, TServerLog* log) : Cache(cache), Log(log) {}

TPackScheduler::~TPackScheduler() {
  Stop();
}

void TPackScheduler::Start() {
  std::lock_guard guard(PackLock);
  if (PackThread.joinable()) return;
  StopPacking = false;
  PackThread = std::thread([this] { PackLoop(); });
}

void TPackScheduler::Stop() {
  {
    std::lock_guard guard(PackLock);
    StopPacking = true;
  }
  PackWake.notify_all();
  if (PackThread.joinable()) PackThread.join();
}

void TPackScheduler::Want(std::shared_ptr<const TReleaseSnapshot> snapshot) {
  {
    std::lock_guard guard(PackLock);
    PackWanted = std::move(snapshot);
  }
  PackWake.notify_all();
}

bool TPackScheduler::Busy() {
  std::lock_guard guard(PackLock);
  return PackBusy || PackWanted != nullptr;
}

void TPackScheduler::PackLoop() {
  std::unique_lock guard(PackLock);
  for (;;) {
    PackWake.wait(guard, [this] { return StopPacking || PackWanted; });
    if (StopPacking) break;
    const std::shared_ptr<const TReleaseSnapshot> snapshot = std::exchange(PackWanted, nullptr);
    PackBusy = true;
    guard.unlock();
    const int64_t before = Cache.PacksDone();
    try {
      PackAll(snapshot->Files, [this] {
        if (StopPacking) throw EAbort("Packing stopped");
      });
      if (Log)
        Log->Info(kTag, Format("The release is packed: %d files (%d packed now)",
                               {snapshot->Files.size(), Cache.PacksDone() - before}));
    } catch (const EAbort&) {
    }
    guard.lock();
    PackBusy = false;
    PackWake.notify_all();
  }
  PackBusy = false;
  PackWake.notify_all();
}

void TPackScheduler::PackAll(const std::vector<TReleaseFile>& files,
                             const std::function<void()>& tick) {
  std::vector<const TReleaseFile*> listed;
  for (const TReleaseFile& file : files)
    if (file.Listed) listed.push_back(&file);
  std::atomic<size_t> next{0};
  std::atomic<bool> stop{false};
  std::mutex doneLock;
  std::condition_variable doneWake;
  const size_t count =
      std::min<size_t>(listed.size(), std::max(1u, std::thread::hardware_concurrency()));
  size_t running = count;  // guarded by doneLock: workers that have not ended yet
  std::vector<std::thread> workers;
  for (size_t w = 0; w < count; ++w) {
    workers.emplace_back([&] {
      for (size_t i = next++; i < listed.size() && !stop; i = next++) {
        try {
          Cache.Get(PackSourceOf(*listed[i]), [&] {
            if (stop) throw EAbort("Packing stopped");
          });
        } catch (const EAbort&) {
          break;
        } catch (const std::exception& e) {
          // The request that needs the file packs it again and reports the reason.
          if (Log) Log->Warning(kTag, Format("Cannot pack %s: %s", {listed[i]->Name, e.what()}));
        }
      }
      std::lock_guard guard(doneLock);
      --running;
      doneWake.notify_all();
    });
  }
  try {
    std::unique_lock guard(doneLock);
    while (!doneWake.wait_for(guard, std::chrono::seconds(1), [&] { return running == 0; })) {
      guard.unlock();
      if (tick) tick();
      guard.lock();
    }
  } catch (...) {
    stop = true;
    for (std::thread& worker : workers) worker.join();
    throw;
  }
  for (std::thread& worker : workers) worker.join();
}

}  // namespace zor
