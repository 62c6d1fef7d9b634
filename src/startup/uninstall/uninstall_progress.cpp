#include "startup/uninstall/uninstall_progress.h"

#include <atomic>

#include "startup/client_info/lang_messages.h"

namespace zor {
namespace {

std::atomic<TUninstallView*> gView{nullptr};

}  // namespace

TUninstallProgressModel::TUninstallProgressModel()
    : CaptionText(GetLangMessage(kMsgUninstalling)) {}

void TUninstallProgressModel::Step(const std::string& file, bool removed) {
  Current = file;
  ++Value;
  if (removed) ++RemovedCount;
}

int TUninstallProgressModel::PercentDone() const {
  if (Max <= 0 || Value <= 0) return 0;
  if (Value >= Max) return 100;
  return static_cast<int>(Value * 100 / Max);
}

void SetUninstallView(TUninstallView* view) {
  gView.store(view, std::memory_order_release);
}

TUninstallView* GetUninstallView() {
  return gView.load(std::memory_order_acquire);
}

}  // namespace zor
