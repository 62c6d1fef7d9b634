// Blanks around a connect string or one of its parts are not part of it.
#pragma once

#include <string_view>

namespace zor {

inline std::string_view TrimBlanks(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(" \t\r\n");
  return text.substr(first, last - first + 1);
}

}  // namespace zor
