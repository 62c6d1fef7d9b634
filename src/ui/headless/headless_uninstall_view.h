// The uninstall progress window without a person: a few lines on standard error, the
// caption when it opens, the progress at every quarter of the way, a summary when it closes.
#pragma once

#include <cstdio>
#include <string>

#include "startup/uninstall/uninstall_progress.h"

namespace zor {

inline constexpr int kHeadlessUninstallStep = 25;  // percent between progress lines

class THeadlessUninstallView : public TUninstallView {
 public:
  explicit THeadlessUninstallView(std::FILE* out = stderr) : Out(out) {}
  void Shown(const TUninstallProgressModel& window) override;
  void ProgressChanged(const TUninstallProgressModel& window) override;
  void Hidden(const TUninstallProgressModel& window) override;

 private:
  void WriteLine(const std::string& line);

  std::FILE* Out;
  int LastStep = 0;
};

}  // namespace zor
