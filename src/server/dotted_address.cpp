#include "server/dotted_address.h"

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

}  // namespace zor
