// Dotted IPv4 addresses as settings, options and the names file give them: exactly four
// decimal parts, each 0..255, with no sign, blank or more than three digits.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace zor {

// The four parts a, b, c, d; nothing when `text` is not a dotted address.
std::optional<std::array<uint8_t, 4>> ParseDottedAddress(std::string_view text);
inline bool IsDottedAddress(std::string_view text) { return ParseDottedAddress(text).has_value(); }

}  // namespace zor
