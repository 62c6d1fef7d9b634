#include "intercom/local_charset.h"

#include "platform/code_page.h"
#include "platform/locale.h"

namespace zor {

bool LocalSystemIsTraditional() {
  return IsTraditionalScriptSystem();
}

uint32_t StringCodePage(bool otherScript) {
  if (!otherScript) return AnsiCodePage();
  return LocalSystemIsTraditional() ? kCodePageSimplifiedChinese : kCodePageTraditionalChinese;
}

std::string Utf8ToWireAnsi(std::string_view utf8, uint32_t codePage) {
  return Utf8ToAnsi(utf8, codePage);
}

std::string WireAnsiToUtf8(std::string_view ansi, uint32_t codePage) {
  return AnsiToUtf8(ansi, codePage);
}

}  // namespace zor
