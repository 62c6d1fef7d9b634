#include "platform/locale.h"

#include <atomic>
#include <cctype>
#include <string>

#include "base/number_strings.h"

namespace zor {
namespace {

// 0 = no override.
std::atomic<uint32_t> gLcidOverride{0};

bool SameNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

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
  if (!SameNoCase(name.substr(0, 2), "zh")) return kLcidEnglishUs;
  const std::string_view territory = name.substr(3);
  if (SameNoCase(territory, "TW")) return kLcidChineseTaiwan;
  if (SameNoCase(territory, "HK")) return kLcidChineseHongKong;
  if (SameNoCase(territory, "CN")) return kLcidChineseChina;
  if (SameNoCase(territory, "SG")) return kLcidChineseSingapore;
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
  const uint32_t lcid = GetSystemDefaultLCID();
  return lcid == kLcidChineseTaiwan || lcid == kLcidChineseHongKong;
}

ScopedLcidOverride::ScopedLcidOverride(uint32_t lcid)
    : Previous(gLcidOverride.exchange(lcid, std::memory_order_acq_rel)) {}

ScopedLcidOverride::~ScopedLcidOverride() {
  gLcidOverride.store(Previous, std::memory_order_release);
}

}  // namespace zor
