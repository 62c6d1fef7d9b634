#include "startup/updating/download_progress_model.h"

#include <algorithm>
#include <cstdio>

#include "startup/client_info/lang_messages.h"

namespace zor {

namespace {

// "about %s left" in the three languages.
constexpr const char* kTimeLeftTexts[kLangCount] = {"about %s left", "約剩 %s", "约剩 %s"};

}  // namespace

std::string FormatByteCount(int64_t bytes) {
  if (bytes < 1024) return std::to_string(std::max<int64_t>(bytes, 0)) + " B";
  static constexpr const char* kUnits[] = {"KB", "MB", "GB", "TB"};
  double value = static_cast<double>(bytes) / 1024;
  size_t unit = 0;
  while (value >= 1024 && unit + 1 < std::size(kUnits)) {
    value /= 1024;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
  return text;
}

std::string FormatDuration(int64_t seconds) {
  seconds = std::max<int64_t>(seconds, 0);
  char text[32];
  if (seconds >= 3600) {
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                  static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
  } else {
    std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(seconds / 60),
                  static_cast<long long>(seconds % 60));
  }
  return text;
}

TDownloadProgressModel::TDownloadProgressModel() : CaptionText(GetLangMessage(kMsgDownloading)) {}

int TDownloadProgressModel::PercentDone() const {
  if (Max <= 0) return 0;
  // Bytes times 100 stays far inside 64 bits for any file list a 32-bit size can describe.
  const int64_t percent = std::clamp<int64_t>(Value, 0, Max) * 100 / Max;
  return static_cast<int>(percent);
}

void TDownloadProgressModel::SetFileName(const std::string& name) {
  const size_t slash = name.find_last_of("/\\");
  File = slash == std::string::npos ? name : name.substr(slash + 1);
}

void TDownloadProgressModel::Sample(TimePoint now) {
  Samples.push_back({now, Value});
  // Keep one sample at or before the window's start, so the window is always spanned.
  while (Samples.size() > 2 && now - Samples[1].At >= kRateWindow) Samples.pop_front();
}

std::optional<int64_t> TDownloadProgressModel::SecondsLeft() const {
  if (Samples.size() < 2) return std::nullopt;
  const TSample& first = Samples.front();
  const TSample& last = Samples.back();
  const auto elapsed =
      std::chrono::duration_cast<std::chrono::milliseconds>(last.At - first.At).count();
  const int64_t bytes = last.Done - first.Done;
  if (elapsed < 1000 || bytes <= 0) return std::nullopt;
  const int64_t left = std::max<int64_t>(Max - Value, 0);
  // Rounded up: "0:00 left" only when nothing is left.
  return (left * elapsed + bytes * 1000 - 1) / (bytes * 1000);
}

std::string TDownloadProgressModel::TimeLeftText(int langIndex) const {
  const std::optional<int64_t> left = SecondsLeft();
  if (!left) return {};
  std::string text =
      kTimeLeftTexts[langIndex >= 0 && langIndex < kLangCount ? langIndex : kLangEnglish];
  text.replace(text.find("%s"), 2, FormatDuration(*left));
  return text;
}

std::string TDownloadProgressModel::DetailLine(int langIndex) const {
  std::string line = FormatByteCount(std::clamp<int64_t>(Value, 0, std::max<int64_t>(Max, 0))) +
                     " / " + FormatByteCount(Max);
  if (const std::string left = TimeLeftText(langIndex); !left.empty()) line += ", " + left;
  return line;
}

}  // namespace zor
