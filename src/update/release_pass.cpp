#include "update/release_pass.h"

#include <algorithm>

namespace zor {

std::string ReleaseArgText(uint64_t counter) {
  return std::to_string(counter);
}

std::optional<uint64_t> ParseReleaseArg(std::string_view text) {
  if (text.empty() || text.size() > 20) return std::nullopt;
  uint64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    const uint64_t digit = static_cast<uint64_t>(c - '0');
    if (value > (UINT64_MAX - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

int OtherReleaseWaitMs(int attempt) {
  if (attempt <= 1) return 0;
  int wait = kOtherReleaseFirstWaitMs;
  for (int i = 2; i < attempt && wait < kOtherReleaseLongestWaitMs; ++i) wait *= 2;
  return std::min(wait, kOtherReleaseLongestWaitMs);
}

}  // namespace zor
