#include "startup/client_info/font_substitution.h"

#include "base/ascii_case.h"
#include "startup/client_info/lang_messages.h"

namespace zor {
namespace {

constexpr FontSubstitution kFontSubstitutions[] = {
    {"宋体", "新細明體", kChineseBig5Charset},
    {"楷体_GB2312", "標楷體", kChineseBig5Charset},
};

}  // namespace

const FontSubstitution* FindFontSubstitution(std::string_view fontName) {
  for (const FontSubstitution& entry : kFontSubstitutions) {
    if (SameTextAscii(entry.Source, fontName)) return &entry;
  }
  return nullptr;
}

bool FontsNeedSubstitution(int langIndex) {
  return langIndex != kLangSimplified;
}

}  // namespace zor
