#include "ui/headless/headless_uninstall_view.h"

#include "base/format.h"

namespace zor {

void THeadlessUninstallView::WriteLine(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), Out);
  std::fputc('\n', Out);
  std::fflush(Out);
}

void THeadlessUninstallView::Shown(const TUninstallProgressModel& window) {
  LastStep = 0;
  WriteLine("[uninstall] " + window.Caption());
}

void THeadlessUninstallView::ProgressChanged(const TUninstallProgressModel& window) {
  const int step = window.PercentDone() / kHeadlessUninstallStep * kHeadlessUninstallStep;
  if (step <= LastStep) return;
  LastStep = step;
  WriteLine(Format("[uninstall] %d%% (%d of %d files)",
                   {window.PercentDone(), window.Progress(), window.MaxValue()}));
}

void THeadlessUninstallView::Hidden(const TUninstallProgressModel& window) {
  WriteLine(
      Format("[uninstall] %d files looked at, %d removed", {window.Progress(), window.Removed()}));
}

}  // namespace zor
