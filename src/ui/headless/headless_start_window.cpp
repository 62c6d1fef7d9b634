#include "ui/headless/headless_start_window.h"

#include "base/format.h"
#include "platform/terminal.h"
#include "startup/client_info/lang_messages.h"

namespace zor {

namespace {
// Back to the start of the line, and the rest of the line cleared after the text.
constexpr std::string_view kLineStart = "\r";
constexpr std::string_view kClearRest = "\x1b[K";
}  // namespace

std::string HeadlessProgressText(const TDownloadProgressModel& window, int langIndex) {
  std::string text =
      Format("%d%% (%d of %d bytes)", {window.PercentDone(), window.Progress(), window.MaxValue()});
  if (!window.FileName().empty()) text += " " + window.FileName();
  if (const std::string left = window.TimeLeftText(langIndex); !left.empty()) text += ", " + left;
  return text;
}

THeadlessStartWindowView::THeadlessStartWindowView(std::FILE* out, std::optional<bool> terminal)
    : Out(out), Terminal(terminal.value_or(IsTerminal(out))) {}

void THeadlessStartWindowView::WriteLine(const std::string& line) {
  if (LineOpen) {
    std::fputc('\n', Out);
    LineOpen = false;
  }
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
  const std::string text = "[download] " + HeadlessProgressText(window, LangIndex());
  if (Terminal) {
    const std::string line = std::string(kLineStart) + text + std::string(kClearRest);
    std::fwrite(line.data(), 1, line.size(), Out);
    std::fflush(Out);
    LineOpen = true;
    return;
  }
  const int step = window.PercentDone() / kHeadlessProgressStep * kHeadlessProgressStep;
  if (step <= LastPercent) return;
  LastPercent = step;
  WriteLine(text);
}

void THeadlessStartWindowView::DownloadWindowHidden() {
  if (!LineOpen) return;
  std::fputc('\n', Out);
  std::fflush(Out);
  LineOpen = false;
}

void THeadlessStartWindowView::UpdateAbandoned(int failedPasses) {
  WriteLine(Format(std::string(kHeadlessAbandonedNote), {failedPasses}));
}

}  // namespace zor
