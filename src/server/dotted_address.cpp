#include "server/dotted_address.h"

#include "base/exceptions.h"

namespace zor {

std::optional<std::array<uint8_t, 4>> ParseDottedAddress(std::string_view text) {
  std::array<uint8_t, 4> bytes{};
  size_t pos = 0;
  for (int i = 0; i < 4; ++i) {
    const size_t end = i < 3 ? text.find('.', pos) : text.size();
    if (end == std::string_view::npos || end == pos || end - pos > 3) return std::nullopt;
    int value = 0;
    for (size_t k = pos; k < end; ++k) {
      if (text[k] < '0' || text[k] > '9') return std::nullopt;
      value = value * 10 + (text[k] - '0');
    }
    if (value > 255) return std::nullopt;
    bytes[i] = static_cast<uint8_t>(value);
    pos = end + 1;
  }
  return bytes;
}

SocketAddress BindAddress(const std::string& text, uint16_t port) {
  SocketAddress local;
  if (!text.empty()) {
    const auto bytes = ParseDottedAddress(text);
    if (!bytes) throw Exception("'" + text + "' is not a valid ip!");
    local.Address = static_cast<uint32_t>((*bytes)[0]) << 24 |
                    static_cast<uint32_t>((*bytes)[1]) << 16 |
                    static_cast<uint32_t>((*bytes)[2]) << 8 | (*bytes)[3];
  }
  local.Port = port;
  return local;
}

}  // namespace zor
