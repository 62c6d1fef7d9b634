// Dotted IPv4 addresses as settings, options and the names file give them: exactly four
// decimal parts, each 0..255, with no sign, blank or more than three digits.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/socket.h"

namespace zor {

// The four parts a, b, c, d; nothing when `text` is not a dotted address.
std::optional<std::array<uint8_t, 4>> ParseDottedAddress(std::string_view text);
// The local address a service binds to: every address for an empty text, else the dotted
// address with `port`. Raises "'<text>' is not a valid ip!" for anything else.
SocketAddress BindAddress(const std::string& text, uint16_t port);
inline bool IsDottedAddress(std::string_view text) {
  return ParseDottedAddress(text).has_value();
}

}  // namespace zor
