// The download progress window without a window: its caption (message 4), its gauge (a bar
// of the bytes done against the bytes to fetch, with the percentage drawn on it), the name
// of the file being fetched, and the bytes done of the total with an estimate of the time
// left. The start window feeds it once a second from the progress counters.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>

namespace zor {

inline constexpr int kMsgDownloading = 4;
// The estimate follows the rate of the last ten seconds: recent enough to follow a line
// that changes speed, long enough not to jump with every piece.
inline constexpr std::chrono::seconds kRateWindow{10};

// "512 B", "12.5 KB", "3.4 MB", "1.2 GB" (units of 1024).
std::string FormatByteCount(int64_t bytes);
// "0:42", "12:05", "1:02:03".
std::string FormatDuration(int64_t seconds);

class TDownloadProgressModel {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;

  TDownloadProgressModel();

  const std::string& Caption() const { return CaptionText; }
  int64_t MaxValue() const { return Max; }
  void SetMaxValue(int64_t value) { Max = value; }
  int64_t Progress() const { return Value; }
  void SetProgress(int64_t value) { Value = value; }
  // The percentage the gauge draws: 0 without a maximum, else the whole percent done, kept
  // within 0..100 (bytes credited beyond the total never draw a bar past its end).
  int PercentDone() const;

  // The file being fetched now, without its folder ("" before the first).
  const std::string& FileName() const { return File; }
  // Takes a local path or a name of the file list ('\\' between folders).
  void SetFileName(const std::string& name);
  // Notes the bytes done (`Progress`) at `now`, for the rate.
  void Sample(TimePoint now);
  // Seconds left at the rate of the last `kRateWindow`; nothing while the rate is unknown
  // (less than a second of samples, or no bytes in them).
  std::optional<int64_t> SecondsLeft() const;
  // "about 0:42 left" in the language `langIndex`; "" while the rate is unknown.
  std::string TimeLeftText(int langIndex) const;
  // "1.2 MB / 3.4 MB", then ", " and `TimeLeftText` when known.
  std::string DetailLine(int langIndex) const;

 private:
  std::string CaptionText;
  int64_t Max = 100;  // the gauge's own default until the first total arrives
  int64_t Value = 0;
  std::string File;
  struct TSample {
    TimePoint At;
    int64_t Done;
  };
  std::deque<TSample> Samples;
};

}  // namespace zor
