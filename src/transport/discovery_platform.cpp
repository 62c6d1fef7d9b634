#include "transport/discovery_platform.h"

namespace zor {
namespace {

bool IsValidUtf8(std::string_view text) {
  size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    const size_t extra = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : 99;
    if (extra == 99 || i + extra >= text.size() + (extra == 0 ? 1 : 0)) {
      if (extra != 0) return false;
    }
    for (size_t k = 1; k <= extra; ++k) {
      if (i + k >= text.size() || (static_cast<unsigned char>(text[i + k]) >> 6) != 2) return false;
    }
    i += extra + 1;
  }
  return true;
}

}  // namespace

uint32_t DiscoveryLocaleId() { return 1033; }

std::string DiscoveryUtf8ToAnsi(std::string_view utf8) { return std::string(utf8); }

std::string DiscoveryAnsiToUtf8(std::string_view ansi) {
  if (IsValidUtf8(ansi)) return std::string(ansi);
  std::string out;
  for (unsigned char c : ansi) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

}  // namespace zor
