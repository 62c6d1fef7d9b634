// The download progress window without a window: its caption (message 4) and its gauge,
// a bar of the bytes done against the bytes to fetch with the percentage drawn on it. The
// start window feeds it once a second from the progress counters.
#pragma once

#include <cstdint>
#include <string>

namespace zor {

inline constexpr int kMsgDownloading = 4;

class TDownloadProgressModel {
 public:
  TDownloadProgressModel();

  const std::string& Caption() const { return CaptionText; }
  int64_t MaxValue() const { return Max; }
  void SetMaxValue(int64_t value) { Max = value; }
  int64_t Progress() const { return Value; }
  void SetProgress(int64_t value) { Value = value; }
  // The percentage the gauge draws: 0 without a maximum, else the whole percent done, kept
  // within 0..100 (bytes credited beyond the total never draw a bar past its end).
  int PercentDone() const;

 private:
  std::string CaptionText;
  int64_t Max = 100;  // the gauge's own default until the first total arrives
  int64_t Value = 0;
};

}  // namespace zor
