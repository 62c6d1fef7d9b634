#include "intercom/charset_conversion.h"

#include <atomic>

namespace zor {
namespace {
std::atomic<TScriptConverter*> gConverter{nullptr};
}  // namespace

TScriptConverter* GetScriptConverter() {
  return gConverter.load(std::memory_order_acquire);
}

void SetScriptConverter(TScriptConverter* converter) {
  gConverter.store(converter, std::memory_order_release);
}

std::string ConvertScript(std::string_view utf8, bool toTraditional) {
  TScriptConverter* converter = GetScriptConverter();
  if (!converter) return std::string(utf8);
  return toTraditional ? converter->ToTraditional(utf8) : converter->ToSimplified(utf8);
}

}  // namespace zor
