#include "update/download_progress.h"

#include <mutex>

namespace zor {

namespace {
std::atomic<int64_t> gTotal{0};
std::atomic<int64_t> gDone{0};
std::atomic<bool> gTerminating{false};
std::mutex gNameLock;
std::string gName;
}  // namespace

std::atomic<int64_t>& DownloadTotal() {
  return gTotal;
}
std::atomic<int64_t>& DownloadedBytes() {
  return gDone;
}
std::string CurrentDownloadName() {
  std::lock_guard guard(gNameLock);
  return gName;
}

void SetCurrentDownloadName(const std::string& name) {
  std::lock_guard guard(gNameLock);
  gName = name;
}

bool ApplicationTerminating() {
  return gTerminating.load();
}
void SetApplicationTerminating(bool terminating) {
  gTerminating.store(terminating);
}

}  // namespace zor
