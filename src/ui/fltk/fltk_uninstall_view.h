// The uninstall progress window under FLTK: the small borderless 280 x 74 window with the
// caption and the gauge, painted at once on every step, since the uninstall runs on the main
// thread without a loop.
#pragma once

#include <memory>

#include "startup/uninstall/uninstall_progress.h"
#include "ui/fltk/fltk_progress_window.h"

namespace zor {

class FltkUninstallView : public TUninstallView {
 public:
  void Shown(const TUninstallProgressModel& window) override;
  void ProgressChanged(const TUninstallProgressModel& window) override;
  void Hidden(const TUninstallProgressModel& window) override;

 private:
  std::unique_ptr<FltkProgressWindow> Window;
};

}  // namespace zor
