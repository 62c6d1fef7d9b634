// Which font family the windows draw every text in. The captions are Chinese as often as
// English, so a family with CJK characters is taken when one is installed: the one the
// package recommends first, then the other CJK families Debian ships. Without any, the
// windows fall back to the default sans-serif face (English texts look as usual, Chinese
// characters may show as boxes) and say once which package brings the font.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace zor {

// A family and the names it goes by: the font list may give any of them (it often gives
// the Chinese one first).
struct TCjkFamily {
  std::string_view Family;
  std::array<std::string_view, 3> Names;
};
inline constexpr std::array<TCjkFamily, 6> kCjkFontFamilies = {{
    {"WenQuanYi Micro Hei", {"WenQuanYi Micro Hei", "文泉驛微米黑", "文泉驿微米黑"}},
    {"Noto Sans CJK SC", {"Noto Sans CJK SC"}},
    {"Noto Sans CJK TC", {"Noto Sans CJK TC"}},
    {"WenQuanYi Zen Hei", {"WenQuanYi Zen Hei", "文泉驛正黑", "文泉驿正黑"}},
    {"Droid Sans Fallback", {"Droid Sans Fallback"}},
    {"AR PL UMing CN", {"AR PL UMing CN"}},
}};
inline constexpr std::string_view kFallbackFontFamily = "sans";
inline constexpr std::string_view kNoCjkFontNote =
    "No CJK font is installed (the package fonts-wqy-microhei brings one): the windows use the "
    "default font, in which Chinese characters may show as boxes.";

struct TFontChoice {
  std::string Family;
  bool HasCjk = false;
};

// The family to use among the `installed` ones (family names, case ignored).
TFontChoice ChooseFontFamily(const std::vector<std::string>& installed);

}  // namespace zor
