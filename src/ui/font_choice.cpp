#include "ui/font_choice.h"

#include <algorithm>

#include "base/ascii_case.h"

namespace zor {

TFontChoice ChooseFontFamily(const std::vector<std::string>& installed) {
  for (const TCjkFamily& family : kCjkFontFamilies) {
    for (const std::string_view name : family.Names) {
      if (name.empty()) continue;
      const bool present =
          std::any_of(installed.begin(), installed.end(),
                      [&](const std::string& found) { return SameTextAscii(found, name); });
      if (present) return {std::string(family.Family), true};
    }
  }
  return {std::string(kFallbackFontFamily), false};
}

}  // namespace zor
