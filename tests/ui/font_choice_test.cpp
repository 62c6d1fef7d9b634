// The windows' font: the recommended CJK family when it is installed, another CJK family
// when only that is, and the default face (with no CJK claimed) when none is.
#include "ui/font_choice.h"

#include <gtest/gtest.h>

namespace zor {
namespace {

TEST(FontChoice, TheBestInstalledCjkFamilyElseTheDefaultFace) {
  struct Case {
    std::vector<std::string> Installed;
    const char* Family;
    bool HasCjk;
  } const kCases[] = {
      {{"DejaVu Sans", "WenQuanYi Micro Hei", "Noto Sans CJK SC"}, "WenQuanYi Micro Hei", true},
      {{"DejaVu Sans", "noto sans cjk sc"}, "Noto Sans CJK SC", true},
      // The list may name a family by its Chinese name only.
      {{"DejaVu Sans", "文泉驛微米黑", "文泉驛等寬微米黑"}, "WenQuanYi Micro Hei", true},
      {{"文泉驿正黑"}, "WenQuanYi Zen Hei", true},
      {{"Noto Sans CJK TC", "Droid Sans Fallback"}, "Noto Sans CJK TC", true},
      {{"DejaVu Sans", "DejaVu Serif", "Liberation Sans"}, "sans", false},
      {{}, "sans", false},
      // A family whose name only begins like a CJK one is not one.
      {{"WenQuanYi Micro Hei Mono Light"}, "sans", false},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.Family);
    const TFontChoice choice = ChooseFontFamily(c.Installed);
    EXPECT_EQ(choice.Family, c.Family);
    EXPECT_EQ(choice.HasCjk, c.HasCjk);
  }
}

}  // namespace
}  // namespace zor
