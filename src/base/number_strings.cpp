#include "base/number_strings.h"

#include "base/exceptions.h"
#include "base/format.h"

namespace zor {

namespace {

constexpr size_t kMaxIntChars = 19;
constexpr size_t kMaxIntSignificantDigits = 10;
constexpr size_t kMaxFloatChars = 29;
constexpr size_t kMaxFloatSignificantChars = 16;

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Index of the first character after the leading blanks and the optional minus sign.
size_t SkipBlanksAndSign(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  if (i < text.size() && text[i] == '-') ++i;
  return i;
}

}  // namespace

bool IsIntStr(std::string_view text) {
  if (text.size() > kMaxIntChars) return false;
  size_t i = SkipBlanksAndSign(text);
  if (i == text.size()) return false;
  size_t significant = 0;
  bool leading = true;
  for (; i < text.size(); ++i) {
    if (!IsDigit(text[i])) return false;
    if (leading && text[i] == '0') continue;
    leading = false;
    ++significant;
  }
  return significant <= kMaxIntSignificantDigits;
}

bool IsFloatStr(std::string_view text) {
  if (text.size() > kMaxFloatChars) return false;
  size_t i = SkipBlanksAndSign(text);
  bool seenPoint = false, seenDigit = false;
  size_t significantFrom = std::string_view::npos;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '.') {
      if (seenPoint) return false;
      seenPoint = true;
      if (significantFrom == std::string_view::npos) significantFrom = i;
    } else if (IsDigit(c)) {
      seenDigit = true;
      if (c != '0' && significantFrom == std::string_view::npos) significantFrom = i;
    } else {
      return false;
    }
  }
  if (!seenDigit) return false;
  return significantFrom == std::string_view::npos ||
         text.size() - significantFrom <= kMaxFloatSignificantChars;
}

std::optional<uint64_t> ParseDigits(std::string_view digits, int base, uint64_t limit) {
  if (digits.empty()) return std::nullopt;
  uint64_t value = 0;
  for (char c : digits) {
    int digit;
    if (c >= '0' && c <= '9')
      digit = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f')
      digit = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F')
      digit = c - 'A' + 10;
    else
      return std::nullopt;
    if (value > (limit - static_cast<uint64_t>(digit)) / static_cast<uint64_t>(base))
      return std::nullopt;
    value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
  }
  return value;
}

int32_t StrToIntStrict(std::string_view text) {
  if (IsIntStr(text)) {
    size_t i = 0;
    while (text[i] == ' ') ++i;
    const bool negative = text[i] == '-';
    if (negative) ++i;
    int64_t value = 0;  // at most 10 significant digits: fits
    for (; i < text.size(); ++i) value = value * 10 + (text[i] - '0');
    if (negative) value = -value;
    if (value >= INT32_MIN && value <= INT32_MAX) return static_cast<int32_t>(value);
  }
  throw EConvertError(Format("'%s' is not a valid integer value", {text}));
}

}  // namespace zor
