// The start window without a person. Its status lines and the download progress go to
// standard error, sparingly (the progress at every tenth of the way); and since nobody can
// end the program, the update gives up after a few failed passes.
#pragma once

#include <cstdio>
#include <string>

#include "startup/start_window_model.h"

namespace zor {

// Failed update passes after which a run without a person ends.
inline constexpr int kHeadlessMaxFailedPasses = 3;
inline constexpr int kHeadlessProgressStep = 10;  // percent between progress lines

inline constexpr std::string_view kHeadlessAbandonedNote =
    "[headless] the update failed %d times: ending without starting the main program";

class THeadlessStartWindowView : public TStartWindowView {
 public:
  explicit THeadlessStartWindowView(std::FILE* out = stderr) : Out(out) {}
  void StatusChanged(const std::string& text) override;
  void DownloadWindowShown(const TDownloadProgressModel& window) override;
  void ProgressChanged(const TDownloadProgressModel& window) override;
  void DownloadWindowHidden() override {}
  void UpdateAbandoned(int failedPasses) override;

 private:
  void WriteLine(const std::string& line);

  std::FILE* Out;
  std::string LastStatus;
  int LastPercent = -1;
};

}  // namespace zor
