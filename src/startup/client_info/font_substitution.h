// The font substitution of the launcher's windows: two simplified-script font names that
// are replaced by their traditional-script counterparts (with the Big5 character set)
// unless the language is the simplified script.
#pragma once

#include <cstdint>
#include <string_view>

namespace zor {

inline constexpr uint8_t kChineseBig5Charset = 136;

struct FontSubstitution {
  std::string_view Source;
  std::string_view Replacement;
  uint8_t Charset;
};

// The table entry for `fontName` (compared without ASCII letter case), or nullptr.
const FontSubstitution* FindFontSubstitution(std::string_view fontName);

// Whether windows substitute fonts in this language: every language but the simplified script.
bool FontsNeedSubstitution(int langIndex);

}  // namespace zor
