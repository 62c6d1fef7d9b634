#include "update/download_progress.h"

namespace zor {

namespace {
std::atomic<int64_t> gTotal{0};
std::atomic<int64_t> gDone{0};
std::atomic<bool> gTerminating{false};
}  // namespace

std::atomic<int64_t>& DownloadTotal() { return gTotal; }
std::atomic<int64_t>& DownloadedBytes() { return gDone; }
bool ApplicationTerminating() { return gTerminating.load(); }
void SetApplicationTerminating(bool terminating) { gTerminating.store(terminating); }

}  // namespace zor
