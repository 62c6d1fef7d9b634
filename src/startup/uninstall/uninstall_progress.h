// The uninstall progress window without a window: its caption (message 15) and its gauge,
// one step per file looked at, with the file at hand. A view draws it: the user-interface
// port installs the process's view; without one nothing is shown.
#pragma once

#include <cstdint>
#include <string>

namespace zor {

inline constexpr int kMsgUninstalling = 15;

class TUninstallProgressModel {
 public:
  TUninstallProgressModel();

  const std::string& Caption() const { return CaptionText; }
  int64_t MaxValue() const { return Max; }
  void SetMaxValue(int64_t value) { Max = value; }
  int64_t Progress() const { return Value; }
  // The file at hand, relative to the client's folder ("" before the first).
  const std::string& CurrentFile() const { return Current; }
  // Files deleted so far.
  int64_t Removed() const { return RemovedCount; }

  // One more file looked at; `removed` when it was deleted.
  void Step(const std::string& file, bool removed);
  // Whole percent of the files looked at, 0 without files, at most 100.
  int PercentDone() const;

 private:
  std::string CaptionText;
  int64_t Max = 0;
  int64_t Value = 0;
  int64_t RemovedCount = 0;
  std::string Current;
};

// What shows the progress window.
class TUninstallView {
 public:
  virtual ~TUninstallView() = default;
  virtual void Shown(const TUninstallProgressModel& window) = 0;
  virtual void ProgressChanged(const TUninstallProgressModel& window) = 0;
  virtual void Hidden(const TUninstallProgressModel& window) = 0;
};

// Installs the process's view (not owned); nullptr: none.
void SetUninstallView(TUninstallView* view);
TUninstallView* GetUninstallView();

}  // namespace zor
