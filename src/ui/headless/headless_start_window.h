// The start window without a person. Its status lines and the download progress go to
// standard error: on a terminal the progress is one line redrawn in place at every tick,
// otherwise (a log file) a line at every tenth of the way. Since nobody can end the
// program, the update gives up after a few failed passes.
#pragma once

#include <cstdio>
#include <optional>
#include <string>

#include "startup/updating/start_window_model.h"

namespace zor {

// Failed update passes after which a run without a person ends.
inline constexpr int kHeadlessMaxFailedPasses = 3;
inline constexpr int kHeadlessProgressStep = 10;  // percent between progress lines

inline constexpr std::string_view kHeadlessAbandonedNote =
    "[headless] the update failed %d times: ending without starting the main program";

// "42% (420 of 1000 bytes) ZORCore.dll, about 0:42 left": the file and the estimate when known.
std::string HeadlessProgressText(const TDownloadProgressModel& window, int langIndex);

class THeadlessStartWindowView : public TStartWindowView {
 public:
  // `terminal`: whether `out` shows progress in place; unset: asks the system.
  explicit THeadlessStartWindowView(std::FILE* out = stderr,
                                    std::optional<bool> terminal = std::nullopt);
  void StatusChanged(const std::string& text) override;
  void DownloadWindowShown(const TDownloadProgressModel& window) override;
  void ProgressChanged(const TDownloadProgressModel& window) override;
  void DownloadWindowHidden() override;
  void UpdateAbandoned(int failedPasses) override;

 private:
  void WriteLine(const std::string& line);

  std::FILE* Out;
  bool Terminal;
  bool LineOpen = false;  // a progress line is drawn and not yet ended
  std::string LastStatus;
  int LastPercent = -1;
};

}  // namespace zor
