#include "startup/client_info/version_compare.h"

#include <charconv>
#include <optional>

namespace zor {
namespace {

// The next part of `text` from `pos`, advancing `pos` past the dot; nullopt when none left.
std::optional<std::string_view> NextPart(std::string_view text, size_t& pos) {
  if (pos > text.size()) return std::nullopt;
  const size_t dot = text.find('.', pos);
  const size_t end = dot == std::string_view::npos ? text.size() : dot;
  std::string_view part = text.substr(pos, end - pos);
  pos = end + 1;
  return part;
}

// A decimal integer with an optional sign, surrounded by nothing else, within 32 bits.
std::optional<int32_t> ParseInt(std::string_view part) {
  if (!part.empty() && part.front() == '+') part.remove_prefix(1);
  if (part.empty()) return std::nullopt;
  int32_t value = 0;
  auto [ptr, ec] = std::from_chars(part.data(), part.data() + part.size(), value);
  if (ec != std::errc() || ptr != part.data() + part.size()) return std::nullopt;
  return value;
}

}  // namespace

int64_t CompareVersion(std::string_view a, std::string_view b) {
  size_t posA = 0;
  size_t posB = 0;
  for (;;) {
    std::optional<std::string_view> partA = NextPart(a, posA);
    std::optional<std::string_view> partB = NextPart(b, posB);
    if (!partA || !partB) return 0;
    std::optional<int32_t> numA = ParseInt(*partA);
    std::optional<int32_t> numB = ParseInt(*partB);
    if (!numA || !numB) continue;
    if (*numA != *numB) return static_cast<int64_t>(*numA) - static_cast<int64_t>(*numB);
  }
}

}  // namespace zor
