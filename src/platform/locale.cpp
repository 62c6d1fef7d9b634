#include "platform/locale.h"

#include <atomic>
#include <string>

#include "base/ascii_case.h"
#include "base/language_suffix.h"
#include "base/number_strings.h"

namespace zor {
namespace {

// 0 = no override.
std::atomic<uint32_t> gLcidOverride{0};

}  // namespace

uint32_t ParseLcid(std::string_view text) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.size() > 10) return 0;
  return static_cast<uint32_t>(ParseDigits(text, base, 0xFFFFFFFFu).value_or(0));
}

uint32_t LcidFromLocaleName(std::string_view name) {
  // language[_territory][.codeset][@modifier]
  const size_t end = name.find_first_of(".@");
  if (end != std::string_view::npos) name = name.substr(0, end);
  if (name.size() != 5 || (name[2] != '_' && name[2] != '-')) return kLcidEnglishUs;
  if (!SameTextAscii(name.substr(0, 2), "zh")) return kLcidEnglishUs;
  const std::string_view territory = name.substr(3);
  if (SameTextAscii(territory, "TW")) return kLcidChineseTaiwan;
  if (SameTextAscii(territory, "HK")) return kLcidChineseHongKong;
  if (SameTextAscii(territory, "CN")) return kLcidChineseChina;
  if (SameTextAscii(territory, "SG")) return kLcidChineseSingapore;
  return kLcidEnglishUs;
}

uint32_t DeriveLcid(const char* zorLcid, const char* lcAll, const char* lcMessages,
                    const char* lang) {
  if (zorLcid != nullptr) {
    if (const uint32_t lcid = ParseLcid(zorLcid)) return lcid;
  }
  for (const char* value : {lcAll, lcMessages, lang}) {
    if (value != nullptr && *value != '\0') return LcidFromLocaleName(value);
  }
  return kLcidEnglishUs;
}

uint32_t GetSystemDefaultLCID() {
  if (const uint32_t lcid = gLcidOverride.load(std::memory_order_acquire)) return lcid;
  return OsDefaultLcid();
}

bool IsTraditionalScriptSystem() {
  return IsTraditionalScriptSystem(GetSystemDefaultLCID());
}

ScopedLcidOverride::ScopedLcidOverride(uint32_t lcid)
    : Previous(gLcidOverride.exchange(lcid, std::memory_order_acq_rel)) {}

ScopedLcidOverride::~ScopedLcidOverride() {
  gLcidOverride.store(Previous, std::memory_order_release);
}

}  // namespace zor
