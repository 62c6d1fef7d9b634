#include "ui/text_wrap.h"

namespace zor {
namespace {

// The length of the UTF-8 character that starts at `text[at]` (1 for a stray byte).
size_t CharLength(std::string_view text, size_t at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  size_t length = lead < 0x80           ? 1
                  : (lead >> 5) == 0x6  ? 2
                  : (lead >> 4) == 0xE  ? 3
                  : (lead >> 3) == 0x1E ? 4
                                        : 1;
  if (at + length > text.size()) length = 1;
  for (size_t i = 1; i < length; ++i) {
    if ((static_cast<unsigned char>(text[at + i]) & 0xC0) != 0x80) return 1;
  }
  return length;
}

void WrapLine(std::string_view line, int maxWidth,
              const std::function<int(std::string_view)>& width, std::vector<std::string>& lines) {
  while (!line.empty()) {
    if (width(line) <= maxWidth) {
      lines.emplace_back(line);
      return;
    }
    // The longest head that fits, at least one character.
    size_t fit = CharLength(line, 0);
    size_t lastBlank = std::string_view::npos;
    for (size_t at = fit; at < line.size();) {
      const size_t next = at + CharLength(line, at);
      if (width(line.substr(0, next)) > maxWidth) break;
      if (line[at] == ' ') lastBlank = at;
      at = fit = next;
    }
    size_t cut = fit;
    size_t resume = fit;
    if (fit < line.size() && line[fit] == ' ') {
      resume = fit + 1;  // the break falls on a blank: it goes
    } else if (lastBlank != std::string_view::npos && lastBlank > 0) {
      cut = lastBlank;
      resume = lastBlank + 1;
    }
    lines.emplace_back(line.substr(0, cut));
    line.remove_prefix(resume);
  }
}

}  // namespace

std::vector<std::string> WrapText(std::string_view text, int maxWidth,
                                  const std::function<int(std::string_view)>& width) {
  std::vector<std::string> lines;
  for (;;) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) {
      lines.emplace_back();
    } else {
      WrapLine(line, maxWidth, width, lines);
    }
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return lines;
}

}  // namespace zor
