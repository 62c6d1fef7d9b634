#include "ui/headless/headless_start_window.h"

#include "base/format.h"

namespace zor {

void THeadlessStartWindowView::WriteLine(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), Out);
  std::fputc('\n', Out);
  std::fflush(Out);
}

void THeadlessStartWindowView::StatusChanged(const std::string& text) {
  if (text == LastStatus) return;
  LastStatus = text;
  WriteLine("[start] " + text);
}

void THeadlessStartWindowView::DownloadWindowShown(const TDownloadProgressModel& window) {
  LastPercent = -1;
  WriteLine("[download] " + window.Caption());
}

void THeadlessStartWindowView::ProgressChanged(const TDownloadProgressModel& window) {
  const int percent = window.PercentDone();
  const int step = percent / kHeadlessProgressStep * kHeadlessProgressStep;
  if (step <= LastPercent) return;
  LastPercent = step;
  WriteLine(Format("[download] %d%% (%d of %d bytes)", {percent, window.Progress(), window.MaxValue()}));
}

void THeadlessStartWindowView::UpdateAbandoned(int failedPasses) {
  WriteLine(Format(std::string(kHeadlessAbandonedNote), {failedPasses}));
}

}  // namespace zor
