#include "ui/fltk/fltk_uninstall_view.h"

#include <FL/Fl.H>

namespace zor {

void FltkUninstallView::Shown(const TUninstallProgressModel& window) {
  Window = std::make_unique<FltkProgressWindow>(kUninstallWindowWidth, kUninstallWindowHeight,
                                                window.Caption(), window.Caption());
  Window->SetPercent(window.PercentDone());
  Window->ShowNow();
}

void FltkUninstallView::ProgressChanged(const TUninstallProgressModel& window) {
  if (!Window) return;
  Window->SetPercent(window.PercentDone());
  Fl::check();
}

void FltkUninstallView::Hidden(const TUninstallProgressModel&) {
  Window.reset();
  Fl::check();
}

}  // namespace zor
