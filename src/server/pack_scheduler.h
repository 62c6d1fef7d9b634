// Packs the files of a release scan into the pack cache on every core: on demand (a file
// list waits for every packed size) and ahead of demand, on a thread of its own that takes
// each new scan as it comes, so the first launcher after a change does not wait for it.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "server/pack_cache.h"
#include "server/release_folder.h"
#include "server/server_log.h"

namespace zor {

// What the pack cache packs a release file from.
TPackSource PackSourceOf(const TReleaseFile& file);

class TPackScheduler {
 public:
  // `log` (may be null) gets a line when a scan is packed and one per file that fails.
  TPackScheduler(TPackCache& cache, TServerLog* log);
  ~TPackScheduler();
  TPackScheduler(const TPackScheduler&) = delete;
  TPackScheduler& operator=(const TPackScheduler&) = delete;

  // Starts and stops the packer thread; a scan wanted meanwhile waits for the next start.
  void Start();
  void Stop();
  // Packs `snapshot` ahead on the packer thread, in place of any scan still waiting.
  void Want(std::shared_ptr<const TReleaseSnapshot> snapshot);
  // True while a scan waits to be packed ahead or is being packed.
  bool Busy();
  // Packs the listed `files` on every core; `tick` runs on the calling thread about once a
  // second while it waits and may raise to give up (the workers then stop too). A file that
  // fails is logged and left for the request that needs it.
  void PackAll(const std::vector<TReleaseFile>& files, const std::function<void()>& tick);

 private:
  void PackLoop();

  TPackCache& Cache;
  TServerLog* Log;
  std::atomic<bool> StopPacking{false};
  std::mutex PackLock;
  std::condition_variable PackWake;
  std::shared_ptr<const TReleaseSnapshot> PackWanted;  // a scan not packed yet
  bool PackBusy = false;
  std::thread PackThread;
};

}  // namespace zor
