// The three-letter abbreviation of a locale's language ("ENU", "CHT", "CHS", ...), used to
// pick language-specific files. The system default locale comes from the platform layer.
#pragma once

#include <cstdint>
#include <string>

namespace zor {

inline constexpr uint32_t kLcidTraditionalTaiwan = 1028;
inline constexpr uint32_t kLcidTraditionalHongKong = 3076;

// True when the system default locale writes the traditional script (1028 or 3076).
bool IsTraditionalScriptSystem(uint32_t systemLcid);

// The abbreviation of `lcid` (the system default when 0). The Hong Kong abbreviation "ZHH"
// becomes "CHT" on a traditional-script system and "CHS" otherwise. A locale we do not
// know answers an empty text.
std::string GetLanguageSuffix(uint32_t lcid, uint32_t systemLcid);

}  // namespace zor
